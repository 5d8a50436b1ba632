// The image layouts as data: every field of the general, loop and output area by its id (the
// catalog's), its offset, encoding and value list (a field both layouts have has a row in each,
// so its bytes follow the model), and the caption lists. Nothing here touches bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace lovar {

enum class Encoding : uint8_t {
  Number,  // one unsigned byte shown in decimal
  Index,   // one byte selecting an entry of `values` (0 = first entry)
  Flag,    // one bit; `bit` is its number, 1 = ticked
  Text,    // Text(n): `width` Windows-1251 bytes, a zero byte after a shorter text
  Bits,    // the bits of `mask`, shifted right by `bit` (a nibble, the board address)
};

struct FieldDef {
  std::string_view id;  // the catalog's id: "loop1.type"
  int offset;
  Encoding encoding;
  uint8_t bit = 0;       // Flag: the bit; Bits: the shift
  uint8_t width = 1;     // Text: n; Bits: 1, or 2 for a little-endian word at offset
  uint16_t mask = 0xFF;  // Bits: the mask before shifting (over the word when width is 2)
  std::span<const std::string_view> values = {};  // Index and Bits with a caption list
};

// Caption lists, in value order.
namespace lists {
// Models 250, 252. The fourth loop type is offered only when FirmwareVersion > 9.
extern const std::string_view kLoopTypes250[4];
extern const std::string_view kOutputModes250[5];
extern const std::string_view kProtocols[2];  // "Тирон 3" (0), "Мирвап" (1)
// What the display writes into the protocol combo: "Тирон3" for 0, "Мирвал" for any other
// byte; these spellings differ from the list entries above, and both are shown as they are.
extern const std::string_view kProtocolsShown[2];
extern const std::string_view kLevels[8];  // millivolts, "75" to "2000"
// Model 251.
extern const std::string_view kLoopTypes251[7];
extern const std::string_view kOutputModes251[5];
}  // namespace lists

// The general, loop and output fields of model 250/252 or 251 (one table per layout), one row
// per field; empty for an unknown model.
std::span<const FieldDef> ParameterFields(int model);
// The row of the field `id` in the model's layout, or null when the layout has no such field.
const FieldDef* FindField(int model, std::string_view id);

// The regions of models 250 and 252 and of model 251, as (first, last, what) rows of the
// overall maps; "" for bytes the tool does not interpret.
struct Region {
  int first;
  int last;
  std::string_view content;
};
std::span<const Region> ImageMap(int model);

}  // namespace lovar
