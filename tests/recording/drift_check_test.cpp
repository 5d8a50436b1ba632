// A read compared with its site's last proven record as it is recorded: what is said, what the
// read's record keeps, and which sites the registry then lists as drifted.
#include <gtest/gtest.h>

#include <future>

#include "../store/records.h"
#include "recording/record_worker.h"
#include "recording/recording_registry.h"
#include "recording/registry_recorder.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {

const DeviceRecord kDevice{"COM5", 251, 12, "Ловар-М Версия 2.2"};

ConfigImage With(ConfigImage image, const char* id, const char* value) {
  std::string why;
  EXPECT_TRUE(StoreFieldText(*FindFieldById(251, id), image, value, why)) << why;
  return image;
}

WriteReport Report(WriteReport::Outcome outcome) {
  WriteReport r;
  r.outcome = outcome;
  r.from = 0;
  r.end = 4096;
  r.model = 251;
  r.prior_read = true;
  return r;
}

struct Seen {
  std::vector<DriftFound> found;
  void Watch(SiteRecorder& recorder) {
    recorder.OnDrift([this](const DriftFound& f) { found.push_back(f); });
  }
  const DriftFound& last() const { return found.back(); }
};

TEST(DriftAtRead, ADeviceChangedBehindTheRegistrysBackIsSaidKeptAndListed) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  Seen seen;
  seen.Watch(recorder);
  const ConfigImage first = With(SampleImage(251), "object_number", "1024");

  // The number's first read: its site is made with the record, nothing to compare with.
  recorder.DeviceRead(kDevice, first);
  EXPECT_EQ(seen.last().state, DriftFound::State::NoSite);
  // The same again: compared, nothing drifted.
  recorder.DeviceRead(kDevice, first);
  EXPECT_EQ(seen.last().state, DriftFound::State::Compared);
  EXPECT_FALSE(seen.last().drifted());
  std::vector<SiteEntry> drifted;
  ASSERT_TRUE(registry->DriftedSites(0, drifted).ok());
  EXPECT_TRUE(drifted.empty());

  // Changed on the keypad: the password and a telephone number.
  const ConfigImage changed =
      With(With(first, "password", "4711"), "direction2.phone", "+79160000000");
  recorder.DeviceRead(kDevice, changed);
  const DriftFound& found = seen.last();
  ASSERT_TRUE(found.drifted());
  EXPECT_EQ(found.ids(), (std::vector<std::string>{"password", "direction2.phone"}));
  const std::string text = DriftFoundText(found);
  EXPECT_EQ(text.rfind("изменено не через Ловар: Параметры: Пароль (было ", 0), 0u) << text;
  EXPECT_NE(text.find("Направление 2: Номер телефона"), std::string::npos) << text;

  ASSERT_TRUE(registry->DriftedSites(0, drifted).ok());
  ASSERT_EQ(drifted.size(), 1u);
  EXPECT_EQ(drifted[0].card.site, found.site);
  EXPECT_EQ(drifted[0].last.drift, "password,direction2.phone");
  EXPECT_EQ(drifted[0].last.drift_base, found.base.id);
  ASSERT_TRUE(registry->DriftedSites(found.site + 1, drifted).ok());
  EXPECT_TRUE(drifted.empty());

  // Found again at the next read: the drift stands until a write of ours is proven over it.
  recorder.DeviceRead(kDevice, changed);
  EXPECT_EQ(seen.last().ids(), found.ids());
  EXPECT_EQ(seen.last().base.id, found.base.id);
  const std::string password = FieldText(*FindFieldById(251, "password"), first);
  recorder.DeviceRead(kDevice, With(changed, "password", password.c_str()));  // put back
  EXPECT_EQ(seen.last().ids(), std::vector<std::string>{"direction2.phone"});
  ConfigImage written = With(changed, "exit_time", "40");
  recorder.DeviceWritten(kDevice, written, Report(WriteReport::Outcome::Verified));
  ASSERT_TRUE(registry->DriftedSites(0, drifted).ok());
  EXPECT_TRUE(drifted.empty());
  recorder.DeviceRead(kDevice, written);
  EXPECT_EQ(seen.last().state, DriftFound::State::Compared);
  EXPECT_FALSE(seen.last().drifted());
}

TEST(DriftAtRead, AWriteOfOursNotProvenExplainsWhatItPutThere) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  Seen seen;
  seen.Watch(recorder);
  const ConfigImage first = With(SampleImage(251), "object_number", "2048");
  recorder.DeviceRead(kDevice, first);
  // Written without a read-back (--no-verify): the device holds it, no record proves it.
  const ConfigImage sent = With(first, "password", "99");
  recorder.DeviceWritten(kDevice, sent, Report(WriteReport::Outcome::Unchecked));
  recorder.DeviceRead(kDevice, sent);
  EXPECT_EQ(seen.last().state, DriftFound::State::Compared);
  EXPECT_FALSE(seen.last().drifted()) << DriftFoundText(seen.last());
  // What no record explains is drift all the same.
  recorder.DeviceRead(kDevice, With(sent, "exit_time", "45"));
  EXPECT_EQ(seen.last().ids(), std::vector<std::string>{"exit_time"});
}

TEST(DriftAtRead, ADeviceOfNoKnownSiteOrARegistryThatCannotAnswerIsNotCompared) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  Seen seen;
  seen.Watch(recorder);
  const DeviceRecord t2{"COM6", 252, 12, "Ловар-Т2 Версия 2.2"};
  recorder.DeviceRead(t2, SampleImage(252));
  EXPECT_EQ(seen.last().state, DriftFound::State::NoSite);
  EXPECT_EQ(DriftFoundText(seen.last()), "");

  // A worker whose registry cannot be opened: the read is kept aside, said "не сравнено".
  RegistryOptions place;
  place.location.text = (dir / "other.sqlite").string();
  RecordWorker worker(place, [] {
    OpenedRegistry none;
    none.failure = "сервер не отвечает";
    return none;
  });
  QueuedRecorder queued(worker);
  std::promise<DriftFound> answer;
  queued.OnDrift([&](const DriftFound& f) { answer.set_value(f); });
  queued.DeviceRead(kDevice, SampleImage(251));
  const DriftFound found = answer.get_future().get();
  EXPECT_EQ(found.state, DriftFound::State::NotCompared);
  EXPECT_EQ(DriftFoundText(found), "Не сравнено с реестром объектов: сервер не отвечает");
  worker.Drain(std::chrono::seconds(5));
}

}  // namespace
}  // namespace lovar
