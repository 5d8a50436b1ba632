#include "check/check.h"
#include "check/company_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/catalog.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {

struct Edit {
  const char* id;
  const char* value;  // "=other.id": that field's value
};

ConfigImage Edited(int model, ConfigImage image, const std::vector<Edit>& edits) {
  for (const Edit& e : edits) {
    const Field* f = FindFieldById(model, e.id);
    std::string value = e.value, why;
    if (value.front() == '=') value = FieldText(*FindFieldById(model, value.substr(1)), image);
    EXPECT_TRUE(f != nullptr && StoreFieldText(*f, image, value, why)) << e.id << ": " << why;
  }
  return image;
}

std::vector<Finding> Check(int model, const ConfigImage& image, int firmware = -1,
                           const ConfigImage* templ = nullptr) {
  CheckInput in;
  in.model = model;
  in.image = &image;
  in.extent = ImageLength(model);
  in.firmware = firmware;
  in.template_image = templ;
  return CheckConfiguration(in);
}

bool Fires(const std::vector<Finding>& findings, std::string_view rule) {
  return std::any_of(findings.begin(), findings.end(),
                     [&](const Finding& f) { return f.rule == rule; });
}

std::vector<std::string> Rules(const std::vector<Finding>& findings) {
  std::vector<std::string> rules;
  for (const Finding& f : findings) rules.push_back(f.rule);
  return rules;
}

// Each rule: an image where it fires (the model's sample, or a zeroed image, with edits), and
// the same image with one more mend, where it does not.
struct Case {
  const char* rule;
  int model;
  bool zero;
  std::vector<Edit> fire;
  std::vector<Edit> mend;
  bool with_template = false;
  int firmware = -1;
};

const Case kCases[] = {
    {"no-reporting-direction",
     251,
     false,
     {{"direction1.phone", ""}, {"direction2.phone", ""}, {"direction3.phone", ""}},
     {{"direction2.phone", "+79161110002"}}},
    {"loop-not-reported",
     251,
     false,
     {{"direction1.loop2", "не передавать"}, {"direction2.loop2", "не передавать"}},
     {{"loop2.type", "Резерв"}}},
    {"object-number-from-template", 251, false, {}, {{"object_number", "1025"}}, true},
    {"loop-alarm-not-reported",
     251,
     false,
     {{"direction1.event5", "нет"}, {"direction2.event5", "нет"}},
     {{"direction2.event5", "да"}}},
    {"loop-alarm-not-reported",
     251,
     false,
     {{"direction1.loop4", "все кроме \"Сработка\""}, {"direction2.loop4", "не передавать"}},
     {{"direction1.loop4", "только тревожные извещения"}}},
    {"direction-without-phone",
     251,
     false,
     {{"direction4.loop1", "все"}},
     {{"direction4.phone", "+79161110004"}}},
    {"direction-without-phone",
     251,
     false,
     {{"direction5.test", "Сообщение - период в часах"}},
     {{"direction5.test", "не передавать Тест"}}},
    {"direction-filter-empty",
     251,
     false,
     {{"direction3.event4", "нет"}, {"direction3.event11", "нет"}},
     {{"direction3.event1", "да"}}},
    {"direction-protocol-unset",
     251,
     false,
     {{"direction1.protocol", "#0"}},
     {{"direction1.protocol", "Contact ID"}}},
    {"phone-malformed",
     251,
     false,
     {{"direction2.phone", "#91 FF FF FF FF FF FF FF"}},
     {{"direction2.phone", "84951234567"}}},
    {"test-period-zero",
     251,
     false,
     {{"direction1.period", "0"}},
     {{"direction1.test", "не передавать Тест"}}},
    {"attempts-zero", 251, false, {{"attempts", "0"}}, {{"attempts", "1"}}},
    {"attempts-zero",
     251,
     false,
     {{"sms_attempts", "0"}},
     {{"direction2.protocol", "Речевое сообщение"}}},
    {"listen-time-zero", 251, false, {{"listen_time", "0"}}, {{"direction1.listen", "нет"}}},
    {"gprs-incomplete", 251, false, {{"gprs.port", "0"}}, {{"gprs.port", "6000"}}},
    {"gprs-incomplete", 251, false, {{"gprs.password", ""}}, {{"gprs.user", ""}}},
    {"gprs-incomplete",
     251,
     false,
     {{"gprs.ip", "0.0.0.0"}, {"gprs.port", "0"}},
     {{"gprs.user", ""}, {"gprs.password", ""}}},
    {"object-number-empty", 251, false, {{"object_number", ""}}, {{"object_number", "7"}}},
    {"object-number-empty", 251, false, {{"object_number", "   "}}, {{"object_number", " 7"}}},
    {"direction-duplicate",
     251,
     false,
     {{"direction4.phone", "+7 916 123-45-67"}, {"direction4.protocol", "Contact ID"}},
     {{"direction4.protocol", "SMS сообщение"}}},
    {"no-test-message",
     251,
     false,
     {{"direction1.test", "не передавать Тест"}},
     {{"direction3.protocol", "Contact ID"},
      {"direction3.test", "Сообщение - период в часах"},
      {"direction3.period", "24"}}},
    {"reserve-loop-in-use", 251, false, {{"loop3.type", "Резерв"}}, {{"loop3.name", ""}}},
    {"panic-loop-siren", 251, false, {{"loop3.siren", "да"}}, {{"loop3.type", "Охранный"}}},
    {"panic-loop-siren", 250, false, {{"loop3.output1", "да"}}, {{"output1.mode", "Лампа"}}},
    {"key-erased", 251, false, {{"key5.code", "FFFFFFFFFFFFFFFF"}}, {{"key5.code", ""}}},
    {"key-erased", 250, false, {{"key4.code", "FFFFFFFF"}}, {{"key4.code", "0A0B0C0D"}}},
    {"entry-loop-without-delay", 251, false, {{"entry_time", "0"}}, {{"loop2.type", "Охранный"}}},
    {"siren-time-zero",
     251,
     false,
     {{"siren_time", "0"}},
     {{"loop1.type", "Резерв"}, {"loop3.siren", "нет"}, {"loop4.siren", "нет"}}},
    {"sounder-time-zero",
     251,
     false,
     {{"sounder_time", "0"}},
     {{"loop1.sounder", "нет"}, {"loop2.sounder", "нет"}}},
    {"sounder-time-zero", 250, false, {{"sounder_time", "0"}}, {{"sounder_time", "5"}}},
    {"output-time-zero", 250, false, {{"output1.time", "0"}}, {{"output1.mode", "Лампа"}}},
    {"output-time-zero",
     252,
     false,
     {{"output1.mode", "Включить на время при взятии"}, {"output1.time", "0"}},
     {{"output1.time", "8"}}},
    {"value-outside-list", 251, false, {{"loop1.type", "#15"}}, {{"loop1.type", "Пожарный"}}},
    {"value-outside-list", 251, false, {{"direction2.loop3", "#9"}}, {{"direction2.loop3", "все"}}},
    {"value-outside-list", 250, false, {{"output2.mode", "#7"}}, {{"output2.mode", "Сирена"}}},
    {"value-outside-list", 250, false, {{"level", "#8"}}, {{"level", "2000"}}},
    {"value-outside-list",
     250,
     false,
     {{"loop2.type", "Охранный актив."}},
     {{"loop2.type", "Охранный"}},
     false,
     9},
    {"value-out-of-range", 250, false, {{"board_direction", "#45"}}, {{"board_direction", "19"}}},
    {"key-duplicate", 251, false, {{"key2.code", "=key1.code"}}, {{"key2.code", ""}}},
    {"key-duplicate", 252, false, {{"key3.code", "=key2.code"}}, {{"key3.code", "0A0B0C0D"}}},
    {"key-without-rights", 251, false, {{"key3.rights", ""}}, {{"key3.code", ""}}},
    {"installer-code-empty", 250, false, {{"code1.code", ""}}, {{"code1.code", "4321"}}},
    {"code-duplicate", 250, false, {{"code3.code", "5678"}}, {{"code3.code", "2590"}}},
    {"code-duplicate",
     250,
     false,
     {{"code4.code", "5679"}, {"code4.rights", "взятие 1"}},
     {{"code2.duress", "5670"}}},
    {"code-without-rights", 250, false, {{"code2.rights", ""}}, {{"code2.rights", "снятие 2"}}},
    {"duress-without-code", 250, false, {{"code3.code", ""}}, {{"code3.duress", ""}}},
    {"code-not-typeable", 250, false, {{"code2.code", "12A4"}}, {{"code2.code", "1294"}}},
    {"no-keys-or-codes", 252, true, {}, {{"key1.code", "0A1B2C3D"}}},
    {"no-keys-or-codes", 250, true, {}, {{"code2.code", "1111"}}},
    {"code-from-template", 251, false, {}, {{"password", "54321"}}, true},
    {"code-from-template",
     250,
     false,
     {},
     {{"code2.code", "5670"},
      {"code3.code", "2589"},
      {"code2.duress", "5671"},
      {"code3.duress", "2588"}},
     true},
};

TEST(Check, EachRuleFiresOnItsImageAndNotOnTheMendedOne) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.rule) + " " + std::to_string(c.model));
    const ConfigImage base = c.zero ? ConfigImage() : SampleImage(c.model);
    const ConfigImage templ = SampleImage(c.model);
    const ConfigImage* t = c.with_template ? &templ : nullptr;
    const ConfigImage firing = Edited(c.model, base, c.fire);
    const std::vector<Finding> findings = Check(c.model, firing, c.firmware, t);
    EXPECT_TRUE(Fires(findings, c.rule)) << testing::PrintToString(Rules(findings));
    std::vector<Edit> mended = c.fire;
    mended.insert(mended.end(), c.mend.begin(), c.mend.end());
    EXPECT_FALSE(Fires(Check(c.model, Edited(c.model, base, mended), c.firmware, t), c.rule));

    for (const Finding& f : findings) {
      SCOPED_TRACE(f.rule);
      const RuleInfo* info = FindBuiltinRule(f.rule);
      ASSERT_NE(info, nullptr);
      EXPECT_TRUE(f.severity == info->severity || info->lowered);
      EXPECT_FALSE(f.text.empty());
      EXPECT_FALSE(f.hint.empty());
      ASSERT_FALSE(f.fields.empty());
      for (const std::string& id : f.fields) EXPECT_NE(FindFieldById(c.model, id), nullptr) << id;
      // The text names the page the window turns to.
      const Field* first = FindFieldById(c.model, f.fields.front());
      const std::string page = "«" + std::string(PageOf(first->page).caption) + "»";
      EXPECT_NE(f.text.find(page), std::string::npos) << f.text;
    }
  }
  // Every rule over one image has its case (the rules file's has a test of its own).
  for (const RuleInfo& info : BuiltinRules()) {
    if (info.elsewhere || info.id == "company-rules-not-loaded") continue;
    EXPECT_TRUE(std::any_of(std::begin(kCases), std::end(kCases), [&](const Case& c) {
      return c.rule == info.id;
    })) << info.id;
  }
}

TEST(Check, TheSamplesPassAndAZeroedImageSaysWhatIsMissing) {
  for (int model : {250, 251, 252}) EXPECT_TRUE(Check(model, SampleImage(model)).empty()) << model;
  using V = std::vector<std::string>;
  EXPECT_EQ(Rules(Check(251, ConfigImage())), (V{"no-reporting-direction", "object-number-empty"}));
  EXPECT_EQ(Rules(Check(250, ConfigImage())), (V{"installer-code-empty", "no-keys-or-codes"}));
  EXPECT_EQ(Rules(Check(252, ConfigImage())), (V{"no-keys-or-codes"}));
  EXPECT_TRUE(Check(0, ConfigImage()).empty());
}

TEST(Check, ErrorsComeFirstAndAFileIsJudgedOnlyOnTheBytesItHolds) {
  // A model 251 file has no keys: two equal ones beyond its bytes are not judged.
  const ConfigImage image = Edited(251, SampleImage(251),
                                   {{"key2.code", "=key1.code"},
                                    {"object_number", ""},
                                    {"direction1.loop1", "не передавать"},
                                    {"direction2.loop1", "не передавать"},
                                    {"direction3.loop1", "не передавать"}});
  const std::vector<Finding> device = Check(251, image);
  // The station's direction sends Contact ID: without an object number it cannot tell the site.
  EXPECT_EQ(Rules(device), (std::vector<std::string>{"loop-not-reported", "object-number-empty",
                                                     "key-duplicate"}));
  EXPECT_EQ(CountsText(CountFindings(device)), "2 ошибки, 1 предупреждение");
  CheckInput file;
  file.model = 251;
  file.image = &image;
  file.extent = 2048;
  EXPECT_FALSE(Fires(CheckConfiguration(file), "key-duplicate"));
}

// Every event of the filter of direction n unmarked: by the filter nothing leaves over it.
std::vector<Edit> EmptyFilter(int n) {
  static std::vector<std::string> ids;  // the edits point into it
  std::vector<Edit> edits;
  for (int e = 1; e <= 16; ++e) {
    ids.push_back("direction" + std::to_string(n) + ".event" + std::to_string(e));
    edits.push_back({nullptr, "нет"});
  }
  for (size_t i = 0; i < edits.size(); ++i) edits[i].id = ids[ids.size() - 16 + i].c_str();
  return edits;
}

std::vector<Edit> Joined(std::vector<std::vector<Edit>> parts) {
  std::vector<Edit> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Check, AlarmsThatReachNobodyAreAnErrorSaidOnce) {
  const ConfigImage sample = SampleImage(251);
  using V = std::vector<std::string>;
  // Every numbered direction routes loops with an empty filter: nothing leaves, one error.
  const ConfigImage silent =
      Edited(251, sample, Joined({EmptyFilter(1), EmptyFilter(2), EmptyFilter(3)}));
  std::vector<Finding> found = Check(251, silent);
  ASSERT_EQ(Rules(found), (V{"no-reporting-direction"}));
  EXPECT_EQ(found[0].severity, Severity::Error);
  EXPECT_NE(
      found[0].text.find("у направления 2 в столбце «Телефон 2» на странице «Фильтр» не отмечено"),
      std::string::npos)
      << found[0].text;

  // The only direction with a number has no protocol.
  const ConfigImage one = Edited(251, sample,
                                 {{"direction2.phone", ""},
                                  {"direction3.phone", ""},
                                  {"direction1.protocol", "#0"},
                                  {"direction1.test", "не передавать Тест"}});
  found = Check(251, one);
  EXPECT_EQ(Rules(found)[0], "no-reporting-direction");
  EXPECT_FALSE(Fires(found, "direction-protocol-unset"));
  EXPECT_NE(found[0].text.find("поле «Направление 1: Протокол передачи» пусто"), std::string::npos)
      << found[0].text;

  // An empty filter that others make up for is a warning; where it keeps two loops' alarms
  // from everyone it is one error naming both, and not a warning besides.
  const ConfigImage covered = Edited(251, sample, EmptyFilter(1));
  EXPECT_EQ(Rules(Check(251, covered)), (V{"direction-filter-empty"}));
  const ConfigImage lost = Edited(
      251, covered, {{"direction2.loop2", "не передавать"}, {"direction2.loop3", "не передавать"}});
  found = Check(251, lost);
  ASSERT_EQ(Rules(found), (V{"loop-alarm-not-reported"}));
  EXPECT_NE(found[0].text.find("Тревоги ШС2 «Склад» и ШС3 «Кнопка» не дойдут ни до кого"),
            std::string::npos)
      << found[0].text;

  // Without a station's direction an empty object number is a warning.
  const ConfigImage private_site =
      Edited(251, sample, {{"object_number", ""}, {"direction1.protocol", "SMS сообщение"}});
  found = Check(251, private_site);
  ASSERT_EQ(Rules(found), (V{"object-number-empty"}));
  EXPECT_EQ(found[0].severity, Severity::Warning);

  // A loop routed only by a direction without a number: the loop's error names that direction,
  // and the direction's own warning does not say it again.
  const ConfigImage unnumbered = Edited(251, sample,
                                        {{"direction1.loop2", "не передавать"},
                                         {"direction2.loop2", "не передавать"},
                                         {"direction4.loop2", "все"}});
  found = Check(251, unnumbered);
  ASSERT_EQ(Rules(found), (V{"loop-not-reported"}));
  EXPECT_NE(found[0].text.find("Направление 4 его передаёт, но номера телефона у него нет"),
            std::string::npos)
      << found[0].text;
  // A routing value no entry names is not taken for "не передавать".
  EXPECT_EQ(Rules(Check(251, Edited(251, unnumbered, {{"direction3.loop2", "#9"}}))),
            (V{"direction-without-phone", "value-outside-list"}));
  // One entry time of 0 for two entry loops is one finding.
  found = Check(251, Edited(251, sample, {{"loop1.type", "Вход"}, {"entry_time", "0"}}));
  ASSERT_EQ(Rules(found), (V{"entry-loop-without-delay"}));
  EXPECT_NE(found[0].text.find("ШС1 «Дверь», ШС2 «Склад» — входные"), std::string::npos)
      << found[0].text;

  // Erased key memory is one finding, not a duplicate for every pair of rows.
  ConfigImage erased = sample;
  for (int i = 3584 + 16 * 3; i < 3840; ++i) erased[i] = 0xFF;
  found = Check(251, erased);
  ASSERT_EQ(Rules(found), (V{"key-erased"}));
  EXPECT_NE(found[0].text.find("Ключи 4–16"), std::string::npos) << found[0].text;
}

TEST(Check, ARulesFileNotInForceIsAnErrorAndSkippedRulesAreNamed) {
  const ConfigImage sample = SampleImage(251);
  CompanyRules refused;
  refused.refused = "файл правил x.json: правило 1 (a): неизвестный член «one_off»";
  CheckInput in = DeviceCheckInput(251, sample, 12, nullptr, &refused);
  const std::vector<Finding> found = CheckConfiguration(in);
  ASSERT_EQ(Rules(found), (std::vector<std::string>{"company-rules-not-loaded"}));
  EXPECT_EQ(found[0].severity, Severity::Error);
  EXPECT_NE(found[0].text.find("неизвестный член «one_off»"), std::string::npos);

  // A file: no keys, no firmware, no template; a device with its template: nothing skipped.
  const std::vector<std::string> file = SkippedChecks(FileCheckInput(251, sample));
  ASSERT_EQ(file.size(), 2u);
  EXPECT_NE(file[0].find("key-duplicate"), std::string::npos) << file[0];
  EXPECT_NE(file[1].find("object-number-from-template"), std::string::npos) << file[1];
  EXPECT_NE(SkippedChecks(FileCheckInput(250, SampleImage(250)))[0].find("value-outside-list"),
            std::string::npos);
  EXPECT_TRUE(SkippedChecks(DeviceCheckInput(251, sample, 12, &sample)).empty());
  EXPECT_TRUE(SkippedChecks(DeviceCheckInput(252, SampleImage(252), 12)).empty());
}

// The models a rule runs on follow from what the models have: the document's column says the
// same ("251, шаблон": the models, then what else the rule needs).
TEST(Check, TheDocumentListsEveryRuleWithItsSeverityAndModels) {
  std::ifstream in(LOVAR_DOCS_DIR "/checks.md");
  const std::string doc((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(doc.empty());
  for (const RuleInfo& info : BuiltinRules()) {
    const std::string row = "| `" + std::string(info.id) + "` | " +
                            std::string(SeverityText(info.severity)) + " | " + RuleModelsText(info);
    const size_t at = doc.find(row);
    ASSERT_NE(at, std::string::npos) << row;
    const char next = doc[at + row.size()];
    EXPECT_TRUE(next == ' ' || next == ',') << row;
  }
  EXPECT_FALSE(RuleAppliesTo(BuiltinRules().front(), 0));
}

}  // namespace
}  // namespace lovar
