#include "model/regions.h"

#include <algorithm>
#include <string>

#include "model/cp1251.h"
#include "model/hex.h"

namespace lovar {

void keys::AppendHex(std::string& out, uint8_t byte) {
  out += HexText(std::span<const uint8_t>(&byte, 1));
}
namespace {

// Cell texts arrive as UTF-8; one character is one position whatever its byte count. Going
// through the code page keeps that rule in one place: every character becomes one byte, and the
// characters that matter here (ASCII) stay as they are.
std::string Characters(std::string_view utf8) {
  return Utf8ToCp1251(utf8);
}

uint16_t Word(const ConfigImage& image, int offset) {
  return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

void SetWord(ConfigImage& image, int offset, uint16_t word) {
  image[offset] = static_cast<uint8_t>(word & 0xFF);
  image[offset + 1] = static_cast<uint8_t>(word >> 8);
}

}  // namespace

int FieldValue(const ConfigImage& image, const FieldDef& field) {
  switch (field.encoding) {
    case Encoding::Number:
    case Encoding::Index:
      return image[field.offset];
    case Encoding::Flag:
      return image.Bit(field.offset, field.bit) ? 1 : 0;
    case Encoding::Bits: {
      const int word = field.width == 2 ? Word(image, field.offset) : image[field.offset];
      return (word & field.mask) >> field.bit;
    }
    case Encoding::Text:
      break;
  }
  return -1;
}

void SetFieldValue(ConfigImage& image, const FieldDef& field, int value) {
  switch (field.encoding) {
    case Encoding::Number:
    case Encoding::Index:
      image[field.offset] = static_cast<uint8_t>(value & 0xFF);
      break;
    case Encoding::Flag:
      image.SetBit(field.offset, field.bit, value != 0);
      break;
    case Encoding::Bits: {
      const unsigned word = field.width == 2 ? Word(image, field.offset) : image[field.offset];
      const unsigned placed = (static_cast<unsigned>(value) << field.bit) & field.mask;
      const auto updated = static_cast<uint16_t>((word & ~unsigned{field.mask}) | placed);
      if (field.width == 2) {
        SetWord(image, field.offset, updated);
      } else {
        image[field.offset] = static_cast<uint8_t>(updated);
      }
      break;
    }
    case Encoding::Text:
      break;
  }
}

namespace codes {

std::string DigitsText(uint8_t first, uint8_t second) {
  if (first == 0 && second == 0) return {};
  std::string text;
  for (uint8_t b : {first, second}) {
    text.push_back(static_cast<char>(0x30 + (b & 0x0F)));
    text.push_back(static_cast<char>(0x30 + (b >> 4)));
  }
  return text;
}

void PackDigits(std::string_view text, uint8_t& first, uint8_t& second) {
  first = 0;
  second = 0;
  const std::string chars = Characters(text);
  if (chars.size() < 4) return;
  uint8_t nibble[4];
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<uint8_t>(chars[static_cast<size_t>(i)]);
    if (c < 0x30 || c > 0x3F) return;
    nibble[i] = static_cast<uint8_t>(c - 0x30);
  }
  first = static_cast<uint8_t>(nibble[0] | (nibble[1] << 4));
  second = static_cast<uint8_t>(nibble[2] | (nibble[3] << 4));
}

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace codes

namespace keys {

int CodeOffset(int model, int k) {
  return model == 251 ? 3584 + 16 * k : 156 + 4 * k;
}
int CodeBytes(int model) {
  return model == 251 ? 8 : 4;
}
int RightsOffset(int model, int k) {
  return model == 251 ? 3584 + 16 * k + 9 : 235 + k;
}

std::string CodeText(const ConfigImage& image, int model, int k) {
  const int base = CodeOffset(model, k);
  std::string text;
  for (int i = CodeBytes(model) - 1; i >= 0; --i) AppendHex(text, image[base + i]);
  return text;
}

bool IsZero(const ConfigImage& image, int model, int k) {
  const int base = CodeOffset(model, k);
  for (int i = 0; i < CodeBytes(model); ++i) {
    if (image[base + i] != 0) return false;
  }
  return true;
}

void SetCodeText(ConfigImage& image, int model, int k, std::string_view text) {
  const std::string chars = Characters(text);
  uint8_t parsed[8] = {};
  for (size_t pos = 0; pos < 16 && pos < chars.size(); ++pos) {
    const int v = std::max(HexDigitValue(static_cast<uint8_t>(chars[pos])), 0);  // non-hex: 0
    parsed[pos / 2] |= static_cast<uint8_t>(pos % 2 == 0 ? v << 4 : v);
  }
  const int base = CodeOffset(model, k);
  const int n = CodeBytes(model);
  for (int i = 0; i < n; ++i) image[base + n - 1 - i] = parsed[i];
}

void Rights(const ConfigImage& image, int model, int k, uint8_t& arm, uint8_t& disarm) {
  const uint8_t b = image[RightsOffset(model, k)];
  const auto low = static_cast<uint8_t>(b & 0x0F);
  const auto high = static_cast<uint8_t>(b >> 4);
  arm = ArmInHighNibble(model) ? high : low;
  disarm = ArmInHighNibble(model) ? low : high;
}

void SetRights(ConfigImage& image, int model, int k, uint8_t arm, uint8_t disarm) {
  const auto low = static_cast<uint8_t>((ArmInHighNibble(model) ? disarm : arm) & 0x0F);
  const auto high = static_cast<uint8_t>((ArmInHighNibble(model) ? arm : disarm) & 0x0F);
  image[RightsOffset(model, k)] = static_cast<uint8_t>(low | (high << 4));
}

std::string LearntKeyText(const std::array<uint8_t, 8>& key_buffer, int model) {
  std::string text;
  if (model == 251) {
    for (uint8_t b : key_buffer) AppendHex(text, b);
  } else {
    for (int i = 3; i <= 6; ++i) AppendHex(text, key_buffer[static_cast<size_t>(i)]);
  }
  return text;
}

}  // namespace keys

namespace directions {

const std::string_view kRouting[5] = {"не передавать", "только тревожные извещения ",
                                      "все кроме  Снят", "все", "все кроме \"Сработка\""};

const Entry kReportProtocols[5] = {
    {"SMS сообщение", 1}, {"Речевое сообщение", 3}, {"ОФM", 2},  // the M is Latin
    {"Contact ID", 4},    {"телефонный вызов", 8},
};

const Entry kTestKinds[4] = {
    {"не передавать Тест", 0},
    {"Сообщение - период в часах", 1},
    {"Телефонный вызов- период в часах", 2},
    {"Телефонный вызов- период в минутах", 4},
};

std::string PhoneDigits(std::span<const uint8_t, kPhoneBytes> bytes) {
  std::string digits;
  for (size_t i = 1; i < bytes.size(); ++i) {
    for (int nibble : {bytes[i] & 0x0F, bytes[i] >> 4}) {
      if (nibble > 9) return digits;
      digits.push_back(static_cast<char>('0' + nibble));
    }
  }
  return digits;
}

std::array<uint8_t, kPhoneBytes> PackPhone(std::string_view text) {
  std::array<uint8_t, kPhoneBytes> bytes;
  bytes.fill(0xFF);
  bytes[0] = text.empty() ? 0 : text.find('+') != std::string_view::npos ? 0x81 : 0x91;
  int count = 0;
  for (char c : text) {
    if (c < '0' || c > '9') continue;
    if (count == kPhoneDigits) break;
    uint8_t& b = bytes[static_cast<size_t>(1 + count / 2)];
    const auto digit = static_cast<uint8_t>(c - '0');
    b = count % 2 == 0 ? static_cast<uint8_t>(0xF0 | digit)
                       : static_cast<uint8_t>((b & 0x0F) | (digit << 4));
    ++count;
  }
  return bytes;
}

std::string PhoneText(std::span<const uint8_t, kPhoneBytes> bytes) {
  if (bytes[0] == 0) return {};
  return (bytes[0] == 0x81 ? "  + " : "") + PhoneDigits(bytes);
}

int ProtocolEntry(uint8_t nibble) {
  nibble &= 0x0F;
  if ((nibble & 3) == 3) return 1;  // "Речевое сообщение" holds both single bits
  if (nibble & 1) return 0;
  if (nibble & 2) return 2;
  if (nibble & 4) return 3;
  if (nibble & 8) return 4;
  return -1;
}

int TestEntry(uint8_t nibble) {
  nibble &= 0x0F;
  if (nibble & 1) return 1;
  if (nibble & 2) return 2;
  if (nibble & 4) return 3;
  if (nibble & 8) return -1;
  return 0;
}

}  // namespace directions

namespace filter {

const std::string_view kEventNames[16] = {
    "Снят",
    "Взят",
    "Невзят",
    "Тревога",
    "Пожар",
    "Неисправность пожарного шлейфа",
    "Подбор ключа",
    "Программирование",
    "Восстановление сетевого питания",
    "Неисправность сетевого питания",
    "Наряд",
    "Тревога входной зоны",
    "Вскрытие",
    "Закрытие",
    "Восстановление  резервного питания",    // two blanks after the first word, exactly
    "Нарушение  резервного питания/ Сброс",  // the same
};

}  // namespace filter

namespace gprs {

std::optional<std::array<uint8_t, 4>> ParseIp(std::string_view text) {
  std::array<uint8_t, 4> octets{};
  const auto blank = [](char c) { return c == ' '; };
  if (std::all_of(text.begin(), text.end(), blank)) return octets;
  size_t pos = 0;
  for (size_t i = 0; i < octets.size(); ++i) {
    const size_t end = std::min(text.find('.', pos), text.size());
    if ((end == text.size()) != (i == octets.size() - 1)) return std::nullopt;  // not 4 parts
    std::string_view part = text.substr(pos, end - pos);
    while (!part.empty() && blank(part.front())) part.remove_prefix(1);
    while (!part.empty() && blank(part.back())) part.remove_suffix(1);
    if (part.empty() || part.size() > 3) return std::nullopt;
    unsigned value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = 10 * value + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    octets[i] = static_cast<uint8_t>(value);
    pos = end + 1;
  }
  return octets;
}

}  // namespace gprs

}  // namespace lovar
