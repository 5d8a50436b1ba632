// Fuzzes the JSON import: arbitrary text as a document. A refusal must say why; a document that
// is taken must export to a document that imports to the same file, so what an import accepts
// is always what an export writes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "files/config_file.h"
#include "files/config_json.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lovar;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const JsonImport taken = ImportJson(text, 0);
  if (!taken.ok()) {
    Check(!taken.error.empty());
    return 0;
  }
  Check(IsKnownModel(taken.model));
  for (int i = FileImageLength(taken.model); i < kImageCapacity; ++i) Check(taken.image[i] == 0);
  const JsonImport again = ImportJson(ExportJson(taken.model, taken.image), taken.model);
  Check(again.ok());
  Check(SerializeConfigFile(taken.model, again.image) ==
        SerializeConfigFile(taken.model, taken.image));
  return 0;
}
