// How much of the configuration image holds one configuration, as it came whole from a device
// or a file. Writing or saving an image that is not whole would put zeros, or another device's
// bytes, where the device's own loops, outputs, address and keys were.
#pragma once

#include <algorithm>

namespace lovar {

class ImageCoverage {
 public:
  // Nothing known: at start, and after the identification of another model.
  void Reset() { known_ = 0; }
  // A read stores from offset 0 and has reached offset (its end, when complete): what lies
  // beyond is from before and no longer belongs with it.
  void Read(int offset) { known_ = offset; }
  // A file was loaded over bytes 0 to file_bytes - 1; what lay beyond keeps its standing (a
  // model 251 file holds half the image: the keys beyond it must have been read).
  void Loaded(int file_bytes) { known_ = std::max(known_, file_bytes); }

  bool Whole(int image_length) const { return known_ >= image_length; }
  // Bytes from offset 0 that belong to the configuration.
  int known() const { return known_; }

 private:
  int known_ = 0;
};

}  // namespace lovar
