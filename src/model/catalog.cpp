// A field's value as text, read and stored through the codec of its kind (catalog_codecs.h);
// the fields themselves are catalog_fields.cpp's tables.
#include "model/catalog.h"

#include <algorithm>
#include <iterator>

#include "model/catalog_codecs.h"

namespace lovar {
namespace {

struct Codec {
  FieldKind kind;
  codec::Read read;
  codec::Store store;
};

// Each kind's codec, in the order of FieldKind.
constexpr Codec kCodecs[] = {
    {FieldKind::Number, codec::NumberValue, codec::StoreNumberValue},
    {FieldKind::List, codec::ListValue, codec::StoreListValue},
    {FieldKind::Flag, codec::FlagValue, codec::StoreFlagValue},
    {FieldKind::Text, codec::TextValue, codec::StoreTextValue},
    {FieldKind::Phone, codec::PhoneValue, codec::StorePhoneValue},
    {FieldKind::Ip, codec::IpValue, codec::StoreIpValue},
    {FieldKind::KeyCode, codec::KeyCodeValue, codec::StoreKeyCodeValue},
    {FieldKind::CodeDigits, codec::CodeDigitsValue, codec::StoreCodeDigitsValue},
    {FieldKind::Rights, codec::RightsValue, codec::StoreRightsValue},
};

constexpr bool EveryKindInItsPlace() {
  for (size_t i = 0; i < std::size(kCodecs); ++i)
    if (kCodecs[i].kind != static_cast<FieldKind>(i)) return false;
  return std::size(kCodecs) == static_cast<size_t>(FieldKind::Rights) + 1;
}
static_assert(EveryKindInItsPlace(), "one codec per FieldKind, in its order");

const Codec* CodecOf(FieldKind kind) {
  const auto index = static_cast<size_t>(kind);
  return index < std::size(kCodecs) ? &kCodecs[index] : nullptr;
}

}  // namespace

namespace codec {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool ParseHexBytes(std::string_view text, std::span<uint8_t> out) {
  size_t n = 0;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int v = HexDigit(c);
    if (v < 0 || n == out.size()) return false;
    if (high < 0) {
      high = v;
    } else {
      out[n++] = static_cast<uint8_t>(high * 16 + v);
      high = -1;
    }
  }
  return n == out.size() && high < 0;
}

}  // namespace codec

std::span<const uint8_t> FieldBytes(const Field& field, const ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(field.offset), static_cast<size_t>(field.width));
}

std::span<uint8_t> FieldBytes(const Field& field, ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(field.offset), static_cast<size_t>(field.width));
}

std::string FieldText(const Field& field, const ConfigImage& image) {
  const Codec* codec = CodecOf(field.kind);
  return codec != nullptr ? codec->read(field, image) : std::string();
}

bool StoreFieldText(const Field& field, ConfigImage& image, std::string_view text,
                    std::string& why) {
  const Codec* codec = CodecOf(field.kind);
  return codec != nullptr && codec->store(field, image, text, why);
}

std::string FieldRefusal(const Field& field, std::string_view why) {
  return "поле " + field.id + " (" + field.caption + "): " + std::string(why);
}

std::vector<uint8_t> ValueBits(int model, const ConfigImage& image, int extent) {
  // What a value determines is what its store sets whatever the bytes held before: stored over
  // all-zero and over all-one bytes, those bits agree, and every other bit keeps the base.
  ConfigImage zeros, ones;
  std::fill(ones.bytes().begin(), ones.bytes().end(), uint8_t{0xFF});
  std::string why;
  for (const Field& f : Fields(model)) {
    if (!InExtent(f, extent)) continue;
    const std::string text = FieldText(f, image);
    StoreFieldText(f, zeros, text, why);
    StoreFieldText(f, ones, text, why);
  }
  std::vector<uint8_t> bits(static_cast<size_t>(std::max(extent, 0)));
  for (int i = 0; i < extent; ++i)
    bits[static_cast<size_t>(i)] = static_cast<uint8_t>(~(zeros[i] ^ ones[i]));
  return bits;
}

}  // namespace lovar
