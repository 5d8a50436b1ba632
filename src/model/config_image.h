// The configuration image: the tool's only copy of a device's configuration, one flat array of
// 4096 bytes; 256 are in use for models 250 and 252, all 4096 for model 251. Zero at start and
// never cleared: a read or a load overwrites it, bytes outside what was read keep their value.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lovar {

inline constexpr int kImageCapacity = 4096;

// The image length in use: 256 for 250 and 252, 4096 for 251, 0 for an unknown model.
int ImageLength(int model);
bool IsKnownModel(int model);

class ConfigImage {
 public:
  uint8_t& operator[](int offset) { return bytes_[static_cast<size_t>(offset)]; }
  uint8_t operator[](int offset) const { return bytes_[static_cast<size_t>(offset)]; }
  std::span<uint8_t> bytes() { return bytes_; }
  std::span<const uint8_t> bytes() const { return bytes_; }

  // Flag: bit 0 is the least significant.
  bool Bit(int offset, int bit) const { return (bytes_[offset] >> bit) & 1u; }
  void SetBit(int offset, int bit, bool value);
  // The bits of mask, shifted: (byte & mask) >> shift, and its replacement.
  uint8_t Bits(int offset, uint8_t mask, int shift) const {
    return static_cast<uint8_t>((bytes_[offset] & mask) >> shift);
  }
  void SetBits(int offset, uint8_t mask, int shift, uint8_t value);

  // Text(n): Windows-1251 bytes up to the first zero byte, at most n, returned as UTF-8.
  std::string Text(int offset, int width) const;
  // Stores utf8 as Text(n): at most n characters; a shorter text is followed by one zero byte;
  // bytes after it are left as they are. Characters Windows-1251 lacks are stored as '?'.
  void SetText(int offset, int width, std::string_view utf8);

  bool operator==(const ConfigImage&) const = default;

 private:
  std::array<uint8_t, kImageCapacity> bytes_{};
};

}  // namespace lovar
