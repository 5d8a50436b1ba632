#include "model/image_normalize.h"

#include <string_view>

#include "model/catalog.h"

namespace lovar {

std::vector<int> NormalizeImage(int model, ConfigImage& image) {
  std::vector<int> changed;
  if (model != 250 && model != 252) return changed;
  // Model 252 shares model 250's layout here, loops 3 and 4 and output 2 included (its window
  // hides them, yet shows them right).
  constexpr std::string_view kLists[] = {"loop1.type", "loop2.type",   "loop3.type",
                                         "loop4.type", "output1.mode", "output2.mode"};
  for (std::string_view id : kLists) {
    const Field* f = FindFieldById(250, id);
    if (f == nullptr || FieldBits(*f, image) < f->captions.size()) continue;
    SetFieldBits(*f, image, 0);
    changed.push_back(f->offset);
  }
  return changed;
}

}  // namespace lovar
