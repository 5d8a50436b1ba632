#include "model/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace lovar {
namespace {

TEST(Cp1251, CyrillicAlphabetMapsToItsBytesAndBack) {
  const std::string letters = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
  std::string bytes;
  for (int i = 0; i < 64; ++i) bytes += static_cast<char>(0xC0 + i);
  EXPECT_EQ(Utf8ToCp1251(letters), bytes);
  EXPECT_EQ(Cp1251ToUtf8(bytes), letters);
}

TEST(Cp1251, SpecialCharactersMapBothWays) {
  struct Row {
    const char* utf8;
    uint8_t byte;
  };
  const Row rows[] = {
      {"Ё", 0xA8}, {"ё", 0xB8}, {"№", 0xB9}, {"Ђ", 0x80},      {"‚", 0x82}, {"…", 0x85},
      {"€", 0x88}, {"™", 0x99}, {"џ", 0x9F}, {"\u00A0", 0xA0}, {"Ґ", 0xA5}, {"ґ", 0xB4},
      {"І", 0xB2}, {"ї", 0xBF}, {"«", 0xAB}, {"»", 0xBB},      {"A", 0x41}, {"~", 0x7E},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.utf8);
    EXPECT_EQ(Utf8ToCp1251(row.utf8), std::string(1, static_cast<char>(row.byte)));
    EXPECT_EQ(Cp1251ToUtf8(std::string(1, static_cast<char>(row.byte))), row.utf8);
  }
}

TEST(Cp1251, EveryByteRoundTrips) {
  EXPECT_EQ(Cp1251ToUnicode(0x98), U'\u0098');  // the one unassigned byte: its C1 control
  EXPECT_EQ(Utf8ToCp1251("\uFFFD"), "?");
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << "byte " << b;
    const auto back = UnicodeToCp1251(Cp1251ToUnicode(static_cast<uint8_t>(b)));
    ASSERT_TRUE(back.has_value()) << "byte " << b;
    EXPECT_EQ(*back, b);
  }
}

TEST(Cp1251, UnmappableAndMalformedInputBecomesQuestionMarks) {
  struct Row {
    std::string utf8;
    std::string cp1251;
  };
  const Row rows[] = {
      {"é", "?"},                    // Latin-1 letter the code page lacks
      {"日本", "??"},                // three-byte characters
      {"😀", "?"},                    // four-byte character
      {"\xC3", "?"},                 // sequence cut short
      {"\x80z", "?z"},               // stray continuation byte
      {"\xC0\xAF", "??"},            // overlong form
      {"\xED\xA0\x80", "???"},       // surrogate
      {"\xF4\x90\x80\x80", "????"},  // above U+10FFFF
      {"Д\xFF", "\xC4?"},
      {"Ловар-Т", "\xCB\xEE\xE2\xE0\xF0-\xD2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cp1251);
    EXPECT_EQ(Utf8ToCp1251(row.utf8), row.cp1251);
    EXPECT_EQ(Utf8Length(row.utf8), row.cp1251.size());
  }
}

}  // namespace
// Console output arrives in pieces; a piece may stop inside a letter.
TEST(Utf8, OutputInPiecesIsCutOnlyBetweenCharacters) {
  const std::pair<std::string, size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {"Порт", 8},
      {"Пор\xD1", 6},           // the first of two bytes
      {"a\xE2\x80", 1},         // two of three ("—")
      {"a\xF0\x9F\x98", 1},     // three of four
      {"a\xE2\x80\x94", 4},     // "—" whole
      {"\x80\x80\x80\x80", 4},  // no character at all: passed on to be shown as such
  };
  for (const auto& [text, whole] : cases) EXPECT_EQ(WholeUtf8Characters(text), whole) << text;
}

}  // namespace lovar
