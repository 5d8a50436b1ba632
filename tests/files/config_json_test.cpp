#include "files/config_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "model/catalog.h"
#include "sim/device_sim.h"
#include "support/random_image.h"

namespace lovar {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kModels[] = {250, 251, 252};

TEST(ConfigJson, ImportOfAnExportIsTheSameFileForAnyImage) {
  for (int model : kModels) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
      const ConfigImage image = testing::AnyImage(model, seed);
      const JsonImport back = ImportJson(ExportJson(model, image), model);
      ASSERT_TRUE(back.ok()) << model << " seed " << seed << ": " << back.error;
      ASSERT_EQ(SerializeConfigFile(model, back.image), SerializeConfigFile(model, image))
          << model << " seed " << seed;
    }
  }
}

TEST(ConfigJson, TheDocumentNamesEveryFieldTheFileHoldsAndTheRestAsBytes) {
  ConfigImage image = SampleImage(251);
  image[250] = 0xAB;  // no field
  image[253] = 0xCD;
  image[2] = 0x75;    // loop 1: type 5, bits 4 to 6 set, which no field names
  const Json doc = Json::parse(ExportJson(251, image));
  EXPECT_EQ(doc["format"], "lovar-config");
  EXPECT_EQ(doc["version"], 1);
  EXPECT_EQ(doc["model"], 251);
  EXPECT_EQ(doc["model_name"], "Ловар-М");
  EXPECT_EQ(doc["length"], 2048);
  size_t in_file = 0;
  for (const Field& f : Fields(251)) in_file += InExtent(f, 2048) ? 1 : 0;
  EXPECT_EQ(doc["fields"].size(), in_file);
  EXPECT_FALSE(doc["fields"].contains("key1.code"));  // keys live beyond the file's bytes
  EXPECT_EQ(doc["fields"]["loop1.type"], "Пожарный");
  EXPECT_TRUE(doc["fields"]["exit_time"].is_number());
  EXPECT_TRUE(doc["fields"]["loop1.siren"].is_boolean());
  EXPECT_TRUE(doc["fields"]["object_number"].is_string());
  for (int i = 752; i < 800; ++i) image[i] = 0xFF;  // erased memory
  image[800] = 0;
  const Json runs = Json::parse(ExportJson(251, image))["bytes"];
  const Json expected[] = {
      {{"offset", 2}, {"hex", "70"}},
      {{"offset", 250}, {"hex", "AB0000CD"}},
      {{"offset", 752}, {"fill", "FF"}, {"count", 48}},
  };
  for (const Json& run : expected)
    EXPECT_TRUE(std::find(runs.begin(), runs.end(), run) != runs.end()) << run.dump() << " in " << runs.dump();
}

struct Refusal {
  const char* what;
  std::function<void(Json&)> edit;
  const char* message;  // part of the refusal
};

TEST(ConfigJson, BadDocumentsAreRefusedNamingWhatIsWrong) {
  const Refusal cases[] = {
      {"unknown field", [](Json& d) { d["fields"]["loop9.type"] = "Вход"; },
       "неизвестное поле «loop9.type»"},
      {"out of range", [](Json& d) { d["fields"]["exit_time"] = 300; }, "поле exit_time"},
      {"negative", [](Json& d) { d["fields"]["exit_time"] = -1; }, "поле exit_time"},
      {"not in the list", [](Json& d) { d["fields"]["loop1.type"] = "Охраный"; },
       "поле loop1.type (ШС1: Тип шлейфа): «Охраный» нет в списке"},
      {"raw beyond the bits", [](Json& d) { d["fields"]["loop1.type"] = "#16"; },
       "поле loop1.type"},
      {"too long", [](Json& d) { d["fields"]["password"] = "123456"; }, "поле password"},
      {"wrong type", [](Json& d) { d["fields"]["loop1.siren"] = Json::array({1}); },
       "поле loop1.siren"},
      {"fractional", [](Json& d) { d["fields"]["exit_time"] = 1.5; }, "поле exit_time"},
      {"number in quotes", [](Json& d) { d["fields"]["exit_time"] = "30"; },
       "поле exit_time (Время в секундах, Выход): число пишется без кавычек"},
      {"text as a number", [](Json& d) { d["fields"]["object_number"] = 1234; },
       "поле object_number (Номер объекта): значение пишется строкой"},
      {"list entry as a number", [](Json& d) { d["fields"]["direction1.period"] = true; },
       "поле direction1.period"},
      {"flag as a number", [](Json& d) { d["fields"]["loop1.siren"] = 1; },
       "поле loop1.siren (ШС1: Сирена): нужно true или false"},
      {"no bytes", [](Json& d) { d.erase("bytes"); }, "нет члена «bytes»"},
      {"runs over one byte",
       [](Json& d) {
         d["bytes"] =
             Json::array({{{"offset", 15}, {"hex", "0102"}}, {{"offset", 16}, {"hex", "03"}}});
       },
       "bytes[1]: байт 16 (поле password (Пароль)) уже задан в bytes[0]"},
      {"init longer than the window takes",
       [](Json& d) { d["fields"]["gprs.init"] = std::string(51, 'A'); }, "поле gprs.init"},
      {"missing field", [](Json& d) { d["fields"].erase("password"); }, "нет поля «password»"},
      {"beyond the file", [](Json& d) { d["fields"]["key1.code"] = ""; },
       "поле key1.code (Ключ 1: Код): его байтов 3584–3591 нет в файле"},
      {"unknown model", [](Json& d) { d["model"] = 253; }, "«model»"},
      {"model as text", [](Json& d) { d["model"] = "251"; }, "«model»"},
      {"model past 32 bits", [](Json& d) { d["model"] = 4294967547u; }, "«model»"},
      {"length", [](Json& d) { d["length"] = 4096; }, "«length»"},
      {"version", [](Json& d) { d["version"] = 2; }, "«version»"},
      {"format", [](Json& d) { d["format"] = "other"; }, "«format»"},
      {"unknown member", [](Json& d) { d["extra"] = 1; }, "неизвестный член «extra»"},
      {"not an object", [](Json& d) { d = Json::array(); }, "объектом"},
      {"run beyond the file",
       [](Json& d) {
         d["bytes"] = Json::array({{{"offset", 2047}, {"hex", "0000"}}});
       },
       "bytes[0]"},
      {"run of odd digits",
       [](Json& d) {
         d["bytes"] = Json::array({{{"offset", 300}, {"hex", "ABC"}}});
       },
       "bytes[0]"},
      {"run not hex",
       [](Json& d) {
         d["bytes"] = Json::array({{{"offset", 300}, {"hex", "0G"}}});
       },
       "bytes[0]"},
      {"run of another shape", [](Json& d) { d["bytes"] = Json::array({300}); }, "bytes[0]"},
      {"fill of two bytes",
       [](Json& d) {
         d["bytes"] = Json::array({{{"offset", 300}, {"fill", "FFFF"}, {"count", 2}}});
       },
       "bytes[0]"},
      {"fill beyond the file",
       [](Json& d) {
         d["bytes"] = Json::array({{{"offset", 2000}, {"fill", "FF"}, {"count", 49}}});
       },
       "bytes[0]"},
  };
  const std::string exported = ExportJson(251, SampleImage(251));
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    Json doc = Json::parse(exported);
    c.edit(doc);
    const JsonImport result = ImportJson(doc.dump(), 0);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
  }
}

TEST(ConfigJson, TextThatIsNoSingleDocumentIsRefused) {
  std::string twice = ExportJson(251, SampleImage(251));
  twice.insert(twice.find("\"fields\": {") + 11, "\n    \"password\": \"1\",");
  const std::pair<std::string, std::string> cases[] = {
      {twice, "член «password» повторяется"},
      {"{\n  \"format\": \"lovar-config\",\n  oops", "не JSON (ошибка: строка 3, столбец 3)"},
      {"", "не JSON"},
      {"{} {}", "не JSON"},
      {"\"\xC3\"", "не JSON"},
      {"{\"model\": 1E999}", "не JSON"},  // no number at all: nlohmann's range error
      // Nested far deeper than any document, refused before any parser recurses into it.
      {"{\"fields\": {\"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}}",
       "вложен глубже 3 уровней"},
      {"[[[[\"]]]]\"]]]]", "вложен глубже"},  // brackets inside a string do not count
  };
  for (const auto& [text, message] : cases) {
    const JsonImport result = ImportJson(text, 0);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find(message), std::string::npos) << result.error;
  }
}

TEST(ConfigJson, ADocumentOfAnotherModelThanExpectedIsRefusedAsSuch) {
  const JsonImport result = ImportJson(ExportJson(251, SampleImage(251)), 250);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(result.wrong_model);
  EXPECT_NE(result.error.find("Неверный тип УО"), std::string::npos);
  EXPECT_TRUE(ImportJson(ExportJson(251, SampleImage(251)), 0).ok());
}

TEST(ConfigJson, EditedValuesReplaceTheirBytesAndKeepTheRest) {
  ConfigImage image = SampleImage(251);
  image[18] = 'q';  // after the terminator of a short password
  Json doc = Json::parse(ExportJson(251, image));
  doc["fields"]["password"] = "12345";
  doc["fields"]["direction1.phone"] = "+79161234567";
  doc["fields"]["loop1.type"] = "Тревожный";
  const JsonImport result = ImportJson(doc.dump(), 251);
  ASSERT_TRUE(result.ok()) << result.error;
  ConfigImage expected = image;
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "password"), expected, "12345", why));
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "direction1.phone"), expected, "+79161234567", why));
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "loop1.type"), expected, "Тревожный", why));
  EXPECT_EQ(SerializeConfigFile(251, result.image), SerializeConfigFile(251, expected));
}

TEST(ConfigJson, FieldsForMachinesListWhatTheSourceHolds) {
  const Json doc = Json::parse(FieldsJson("LovarM.dat", 251, SampleImage(251), 2048));
  EXPECT_EQ(doc["source"], "LovarM.dat");
  EXPECT_EQ(doc["extent"], 2048);
  ASSERT_FALSE(doc["fields"].empty());
  const Json& first = doc["fields"][0];
  EXPECT_EQ(first["id"], "loop1.type");
  EXPECT_EQ(first["page"], "Параметры");
  EXPECT_EQ(first["caption"], "ШС1: Тип шлейфа");
  EXPECT_EQ(doc["not_in_source"].size(), 32u);  // key codes and rights
  EXPECT_EQ(doc["not_in_source"][0], "key1.code");
}

}  // namespace
}  // namespace lovar
