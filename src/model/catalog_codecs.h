// The codec of each kind of field: how a field's bytes read as its text value, and how a text
// value stores into them (the forms at the top of catalog.h). One pair per kind, in
// catalog_codec_*.cpp; catalog.cpp picks a field's pair by its kind. Internal to the catalog:
// other code reads and stores values through catalog.h.
//
// Each Read is total; each Store checks the text as the window's editor checks input, and
// refuses with why in Russian (never naming the field), leaving the image unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/catalog.h"
#include "model/hex.h"

namespace lovar::codec {

using Read = std::string (*)(const Field& field, const ConfigImage& image);
using Store = bool (*)(const Field& field, ConfigImage& image, std::string_view text,
                       std::string& why);

// Number, List, Flag: the bits under the field's mask (catalog_codec_bits.cpp).
std::string NumberValue(const Field& field, const ConfigImage& image);
bool StoreNumberValue(const Field& field, ConfigImage& image, std::string_view text,
                      std::string& why);
std::string ListValue(const Field& field, const ConfigImage& image);
bool StoreListValue(const Field& field, ConfigImage& image, std::string_view text,
                    std::string& why);
std::string FlagValue(const Field& field, const ConfigImage& image);
bool StoreFlagValue(const Field& field, ConfigImage& image, std::string_view text,
                    std::string& why);

// Text: Windows-1251 characters up to a zero byte (catalog_codec_text.cpp).
std::string TextValue(const Field& field, const ConfigImage& image);
bool StoreTextValue(const Field& field, ConfigImage& image, std::string_view text,
                    std::string& why);

// Phone and Ip: where a direction reports to (catalog_codec_address.cpp).
std::string PhoneValue(const Field& field, const ConfigImage& image);
bool StorePhoneValue(const Field& field, ConfigImage& image, std::string_view text,
                     std::string& why);
std::string IpValue(const Field& field, const ConfigImage& image);
bool StoreIpValue(const Field& field, ConfigImage& image, std::string_view text, std::string& why);

// KeyCode, CodeDigits, Rights: the keys, the user codes and what they may arm and disarm
// (catalog_codec_access.cpp).
std::string KeyCodeValue(const Field& field, const ConfigImage& image);
bool StoreKeyCodeValue(const Field& field, ConfigImage& image, std::string_view text,
                       std::string& why);
std::string CodeDigitsValue(const Field& field, const ConfigImage& image);
bool StoreCodeDigitsValue(const Field& field, ConfigImage& image, std::string_view text,
                          std::string& why);
std::string RightsValue(const Field& field, const ConfigImage& image);
bool StoreRightsValue(const Field& field, ConfigImage& image, std::string_view text,
                      std::string& why);

// ---- Shared by the codecs (catalog.cpp). ----

// Without blanks and tabs at the ends.
std::string_view Trim(std::string_view text);
// The value of a hexadecimal digit, -1 for anything else.
inline int HexDigit(char c) {
  return HexDigitValue(static_cast<uint8_t>(c));
}
// "«text»", for a refusal that quotes what was given.
inline std::string Quoted(std::string_view text) {
  return "«" + std::string(text) + "»";
}
// Exactly out.size() bytes as pairs of hexadecimal digits; blanks anywhere are left out.
bool ParseHexBytes(std::string_view text, std::span<uint8_t> out);

}  // namespace lovar::codec
