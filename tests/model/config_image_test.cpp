#include "model/config_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lovar {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ConfigImage, SetBitsReplacesOnlyTheMaskedBits) {
  ConfigImage image;
  image[2] = 0x82;  // loop type 2 with automatic re-arming
  image.SetBits(2, 0x0F, 0, 4);
  EXPECT_EQ(image[2], 0x84);
  image.SetBits(2, 0xF0, 4, 0x3);
  EXPECT_EQ(image[2], 0x34);
  image.SetBits(2, 0x0F, 0, 0x1F);  // too wide: only the mask's bits are stored
  EXPECT_EQ(image[2], 0x3F);
  image.SetBit(2, 5, false);
  EXPECT_EQ(image[2], 0x1F);
}

TEST(ConfigImage, TextReadsUpToZeroOrWidth) {
  struct Row {
    Bytes stored;  // at offset 16
    int width;
    const char* text;
  };
  const std::vector<Row> rows = {
      {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'X'}, 8, "ABCDEFGH"},  // full width: no zero
      {{'a', 'b', 'c', 0, 'z'}, 5, "abc"},  // leftover of an older password after the zero
      {{0, 'z'}, 8, ""},
      {{0xD8, 0xEB, 0xE5, 0xE9, 0xF4, 0x20, 0xB9, 0x31}, 8, "Шлейф №1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ConfigImage image;
    std::copy(row.stored.begin(), row.stored.end(), image.bytes().begin() + 16);
    EXPECT_EQ(image.Text(16, row.width), row.text);
  }
}

TEST(ConfigImage, SetTextWritesOneZeroAfterAShorterTextAndCutsALongerOne) {
  struct Row {
    const char* text;
    int width;
    Bytes stored;  // offsets 16 to 16 + width, over "ABCDEFGHI"
    const char* read_back;
  };
  const std::vector<Row> rows = {
      {"Ёж", 8, {0xA8, 0xE6, 0, 'D', 'E', 'F', 'G', 'H', 'I'}, "Ёж"},
      {"12345678", 8, {'1', '2', '3', '4', '5', '6', '7', '8', 'I'}, "12345678"},
      {"пароль", 5, {0xEF, 0xE0, 0xF0, 0xEE, 0xEB, 'F'}, "парол"},
      {"", 8, {0, 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I'}, ""},
      {"a€é", 8, {'a', 0x88, '?', 0, 'E', 'F', 'G', 'H', 'I'}, "a€?"},  // é is not in the page
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ConfigImage image;
    for (int i = 0; i < 9; ++i) image[16 + i] = static_cast<uint8_t>('A' + i);
    image.SetText(16, row.width, row.text);
    EXPECT_EQ(Bytes(image.bytes().begin() + 16, image.bytes().begin() + 17 + row.width),
              row.stored);
    EXPECT_EQ(image.Text(16, row.width), row.read_back);
  }
}

TEST(ConfigImage, TextFieldAtTheEndIsClipped) {
  ConfigImage image;
  image.SetText(4092, 8, "ABCDEFGH");
  EXPECT_EQ(image[4095], 'D');
  EXPECT_EQ(image.Text(4092, 8), "ABCD");
}

}  // namespace
}  // namespace lovar
