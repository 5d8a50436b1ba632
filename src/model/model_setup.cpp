#include "model/model_setup.h"

#include <algorithm>

namespace lovar {
namespace {

using P = FieldPage;
constexpr FieldPage kPages250[] = {P::Parameters, P::Keys, P::Codes};
constexpr FieldPage kPages252[] = {P::Parameters, P::Keys};
constexpr FieldPage kPages251[] = {P::Parameters, P::Keys, P::Directions, P::Filter, P::Gprs};

constexpr ModelSetup kModels[] = {
    {250, 256, 250, 4, 2, kPages250, true, false},
    {251, 4096, 251, 4, 2, kPages251, true, true},
    {252, 256, 250, 2, 1, kPages252, false, false},
};

}  // namespace

bool ModelSetup::Has(FieldPage page) const {
  return std::find(pages.begin(), pages.end(), page) != pages.end();
}

const ModelSetup* FindModelSetup(int model) {
  for (const ModelSetup& setup : kModels)
    if (setup.model == model) return &setup;
  return nullptr;
}

}  // namespace lovar
