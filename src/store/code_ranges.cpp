#include "store/code_ranges.h"

#include "model/catalog.h"

namespace lovar {

bool SecretField(const Field& field) {
  return field.kind == FieldKind::KeyCode || field.kind == FieldKind::CodeDigits ||
         field.id == "password" || field.id.ends_with(".password");
}

std::vector<CodeRange> CodeRanges(int model) {
  std::vector<CodeRange> ranges;
  for (const Field& f : Fields(model))
    if (SecretField(f)) ranges.push_back({f.offset, f.width, f.id});
  return ranges;
}

void BlankCodes(int model, std::vector<uint8_t>& image) {
  for (const CodeRange& r : CodeRanges(model))
    for (int b = r.start; b < r.start + r.length && b < static_cast<int>(image.size()); ++b)
      image[static_cast<size_t>(b)] = 0;
}

}  // namespace lovar
