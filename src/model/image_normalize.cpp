#include "model/image_normalize.h"

#include <string_view>

#include "model/catalog.h"

namespace lovar {
namespace {

// The lists whose out-of-range values models 250 and 252 put back to the first entry. Model
// 252 offers fewer loops and outputs, but its bytes follow model 250's layout and are corrected
// alike.
constexpr std::string_view kCorrectedLists[] = {
    "loop1.type", "loop2.type", "loop3.type", "loop4.type", "output1.mode", "output2.mode",
};

}  // namespace

std::vector<ImageCorrection> NormalizeImage(int model, ConfigImage& image) {
  std::vector<ImageCorrection> changed;
  if (model != 250 && model != 252) return changed;
  for (std::string_view id : kCorrectedLists) {
    const Field* f = FindFieldById(250, id);
    if (f == nullptr || FieldBits(*f, image) < f->captions.size()) continue;
    const uint8_t before = image[f->offset];
    SetFieldBits(*f, image, 0);
    changed.push_back({f->offset, before, image[f->offset]});
  }
  return changed;
}

}  // namespace lovar
