#include "model/catalog.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "model/layout.h"
#include "support/random_image.h"

namespace lovar {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kModels[] = {250, 251, 252};

TEST(Catalog, IdsAreUniqueLowercaseLatinAndDotted) {
  for (int model : kModels) {
    std::set<std::string> ids;
    for (const Field& f : Fields(model)) {
      SCOPED_TRACE(std::to_string(model) + " " + f.id);
      EXPECT_TRUE(ids.insert(f.id).second) << "listed twice";
      EXPECT_FALSE(f.caption.empty());
      for (char c : f.id) {
        EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_') << c;
      }
    }
  }
  EXPECT_TRUE(Fields(0).empty());
}

TEST(Catalog, NamesTheFieldsInstallersAskFor) {
  const std::vector<std::pair<int, std::string>> wanted = {
      {251, "object_number"},    {251, "password"},         {251, "loop1.type"},
      {251, "loop4.type"},       {251, "loop1.name"},       {251, "loop4.name"},
      {251, "direction1.phone"}, {251, "direction5.phone"}, {251, "gprs.ip"},
      {251, "gprs.port"},        {251, "gprs.init"},        {251, "key16.code"},
      {251, "key16.name"},       {251, "direction5.event16"}, {250, "loop4.type"},
      {250, "code20.rights"},    {250, "key16.rights"},     {252, "loop2.type"},
      {252, "key16.code"},
  };
  for (const auto& [model, id] : wanted) EXPECT_NE(FindFieldById(model, id), nullptr) << model << " " << id;
  // What the window of the model does not show is not among its fields.
  const std::vector<std::pair<int, std::string>> absent = {
      {252, "loop3.type"}, {252, "output2.mode"}, {252, "key1.rights"}, {252, "code1.code"},
      {250, "password"},   {250, "key1.name"},    {251, "code1.code"},  {250, "code1.duress"},
  };
  for (const auto& [model, id] : absent) EXPECT_EQ(FindFieldById(model, id), nullptr) << model << " " << id;
  EXPECT_EQ(FindFieldById(251, "object_number")->caption, "Номер объекта");
  EXPECT_EQ(FindFieldById(251, "password")->caption, "Пароль");
}

// Two fields meet on a byte only as bit fields with bits of their own.
TEST(Catalog, OnlyBitFieldsShareAByteAndNeverABit) {
  for (int model : kModels) {
    std::vector<std::vector<const Field*>> on(kImageCapacity);
    for (const Field& f : Fields(model))
      for (int i = f.offset; i <= f.last(); ++i) on[static_cast<size_t>(i)].push_back(&f);
    for (int i = 0; i < kImageCapacity; ++i) {
      const auto& here = on[static_cast<size_t>(i)];
      uint8_t taken = 0;
      const auto with_bits = std::count_if(here.begin(), here.end(),
                                           [i](const Field* f) { return f->BitsAt(i) != 0; });
      for (const Field* f : here) {
        SCOPED_TRACE(std::to_string(model) + " byte " + std::to_string(i) + " " + f->id);
        if (with_bits > 1) {
          EXPECT_NE(f->BitsAt(i), 0xFF) << "a whole-byte field shares its byte";
        }
        EXPECT_EQ(taken & f->BitsAt(i), 0) << "a bit named twice";
        taken |= f->BitsAt(i);
      }
    }
  }
}

// The bits each model's fields cover.
std::vector<uint8_t> Covered(int model) {
  std::vector<uint8_t> bits(kImageCapacity);
  for (const Field& f : Fields(model))
    for (int i = f.offset; i <= f.last(); ++i) bits[static_cast<size_t>(i)] |= f.BitsAt(i);
  return bits;
}

// Inside the regions the image map calls interpreted, every bit belongs to a field, except the
// bits listed here: the window neither shows nor edits them.
TEST(Catalog, CoversEveryInterpretedBitButTheWindowsGaps) {
  struct Gap {
    int first, last;
    uint8_t bits;
  };
  std::vector<Gap> gaps250 = {
      {2, 3, 0xFF},      // the installer's duress code: "Код Уст", always written as 0
      {112, 114, 0xF0},  // output and sounder bytes: four loops in bits 0 to 3
      {120, 120, 0xFF},  // not interpreted
  };
  std::vector<Gap> gaps251 = {
      {2, 5, 0x70},  // loop bytes: bits 4 to 6, which no editor changes
  };
  for (int d = 0; d < 5; ++d) gaps251.push_back({99 + 4 * d, 100 + 4 * d, 0xFF});  // filter +2, +3
  gaps251.push_back({242, 246, 0xFE});  // listen-in bytes: bit 0 only
  for (int k = 0; k < 16; ++k) {
    gaps251.push_back({3584 + 16 * k + 8, 3584 + 16 * k + 8, 0xFF});  // unused key bytes
    gaps251.push_back({3584 + 16 * k + 10, 3584 + 16 * k + 15, 0xFF});
  }
  for (int model : {250, 251}) {
    std::vector<uint8_t> expected(kImageCapacity);
    for (const Region& r : ImageMap(model))
      if (!r.content.empty())
        for (int i = r.first; i <= r.last; ++i) expected[static_cast<size_t>(i)] = 0xFF;
    for (const Gap& g : model == 250 ? gaps250 : gaps251)
      for (int i = g.first; i <= g.last; ++i) expected[static_cast<size_t>(i)] &= static_cast<uint8_t>(~g.bits);
    const std::vector<uint8_t> covered = Covered(model);
    for (int i = 0; i < kImageCapacity; ++i)
      EXPECT_EQ(covered[static_cast<size_t>(i)], expected[static_cast<size_t>(i)])
          << model << " byte " << i;
  }
  // Model 252 is model 250's layout without what its window hides: loops 3 and 4, output 2,
  // the codes page and the key rights.
  std::vector<uint8_t> hidden(kImageCapacity);
  for (const Field& f : Fields(250)) {
    if (FindFieldById(252, f.id) != nullptr) continue;
    EXPECT_TRUE(f.id.starts_with("loop3") || f.id.starts_with("loop4") || f.id.starts_with("code") ||
                f.id.find("output2") != std::string::npos || f.id.ends_with(".rights"))
        << f.id;
    for (int i = f.offset; i <= f.last(); ++i) hidden[static_cast<size_t>(i)] |= f.BitsAt(i);
  }
  const std::vector<uint8_t> c250 = Covered(250), c252 = Covered(252);
  for (int i = 0; i < kImageCapacity; ++i)
    EXPECT_EQ(c252[static_cast<size_t>(i)] | hidden[static_cast<size_t>(i)], c250[static_cast<size_t>(i)]) << i;
}

// The parameters page's layout rows are the catalog's: each is a field, or one of model 250's
// that model 252's window hides (loops 3 and 4, output 2).
TEST(Catalog, EveryLayoutRowIsAField) {
  for (int model : kModels) {
    for (const FieldDef& def : ParameterFields(model)) {
      SCOPED_TRACE(std::to_string(model) + " " + std::string(def.id));
      const Field* f = FindFieldById(model, def.id);
      if (f != nullptr) {
        EXPECT_EQ(f->offset, def.offset);
        continue;
      }
      EXPECT_TRUE(model == 252 && FindFieldById(250, def.id) != nullptr);
    }
  }
}

TEST(Catalog, EveryValueReadsAsATextThatStoresBackItsBits) {
  for (int model : kModels) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
      const ConfigImage image = testing::AnyImage(model, seed);
      for (const Field& f : Fields(model)) {
        ConfigImage copy = image;
        std::string why;
        const std::string text = FieldText(f, image);
        ASSERT_TRUE(StoreFieldText(f, copy, text, why)) << model << " " << f.id << " «" << text << "» " << why;
        ASSERT_TRUE(copy == image) << model << " " << f.id << " «" << text << "» seed " << seed;
      }
    }
  }
}

struct ReadCase {
  int model;
  const char* id;
  int offset;
  Bytes bytes;
  const char* text;
};

TEST(Catalog, ValuesReadAsText) {
  const ReadCase cases[] = {
      {251, "loop1.type", 2, {0x85}, "Пожарный"},
      {251, "loop1.auto_rearm", 2, {0x85}, "да"},
      {251, "loop2.type", 3, {0x03}, "#3"},  // the second "Резерв" reads by its number
      {251, "loop2.type", 3, {0x0F}, "#15"},
      {251, "output1.mode", 0, {7}, "#7"},
      {250, "level", 122, {4}, "360"},
      {250, "level", 122, {100}, "#100"},  // not the entry "100"
      {250, "protocol", 121, {5}, "#5"},
      {250, "board_address", 140, {0xC0, 0x4F}, "15"},
      {250, "board_direction", 140, {0xC0, 0x4F}, "19"},
      {250, "board_direction", 140, {0x00, 0xB4}, "#45"},
      {251, "gprs.port", 130, {0x50, 0x1F}, "8016"},
      {251, "gprs.ip", 122, {192, 168, 1, 10}, "192.168.1.10"},
      {251, "direction1.phone", 29, {0x81, 0x89, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "+987"},
      {251, "direction2.phone", 37, {0x91, 0x89, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "9876"},
      {251, "direction2.phone", 37, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ""},
      // No number, but digit bytes the editor never leaves behind one: as they are.
      {251, "direction2.phone", 37, {0x00, 0x12, 0x34, 0, 0, 0, 0, 0}, "#00 12 34 00 00 00 00 00"},
      // Bits below the board address, which its editor writes as 0: the word's ten bits.
      {250, "board_address", 140, {0x45, 0x09}, "#325"},
      {251,
       "direction2.phone",
       37,
       {0x91, 0x21, 0x4A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "#91 21 4A FF FF FF FF FF"},
      {251, "direction2.phone", 37, {0x55, 0, 0, 0, 0, 0, 0, 0}, "#55 00 00 00 00 00 00 00"},
      {251, "direction1.protocol", 79, {0x30}, "Речевое сообщение"},
      {251, "direction1.protocol", 79, {0x50}, "#5"},
      {251, "direction1.test", 79, {0x04}, "Телефонный вызов- период в минутах"},
      {251, "direction3.loop4", 86, {0x30}, "все"},
      {251, "direction2.event4", 101, {0x08}, "да"},
      {251, "direction2.event11", 102, {0x04}, "да"},
      {251,
       "key1.code",
       3584,
       {0x71, 0x60, 0x5F, 0x4E, 0x3D, 0x2C, 0x1B, 0x0A},
       "0A1B2C3D4E5F6071"},
      {251, "key1.code", 3584, {0, 0, 0, 0, 0, 0, 0, 0}, ""},
      {250, "key2.code", 160, {0x04, 0x03, 0x02, 0x01}, "01020304"},
      {251, "key1.rights", 3593, {0x18}, "взятие 1; снятие 4"},
      {250, "key1.rights", 235, {0x81}, "взятие 1; снятие 4"},
      {250, "code2.rights", 9, {0xF0}, "снятие 1,2,3,4"},
      {250, "code2.code", 5, {0x21, 0x43}, "1234"},
      {250, "code2.duress", 7, {0xA1, 0x0F}, "1AF0"},
      {250, "code2.code", 5, {0, 0}, ""},
      {251, "password", 16, {'1', '2', '3', 0, '9'}, "123"},
      {251, "loop1.name", 512, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, "ABCDEFGH"},
      {251, "loop1.name", 512, {0xCB, 0xEE, 0x98, 0x01, '\\', 'q', 0}, "Ло\\x98\\x01\\q"},
      {251, "loop1.name", 512, {'\\', 'x', '4', '1', 0}, "\\x5Cx41"},
      {251, "gprs.init", 182, {'A', 'T', '\\', 'N', '0', 0}, "AT\\N0"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " " + c.id + " " + c.text);
    ConfigImage image;
    for (size_t i = 0; i < c.bytes.size(); ++i) image[c.offset + static_cast<int>(i)] = c.bytes[i];
    const Field* f = FindFieldById(c.model, c.id);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FieldText(*f, image), c.text);
  }
}

// Initialisation strings as long as the window takes, and one more.
const std::string kInit50(50, 'A'), kInit51(51, 'A');

struct StoreCase {
  int model;
  const char* id;
  const char* text;
  int offset;
  Bytes bytes;  // what the image holds there afterwards, from all-zero bytes
};

TEST(Catalog, TextsStoreTheEditorsBytes) {
  const StoreCase cases[] = {
      {251, "loop1.type", "Тревожный", 2, {0x04}},
      {251, "loop1.type", "Резерв", 2, {0x00}},
      {251, "direction3.loop2", "только тревожные извещения", 85, {0x10}},  // without its blank
      {251, "direction1.protocol", "Речевое сообщение", 79, {0x30}},
      {251, "direction5.test", "Телефонный вызов- период в минутах", 95, {0x04}},
      {250, "level", "100", 122, {1}},
      {250, "level", "#100", 122, {100}},
      {250, "protocol", "Мирвал", 121, {1}},  // as the window shows the second protocol
      {250, "board_address", "5", 140, {0x40, 0x01}},
      {250, "board_direction", "19", 140, {0x00, 0x4C}},
      {251, "gprs.port", "8016", 130, {0x50, 0x1F}},
      {251, "gprs.ip", " 10.0.0.1 ", 122, {10, 0, 0, 1}},
      {251, "direction1.phone", "+987", 29, {0x81, 0x89, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {251,
       "direction1.phone",
       "+7 (916) 123-45-67",
       29,
       {0x81, 0x97, 0x61, 0x21, 0x43, 0x65, 0xF7, 0xFF}},
      {251,
       "direction1.phone",
       "#91 21 4a ff ff ff ff ff",
       29,
       {0x91, 0x21, 0x4A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {251,
       "key1.code",
       "0a1b2c3d4e5f6071",
       3584,
       {0x71, 0x60, 0x5F, 0x4E, 0x3D, 0x2C, 0x1B, 0x0A}},
      {251, "key1.rights", "Взятие 1; снятие 4", 3593, {0x18}},
      {250, "key1.rights", "снятие: 4; взятие 1", 235, {0x81}},
      {250, "code2.code", "1234", 5, {0x21, 0x43}},
      {250, "code2.code", "0000", 5, {0, 0}},
      {251, "loop1.auto_rearm", "да", 2, {0x80}},
      {251, "password", "12", 16, {'1', '2', 0, 0, 0}},
      {251, "object_number", "Объект", 21, {0xCE, 0xE1, 0xFA, 0xE5, 0xEA, 0xF2, 0}},
      {251, "loop1.name", "\\x98\\x5Cx41", 512, {0x98, '\\', 'x', '4', '1', 0}},
      {251, "direction2.protocol", "ОФМ", 83, {0x20}},  // its М Cyrillic, the entry's Latin
      {251, "gprs.init", kInit50.c_str(), 231, {'A', 0}},
  };
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " " + c.id + " " + c.text);
    const Field* f = FindFieldById(c.model, c.id);
    ASSERT_NE(f, nullptr);
    ConfigImage image;
    std::string why;
    ASSERT_TRUE(StoreFieldText(*f, image, c.text, why)) << why;
    EXPECT_EQ(Bytes(image.bytes().begin() + c.offset, image.bytes().begin() + c.offset + static_cast<int>(c.bytes.size())), c.bytes);
  }
}

// Each store writes what the window's editor writes, and no other bit: the other bits of a
// shared byte stay, the bytes after a text's zero byte stay; the board address clears the bits
// below it and an empty telephone number is the editor's 00 FF FF FF FF FF FF FF.
TEST(Catalog, StoresWriteWhatTheEditorWritesAndKeepTheRest) {
  ConfigImage image;
  image[2] = 0xF2;            // loop 1: re-arming, bits 4 to 6, type 2
  image[140] = 0x15;          // bits below the board address
  image[16] = 'x';            // an old password
  image[17] = 'y';
  image[18] = 'z';
  image[30] = 0x21;           // digits of a number that is not set
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "loop1.type"), image, "Пожарный", why));
  EXPECT_EQ(image[2], 0xF5);
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "password"), image, "a", why));
  EXPECT_EQ(Bytes(image.bytes().begin() + 16, image.bytes().begin() + 19), (Bytes{'a', 0, 'z'}));
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "direction1.phone"), image, "", why));
  EXPECT_EQ(Bytes(image.bytes().begin() + 29, image.bytes().begin() + 37),
            (Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_TRUE(StoreFieldText(*FindFieldById(250, "board_address"), image, "#853", why));
  EXPECT_EQ(image[140], 0x55);  // the raw form sets all ten bits: a device's bytes read back
  ASSERT_TRUE(StoreFieldText(*FindFieldById(250, "board_address"), image, "3", why));
  EXPECT_EQ(image[140], 0xC0);
  SetFieldBits(*FindFieldById(250, "board_direction"), image, 19);  // bits 10 to 15 of the word
  EXPECT_EQ(image[141], 0x4C);
  EXPECT_EQ(FieldBits(*FindFieldById(250, "board_address"), image), 3u);
}

struct RefusalCase {
  int model;
  const char* id;
  const char* text;
  const char* reason;  // part of the reason given
};

TEST(Catalog, StoresRefuseWhatTheFieldCannotHold) {
  const RefusalCase cases[] = {
      {251, "loop1.type", "Охраный", "нет в списке: Резерв, Вход, Охранный"},
      {251, "loop1.type", "#16", "от 0 до 15"},
      {250, "loop1.exit_time", "256", "от 0 до 255 (секунды)"},
      {251, "siren_time", "999", "«999»: нужно число от 0 до 255 (секунды)"},
      {250, "output1.time", "300", "1/16 секунды"},
      {250, "board_address", "16", "от 0 до 15"},
      {251, "direction1.period", "256", "часы или минуты"},
      {251, "gprs.init", kInit51.c_str(), "длиннее 50 знаков"},
      {251, "object_number", "1\n2", "управляющий знак"},
      {250, "loop1.exit_time", "-1", "от 0 до 255"},
      {250, "loop1.exit_time", "1.5", "от 0 до 255"},
      {250, "board_direction", "20", "от 0 до 19"},
      {250, "board_direction", "#64", "от 0 до 63"},
      {251, "gprs.port", "65536", "от 0 до 65535"},
      {251, "loop1.siren", "может быть", "«да» или «нет»"},
      {251, "password", "123456", "длиннее 5 знаков"},
      {251, "object_number", "№1\xE2\x82\xBF", "не входит в кодировку Windows-1251"},
      {251, "object_number", "a\\x00", "нулевой байт"},
      {251, "object_number", "\xC3", "UTF-8"},
      {251, "direction1.phone", "+7916abc", "цифры"},
      {251, "direction1.phone", "7+916", "цифры"},
      {251, "direction1.phone", "123456789012345", "от 1 до 14 цифр"},
      {251, "direction1.phone", "+", "от 1 до 14 цифр"},
      {251, "direction1.phone", "#81 00", "8 байтов"},
      {251, "gprs.ip", "192.168.1.256", "IP-адрес"},
      {251, "gprs.ip", "192.168.1", "IP-адрес"},
      {251, "gprs.ip", "1.2.3.4.5", "IP-адрес"},
      {251, "key1.code", "0A1B", "16 шестнадцатеричных цифр"},
      {250, "key1.code", "0A1G2C3D", "8 шестнадцатеричных цифр"},
      {250, "code2.code", "123", "четыре цифры"},
      {250, "code2.code", "12x4", "четыре цифры"},
      {250, "code2.rights", "взятие 5", "взятие 1,2; снятие 4"},
      {250, "code2.rights", "взятие 1; взятие 2", "взятие 1,2; снятие 4"},
      {250, "code2.rights", "всё", "взятие 1,2; снятие 4"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " " + c.id + " " + c.text);
    const Field* f = FindFieldById(c.model, c.id);
    ASSERT_NE(f, nullptr);
    ConfigImage image;
    image[f->offset] = 0x5A;
    const ConfigImage before = image;
    std::string why;
    EXPECT_FALSE(StoreFieldText(*f, image, c.text, why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_TRUE(image == before);
  }
}

TEST(Catalog, BytesFindTheirFields) {
  std::set<std::string> at7;
  for (const Field* f : FieldsAt(251, 7)) at7.insert(f->id);
  EXPECT_EQ(at7.size(), 8u);
  EXPECT_TRUE(at7.count("loop3.output2"));
  EXPECT_EQ(FieldsAt(251, 250).size(), 0u);
}

TEST(Catalog, ValueBitsAreWhatTheValuesSet) {
  ConfigImage image;
  image[16] = '1';  // password "1", then its terminator; bytes 18 to 20 are not the value's
  const std::vector<uint8_t> bits = ValueBits(251, image, 2048);
  EXPECT_EQ(bits[16], 0xFF);
  EXPECT_EQ(bits[17], 0xFF);
  EXPECT_EQ(bits[18], 0x00);
  EXPECT_EQ(bits[2], 0x8F);        // loop type and re-arming
  EXPECT_EQ(bits[29], 0xFF);       // phone type byte
  EXPECT_EQ(bits[30], 0xFF);       // its digits: "" stores them as FF
  EXPECT_EQ(bits[250], 0x00);      // no field
  EXPECT_EQ(bits.size(), 2048u);
}

}  // namespace
}  // namespace lovar
