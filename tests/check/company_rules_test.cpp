#include "check/company_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/catalog.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {

std::string Document(const std::string& rules) {
  return R"({"format": "lovar-checks", "version": 1, "rules": [)" + rules + "]}";
}

CompanyRules Parsed(const std::string& rules) {
  const CompanyRulesLoad load = ParseCompanyRules(Document(rules), "company.json");
  EXPECT_TRUE(load.ok()) << load.error;
  return load.rules;
}

// The company's findings over the image: the ids of the rules that fired.
std::vector<std::string> Fired(const CompanyRules& rules, int model, const ConfigImage& image,
                               const ConfigImage* templ = nullptr) {
  CheckInput in;
  in.model = model;
  in.image = &image;
  in.extent = ImageLength(model);
  in.template_image = templ;
  std::vector<Finding> findings;
  ApplyCompanyRules(rules, in, findings);
  std::vector<std::string> ids;
  for (const Finding& f : findings) ids.push_back(f.rule);
  return ids;
}

ConfigImage With(int model, ConfigImage image, const char* id, const char* value) {
  std::string why;
  EXPECT_TRUE(StoreFieldText(*FindFieldById(model, id), image, value, why)) << why;
  return image;
}

using Ids = std::vector<std::string>;

TEST(CompanyRules, EachTestFiresOnlyWhereTheValueBreaksIt) {
  const CompanyRules rules = Parsed(R"(
    {"id": "station", "field": "direction1.phone", "equals": "+7 916 123-45-67",
     "message": "ПЦН компании"},
    {"id": "objects", "field": "object_number", "range": {"min": 1000, "max": 1999}},
    {"id": "no-sms", "field": "direction2.protocol", "none_of": ["SMS сообщение"],
     "severity": "предупреждение"},
    {"id": "named", "field": "loop1.name", "not_empty": true},
    {"id": "own-password", "field": "password", "differs_from_template": true},
    {"id": "fast-exit", "field": "exit_time", "one_of": [10, 20, 30]},
    {"id": "codes-250", "field": "code2.code", "not_empty": true, "models": [250]})");
  const ConfigImage sample = SampleImage(251);
  // The sample: the station's number as stored from "+79161234567", object 1024, SMS on
  // direction 2, exit time 30; its password is the template's.
  EXPECT_EQ(Fired(rules, 251, sample), (Ids{"no-sms"}));
  EXPECT_EQ(Fired(rules, 251, sample, &sample), (Ids{"no-sms", "own-password"}));

  ConfigImage broken = With(251, sample, "direction1.phone", "+79160000000");
  broken = With(251, broken, "object_number", "20A");
  broken = With(251, broken, "direction2.protocol", "Contact ID");
  broken = With(251, broken, "loop1.name", "");
  broken = With(251, broken, "password", "77777");
  broken = With(251, broken, "exit_time", "25");
  EXPECT_EQ(Fired(rules, 251, broken, &sample), (Ids{"station", "objects", "named", "fast-exit"}));
  EXPECT_EQ(Fired(rules, 251, With(251, broken, "object_number", "999")).at(1), "objects");
  EXPECT_EQ(Fired(rules, 250, SampleImage(250)), Ids{});  // code2 is set; the others: no field

  CheckInput in;
  in.model = 251;
  in.image = &broken;
  in.extent = ImageLength(251);
  in.company = &rules;
  const std::vector<Finding> all = CheckConfiguration(in);
  ASSERT_FALSE(all.empty());
  const Finding& station = all.front();  // an error, before the warnings
  EXPECT_EQ(station.rule, "station");
  EXPECT_EQ(station.severity, Severity::Error);
  EXPECT_EQ(station.fields, Ids{"direction1.phone"});
  EXPECT_EQ(station.hint, "ПЦН компании");
  EXPECT_NE(station.text.find("«+79160000000», а нужно «+79161234567»"), std::string::npos)
      << station.text;
}

TEST(CompanyRules, AFileThatIsNotSoundIsRefusedWithItsFaultNamed) {
  std::string deep = "[";
  for (int i = 0; i < 40; ++i) deep = "[" + deep + "]";
  deep += "]";
  struct Case {
    std::string text;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"{", "не JSON"},
      {"{\"format\": \"lovar-checks\", \"version\": 1, \"rules\": [" + deep + "]}",
       "вложен глубже 8 уровней"},
      {R"({"format": "lovar-checks", "format": "x", "version": 1, "rules": []})",
       "«format» повторяется"},
      {R"({"format": "lovar-checks", "version": 2, "rules": []})", "«version»"},
      {R"({"format": "other", "version": 1, "rules": []})", "«format»"},
      {R"({"format": "lovar-checks", "version": 1, "rules": [], "extra": 1})",
       "неизвестный член «extra»"},
      {"{\"format\": \"lovar-checks\", \"version\": 1, \"company\": \"\xff\", \"rules\": []}",
       "не JSON"},
      {Document(R"({"id": "a", "field": "object_number", "one_off": ["1"]})"),
       "правило 1 (a): неизвестный член «one_off»"},
      {Document(R"({"id": "a", "field": "no.such", "not_empty": true})"),
       "неизвестное поле «no.such»"},
      {Document(R"({"id": "a", "field": "object_number", "models": [250], "not_empty": true})"),
       "у модели 250 нет поля «object_number»"},
      {Document(R"({"id": "a", "field": "direction1.phone", "equals": "+7 abc"})"),
       "direction1.phone"},
      {Document(R"({"id": "a", "field": "loop1.type", "one_of": ["Охраный"]})"), "нет в списке"},
      {Document(R"({"id": "a", "field": "object_number", "not_empty": true, "range": {"min": 1}})"),
       "ровно одна проверка"},
      {Document(R"({"id": "a", "field": "object_number"})"), "ровно одна проверка"},
      {Document(R"({"id": "a", "field": "loop1.type", "range": {"max": 3}})"),
       "«range» проверяет только"},
      {Document(R"({"id": "a", "field": "exit_time", "range": {"min": 5, "max": 1}})"),
       "min не больше max"},
      {Document(R"({"id": "a", "field": "exit_time", "not_empty": true})"), "«not_empty»"},
      {Document(R"({"id": "a", "field": "exit_time", "not_empty": false})"), "только true"},
      {Document(R"({"id": "a", "field": "exit_time", "equals": 1, "severity": "фатально"})"),
       "«severity»"},
      {Document(R"({"id": "Big Id", "field": "exit_time", "equals": 1})"), "нужен «id»"},
      {Document(
           R"({"id": "a", "field": "exit_time", "equals": 1}, {"id": "a", "field": "exit_time", "equals": 2})"),
       "правило 2: id «a» уже занят"},
      {Document(R"({"id": "key-duplicate", "field": "exit_time", "equals": 1})"),
       "встроенным правилом"},
      {Document(R"({"id": "a", "field": "exit_time", "equals": [1]})"), "строкой, целым числом"},
      {Document(R"("a")"), "правило должно быть объектом"},
      // The file's words are shown as written: no line break, escape or direction mark.
      {Document(R"({"id": "a", "field": "exit_time", "equals": 1, "message": "ПЦН\nкомпании"})"),
       "правило 1 (a): «message»: управляющий знак с кодом 0x0A"},
      {Document(R"({"id": "a", "field": "loop1.name", "equals": "\u001b[2J"})"),
       "«equals»: в значении управляющий знак с кодом 0x1B"},
      {"{\"format\": \"lovar-checks\", \"version\": 1, \"company\": \"ООО \u202eОхрана\", "
       "\"rules\": []}",
       "«company»: знак, меняющий направление текста"},
      {Document(R"({"id": "a", "field": "loop1.name", "none_of": ["x\u0085"]})"),
       "управляющий знак Юникода"},
  };
  for (const Case& c : cases) {
    const CompanyRulesLoad load = ParseCompanyRules(c.text, "x.json");
    EXPECT_FALSE(load.ok()) << c.text;
    EXPECT_NE(load.error.find(c.says), std::string::npos) << c.text << "\n" << load.error;
  }
}

TEST(CompanyRules, OnlyARegularFileIsRead) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const CompanyRulesLoad folder = ReadCompanyRules(dir);
  EXPECT_FALSE(folder.ok());
  EXPECT_NE(folder.error.find("не обычный файл"), std::string::npos) << folder.error;
  EXPECT_FALSE(ReadCompanyRules(dir / "no-such-rules.json").ok());
}

}  // namespace
}  // namespace lovar
