#include "protocol/frame.h"

#include <algorithm>

#include "protocol/crc8.h"

namespace lovar {

void PutRequestHeader(SendBufferBytes& buffer, uint8_t size, uint8_t sequence, Command command) {
  // The fixed bytes of every request's header (a reply's are not examined).
  constexpr uint8_t kHeader2 = 1, kHeader3 = 127, kHeader5 = 0;
  buffer[0] = kFrameStart;
  buffer[1] = size;
  buffer[2] = kHeader2;
  buffer[3] = kHeader3;
  buffer[4] = sequence;
  buffer[5] = kHeader5;
  buffer[6] = command;
}

void PutRequestOffset(SendBufferBytes& buffer, int offset) {
  for (int i = 0; i < kOffsetBytes; ++i)
    buffer[kRequestData + static_cast<size_t>(i)] =
        static_cast<uint8_t>((offset >> (8 * i)) & 0xFF);
}

WireRequest BuildWireRequest(const SendBufferBytes& buffer) {
  WireRequest out;
  out.bytes = buffer;
  const size_t n = buffer[1];
  if (n < 2 || n > buffer.size()) return out;  // no frame fits: nothing is written
  out.bytes[n - 1] = 0;
  out.bytes[1] = static_cast<uint8_t>(n - 2);
  out.bytes[n - 1] = Crc8(std::span(out.bytes.data(), n - 1));
  // The frame and the buffer's next byte; WriteDevice never sends past the array.
  out.count = std::min(n + 1, out.bytes.size());
  return out;
}

void Reassembler::Feed(std::span<const uint8_t> bytes, const FrameHandler& on_frame) {
  for (uint8_t b : bytes) {
    if (position_ == 0) {
      crc_ = 0;
      if (b != kFrameStart) continue;  // noise between frames
    }
    buffer_[position_] = b;
    crc_ = Crc8Step(crc_, b);
    if (++position_ == buffer_.size()) {
      position_ = 0;  // a length byte that never completes: give the bytes up
      continue;
    }
    if (position_ > 2 && position_ == static_cast<size_t>(buffer_[1]) + 2) {
      const size_t size = position_;
      position_ = 0;
      if (crc_ == 0) on_frame(std::span<const uint8_t>(buffer_.data(), size));
    }
  }
}

}  // namespace lovar
