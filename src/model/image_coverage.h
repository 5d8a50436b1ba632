// How much of the configuration image holds one configuration, as it came whole from a device
// or a file. Writing or saving an image that is not whole would put zeros, or another device's
// bytes, where the device's own loops, outputs, address and keys were.
#pragma once

#include <algorithm>

namespace lovar {

class ImageCoverage {
 public:
  // Nothing known: at start, and after the identification of another model.
  void Reset() {
    known_ = own_ = 0;
    fill_from_device_ = false;
  }
  // A read stores from offset 0 and has reached offset (its end, when complete): what lies
  // beyond is from before and no longer belongs with it.
  void Read(int offset) {
    known_ = own_ = offset;
    fill_from_device_ = false;
  }
  // A file was loaded over bytes 0 to file_bytes - 1; what lay beyond keeps its standing (a
  // model 251 file holds half the image: the keys beyond it must have been read, or are taken
  // from the device before a write).
  // The file's bytes are the image's own; what lies beyond is the device's, as it was read.
  void Loaded(int file_bytes) {
    known_ = std::max(known_, file_bytes);
    own_ = file_bytes;
    fill_from_device_ = true;
  }
  // A device of the same model was identified, perhaps another one: beyond the bytes a file
  // holds (a model 251 device's keys and their names) the image is the other device's and must
  // never be written into this one; a write takes them from this device first.
  void NewDevice(int file_bytes) {
    known_ = std::min(known_, file_bytes);
    own_ = std::min(own_, file_bytes);
    fill_from_device_ = true;
  }
  // The device's own bytes, read just before a write, completed the image.
  void Filled(int image_length) { known_ = std::max(known_, image_length); }

  bool Whole(int image_length) const { return known_ >= image_length; }
  // Whether a write may send the image: whole, or whole within what a file holds after a load
  // or a new identification, the rest to be read from the device first. Not after a read that
  // ended early, until a load.
  bool Writable(int image_length, int file_bytes) const {
    return Whole(image_length) || (fill_from_device_ && known_ >= file_bytes);
  }
  // Bytes from offset 0 that belong to the configuration.
  int known() const { return known_; }
  // Bytes from offset 0 that are the image's own (read, loaded or typed); beyond them the bytes
  // are the device's as a read before a write found them (a model 251 file's keys).
  int own() const { return std::min(own_, known_); }

 private:
  int known_ = 0;
  int own_ = 0;
  bool fill_from_device_ = false;
};

}  // namespace lovar
