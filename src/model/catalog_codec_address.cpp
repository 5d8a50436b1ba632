// The codecs of where a direction reports to: a telephone number (Phone) and the receiver's IP
// address (Ip).
#include <algorithm>
#include <array>

#include "model/catalog.h"
#include "model/catalog_codecs.h"

namespace lovar {
namespace {

using codec::Quoted;
using codec::Trim;

std::span<const uint8_t, directions::kPhoneBytes> PhoneBytes(const Field& f,
                                                             const ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(f.offset)).first<directions::kPhoneBytes>();
}

// What the editor stores for "no number".
constexpr std::array<uint8_t, directions::kPhoneBytes> kNoPhone = {0,    0xFF, 0xFF, 0xFF,
                                                                   0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace

namespace codec {

std::string PhoneValue(const Field& f, const ConfigImage& image) {
  const auto bytes = PhoneBytes(f, image);
  if (std::equal(bytes.begin(), bytes.end(), kNoPhone.begin())) return {};
  if (bytes[0] == 0x81 || bytes[0] == 0x91) {
    const std::string text = (bytes[0] == 0x81 ? "+" : "") + directions::PhoneDigits(bytes);
    const auto packed = directions::PackPhone(text);
    if (text != "+" && !text.empty() && std::equal(packed.begin(), packed.end(), bytes.begin()))
      return text;
  }
  return "#" + HexText(bytes, " ");
}

// A number as typed, or "#" and the eight bytes in hexadecimal (what the editor would never
// store, read back whole).
bool StorePhoneValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const std::string_view trimmed = Trim(text);
  if (!trimmed.empty() && trimmed.front() == '#') {
    std::array<uint8_t, directions::kPhoneBytes> bytes{};
    if (!ParseHexBytes(trimmed.substr(1), bytes)) {
      why = Quoted(text) + ": после # нужны 8 байтов в шестнадцатеричном виде";
      return false;
    }
    std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + f.offset);
    return true;
  }
  return StorePhone(f, image, trimmed, why);
}

std::string IpValue(const Field& f, const ConfigImage& image) {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) out.push_back('.');
    out += std::to_string(image[f.offset + i]);
  }
  return out;
}

bool StoreIpValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  return StoreIp(f, image, Trim(text), why);
}

}  // namespace codec

bool StorePhone(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  text = Trim(text);
  const std::string quoted = Quoted(text);
  int digits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (!(c == '+' && i == 0) && c != ' ' && c != '-' && c != '(' && c != ')') {
      why = quoted + ": номер — это цифры, перед ними может стоять +";
      return false;
    }
  }
  if (!text.empty() && (digits == 0 || digits > directions::kPhoneDigits)) {
    why = quoted + ": в номере должно быть от 1 до " + std::to_string(directions::kPhoneDigits) +
          " цифр";
    return false;
  }
  const auto bytes = text.empty() ? kNoPhone : directions::PackPhone(text);
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + f.offset);
  return true;
}

bool StoreIp(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const auto octets = gprs::ParseIp(text);
  if (!octets) {
    why = Quoted(Trim(text)) +
          ": нужен IP-адрес вида 192.168.1.10 (четыре числа от 0 до 255 через точку)";
    return false;
  }
  std::copy(octets->begin(), octets->end(), image.bytes().begin() + f.offset);
  return true;
}

}  // namespace lovar
