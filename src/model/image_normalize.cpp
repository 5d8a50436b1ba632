#include "model/image_normalize.h"

#include <string_view>

#include "model/catalog.h"
#include "model/model_setup.h"

namespace lovar {
namespace {

// The lists whose out-of-range values a model with lists_corrected puts back to the first entry;
// a model that offers fewer loops and outputs than its layout has them corrected alike (they are
// looked up in the catalog of the model that offers the whole layout).
constexpr std::string_view kCorrectedLists[] = {
    "loop1.type", "loop2.type", "loop3.type", "loop4.type", "output1.mode", "output2.mode",
};

}  // namespace

std::vector<ImageCorrection> NormalizeImage(int model, ConfigImage& image) {
  std::vector<ImageCorrection> changed;
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr || !setup->lists_corrected) return changed;
  for (std::string_view id : kCorrectedLists) {
    const Field* f = FindFieldById(LayoutModel(setup->layout), id);
    if (f == nullptr || FieldBits(*f, image) < f->captions.size()) continue;
    const uint8_t before = image[f->offset];
    SetFieldBits(*f, image, 0);
    changed.push_back({f->offset, before, image[f->offset]});
  }
  return changed;
}

}  // namespace lovar
