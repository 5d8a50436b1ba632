// The corrections an image gets once it is read from a device or loaded from a file, before
// anything shows it: on models 250 and 252 a loop type or an output mode that selects no entry
// of its list becomes 0 (the first entry), as the device itself takes it. Model 251's bytes are
// never corrected: a value its lists lack shows as an empty entry and stays as it is.
//
// A pure function, so the display shows the image and never changes it, and the undo history
// starts from the corrected image with nothing to absorb.
//
// Threads: pure; the caller owns the image.
#pragma once

#include <cstdint>
#include <vector>

#include "model/config_image.h"

namespace lovar {

// One byte the normalisation changed.
struct ImageCorrection {
  int offset;
  uint8_t before;
  uint8_t after;
  bool operator==(const ImageCorrection&) const = default;
};

// Corrects the image of `model` in place and returns what it changed, in offset order; nothing
// for model 251 or an unknown model, and nothing when every byte is in range.
std::vector<ImageCorrection> NormalizeImage(int model, ConfigImage& image);

}  // namespace lovar
