// How an image is kept in the store: its bytes packed as runs, since a device's image is mostly
// runs of erased (0xFF) and empty (0) bytes — a model 251 image of 4096 bytes packs to a few
// hundred. Stored with its codec number, so that another way of packing can come later and
// old images still read.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lovar {

inline constexpr int kCodecPlain = 0;  // the bytes as they are
inline constexpr int kCodecRuns = 1;   // runs (PackRuns)

// Control byte c < 128: c + 1 bytes follow as they are; c >= 128: the next byte, c - 125
// times (3 to 130).
std::vector<uint8_t> PackRuns(std::span<const uint8_t> bytes);
// False for data that is not a packing of exactly `length` bytes (out is then unspecified).
bool UnpackRuns(std::span<const uint8_t> packed, size_t length, std::vector<uint8_t>& out);

// The image in its stored form: codec and data (runs when they are shorter).
struct PackedImage {
  int codec = kCodecPlain;
  std::vector<uint8_t> data;
};
PackedImage PackImage(std::span<const uint8_t> image);
bool UnpackImage(int codec, std::span<const uint8_t> data, size_t length,
                 std::vector<uint8_t>& out);

}  // namespace lovar
