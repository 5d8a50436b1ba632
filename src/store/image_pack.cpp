#include "store/image_pack.h"

#include <algorithm>

namespace lovar {
namespace {

constexpr size_t kMaxLiterals = 128;
constexpr size_t kMinRun = 3;
constexpr size_t kMaxRun = 130;

}  // namespace

std::vector<uint8_t> PackRuns(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> out;
  size_t literal_start = 0;
  auto flush_literals = [&](size_t end) {
    while (literal_start < end) {
      const size_t n = std::min(end - literal_start, kMaxLiterals);
      out.push_back(static_cast<uint8_t>(n - 1));
      out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(literal_start),
                 bytes.begin() + static_cast<std::ptrdiff_t>(literal_start + n));
      literal_start += n;
    }
  };
  size_t i = 0;
  while (i < bytes.size()) {
    size_t run = 1;
    while (i + run < bytes.size() && bytes[i + run] == bytes[i] && run < kMaxRun) ++run;
    if (run < kMinRun) {
      i += run;
      continue;
    }
    flush_literals(i);
    out.push_back(static_cast<uint8_t>(run + 125));
    out.push_back(bytes[i]);
    i += run;
    literal_start = i;
  }
  flush_literals(bytes.size());
  return out;
}

bool UnpackRuns(std::span<const uint8_t> packed, size_t length, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(length);
  size_t i = 0;
  while (i < packed.size()) {
    const uint8_t c = packed[i++];
    if (c < 128) {
      const size_t n = size_t{c} + 1;
      if (i + n > packed.size() || out.size() + n > length) return false;
      out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
                 packed.begin() + static_cast<std::ptrdiff_t>(i + n));
      i += n;
    } else {
      const size_t n = size_t{c} - 125;
      if (i >= packed.size() || out.size() + n > length) return false;
      out.insert(out.end(), n, packed[i++]);
    }
  }
  return out.size() == length;
}

PackedImage PackImage(std::span<const uint8_t> image) {
  PackedImage packed{kCodecRuns, PackRuns(image)};
  if (packed.data.size() >= image.size()) packed = {kCodecPlain, {image.begin(), image.end()}};
  return packed;
}

bool UnpackImage(int codec, std::span<const uint8_t> data, size_t length,
                 std::vector<uint8_t>& out) {
  if (codec == kCodecRuns) return UnpackRuns(data, length, out);
  if (codec != kCodecPlain || data.size() != length) return false;
  out.assign(data.begin(), data.end());
  return true;
}

}  // namespace lovar
