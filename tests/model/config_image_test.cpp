#include "model/config_image.h"

#include <gtest/gtest.h>

namespace lovar {
namespace {

TEST(ConfigImage, StartsAllZero) {
  ConfigImage image;
  for (uint8_t b : image.bytes()) ASSERT_EQ(b, 0);
  EXPECT_EQ(image.bytes().size(), 4096u);
}

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

TEST(ConfigImage, TextOfFullWidthHasNoTerminator) {
  ConfigImage image;
  const uint8_t bytes[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'X'};
  std::copy(std::begin(bytes), std::end(bytes), image.bytes().begin() + 512);
  EXPECT_EQ(image.Text(512, 8), "ABCDEFGH");
}

TEST(ConfigImage, TextStopsAtZeroByte) {
  ConfigImage image;
  const uint8_t bytes[] = {'a', 'b', 'c', 0, 'z'};  // leftover of an older password
  std::copy(std::begin(bytes), std::end(bytes), image.bytes().begin() + 16);
  EXPECT_EQ(image.Text(16, 5), "abc");
  EXPECT_EQ(image.Text(21, 8), "");
}

TEST(ConfigImage, TextDecodesWindows1251) {
  ConfigImage image;
  const uint8_t bytes[] = {0xD8, 0xEB, 0xE5, 0xE9, 0xF4, 0x20, 0xB9, 0x31};
  std::copy(std::begin(bytes), std::end(bytes), image.bytes().begin() + 712);
  EXPECT_EQ(image.Text(712, 8), "Шлейф №1");
}

TEST(ConfigImage, ShorterTextIsFollowedByOneZeroByte) {
  ConfigImage image;
  image.SetText(544, 8, "ABCDEFGH");
  image.SetText(544, 8, "Ёж");
  const uint8_t expected[] = {0xA8, 0xE6, 0x00, 'D', 'E', 'F', 'G', 'H'};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(image[544 + i], expected[i]) << i;
  EXPECT_EQ(image.Text(544, 8), "Ёж");
}

TEST(ConfigImage, FullWidthTextLeavesTheNextByteAlone) {
  ConfigImage image;
  image[21 + 8] = 0x55;
  image.SetText(21, 8, "12345678");
  EXPECT_EQ(image[28], '8');
  EXPECT_EQ(image[29], 0x55);
}

TEST(ConfigImage, LongerTextIsCut) {
  ConfigImage image;
  image[21] = 0x77;
  image.SetText(16, 5, "пароль");
  EXPECT_EQ(image.Text(16, 5), "парол");
  EXPECT_EQ(image[21], 0x77);
}

TEST(ConfigImage, EmptyTextWritesZeroAtFirstByte) {
  ConfigImage image;
  image.SetText(512, 8, "name");
  image.SetText(512, 8, "");
  EXPECT_EQ(image[512], 0);
  EXPECT_EQ(image[513], 'a');
}

TEST(ConfigImage, UnmappableCharacterStoredAsQuestionMark) {
  ConfigImage image;
  image.SetText(512, 8, "a€é");
  EXPECT_EQ(image[512], 'a');
  EXPECT_EQ(image[513], 0x88);
  EXPECT_EQ(image[514], '?');
  EXPECT_EQ(image[515], 0);
}

TEST(ConfigImage, TextFieldAtTheEndIsClipped) {
  ConfigImage image;
  image.SetText(4092, 8, "ABCDEFGH");
  EXPECT_EQ(image[4095], 'D');
  EXPECT_EQ(image.Text(4092, 8), "ABCD");
}

}  // namespace
}  // namespace lovar
