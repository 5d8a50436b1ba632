// One change for many sites, its pure part: settings read from the command line, each site's part
// computed from its last proven record and judged, and the change merged three ways at a device.
#include <gtest/gtest.h>

#include "change/change_plan.h"
#include "model/catalog.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {

std::vector<uint8_t> Bytes(const ConfigImage& image, int model) {
  return {image.bytes().begin(), image.bytes().begin() + ImageLength(model)};
}

RecordInfo Proven(int model, const std::string& id, StoreTime time) {
  RecordInfo r;
  r.id = id;
  r.model = model;
  r.time = time;
  r.image_hash = "h" + id;
  return r;
}

std::string Text(int model, const char* id, const ConfigImage& image) {
  return FieldText(*FindFieldById(model, id), image);
}

TEST(ChangePlan, SettingsAreReadAndRefusedWithWhy) {
  PlanSetting s;
  std::string why;
  EXPECT_TRUE(ParsePlanSetting("direction1.phone=+74950000000", s, why));
  EXPECT_EQ(s.field, "direction1.phone");
  EXPECT_EQ(s.value, "+74950000000");
  EXPECT_TRUE(ParsePlanSetting("loop1.name=", s, why));  // an empty value is a value
  EXPECT_EQ(s.value, "");
  for (const char* bad : {"direction1.phone", "=5", "loop1.name=a\tb"})
    EXPECT_FALSE(ParsePlanSetting(bad, s, why)) << bad;
  EXPECT_NE(SettingsFault({}).find("--set"), std::string::npos);
  EXPECT_NE(SettingsFault({{"loop1.name", "a"}, {"loop1.name", "b"}}).find("дважды"),
            std::string::npos);
  EXPECT_NE(SettingsFault({{"no.such", "a"}}).find("no.such"), std::string::npos);
  EXPECT_EQ(SettingsFault({{"direction1.phone", "1"}, {"loop1.name", "a"}}), "");
}

TEST(ChangePlan, TheLastProvenRecordIsTheNewestThatHoldsAnImage) {
  std::vector<RecordInfo> history = {Proven(251, "a", 1), Proven(251, "b", 2), Proven(251, "c", 3),
                                     Proven(251, "d", 4)};
  history[2].outcome = RecordOutcome::Stopped;  // may hold a mix
  history[3].image_hash.clear();                // failed before any image
  ASSERT_NE(LastProvenRecord(history), nullptr);
  EXPECT_EQ(LastProvenRecord(history)->id, "b");
  EXPECT_EQ(LastProvenRecord({}), nullptr);
}

TEST(ChangePlan, ASitesPartIsItsChangesOrWhyItIsSkipped) {
  const CheckGate gate;
  const ConfigImage image = SampleImage(251);
  const RecordInfo base = Proven(251, "r1", 1);
  const std::vector<PlanSetting> phone = {{"direction1.phone", "+74950000000"}};
  PlanSite site = PlanSiteOf(7, &base, Bytes(image, 251), phone, gate);
  EXPECT_EQ(site.state, PlanState::Pending) << site.reason;
  EXPECT_EQ(site.base_record, "r1");
  ASSERT_EQ(site.changes.size(), 1u);
  EXPECT_EQ(site.changes[0].before, Text(251, "direction1.phone", image));
  EXPECT_EQ(site.changes[0].after, "+74950000000");

  struct Case {
    const RecordInfo* base;
    std::vector<PlanSetting> settings;
    std::string why;
  };
  const RecordInfo t2 = Proven(250, "t", 1);
  const std::vector<Case> skipped = {
      {nullptr, phone, "нет проверенной записи"},
      {&base, {{"direction1.phone", "12ab"}}, "direction1.phone"},
      {&base, {{"direction1.phone", Text(251, "direction1.phone", image)}}, "изменять нечего"},
      // Every direction without a number: the site would report nowhere.
      {&base,
       {{"direction1.phone", ""},
        {"direction2.phone", ""},
        {"direction3.phone", ""},
        {"direction4.phone", ""}},
       "проверка: ошибка"},
  };
  for (const Case& c : skipped) {
    site = PlanSiteOf(7, c.base, Bytes(image, 251), c.settings, gate);
    EXPECT_EQ(site.state, PlanState::Skipped) << c.why;
    EXPECT_NE(site.reason.find(c.why), std::string::npos) << site.reason;
  }
  // A field the model does not have, a record shorter than the field's place.
  site = PlanSiteOf(7, &t2, Bytes(SampleImage(250), 250), {{"key100.code", "1"}}, gate);
  EXPECT_EQ(site.state, PlanState::Skipped);
  const Field* key = FindFieldById(251, "key1.code");
  ASSERT_NE(key, nullptr);
  site = PlanSiteOf(7, &base, std::vector<uint8_t>(2048), {{"key1.code", "0102030405"}}, gate);
  EXPECT_NE(site.reason.find("нет его байтов"), std::string::npos) << site.reason;
}

TEST(ChangePlan, CodesAreNeverShownInClear) {
  const ConfigImage image = SampleImage(250);
  const RecordInfo base = Proven(250, "r1", 1);
  const Field* code = nullptr;
  for (const Field& f : Fields(250))
    if (f.kind == FieldKind::CodeDigits && code == nullptr) code = &f;
  ASSERT_NE(code, nullptr);
  const PlanSite site = PlanSiteOf(7, &base, Bytes(image, 250), {{code->id, "4321"}}, CheckGate{});
  ASSERT_FALSE(site.changes.empty()) << site.reason;
  EXPECT_EQ(site.changes[0].before, "(скрыто)");
  EXPECT_EQ(site.changes[0].after, "(скрыто)");
}

TEST(ChangePlan, TheChangeIsMergedIntoWhatTheDeviceHoldsThreeWays) {
  const int model = 251;
  const ConfigImage base = SampleImage(model);
  const std::vector<PlanSetting> settings = {{"direction1.phone", "+74950000000"}};
  std::string why;
  const Field& phone = *FindFieldById(model, "direction1.phone");
  const Field& name = *FindFieldById(model, "loop2.name");

  // The device changed elsewhere (a loop's name): kept, the plan's field set over it.
  ConfigImage device = base;
  ASSERT_TRUE(StoreFieldText(name, device, "Касса", why));
  MergedChange merged = MergeAtDevice(model, base, settings, device);
  EXPECT_FALSE(merged.conflict || merged.failed);
  EXPECT_EQ(FieldText(phone, device), "+74950000000");
  EXPECT_EQ(FieldText(name, device), "Касса");
  ASSERT_EQ(merged.changes.size(), 1u);

  // The device holds another number than the record: a conflict, nothing set.
  device = base;
  ASSERT_TRUE(StoreFieldText(phone, device, "+70000000001", why));
  const ConfigImage drifted = device;
  merged = MergeAtDevice(model, base, settings, device);
  EXPECT_TRUE(merged.conflict);
  EXPECT_EQ(device, drifted);
  ASSERT_EQ(merged.lines.size(), 1u);
  EXPECT_NE(merged.lines[0].find("в приборе +70000000001"), std::string::npos) << merged.lines[0];

  // Already the plan's value: nothing to change, no conflict.
  device = base;
  ASSERT_TRUE(StoreFieldText(phone, device, "+74950000000", why));
  merged = MergeAtDevice(model, base, settings, device);
  EXPECT_FALSE(merged.conflict);
  EXPECT_TRUE(merged.changes.empty());

  // A value the field refuses: failed, nothing set.
  device = base;
  merged = MergeAtDevice(model, base, {{"direction1.phone", "x"}}, device);
  EXPECT_TRUE(merged.failed);
  EXPECT_EQ(device, base);
}

}  // namespace
}  // namespace lovar
