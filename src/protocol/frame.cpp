#include "protocol/frame.h"

#include <algorithm>

#include "protocol/crc8.h"

namespace lovar {

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
