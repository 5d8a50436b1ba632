#include "model/image_baselines.h"

#include <algorithm>

namespace lovar {
namespace {

bool Same(const ConfigImage& a, const ConfigImage& b, int from, int to) {
  return std::equal(a.bytes().begin() + from, a.bytes().begin() + std::max(from, to),
                    b.bytes().begin() + from);
}

}  // namespace

void ImageBaselines::DeviceWritten(const ConfigImage& sent, int from, int length) {
  ConfigImage held = device_ ? *device_ : sent;
  std::copy(sent.bytes().begin() + from, sent.bytes().begin() + length,
            held.bytes().begin() + from);
  device_ = held;
}

void ImageBaselines::Absorb(const ConfigImage& before, const ConfigImage& after, int length) {
  for (std::optional<ConfigImage>* baseline : {&let_go_, &device_, &file_}) {
    if (!*baseline) continue;
    ConfigImage& held = **baseline;
    for (int i = 0; i < length; ++i)
      if (before[i] != after[i] && held[i] == before[i]) held[i] = after[i];
  }
}

bool ImageBaselines::WouldLose(const ConfigImage& image, int length) const {
  if (let_go_ && Same(*let_go_, image, 0, length)) return false;
  if (device_ && Same(*device_, image, 0, length)) return false;
  if (file_) {
    // Beyond the file's bytes only the device keeps the rest; without a device, the rest as it
    // stood when the file was loaded or saved.
    const int extent = std::min(file_extent_, length);
    const ConfigImage& rest = device_ ? *device_ : *file_;
    if (Same(*file_, image, 0, extent) && Same(rest, image, extent, length)) return false;
  }
  return true;
}

}  // namespace lovar
