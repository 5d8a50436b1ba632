// Fuzzes a company's rules file: arbitrary text as its JSON. A refusal must say why; rules that
// are taken must apply to every model's sample image without fault, each finding naming its rule
// and a field of the model.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "check/company_rules.h"
#include "model/catalog.h"
#include "sim/device_sim.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lovar;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const CompanyRulesLoad load = ParseCompanyRules(text, "fuzz.json");
  if (!load.ok()) {
    Check(!load.error.empty());
    return 0;
  }
  for (int model : {250, 251, 252}) {
    const ConfigImage image = SampleImage(model);
    CheckInput in;
    in.model = model;
    in.image = &image;
    in.extent = ImageLength(model);
    in.template_image = &image;
    in.company = &load.rules;
    for (const Finding& f : CheckConfiguration(in)) {
      Check(!f.rule.empty() && !f.text.empty() && !f.fields.empty());
      Check(FindFieldById(model, f.fields.front()) != nullptr);
    }
  }
  return 0;
}
