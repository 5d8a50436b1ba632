#include "model/image_diff.h"

#include <algorithm>

namespace lovar {

ImageDiff DiffImages(int model, const ConfigImage& a, int extent_a, const ConfigImage& b,
                     int extent_b) {
  ImageDiff diff;
  diff.model = model;
  diff.extent = std::min(extent_a, extent_b);
  for (const Field& f : Fields(model)) {
    if (!InExtent(f, diff.extent)) {
      diff.not_compared.push_back(&f);
      continue;
    }
    std::string ta = FieldText(f, a), tb = FieldText(f, b);
    if (ta != tb) diff.fields.push_back({&f, std::move(ta), std::move(tb)});
  }
  // A byte difference is explained when a value of either side sets those bits: equal values
  // set the same bits, and a differing value is already named above.
  const std::vector<uint8_t> set_a = ValueBits(model, a, diff.extent);
  const std::vector<uint8_t> set_b = ValueBits(model, b, diff.extent);
  for (int i = 0; i < diff.extent; ++i) {
    const auto k = static_cast<size_t>(i);
    if (((a[i] ^ b[i]) & ~(set_a[k] | set_b[k]) & 0xFF) == 0) continue;
    if (!diff.bytes.empty() && diff.bytes.back().last == i - 1)
      diff.bytes.back().last = i;
    else
      diff.bytes.push_back({i, i});
  }
  return diff;
}

std::string RangesText(const std::vector<ByteRange>& ranges) {
  std::string out;
  for (const ByteRange& r : ranges) {
    if (!out.empty()) out += ", ";
    out += std::to_string(r.first);
    if (r.last != r.first) out += "–" + std::to_string(r.last);
  }
  return out;
}

std::string ObjectNumber(int model, const ConfigImage& image) {
  const Field* f = FindFieldById(model, "object_number");
  return f == nullptr ? std::string() : FieldText(*f, image);
}

}  // namespace lovar
