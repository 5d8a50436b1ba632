// Windows-1251, the single-byte code page of every text in the image and the file header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lovar {

// One Windows-1251 byte as a Unicode code point (0x98, the one unassigned byte, gives U+0098,
// so every byte maps to a code point and back).
char32_t Cp1251ToUnicode(uint8_t byte);
// The Windows-1251 byte of a code point, or nothing when the code page lacks it.
std::optional<uint8_t> UnicodeToCp1251(char32_t code_point);

// Whole strings: UTF-8 to Windows-1251 (unmappable characters and malformed UTF-8 become '?')
// and back.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

// Number of characters (code points) of a UTF-8 string.
size_t Utf8Length(std::string_view utf8);
// The text with blanks after it up to width characters (as it is when longer), for columns.
std::string Utf8Padded(std::string_view utf8, size_t width);
// The first `count` characters of a UTF-8 string.
std::string Utf8Prefix(std::string_view utf8, size_t count);
// How many bytes from the start end on a whole character: all of them, unless the text stops
// inside a character's sequence (output that arrives in pieces), which is then left out.
size_t WholeUtf8Characters(std::string_view utf8);

// One character at a time. NextCodePoint decodes the code point at utf8[pos] and advances pos
// past it; malformed input (a stray continuation byte, a cut sequence, an overlong form, a
// surrogate, a value above U+10FFFF) consumes one byte and gives kNotACodePoint.
inline constexpr char32_t kNotACodePoint = 0xFFFFFFFF;
char32_t NextCodePoint(std::string_view utf8, size_t& pos);
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace lovar
