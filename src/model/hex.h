// Hexadecimal digits as the tool writes them (key codes, byte runs): upper case, two per byte;
// read in either case.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lovar {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one digit, -1 for a character that is none.
inline int HexDigitValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// The bytes in order, two digits each, `separator` between bytes.
inline std::string HexText(std::span<const uint8_t> bytes, std::string_view separator = {}) {
  std::string out;
  for (uint8_t b : bytes) {
    if (!out.empty()) out += separator;
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0x0F]);
  }
  return out;
}

}  // namespace lovar
