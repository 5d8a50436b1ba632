// Where the configuration image is kept besides the window: what a device was last seen to hold
// (a complete read, a proven write), what a file was last loaded from or saved to, and an image
// the installer has let go (the zeros before anything was read, what a read that ended early
// left). The image "has changes" while it equals none of them: a new read, a load or closing
// the window would then lose something.
//
// A file of model 251 holds only the first 2048 bytes; the rest of its image (the keys and
// their names) is kept only as long as the device holds it.
//
// Threads: one owner; no locks.
#pragma once

#include <optional>

#include "model/config_image.h"

namespace lovar {

class ImageBaselines {
 public:
  // Nothing of image is worth keeping: as the window starts, and what a read that ended early
  // (or a discarded image) leaves.
  void LetGo(const ConfigImage& image) { let_go_ = image; }
  // A complete read, as the window shows it (the display's corrections made).
  void DeviceHolds(const ConfigImage& image) { device_ = image; }
  // A proven write of bytes `from` onward (100 for model 252); the bytes before it stay what the
  // device was known to hold, or, when nothing was known, what was sent.
  void DeviceWritten(const ConfigImage& sent, int from, int length);
  // A write that stopped or was not proven: the device may hold a mix.
  void DeviceUnknown() { device_.reset(); }
  // A file holds the first `extent` bytes of image (loaded or saved).
  void FileHolds(const ConfigImage& image, int extent) {
    file_ = image;
    file_extent_ = extent;
  }
  // Changes that are no edit (a display's corrections, the bytes a write sends as 0): made in
  // every baseline that held the byte as it was, since loading or reading it again makes the
  // same change.
  void Absorb(const ConfigImage& before, const ConfigImage& after, int length);

  // Whether some of the first `length` bytes of image are kept nowhere.
  bool WouldLose(const ConfigImage& image, int length) const;

 private:
  std::optional<ConfigImage> let_go_;
  std::optional<ConfigImage> device_;
  std::optional<ConfigImage> file_;
  int file_extent_ = 0;
};

}  // namespace lovar
