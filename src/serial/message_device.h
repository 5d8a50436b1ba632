// One delivery of received bytes from a serial link to its owner.
#pragma once

#include <array>
#include <cstdint>

namespace lovar {

// Count valid bytes of Data, in arrival order. The link reuses the one record it holds for every
// delivery, so a handler copies what it needs and keeps no reference.
struct TMessageDevice {
  int32_t Count = 0;
  std::array<uint8_t, 1004> Data{};
};

}  // namespace lovar
