#include "model/regions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lovar {
namespace {

using ByteList = std::vector<uint8_t>;

ByteList Bytes(const ConfigImage& image, int offset, int count) {
  return {image.bytes().begin() + offset, image.bytes().begin() + offset + count};
}

// Bytes written as hex pairs separated by spaces.
ByteList Hex(std::string_view text) {
  ByteList bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

// --- the board word of 250 and 252: byte 140 + 256 * byte 141 ---

TEST(Board, WordGivesAddressAndDirection) {
  struct Row {
    uint8_t b140, b141;
    int address, direction;
  };
  const Row rows[] = {
      {0xC0, 0x4F, 15, 19}, {0x40, 0x09, 5, 2}, {0x3F, 0x00, 0, 0}, {0x00, 0xFF, 12, 63}};
  for (const Row& row : rows) {
    ConfigImage image;
    image[140] = row.b140;
    image[141] = row.b141;
    EXPECT_EQ(FieldValue(image, *FindField(250, "EditNumPlata")), row.address);
    EXPECT_EQ(FieldValue(image, *FindField(250, "EditNumNapr")), row.direction);
  }
}

// The address row keeps the bits below it and the direction.
TEST(Board, TheAddressRowKeepsTheRestOfTheWord) {
  ConfigImage image;
  image[140] = 0x3F;
  image[141] = 0xFC;
  SetFieldValue(image, *FindField(250, "EditNumPlata"), 5);
  EXPECT_EQ(image[140], 0x7F);
  EXPECT_EQ(image[141], 0xFD);
}

// --- the loop byte of 251: type in the low nibble, re-arming in bit 7 ---

TEST(Fields, LoopByteOf251HoldsTypeAndReArming) {
  ConfigImage image;
  image[2] = 0x85;
  image[3] = 0x0F;
  EXPECT_EQ(FieldValue(image, *FindField(251, "ComboBoxTypeShl1")), 5);  // "Пожарный"
  EXPECT_EQ(FieldValue(image, *FindField(251, "CheckBoxAuto1")), 1);
  EXPECT_EQ(FieldValue(image, *FindField(251, "ComboBoxTypeShl2")), 15);  // no entry
  EXPECT_EQ(FieldValue(image, *FindField(251, "CheckBoxAuto2")), 0);
  EXPECT_EQ(FieldValue(image, *FindField(251, "EditPasw")), -1);
  image[2] = 0x82;
  SetFieldValue(image, *FindField(251, "ComboBoxTypeShl1"), 4);
  EXPECT_EQ(image[2], 0x84);
  SetFieldValue(image, *FindField(251, "ComboBoxTypeShl1"), -1);  // a typed text: low bits only
  EXPECT_EQ(image[2], 0x8F);
  SetFieldValue(image, *FindField(251, "CheckBoxAuto1"), 0);
  EXPECT_EQ(image[2], 0x0F);
}

// --- user codes: four digits, low nibble first; anything else is no code ---

TEST(Codes, PackAndShowDigits) {
  struct Row {
    const char* typed;
    uint8_t first, second;
    const char* shown;
  };
  const Row rows[] = {
      {"1234", 0x21, 0x43, "1234"},
      {"12345", 0x21, 0x43, "1234"},
      {"123", 0, 0, ""},
      {"", 0, 0, ""},
      {"0000", 0, 0, ""},
      {"0001", 0x00, 0x10, "0001"},
      {"9999", 0x99, 0x99, "9999"},
      {":;>?", 0xBA, 0xFE, ":;>?"},
      {"12a4", 0, 0, ""},
      {"12Ж4", 0, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    uint8_t first = 0x55, second = 0x55;
    codes::PackDigits(row.typed, first, second);
    EXPECT_EQ(first, row.first);
    EXPECT_EQ(second, row.second);
    EXPECT_EQ(codes::DigitsText(first, second), row.shown);
  }
  EXPECT_TRUE(codes::IsDigits("0123456789"));
  EXPECT_TRUE(codes::IsDigits(""));
  EXPECT_FALSE(codes::IsDigits("12 4"));
}

// --- keys: stored highest offset first; missing and foreign characters are zero ---

TEST(Keys, CodeTextStoredAndShownByModel) {
  struct Row {
    int model, key;
    const char* typed;
    int offset;
    const char* stored;  // from offset, over an image of 0x99
    const char* shown;
  };
  const Row rows[] = {
      {251, 0, "0A1B2C3D4E5F6071", 3584, "71 60 5F 4E 3D 2C 1B 0A 99", "0A1B2C3D4E5F6071"},
      {251, 0, "", 3584, "00 00 00 00 00 00 00 00 99", "0000000000000000"},
      {251, 0, "AB", 3584, "00 00 00 00 00 00 00 AB 99", "AB00000000000000"},
      {251, 0, "ABC", 3584, "00 00 00 00 00 00 C0 AB 99", "ABC0000000000000"},
      {251, 0, "G1zz", 3584, "00 00 00 00 00 00 00 01 99", "0100000000000000"},
      {251, 0, "FFFFFFFFFFFFFFFF12", 3584, "FF FF FF FF FF FF FF FF 99", "FFFFFFFFFFFFFFFF"},
      {250, 0, "a1b2c3d4", 156, "D4 C3 B2 A1 99", "A1B2C3D4"},
      {252, 15, "0102030405", 216, "04 03 02 01 99", "01020304"},  // only 8 digits fit
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    ConfigImage image;
    std::fill(image.bytes().begin(), image.bytes().end(), 0x99);
    keys::SetCodeText(image, row.model, row.key, row.typed);
    const ByteList stored = Hex(row.stored);
    EXPECT_EQ(Bytes(image, row.offset, static_cast<int>(stored.size())), stored);
    EXPECT_EQ(keys::CodeText(image, row.model, row.key), row.shown);
  }
}

TEST(Keys, ZeroKeyIsEmpty) {
  ConfigImage image;
  EXPECT_TRUE(keys::IsZero(image, 250, 3));
  EXPECT_TRUE(keys::IsZero(image, 251, 3));
  image[3584 + 16 * 3 + 7] = 1;
  EXPECT_FALSE(keys::IsZero(image, 251, 3));
  image[159 + 4 * 3] = 1;
  EXPECT_FALSE(keys::IsZero(image, 250, 3));
}

TEST(Keys, RightsNibblesAreSwappedOnModel251) {
  struct Row {
    int model;
    int offset;
    uint8_t stored;
  };
  // Arming loop 1 and disarming loop 4.
  const Row rows[] = {{251, 3593, 0x18}, {250, 235, 0x81}, {252, 235, 0x81}};
  for (const Row& row : rows) {
    ConfigImage image;
    keys::SetRights(image, row.model, 0, 0x1, 0x8);
    EXPECT_EQ(image[row.offset], row.stored) << row.model;
    uint8_t arm = 0, disarm = 0;
    keys::Rights(image, row.model, 0, arm, disarm);
    EXPECT_EQ(arm, 0x1);
    EXPECT_EQ(disarm, 0x8);
  }
  EXPECT_EQ(keys::RightsOffset(251, 15), 3584 + 16 * 15 + 9);
}

TEST(Keys, LearntKeyTextByModel) {
  // A reply carrying d0..d7 = 10..17; entry 0 of the buffer holds the reply's last byte.
  const std::array<uint8_t, 8> buffer = {0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 0x10};
  EXPECT_EQ(keys::LearntKeyText(buffer, 251), "1716151413121110");
  EXPECT_EQ(keys::LearntKeyText(buffer, 250), "14131211");
  EXPECT_EQ(keys::LearntKeyText(buffer, 252), "14131211");
  ConfigImage image;
  keys::SetCodeText(image, 251, 0, keys::LearntKeyText(buffer, 251));
  EXPECT_EQ(image[3584], 0x10);  // the key lands in the order the device sent it
  EXPECT_EQ(image[3591], 0x17);
}

// --- report directions ---

// Type byte 0x81 for "+", 0x91 otherwise, then digits low nibble first, padded with F.
TEST(Directions, TelephoneNumberEncoding) {
  struct Row {
    const char* typed;
    const char* stored;
    const char* shown;
  };
  const Row rows[] = {
      {"+987", "81 89 F7 FF FF FF FF FF", "  + 987"},
      {"9876", "91 89 67 FF FF FF FF FF", "9876"},
      {"", "00 FF FF FF FF FF FF FF", ""},
      {"1234567890123456", "91 21 43 65 87 09 21 43", "12345678901234"},  // 14 digits fit
      {"  + 12", "81 21 FF FF FF FF FF FF", "  + 12"},
      {"8 (912) 34", "91 98 21 43 FF FF FF FF", "891234"},
      {"+", "81 FF FF FF FF FF FF FF", "  + "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    const std::array<uint8_t, directions::kPhoneBytes> bytes = directions::PackPhone(row.typed);
    EXPECT_EQ(ByteList(bytes.begin(), bytes.end()), Hex(row.stored));
    EXPECT_EQ(directions::PhoneText(bytes), row.shown);
  }
}

TEST(Directions, TelephoneDisplayNeedsATypeByte) {
  std::array<uint8_t, directions::kPhoneBytes> bytes{};
  bytes[1] = 0x21;  // digits without a type byte
  EXPECT_EQ(directions::PhoneText(bytes), "");
  bytes[0] = 0x91;
  bytes[2] = 0xA3;  // stops at the first nibble above 9
  EXPECT_EQ(directions::PhoneText(bytes), "123");
}

// The protocol shown tests voice before the single bits; of the test kinds the first bit wins.
TEST(Directions, DisplayedEntryOfNibbles) {
  const std::pair<uint8_t, int> protocols[] = {{0, -1}, {1, 0},  {2, 2},  {3, 1},
                                               {4, 3},  {8, 4},  {5, 0},  {6, 2},
                                               {7, 1},  {12, 3}, {15, 1}, {0xF2, 2}};
  for (auto [nibble, entry] : protocols)
    EXPECT_EQ(directions::ProtocolEntry(nibble), entry) << +nibble;
  const std::pair<uint8_t, int> tests[] = {{0, 0}, {1, 1},  {2, 2},  {3, 1},
                                           {4, 3}, {8, -1}, {12, 3}, {9, 1}};
  for (auto [nibble, entry] : tests) EXPECT_EQ(directions::TestEntry(nibble), entry) << +nibble;
}

TEST(Directions, EveryEntryShowsAsItself) {
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(directions::ProtocolEntry(directions::kReportProtocols[i].nibble), i) << i;
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(directions::TestEntry(directions::kTestKinds[i].nibble), i) << i;
}

// --- GPRS ---

TEST(Gprs, AnAddressIsTakenOnlyWhenItIsOne) {
  struct Row {
    const char* text;
    std::vector<uint8_t> octets;  // none: refused
  };
  const std::vector<Row> rows = {
      {"192.168.1.10", {192, 168, 1, 10}},
      {"192.168.  1. 10", {192, 168, 1, 10}},  // the old fixed-width form
      {" 10.  0.  0.  1 ", {10, 0, 0, 1}},
      {"255.255.255.255", {255, 255, 255, 255}},
      {"", {0, 0, 0, 0}},
      {"   .   .   .   ", {}},
      {"300.1.2.3", {}},  // no octet above 255, not even modulo 256
      {"1.2", {}},
      {"1.2.3.4.5", {}},
      {"1..3.4", {}},
      {"1.2.3.0004", {}},
      {"100.0 0.0 0.1 0", {}},
      {"a.b.c.d", {}},
      {"1.2.3.4x", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const std::optional<std::array<uint8_t, 4>> octets = gprs::ParseIp(row.text);
    EXPECT_EQ(octets.has_value(), !row.octets.empty());
    if (octets) {
      EXPECT_EQ(ByteList(octets->begin(), octets->end()), row.octets);
    }
  }
}

}  // namespace
}  // namespace lovar
