// The codecs of the kinds whose value is the bits under a mask: Number, List and Flag. A value
// no caption or limit covers reads and stores as "#N".
#include <algorithm>
#include <bit>

#include "model/catalog.h"
#include "model/catalog_codecs.h"

namespace lovar {
namespace {

using codec::Quoted;
using codec::Trim;

unsigned Word(const Field& f, const ConfigImage& image) {
  return f.width == 2 ? image[f.offset] | (image[f.offset + 1] << 8) : image[f.offset];
}

unsigned Capacity(const Field& f) {
  return static_cast<unsigned>(f.mask) >> f.shift;
}

// The "#N" form of a number spans the bits its store clears too (N = the word's bits of mask
// and clears, from the lowest of them); of any other field, its own bits.
uint16_t RawMask(const Field& f) {
  return static_cast<uint16_t>(f.mask | f.clears);
}
int RawShift(const Field& f) {
  return f.clears != 0 ? std::countr_zero(RawMask(f)) : f.shift;
}
unsigned RawCapacity(const Field& f) {
  return static_cast<unsigned>(RawMask(f)) >> RawShift(f);
}
unsigned RawBits(const Field& f, const ConfigImage& image) {
  return (Word(f, image) & RawMask(f)) >> RawShift(f);
}
void SetRawBits(const Field& f, ConfigImage& image, unsigned value) {
  const unsigned word =
      (Word(f, image) & ~unsigned{RawMask(f)}) | ((value << RawShift(f)) & RawMask(f));
  image[f.offset] = static_cast<uint8_t>(word & 0xFF);
  if (f.width == 2) image[f.offset + 1] = static_cast<uint8_t>(word >> 8);
}

// A decimal number of at most nine digits, nothing else.
bool ParseDecimal(std::string_view text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = 10 * value + static_cast<unsigned>(c - '0');
  }
  return true;
}

std::string Raw(unsigned value) {
  return "#" + std::to_string(value);
}

// "#N": a value given by its number. True when text has that form (value then set, or why
// said when N is no number or does not fit the field's bits).
bool ParseRaw(const Field& f, std::string_view text, unsigned& value, bool& ok, std::string& why) {
  if (text.empty() || text.front() != '#') return false;
  ok = ParseDecimal(Trim(text.substr(1)), value) && value <= RawCapacity(f);
  if (!ok)
    why = "«" + std::string(text) + "»: после # нужно число от 0 до " +
          std::to_string(RawCapacity(f));
  return true;
}

// ---- List. ----

// Runs of blanks as one, none at the ends: "только тревожные извещения " is found when typed
// without its trailing blank. Latin letters that look like Cyrillic ones are read as those,
// so a caption that mixes them ("ОФM", its M Latin) is found however it was typed.
std::string Squeezed(std::string_view text) {
  static constexpr std::string_view kLookAlikes[][2] = {
      {"A", "А"}, {"B", "В"}, {"C", "С"}, {"E", "Е"}, {"H", "Н"}, {"K", "К"},
      {"M", "М"}, {"O", "О"}, {"P", "Р"}, {"T", "Т"}, {"X", "Х"}, {"a", "а"},
      {"c", "с"}, {"e", "е"}, {"o", "о"}, {"p", "р"}, {"x", "х"}, {"y", "у"}};
  std::string out;
  for (char c : Trim(text)) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    const auto* same = std::find_if(std::begin(kLookAlikes), std::end(kLookAlikes),
                                    [c](const auto& pair) { return pair[0][0] == c; });
    if (same != std::end(kLookAlikes))
      out += (*same)[1];
    else
      out.push_back(c);
  }
  return out;
}

// The caption of a stored value, when an entry names it and no earlier entry has its caption.
const std::string_view* CaptionOf(const Field& f, unsigned value) {
  const std::string_view* caption = nullptr;
  if (!f.entries.empty()) {
    for (const directions::Entry& e : f.entries)
      if (e.nibble == value) {
        caption = &e.caption;
        break;
      }
  } else if (value < f.captions.size()) {
    caption = &f.captions[value];
  }
  if (caption == nullptr) return nullptr;
  auto first_with = [&](std::string_view text) -> const std::string_view* {
    for (const directions::Entry& e : f.entries)
      if (e.caption == text) return &e.caption;
    for (const std::string_view& c : f.captions)
      if (c == text) return &c;
    return nullptr;
  };
  return first_with(*caption) == caption ? caption : nullptr;
}

bool ValueOfCaption(const Field& f, std::string_view text, unsigned& value) {
  for (const bool squeezed : {false, true}) {
    auto same = [&](std::string_view caption) {
      return squeezed ? Squeezed(caption) == Squeezed(text) : caption == text;
    };
    for (const directions::Entry& e : f.entries)
      if (same(e.caption)) {
        value = e.nibble;
        return true;
      }
    for (std::span<const std::string_view> list : {f.captions, f.aliases})
      for (size_t i = 0; i < list.size(); ++i)
        if (same(list[i])) {
          value = static_cast<unsigned>(i);
          return true;
        }
  }
  return false;
}

std::string ListOf(const Field& f) {
  std::string list;
  auto add = [&](std::string_view caption) {
    if (!list.empty()) list += ", ";
    list += caption;
  };
  for (const directions::Entry& e : f.entries) add(e.caption);
  for (std::string_view c : f.captions) add(c);
  return list;
}

}  // namespace

namespace codec {

std::string NumberValue(const Field& f, const ConfigImage& image) {
  const unsigned v = FieldBits(f, image);
  if ((Word(f, image) & f.clears) != 0) return Raw(RawBits(f, image));
  return f.max >= 0 && v > static_cast<unsigned>(f.max) ? Raw(v) : std::to_string(v);
}

bool StoreNumberValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const std::string_view trimmed = Trim(text);
  unsigned v = 0;
  bool ok = false;
  if (ParseRaw(f, trimmed, v, ok, why)) {
    if (ok) SetRawBits(f, image, v);
    return ok;
  }
  const bool negative = !trimmed.empty() && trimmed.front() == '-';
  if (!ParseDecimal(negative ? trimmed.substr(1) : trimmed, v)) {
    why = Quoted(text) + ": нужно число " + RangeText(f);
    return false;
  }
  if (!StoreNumber(f, image, negative ? -int64_t{v} : int64_t{v}, why)) {
    why = Quoted(text) + ": " + why;
    return false;
  }
  return true;
}

std::string ListValue(const Field& f, const ConfigImage& image) {
  const unsigned v = FieldBits(f, image);
  const std::string_view* caption = CaptionOf(f, v);
  return caption != nullptr ? std::string(*caption) : Raw(v);
}

bool StoreListValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  unsigned v = 0;
  bool ok = false;
  if (!ParseRaw(f, Trim(text), v, ok, why)) {
    ok = ListValueOf(f, text, v);
    if (!ok) why = Quoted(text) + " нет в списке: " + ListOf(f);
  }
  if (!ok) return false;
  SetFieldBits(f, image, v);
  return true;
}

std::string FlagValue(const Field& f, const ConfigImage& image) {
  return FieldBits(f, image) != 0 ? "да" : "нет";
}

bool StoreFlagValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const std::string_view trimmed = Trim(text);
  const bool yes = trimmed == "да" || trimmed == "Да" || trimmed == "1";
  const bool no = trimmed == "нет" || trimmed == "Нет" || trimmed == "0";
  if (!yes && !no) {
    why = Quoted(text) + ": нужно «да» или «нет»";
    return false;
  }
  SetFieldBits(f, image, yes ? 1 : 0);
  return true;
}

}  // namespace codec

unsigned FieldBits(const Field& f, const ConfigImage& image) {
  return (Word(f, image) & f.mask) >> f.shift;
}

void SetFieldBits(const Field& f, ConfigImage& image, unsigned value) {
  const unsigned word = (Word(f, image) & ~unsigned{f.mask}) | ((value << f.shift) & f.mask);
  image[f.offset] = static_cast<uint8_t>(word & 0xFF);
  if (f.width == 2) image[f.offset + 1] = static_cast<uint8_t>(word >> 8);
}

std::string RangeText(const Field& f) {
  const int limit = f.max >= 0 ? f.max : static_cast<int>(Capacity(f));
  std::string text = "от 0 до " + std::to_string(limit);
  if (!f.unit.empty()) text += " (" + std::string(f.unit) + ")";
  return text;
}

bool StoreNumber(const Field& f, ConfigImage& image, int64_t value, std::string& why) {
  const int64_t limit = f.max >= 0 ? f.max : Capacity(f);
  if (value < 0 || value > limit) {
    why = "нужно число " + RangeText(f);
    return false;
  }
  // The value's bits, and the bits the field clears (those below the board address) as 0.
  SetRawBits(f, image, static_cast<unsigned>(value) << (f.shift - RawShift(f)));
  return true;
}

bool ListValueOf(const Field& f, std::string_view text, unsigned& value) {
  return ValueOfCaption(f, text, value);
}

}  // namespace lovar
