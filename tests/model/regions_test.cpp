#include "model/regions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/catalog.h"

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

// The field of a region, on the layout the model's bytes follow.
const Field& At(int model, const std::string& id) {
  const Field* f = FindFieldById(LayoutModel(FindModelSetup(model)->layout), id);
  EXPECT_NE(f, nullptr) << model << " " << id;
  return *f;
}

// --- the board word of 250 and 252: byte 140 + 256 * byte 141 ---

TEST(Board, WordGivesAddressAndDirection) {
  struct Row {
    uint8_t b140, b141;
    unsigned address, direction;
  };
  const Row rows[] = {
      {0xC0, 0x4F, 15, 19}, {0x40, 0x09, 5, 2}, {0x3F, 0x00, 0, 0}, {0x00, 0xFF, 12, 63}};
  for (const Row& row : rows) {
    ConfigImage image;
    image[140] = row.b140;
    image[141] = row.b141;
    EXPECT_EQ(FieldBits(At(250, "board_address"), image), row.address);
    EXPECT_EQ(FieldBits(At(250, "board_direction"), image), row.direction);
  }
}

// The address's bits keep the bits below them and the direction.
TEST(Board, TheAddressRowKeepsTheRestOfTheWord) {
  ConfigImage image;
  image[140] = 0x3F;
  image[141] = 0xFC;
  SetFieldBits(At(250, "board_address"), image, 5);
  EXPECT_EQ(image[140], 0x7F);
  EXPECT_EQ(image[141], 0xFD);
}

// --- the loop byte of 251: type in the low nibble, re-arming in bit 7 ---

TEST(Fields, LoopByteOf251HoldsTypeAndReArming) {
  ConfigImage image;
  image[2] = 0x85;
  image[3] = 0x0F;
  EXPECT_EQ(FieldBits(At(251, "loop1.type"), image), 5u);  // "Пожарный"
  EXPECT_EQ(FieldBits(At(251, "loop1.auto_rearm"), image), 1u);
  EXPECT_EQ(FieldBits(At(251, "loop2.type"), image), 15u);  // no entry
  EXPECT_EQ(FieldBits(At(251, "loop2.auto_rearm"), image), 0u);
  image[2] = 0x82;
  SetFieldBits(At(251, "loop1.type"), image, 4);
  EXPECT_EQ(image[2], 0x84);
  SetFieldBits(At(251, "loop1.type"), image, static_cast<unsigned>(-1));  // low bits only
  EXPECT_EQ(image[2], 0x8F);
  SetFieldBits(At(251, "loop1.auto_rearm"), image, 0);
  EXPECT_EQ(image[2], 0x0F);
}

// --- user codes: four digits, low nibble first; anything else is refused ---

TEST(Codes, PackAndShowDigits) {
  struct Row {
    const char* typed;
    uint8_t first, second;  // over 0x55 0x55; unchanged when refused
    const char* shown;
  };
  const Row rows[] = {
      {"1234", 0x21, 0x43, "1234"}, {"12345", 0x55, 0x55, "5555"},
      {"123", 0x55, 0x55, "5555"},  {"", 0, 0, ""},
      {"0000", 0, 0, ""},           {"0001", 0x00, 0x10, "0001"},
      {"9999", 0x99, 0x99, "9999"}, {"ABEF", 0xBA, 0xFE, "ABEF"},
      {"12Ж4", 0x55, 0x55, "5555"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    ConfigImage image;
    image[5] = image[6] = 0x55;
    std::string why;
    StoreFieldText(At(250, "code2.code"), image, row.typed, why);
    EXPECT_EQ(image[5], row.first);
    EXPECT_EQ(image[6], row.second);
    EXPECT_EQ(FieldText(At(250, "code2.code"), image), row.shown);
  }
}

// --- keys: stored highest offset first; a text of the wrong length is refused ---

TEST(Keys, CodeTextStoredAndShownByModel) {
  struct Row {
    int model, key;
    const char* typed;
    int offset;
    const char* stored;  // from offset, over an image of 0x99
    const char* shown;   // every digit, also for no key
  };
  const Row rows[] = {
      {251, 1, "0A1B2C3D4E5F6071", 3584, "71 60 5F 4E 3D 2C 1B 0A 99", "0A1B2C3D4E5F6071"},
      {251, 1, "", 3584, "00 00 00 00 00 00 00 00 99", "0000000000000000"},
      {251, 1, "AB", 3584, "99 99 99 99 99 99 99 99 99", "9999999999999999"},
      {251, 1, "G1zz", 3584, "99 99 99 99 99 99 99 99 99", "9999999999999999"},
      {251, 1, "FFFFFFFFFFFFFFFF12", 3584, "99 99 99 99 99 99 99 99 99", "9999999999999999"},
      {250, 1, "a1b2c3d4", 156, "D4 C3 B2 A1 99", "A1B2C3D4"},
      {252, 16, "01020304", 216, "04 03 02 01 99", "01020304"},
      {252, 16, "0102030405", 216, "99 99 99 99 99", "99999999"},  // only 8 digits fit
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    ConfigImage image;
    std::fill(image.bytes().begin(), image.bytes().end(), 0x99);
    const Field& f = At(row.model, "key" + std::to_string(row.key) + ".code");
    std::string why;
    StoreFieldText(f, image, row.typed, why);
    const ByteList stored = Hex(row.stored);
    EXPECT_EQ(Bytes(image, row.offset, static_cast<int>(stored.size())), stored);
    EXPECT_EQ(KeyCodeDigits(f, image), row.shown);
  }
}

TEST(Keys, ZeroKeyIsEmpty) {
  ConfigImage image;
  EXPECT_EQ(FieldText(At(250, "key4.code"), image), "");
  EXPECT_EQ(FieldText(At(251, "key4.code"), image), "");
  image[3584 + 16 * 3 + 7] = 1;
  EXPECT_NE(FieldText(At(251, "key4.code"), image), "");
  image[159 + 4 * 3] = 1;
  EXPECT_NE(FieldText(At(250, "key4.code"), image), "");
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
    StoreRights(At(row.model, "key1.rights"), image, 0x1, 0x8);
    EXPECT_EQ(image[row.offset], row.stored) << row.model;
    unsigned arm = 0, disarm = 0;
    FieldRights(At(row.model, "key1.rights"), image, arm, disarm);
    EXPECT_EQ(arm, 0x1u);
    EXPECT_EQ(disarm, 0x8u);
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
  std::string why;
  ASSERT_TRUE(StoreFieldText(At(251, "key1.code"), image, keys::LearntKeyText(buffer, 251), why));
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
