#include "model/regions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lovar {
namespace {

std::vector<uint8_t> Bytes(const ConfigImage& image, int offset, int count) {
  return {image.bytes().begin() + offset, image.bytes().begin() + offset + count};
}

// --- parameters page fields through their rows ---

TEST(Fields, BoardWordGivesAddressAndDirection) {
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
    EXPECT_EQ(board::Address(image), row.address);
    EXPECT_EQ(board::Direction(image), row.direction);
    EXPECT_EQ(FieldValue(image, *FindField(250, "EditNumPlata")), row.address);
    EXPECT_EQ(FieldValue(image, *FindField(250, "EditNumNapr")), row.direction);
  }
}

TEST(Fields, LoopByteOf251GivesTypeAndReArming) {
  ConfigImage image;
  image[2] = 0x85;
  image[3] = 0x0F;
  EXPECT_EQ(FieldValue(image, *FindField(251, "ComboBoxTypeShl1")), 5);  // "Пожарный"
  EXPECT_EQ(FieldValue(image, *FindField(251, "CheckBoxAuto1")), 1);
  EXPECT_EQ(FieldValue(image, *FindField(251, "ComboBoxTypeShl2")), 15);  // no entry
  EXPECT_EQ(FieldValue(image, *FindField(251, "CheckBoxAuto2")), 0);
  EXPECT_EQ(FieldValue(image, *FindField(251, "EditPasw")), -1);
}

TEST(Fields, SettingALoopTypeKeepsTheOtherBits) {
  ConfigImage image;
  image[2] = 0x82;
  SetFieldValue(image, *FindField(251, "ComboBoxTypeShl1"), 4);
  EXPECT_EQ(image[2], 0x84);
  SetFieldValue(image, *FindField(251, "ComboBoxTypeShl1"), -1);  // a typed text: low bits only
  EXPECT_EQ(image[2], 0x8F);
  SetFieldValue(image, *FindField(251, "CheckBoxAuto1"), 0);
  EXPECT_EQ(image[2], 0x0F);
}

TEST(Fields, SettingAWordFieldKeepsTheOtherBits) {
  ConfigImage image;
  image[140] = 0x3F;
  image[141] = 0xFC;
  SetFieldValue(image, *FindField(250, "EditNumPlata"), 5);
  EXPECT_EQ(image[140], 0x7F);
  EXPECT_EQ(image[141], 0xFD);
}

// --- board address and direction editors ---

TEST(Board, AddressEditorClearsLowBitsAndKeepsDirection) {
  ConfigImage image;
  image[140] = 0x3F;
  image[141] = 0xFE;  // direction 63, address high bits 10
  EXPECT_EQ(board::SetAddress(image, 5), 5);
  EXPECT_EQ(image[140], 0x40);
  EXPECT_EQ(image[141], 0xFD);
  EXPECT_EQ(board::Address(image), 5);
}

TEST(Board, OutOfRangeValuesAreStoredAsZero) {
  ConfigImage image;
  image[140] = 0xC0;
  image[141] = 0x4F;
  EXPECT_EQ(board::SetAddress(image, 16), 0);
  EXPECT_EQ(image[140], 0x00);
  EXPECT_EQ(image[141], 0x4C);
  image[141] = 0x4F;
  EXPECT_EQ(board::SetDirection(image, 20), 0);
  EXPECT_EQ(image[141], 0x03);
  EXPECT_EQ(board::SetDirection(image, 19), 19);
  EXPECT_EQ(image[141], 0x4F);
}

// --- user codes ---

TEST(Codes, DigitsTextShowsNibblesLowFirst) {
  struct Row {
    uint8_t first, second;
    const char* text;
  };
  const Row rows[] = {{0x21, 0x43, "1234"},
                      {0x00, 0x00, ""},
                      {0x00, 0x10, "0001"},
                      {0x99, 0x99, "9999"},
                      {0xBA, 0xFE, ":;>?"}};
  for (const Row& row : rows) EXPECT_EQ(codes::DigitsText(row.first, row.second), row.text);
}

TEST(Codes, PackDigitsTakesTheFirstFourCharacters) {
  struct Row {
    const char* text;
    uint8_t first, second;
  };
  const Row rows[] = {
      {"1234", 0x21, 0x43}, {"12345", 0x21, 0x43}, {"123", 0, 0},  {"", 0, 0},     {"0000", 0, 0},
      {"0001", 0x00, 0x10}, {":;>?", 0xBA, 0xFE},  {"12a4", 0, 0}, {"12Ж4", 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    uint8_t first = 0x55, second = 0x55;
    codes::PackDigits(row.text, first, second);
    EXPECT_EQ(first, row.first);
    EXPECT_EQ(second, row.second);
  }
}

TEST(Codes, IsDigits) {
  EXPECT_TRUE(codes::IsDigits("0123456789"));
  EXPECT_TRUE(codes::IsDigits(""));
  EXPECT_FALSE(codes::IsDigits("12 4"));
}
// --- keys ---

TEST(Keys, Model251CodeTextStoresHighestOffsetFirst) {
  ConfigImage image;
  keys::SetCodeText(image, 251, 0, "0A1B2C3D4E5F6071");
  EXPECT_EQ(Bytes(image, 3584, 8),
            (std::vector<uint8_t>{0x71, 0x60, 0x5F, 0x4E, 0x3D, 0x2C, 0x1B, 0x0A}));
  EXPECT_EQ(keys::CodeText(image, 251, 0), "0A1B2C3D4E5F6071");
}

TEST(Keys, Model250CodeTextStoresFourBytes) {
  ConfigImage image;
  image[160] = 0x99;  // the next key's first byte
  keys::SetCodeText(image, 250, 0, "a1b2c3d4");
  EXPECT_EQ(Bytes(image, 156, 5), (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1, 0x99}));
  EXPECT_EQ(keys::CodeText(image, 250, 0), "A1B2C3D4");
  keys::SetCodeText(image, 252, 15, "0102030405");  // only the first 8 digits fit
  EXPECT_EQ(Bytes(image, 216, 4), (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));
}

TEST(Keys, ParsingFillsMissingAndForeignCharactersWithZero) {
  struct Row {
    const char* text;
    std::vector<uint8_t> stored;  // offsets 3584 to 3591
  };
  const std::vector<Row> rows = {
      {"", {0, 0, 0, 0, 0, 0, 0, 0}},
      {"AB", {0, 0, 0, 0, 0, 0, 0, 0xAB}},
      {"ABC", {0, 0, 0, 0, 0, 0, 0xC0, 0xAB}},
      {"G1zz", {0, 0, 0, 0, 0, 0, 0x00, 0x01}},
      {"FFFFFFFFFFFFFFFF12", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ConfigImage image;
    image[3584] = 0x33;
    keys::SetCodeText(image, 251, 0, row.text);
    EXPECT_EQ(Bytes(image, 3584, 8), row.stored);
  }
}

TEST(Keys, ZeroKeyIsEmpty) {
  ConfigImage image;
  EXPECT_TRUE(keys::IsZero(image, 250, 3));
  EXPECT_TRUE(keys::IsZero(image, 251, 3));
  EXPECT_EQ(keys::CodeText(image, 251, 3), "0000000000000000");
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
  EXPECT_EQ(keys::RightsOffset(250, 15), 250);
  EXPECT_EQ(keys::NameOffset(15), 664);
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

TEST(Directions, TelephoneNumberEncoding) {
  struct Row {
    const char* typed;
    std::vector<uint8_t> stored;
    const char* shown;
  };
  const std::vector<Row> rows = {
      {"+987", {0x81, 0x89, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "  + 987"},
      {"9876", {0x91, 0x89, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "9876"},
      {"", {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ""},
      {"1234567890123456", {0x91, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43}, "12345678901234"},
      {"  + 12", {0x81, 0x21, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "  + 12"},
      {"8 (912) 34", {0x91, 0x98, 0x21, 0x43, 0xFF, 0xFF, 0xFF, 0xFF}, "891234"},
      {"+", {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "  + "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    ConfigImage image;
    image[29 + 8 * 2 + 8] = 0x5A;
    directions::SetPhoneText(image, 2, row.typed);
    EXPECT_EQ(Bytes(image, 45, 8), row.stored);
    EXPECT_EQ(image[53], 0x5A);
    EXPECT_EQ(directions::PhoneText(image, 2), row.shown);
  }
}

TEST(Directions, TelephoneDisplayNeedsATypeByte) {
  ConfigImage image;
  image[30] = 0x21;  // digits without a type byte
  EXPECT_EQ(directions::PhoneText(image, 0), "");
  image[29] = 0x91;
  image[31] = 0xA3;  // stops at the first nibble above 9
  EXPECT_EQ(directions::PhoneText(image, 0), "123");
}

TEST(Directions, ProtocolDisplayTestsVoiceBeforeSingleBits) {
  const std::pair<uint8_t, int> rows[] = {{0, -1}, {1, 0}, {2, 2}, {3, 1},  {4, 3},  {8, 4},
                                          {5, 0},  {6, 2}, {7, 1}, {12, 3}, {15, 1}, {0xF2, 2}};
  for (auto [nibble, entry] : rows) EXPECT_EQ(directions::ProtocolEntry(nibble), entry) << +nibble;
}

TEST(Directions, TestKindDisplayFirstBitWins) {
  const std::pair<uint8_t, int> rows[] = {{0, 0}, {1, 1},  {2, 2},  {3, 1},
                                          {4, 3}, {8, -1}, {12, 3}, {9, 1}};
  for (auto [nibble, entry] : rows) EXPECT_EQ(directions::TestEntry(nibble), entry) << +nibble;
}

TEST(Directions, EditorNibblesOfCaptions) {
  EXPECT_EQ(directions::ProtocolNibbleOf("SMS сообщение"), 1);
  EXPECT_EQ(directions::ProtocolNibbleOf("Речевое сообщение"), 3);
  EXPECT_EQ(directions::ProtocolNibbleOf("ОФM"), 2);  // Latin M
  EXPECT_EQ(directions::ProtocolNibbleOf("ОФМ"), 0);  // Cyrillic М is not the entry
  EXPECT_EQ(directions::ProtocolNibbleOf("Contact ID"), 4);
  EXPECT_EQ(directions::ProtocolNibbleOf("телефонный вызов"), 8);
  EXPECT_EQ(directions::TestNibbleOf("Телефонный вызов- период в минутах"), 4);
  EXPECT_EQ(directions::TestNibbleOf("Сообщение - период в часах"), 1);
  EXPECT_EQ(directions::TestNibbleOf("другое"), 0);
  for (int i = 0; i < 5; ++i) {
    const auto& e = directions::kReportProtocols[i];
    EXPECT_EQ(directions::ProtocolEntry(e.nibble), i) << e.caption;
  }
  for (int i = 0; i < 4; ++i) {
    const auto& e = directions::kTestKinds[i];
    EXPECT_EQ(directions::TestEntry(e.nibble), i) << e.caption;
  }
}

TEST(Directions, RoutingNibblePerLoop) {
  ConfigImage image;
  image[86] = 0x21;
  directions::SetRouting(image, 2, 3, 3);  // "все" for ШС4 of direction 3
  EXPECT_EQ(image[86], 0x31);
  directions::SetRouting(image, 2, 0, 4);
  EXPECT_EQ(image[85], 0x04);
  EXPECT_EQ(directions::Routing(image, 2, 2), 1);
  EXPECT_EQ(directions::Routing(image, 2, 3), 3);
  EXPECT_EQ(directions::kRouting[1], "только тревожные извещения ");
  EXPECT_EQ(directions::kRouting[2], "все кроме  Снят");
  EXPECT_EQ(directions::kRouting[4], "все кроме \"Сработка\"");
}

// --- event filter ---

TEST(Filter, MaskIsTwoLittleEndianBytes) {
  ConfigImage image;
  image[103] = 0x77;
  image[104] = 0x88;
  filter::SetMask(image, 1, (1u << 3) | (1u << 10));  // "Тревога" and "Наряд"
  EXPECT_EQ(image[101], 0x08);
  EXPECT_EQ(image[102], 0x04);
  EXPECT_EQ(image[103], 0x77);
  EXPECT_EQ(image[104], 0x88);
  image[97] = 0xFF;
  image[98] = 0xFF;
  EXPECT_EQ(filter::Mask(image, 0), 0xFFFF);
}

TEST(Filter, EventTexts) {
  EXPECT_EQ(filter::kEventNames[0], "Снят");
  EXPECT_EQ(filter::kEventNames[3], "Тревога");
  EXPECT_EQ(filter::kEventNames[10], "Наряд");
  EXPECT_EQ(filter::kEventNames[14], "Восстановление  резервного питания");
  EXPECT_EQ(filter::kEventNames[15], "Нарушение  резервного питания/ Сброс");
}

// --- GPRS ---

TEST(Gprs, MaskedIpTextWalk) {
  struct Row {
    const char* text;
    std::vector<uint8_t> stored;  // 122 to 125, preset to 7
  };
  const std::vector<Row> rows = {
      {" 192.168.  1. 10", {192, 168, 1, 10}},
      {"192.168.  1. 10", {192, 168, 1, 10}},
      {"300.  1.  2.  3", {44, 1, 2, 3}},
      {"   .   .   .   ", {0, 0, 0, 0}},
      {"1.2", {1, 2, 7, 7}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"99999999999999999999.1.2.3", {255, 1, 2, 3}},
      {"", {7, 7, 7, 7}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ConfigImage image;
    for (int i = 122; i <= 126; ++i) image[i] = 7;
    gprs::SetIpFromMaskedText(image, row.text);
    EXPECT_EQ(Bytes(image, 122, 4), row.stored);
    EXPECT_EQ(image[126], 7);
  }
}

TEST(Gprs, IpTextJoinsOctets) {
  ConfigImage image;
  gprs::SetIpFromMaskedText(image, "192.168.  1. 10");
  EXPECT_EQ(gprs::IpText(image), "192.168.1.10");
}

TEST(Gprs, PortIsStoredAndShownLowByteFirst) {
  ConfigImage image;
  gprs::SetPort(image, 8080);
  EXPECT_EQ(image[130], 0x90);
  EXPECT_EQ(image[131], 0x1F);
  EXPECT_EQ(gprs::Port(image), 8080);
  image[130] = 0x34;
  image[131] = 0x12;
  EXPECT_EQ(gprs::Port(image), 0x1234);
}

}  // namespace
}  // namespace lovar
