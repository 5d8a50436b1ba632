// One delivery of received bytes from a serial link to its owner.
#pragma once

#include <array>
#include <cstdint>

namespace lovar {

// The bytes one delivery can hold.
inline constexpr int kDeliveryCapacity = 1004;
// A delivery ends once it holds more than this many bytes, so it holds at most this plus the
// bytes of one read (port_backend.h ties the largest read to the capacity).
inline constexpr int kDeliveryEndsAfter = 500;

// Count valid bytes of Data, in arrival order. The link reuses the one record it holds for every
// delivery, so a handler copies what it needs and keeps no reference.
struct TMessageDevice {
  int32_t Count = 0;
  std::array<uint8_t, kDeliveryCapacity> Data{};
};

}  // namespace lovar
