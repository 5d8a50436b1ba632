// Frames between the tool and the device: the send buffer, the wire form of a request, and the
// reassembler that cuts frames out of the received byte stream by their length byte. Nothing
// here knows of the port.
//
//   0: 254   1: L (bytes after this one, CRC included)   2: 1   3: 127   4: sequence
//   5: 0     6: command   7..L: data   L+1: CRC-8 over 0..L
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace lovar {

inline constexpr uint8_t kFrameStart = 254;

// The image moves in blocks: a read request asks for 8 bytes, a write request carries 16.
inline constexpr int kReadBlock = 8;
inline constexpr int kWriteBlock = 16;

enum Command : uint8_t {
  kReadRequest = 200,
  kReadReply = 201,
  kWriteRequest = 202,
  kWriteAck = 203,
  kKeyRequest = 206,
  kKeyReply = 207,
  kIdentifyRequest = 208,
  kIdentifyReply = 209,
  kUnhandled = 211,
  kAfterIdentify = 212,
};

// The persistent send buffer in which every request is built in place. Byte 1 holds N, the
// frame size with the CRC (N = L + 2), and doubles as the outstanding-request marker.
using SendBufferBytes = std::array<uint8_t, 101>;

// Where a request's data begins (after the header and the command), and the offset's bytes at
// its start (little-endian) in a read or write request.
inline constexpr size_t kRequestData = 7;
inline constexpr int kOffsetBytes = 3;
// N of each request: header, data, CRC. Only N marks where the CRC goes; a request sets only
// the positions it lists, the others keep what an earlier request left there.
inline constexpr uint8_t kReadRequestSize = kRequestData + kOffsetBytes + 1 + 1;             // 12
inline constexpr uint8_t kWriteRequestSize = kRequestData + kOffsetBytes + kWriteBlock + 1;  // 27
inline constexpr uint8_t kKeyRequestSize = 10;
inline constexpr uint8_t kIdentifyRequestSize = 10;
inline constexpr uint8_t kAfterIdentifySize = 9;
static_assert(kWriteRequestSize <= std::tuple_size_v<SendBufferBytes>);

// Puts a request's header into the send buffer: the start byte, N, the header bytes 1 and 127,
// the sequence number, 0 and the command (positions 0 to 6). The data is the caller's.
void PutRequestHeader(SendBufferBytes& buffer, uint8_t size, uint8_t sequence, Command command);
// Puts an image offset at the start of a read or write request's data.
void PutRequestOffset(SendBufferBytes& buffer, int offset);

// The bytes SendBuffer writes for a buffer: the frame (byte 1 turned from N into L, the CRC
// at N - 1) and the buffer's byte after the CRC position, so N + 1 bytes (101 when N = 101).
// The buffer itself is not changed, so sending it again gives the identical bytes.
struct WireRequest {
  std::array<uint8_t, 101> bytes{};
  size_t count = 0;
};
WireRequest BuildWireRequest(const SendBufferBytes& buffer);

// Cuts frames out of the byte stream. State persists across Feed calls, so a frame may arrive
// in any number of pieces. A frame completes when L + 2 bytes are stored (L from 1 to 198);
// 201 stored bytes abandon it. Good frames (CRC over the whole frame is 0) go to on_frame with
// the receive buffer, which holds the frame at 0..L+1, and the frame size; bad ones are dropped.
class Reassembler {
 public:
  using FrameHandler = std::function<void(std::span<const uint8_t> frame)>;

  void Feed(std::span<const uint8_t> bytes, const FrameHandler& on_frame);
  // Abandons a partly stored frame (the no-answer timer does this from its third tick).
  void Reset() { position_ = 0; }
  size_t position() const { return position_; }

 private:
  std::array<uint8_t, 201> buffer_{};
  size_t position_ = 0;
  uint8_t crc_ = 0;
};

}  // namespace lovar
