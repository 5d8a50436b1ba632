#include "model/regions.h"

#include <algorithm>
#include <string>

#include "model/hex.h"
#include "model/model_setup.h"

namespace lovar {

namespace keys {

void AppendHex(std::string& out, uint8_t byte) {
  out += HexText(std::span<const uint8_t>(&byte, 1));
}

namespace {
// Where the model's keys lie; no key anywhere for an unknown model.
KeyLayout KeysOf(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->keys : KeyLayout{};
}
}  // namespace

int CodeOffset(int model, int k) {
  const KeyLayout keys = KeysOf(model);
  return keys.code_offset + keys.code_stride * k;
}
int CodeBytes(int model) {
  return KeysOf(model).code_bytes;
}
int RightsOffset(int model, int k) {
  const KeyLayout keys = KeysOf(model);
  return keys.rights_offset + keys.rights_stride * k;
}
bool ArmInHighNibble(int model) {
  return KeysOf(model).arm_high;
}

std::string LearntKeyText(const std::array<uint8_t, 8>& key_buffer, int model) {
  const KeyLayout keys = KeysOf(model);
  std::string text;
  for (int i = keys.learnt_first; i < keys.learnt_first + keys.code_bytes && i < 8; ++i)
    AppendHex(text, key_buffer[static_cast<size_t>(i)]);
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
