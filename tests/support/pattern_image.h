// A configuration image of known, seed-dependent bytes for the file tests: byte i is
// i * 7 + seed (mod 256), so images of different seeds differ in every byte.
#pragma once

#include <cstdint>

#include "model/config_image.h"

namespace lovar::testing {

inline ConfigImage PatternImage(uint8_t seed) {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 7 + seed);
  return image;
}

}  // namespace lovar::testing
