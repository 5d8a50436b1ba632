// The named fields of each model: every value a page of the main window shows or edits, with a
// stable id ("loop1.type", "direction3.phone"), the caption the window gives it, its page, its
// bytes and bits, and how its value reads and writes as text. The offsets and encodings are not
// repeated here: the parameters page's come from its layout rows (layout.h), the other pages'
// from the offset functions of regions.h; this file names them. Which control of the window
// shows a field is the window's business (src/ui/binding.h). The tables are
// catalog_fields.cpp's; each kind of field has one codec (catalog_codecs.h).
//
// Text values, the one form shared by lovar-cli (show, diff, export, import) and the windows:
//   Number      decimal; a value above what the window accepts (a board direction of 45) "#45";
//               a board address over bits below it, which its editor writes as 0, "#N" of the
//               word's ten bits
//   List        the entry's caption; a value no entry names, or one that only repeats an
//               earlier entry's caption, as "#N"
//   Flag        "да" or "нет"
//   Text        the characters up to the terminator; a byte that is no printable character
//               (controls, 0x98) as \xNN, and a backslash that would read as one as \x5C;
//               bytes past the characters the window takes (gprs.init: 50 of 60) as \xNN
//   Phone       "+79161234567", "4951234567", or "" for no number (00 FF FF FF FF FF FF FF);
//               bytes the editor would never store as "#" and the eight bytes in hexadecimal
//   Ip          "192.168.1.10"
//   KeyCode     hexadecimal digits, the byte at the highest offset first; "" for no key
//   CodeDigits  four digits, "A" to "F" for the nibbles 10 to 15 a device may hold; "" no code
//   Rights      "взятие 1,2; снятие 4" (loops ШС1..ШС4), an empty part left out; "" for none
// Reading is total: every pattern of bytes reads as a text that stores back the same bits, so
// an image survives any trip through its texts. Stores are checked as the window's editors
// check input, and refuse with a reason rather than store something else; a typed value is
// stored by the same routine whichever way it came (the stores below).
//
// Where the window shows one byte twice (model 251's output byte also as a number beside its
// eight output flags; the signal level also as its entry number) the catalog names the bits
// once, by the flags and the list.
//
// Threads: the tables are built on first use (thread-safe static initialisation), then only
// read; the functions are pure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/config_image.h"
#include "model/model_setup.h"
#include "model/regions.h"

namespace lovar {

// The pages of fields (model_setup.h), in tab order, with the captions of their tabs.
struct PageInfo {
  FieldPage page;
  std::string_view caption;  // "Параметры"
};
std::span<const PageInfo> Pages();
const PageInfo& PageOf(FieldPage page);

// The model's name (model_setup.h): "Ловар-Т2"; "" for an unknown model.
std::string_view ModelName(int model);
// The name with the code, for messages and reports: "Ловар-М (251)".
std::string ModelNameAndCode(int model);

enum class FieldKind : uint8_t {
  Number,
  List,
  Flag,
  Text,
  Phone,
  Ip,
  KeyCode,
  CodeDigits,
  Rights,
};

struct Field {
  std::string id;  // lowercase Latin, dotted where it repeats
  FieldPage page;
  std::string caption;  // as the window shows it, with its row or group: "ШС1: Тип шлейфа"

  FieldKind kind = FieldKind::Number;
  int offset = 0;
  int width = 1;  // bytes from offset
  // Number, List, Flag: the value is (word & mask) >> shift over the little-endian word of
  // `width` bytes (1 or 2) at offset; the other bits of those bytes belong to other fields or
  // to none. The other kinds own all bits of their bytes.
  uint16_t mask = 0xFF;
  uint8_t shift = 0;
  // Number: bits of the word that its store writes as 0 (the board address editor clears bits
  // 0 to 5 below the address); they belong to the field, and a value that holds any of them set
  // reads as "#N" over mask and clears together.
  uint16_t clears = 0;
  // Number: the largest value the window takes (0 is the least); Text: the most characters
  // the window takes (the initialisation string 50 of its 60 bytes); -1 is the width.
  int max = -1;
  // Number: the unit the window's page gives it, "секунды"; "" for a count or an address.
  std::string_view unit;
  // List: the captions, selected by index, or the entries, selected by their stored code.
  std::span<const std::string_view> captions;
  std::span<const directions::Entry> entries;
  // List: texts the window shows for a value besides its caption, also taken by a store
  // (the protocol shows "Тирон3" and "Мирвал" for the entries "Тирон 3" and "Мирвап").
  std::span<const std::string_view> aliases;
  bool arm_high = false;  // Rights: arming in bits 4 to 7 (model 251 keys)

  int last() const { return offset + width - 1; }
  // The bits of the byte at `at` (offset to last()) that this field spans.
  uint8_t BitsAt(int at) const;
};

// Every field of the model, page by page in tab order and within a page in the window's order;
// empty for an unknown model.
std::span<const Field> Fields(int model);
const Field* FindFieldById(int model, std::string_view id);
// The fields whose bits include some of the byte at offset (bit fields share bytes).
std::vector<const Field*> FieldsAt(int model, int offset);
// For a message that names an offset: the fields holding some of `bits` of the byte there,
// "поле loop1.type (ШС1: Тип шлейфа)" or "поля loop1.output1 (ШС1: Вых.1), …"; "" for none.
std::string FieldsAtText(int model, int offset, uint8_t bits = 0xFF);

// The field's bytes, offset to last().
std::span<const uint8_t> FieldBytes(const Field& field, const ConfigImage& image);
std::span<uint8_t> FieldBytes(const Field& field, ConfigImage& image);

// Whether the field lies within the first `extent` bytes of an image (a model 251 file holds
// 2048 of its 4096: its keys are beyond).
inline bool InExtent(const Field& field, int extent) {
  return field.last() < extent;
}

// Number, List, Flag: the value of the field's bits ((word & mask) >> shift), and its store
// (the other bits of the bytes keep what they hold). What a control that shows a number, a
// list position or a tick reads and writes.
unsigned FieldBits(const Field& field, const ConfigImage& image);
void SetFieldBits(const Field& field, ConfigImage& image, unsigned value);

// The field's value as text (see the top of this file); total.
std::string FieldText(const Field& field, const ConfigImage& image);
// Checks text as the field's value and stores it through the store of its kind (below).
// Refused: returns false, says why in Russian in `why` (without the field's name), and leaves
// the image unchanged.
bool StoreFieldText(const Field& field, ConfigImage& image, std::string_view text,
                    std::string& why);

// ---- The one store of each kind of field. ----
// Every way into the image ends in these: the window's editors, the text values of import and
// batch (StoreFieldText), so a field is stored the same way whichever way its value came. Each
// refuses what the field cannot take, with `why` in Russian naming the limit (never the
// field), and leaves the image unchanged then. What they write:
//   Number  the value's bits; bits the field clears as 0 (the board address: bits 0 to 5)
//   Text    the characters, then one zero byte when fewer than the width; the bytes after the
//           zero byte keep what they held
//   Phone   all eight bytes: "" is no number, 00 FF FF FF FF FF FF FF
// List and Flag store their bits with SetFieldBits; the grids' kinds through StoreFieldText.

// "от 0 до 255 (секунды)": a Number's range and unit, for messages and tooltips.
std::string RangeText(const Field& field);
bool StoreNumber(const Field& field, ConfigImage& image, int64_t value, std::string& why);
// Text as Windows-1251 bytes (no zero byte among them), at most the field's max characters.
bool StoreTextBytes(const Field& field, ConfigImage& image, std::string_view cp1251,
                    std::string& why);
// Text as typed (UTF-8): every character one Windows-1251 byte; one the code page lacks is
// refused, never stored as something else.
bool StoreTypedText(const Field& field, ConfigImage& image, std::string_view utf8,
                    std::string& why);
// A telephone number as typed: "" for none, or 1 to 14 digits, "+" in front for a number with
// a plus sign; blanks, "-", "(" and ")" may stand between the digits.
bool StorePhone(const Field& field, ConfigImage& image, std::string_view text, std::string& why);
// An IP address as typed: four numbers from 0 to 255 joined by "." (blanks around a number, as
// the masked edit leaves them, allowed).
bool StoreIp(const Field& field, ConfigImage& image, std::string_view text, std::string& why);
// Rights: the loops (bit n for ШС(n+1)) that may be armed and disarmed, in the field's order.
void StoreRights(const Field& field, ConfigImage& image, unsigned arm, unsigned disarm);
// And their reading, whatever the field's bit order.
void FieldRights(const Field& field, const ConfigImage& image, unsigned& arm, unsigned& disarm);
// KeyCode: the hexadecimal digits of all its bytes, the byte at the highest offset first, also
// for no key (all zero bytes), where FieldText gives "".
std::string KeyCodeDigits(const Field& field, const ConfigImage& image);
// List: the stored value a text names: an entry's caption or a text the window shows for it;
// blanks at the ends and doubled blanks, and Latin letters written in their Cyrillic look-alikes
// ("ОФМ" for the entry "ОФM"), do not matter. False when it names none.
bool ListValueOf(const Field& field, std::string_view text, unsigned& value);
// "поле loop1.type (ШС1: Тип шлейфа): why", for messages that name the field.
std::string FieldRefusal(const Field& field, std::string_view why);

// Per byte of the first `extent`, the bits that the fields' values (as this image holds them)
// determine; the others are the image's own, carried only as bytes (the bytes no field covers,
// the bits 4 to 6 of a model 251 loop byte, what follows a text's terminator...).
std::vector<uint8_t> ValueBits(int model, const ConfigImage& image, int extent);

}  // namespace lovar
