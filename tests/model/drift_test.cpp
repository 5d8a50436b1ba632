#include "model/drift.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/random_image.h"

namespace lovar {
namespace {

struct Change {
  std::string field;
  std::string value;
};

struct DriftCase {
  const char* name;
  int model;
  std::vector<Change> on_device;  // changed behind the registry's back
  std::vector<std::string> drifted;
  std::string text;  // DriftText of the comparison
};

ConfigImage With(int model, ConfigImage image, const std::vector<Change>& changes) {
  for (const Change& c : changes) {
    std::string why;
    const Field* f = FindFieldById(model, c.field);
    EXPECT_NE(f, nullptr) << c.field;
    if (f != nullptr) {
      EXPECT_TRUE(StoreFieldText(*f, image, c.value, why)) << c.field << why;
    }
  }
  return image;
}

TEST(Drift, TheFieldsChangedOnTheDeviceAreNamedAsTheWindowNamesThem) {
  const DriftCase cases[] = {
      {"nothing changed", 251, {}, {}, "изменено не через Ловар: "},
      {"one number",
       251,
       {{"object_number", "1025"}},
       {"object_number"},
       "изменено не через Ловар: Параметры: Номер объекта (было 1024, стало 1025)"},
      {"a code is named, its digits never shown",
       250,
       {{"code2.code", "4321"}},
       {"code2.code"},
       "изменено не через Ловар: Коды: Строка 2: Код"},
      {"a key of a model 250",
       250,
       {{"key3.code", "0A0B0C0D"}},
       {"key3.code"},
       "изменено не через Ловар: Ключи: Ключ 3: Код"},
      {"a telephone number emptied, and the password",
       251,
       {{"direction1.phone", ""}, {"password", "77"}},
       {"password", "direction1.phone"},
       "изменено не через Ловар: Параметры: Пароль (было 12, стало 77); Параметры передачи: "
       "Направление 1: Номер телефона (было +74950000001, стало пусто)"},
      {"a loop of a model 252",
       252,
       {{"loop1.exit_time", "77"}},
       {"loop1.exit_time"},
       "изменено не через Ловар: Параметры: ШС1: Время в секундах, Выход (было 30, стало 77)"},
  };
  for (const DriftCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigImage recorded = testing::PlausibleImage(c.model, 11);
    if (FindFieldById(c.model, "object_number") != nullptr)
      recorded = With(c.model, recorded, {{"object_number", "1024"}});
    if (c.model == 251) {
      recorded =
          With(c.model, recorded, {{"direction1.phone", "+74950000001"}, {"password", "12"}});
    } else {
      recorded = With(c.model, recorded, {{"loop1.exit_time", "30"}});
    }
    const ConfigImage read = With(c.model, recorded, c.on_device);
    const int length = ImageLength(c.model);
    const std::vector<DriftedField> drift =
        CompareWithRecord(c.model, recorded, length, read, length);
    std::vector<std::string> ids;
    for (const DriftedField& d : drift) ids.push_back(d.field->id);
    EXPECT_EQ(ids, c.drifted);
    if (!c.text.empty()) {
      EXPECT_EQ(DriftText(drift), c.text);
    }
    // Kept as ids and read back, the same fields are named.
    EXPECT_EQ(DriftIds(DriftIdsText(drift)), ids);
  }
}

TEST(Drift, TheBytesNoValueSetsAreNoDrift) {
  const ConfigImage recorded = testing::PlausibleImage(251, 5);
  ConfigImage read = recorded;
  read[2] ^= 0x40;  // loop 1: a bit between the type and the re-arming, the device's own
  EXPECT_TRUE(CompareWithRecord(251, recorded, 4096, read, 4096).empty());
  // A model 251 file holds no keys: a record of one compares only what it holds.
  read = With(251, recorded, {{"key1.code", "00000000000000A1"}});
  EXPECT_TRUE(CompareWithRecord(251, recorded, 2048, read, 4096).empty());
  EXPECT_EQ(CompareWithRecord(251, recorded, 4096, read, 4096).size(), 1u);
}

TEST(Drift, IdsKeptAsTextReadBackWhateverTheBlanks) {
  EXPECT_EQ(DriftIds(""), std::vector<std::string>{});
  EXPECT_EQ(DriftIds(" password , ,direction1.phone,"),
            (std::vector<std::string>{"password", "direction1.phone"}));
  EXPECT_EQ(DriftText(251, {"password", "no.such"}),
            "изменено не через Ловар: Параметры: Пароль; no.such");
}

TEST(Drift, AWriteGoesOverADriftedFieldOnlyWhenItChangesIt) {
  struct OverCase {
    const char* name;
    std::vector<Change> write;  // the image written, from what the device holds
    std::string over;           // FieldNames of what it goes over
  };
  const OverCase cases[] = {
      {"the same values", {}, ""},
      {"another field only", {{"password", "55"}}, ""},
      {"the drifted number put back",
       {{"object_number", "1024"}, {"password", "55"}},
       "Параметры: Номер объекта"},
      {"both drifted fields",
       {{"object_number", "1024"}, {"direction1.phone", "+74950000001"}},
       "Параметры: Номер объекта, Параметры передачи: Направление 1: Номер телефона"},
  };
  const ConfigImage device =
      With(251, testing::PlausibleImage(251, 9),
           {{"object_number", "1025"}, {"direction1.phone", "+79160000002"}});
  const std::vector<std::string> drifted = {"object_number", "direction1.phone"};
  for (const OverCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FieldNames(DriftOverwritten(251, drifted, device, With(251, device, c.write))),
              c.over);
  }
}

}  // namespace
}  // namespace lovar
