// The session's ends as the registry's records: which outcome, and which image the device holds
// or may hold; and a recorder on a real registry file.
#include <gtest/gtest.h>

#include "../store/records.h"
#include "recording/registry_recorder.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {

using O = WriteReport::Outcome;

const DeviceRecord kDevice{"/dev/ttyUSB0", 252, 12, "Ловар-Т Версия 2.2"};

ConfigImage Filled(uint8_t value) {
  ConfigImage image;
  std::fill(image.bytes().begin(), image.bytes().end(), value);
  return image;
}

WriteReport Report(O outcome, int stopped_at = 0, bool prior_read = true) {
  WriteReport r;
  r.outcome = outcome;
  r.from = 100;  // model 252 writes from byte 100
  r.end = 256;
  r.stopped_at = stopped_at;
  r.model = 252;
  r.prior_read = prior_read;
  return r;
}

struct WriteCase {
  const char* name;
  WriteReport report;
  bool prior;
  RecordOutcome outcome;
  // The image's bytes 0, 100, 200 (-1: no image).
  int at0, at100, at200;
};

TEST(WriteSiteRecord, EachEndGivesItsOutcomeAndWhatTheDeviceHolds) {
  const ConfigImage prior = Filled(1), sent = Filled(2);
  const WriteCase cases[] = {
      // Proven: what was sent from byte 100, the device's own before it.
      {"verified", Report(O::Verified), true, RecordOutcome::Holds, 1, 2, 2},
      {"verified, no read", Report(O::Verified, 0, false), false, RecordOutcome::Holds, 2, 2, 2},
      // Stopped at 160: sent up to there, the device's before and after.
      {"stopped", Report(O::WriteStopped, 160), true, RecordOutcome::Stopped, 1, 2, 1},
      {"unchecked", Report(O::Unchecked), true, RecordOutcome::Unproven, 2, 2, 2},
      {"differs", Report(O::Differs), true, RecordOutcome::Unproven, 2, 2, 2},
      {"not begun", Report(O::NotStarted), true, RecordOutcome::NotWritten, 1, 1, 1},
      {"its read failed", Report(O::NotStarted), false, RecordOutcome::Failed, -1, -1, -1},
  };
  for (const WriteCase& c : cases) {
    const SiteRecord r = WriteSiteRecord(kDevice, c.prior ? &prior : nullptr, sent, c.report,
                                         RecordOperation::Batch);
    EXPECT_EQ(r.info.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.info.operation, RecordOperation::Batch) << c.name;
    EXPECT_EQ(r.info.message, WriteReportText(c.report)) << c.name;
    if (c.at0 < 0) {
      EXPECT_TRUE(r.image.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(r.image.size(), 256u) << c.name;
    EXPECT_EQ(r.image[0], c.at0) << c.name;
    EXPECT_EQ(r.image[100], c.at100) << c.name;
    EXPECT_EQ(r.image[200], c.at200) << c.name;
  }
}

TEST(RegistryRecorder, RecordsAReadAndTheWriteFromItsReadOnAFile) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  EXPECT_FALSE(recorder.ReadsBeforeWrite());
  const DeviceRecord device{"COM5", 251, 12, "Ловар-М Версия 2.2"};
  const ConfigImage before = SampleImage(251);
  EXPECT_TRUE(recorder.DeviceRead(device, before).ok);
  ConfigImage sent = before;
  sent[13] = static_cast<uint8_t>(sent[13] + 1);
  WriteReport report;
  report.outcome = O::WriteStopped;
  report.from = 0;
  report.end = 4096;
  report.stopped_at = 1024;
  report.prior_read = true;
  recorder.DeviceWritten(device, sent, report);
  EXPECT_TRUE(recorder.TakeNotes().empty());

  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(251, ObjectNumber(251, before), history).ok());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].operation, RecordOperation::Read);
  EXPECT_EQ(history[0].port, "COM5");
  EXPECT_EQ(history[1].outcome, RecordOutcome::Stopped);
  std::vector<uint8_t> image;
  ASSERT_TRUE(registry->Image(history[1].image_hash, image).ok());
  EXPECT_EQ(image[13], sent[13]);
}

// A batch row and lovar-cli write read the device, then write: the write's record takes that
// read as what the device held before it, so a write stopped midway records the device's own
// bytes beyond where it stopped. A write let past the check's errors says so, and the next read
// of the device that still holds it hears of it.
TEST(RegistryRecorder, AReadMadeForTheWriteAndAnErrorLetPassGoIntoItsRecord) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry, RecordOperation::Batch);
  const DeviceRecord device{"COM7", 251, 12, "Ловар-М Версия 2.2"};
  const ConfigImage before = SampleImage(251);
  recorder.DeviceRead(device, before);
  recorder.ReadIsPrior("COM7");
  ConfigImage sent = before;
  sent[3000] = static_cast<uint8_t>(sent[3000] + 1);
  recorder.NoteOverride("COM7", std::string(kOverrideMark) + " (--allow-check): [x] y");
  WriteReport stopped;
  stopped.outcome = O::WriteStopped;
  stopped.from = 0;
  stopped.end = 4096;
  stopped.stopped_at = 1024;
  stopped.prior_read = false;  // the read was the caller's, not the write's
  recorder.DeviceWritten(device, sent, stopped);
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(251, ObjectNumber(251, before), history).ok());
  ASSERT_EQ(history.size(), 2u);
  std::vector<uint8_t> image;
  ASSERT_TRUE(registry->Image(history[1].image_hash, image).ok());
  EXPECT_EQ(image[3000], before[3000]);  // beyond the stop: the device's, as read
  EXPECT_NE(history[1].message.find(": [x] y"), std::string::npos) << history[1].message;
  // Stopped: not what the device holds, so no later read hears of it.
  EXPECT_TRUE(recorder.DeviceRead(device, before).note.empty());

  recorder.NoteOverride("COM7", std::string(kOverrideMark) + " (--allow-check): [x] y");
  WriteReport proven = stopped;
  proven.outcome = O::Verified;
  recorder.DeviceWritten(device, sent, proven);
  EXPECT_NE(recorder.DeviceRead(device, sent)
                .note.find("несмотря на ошибки: " + std::string(kOverrideMark)),
            std::string::npos);
  // The device was changed since: nothing to say of it.
  ConfigImage changed = sent;
  changed[14] = static_cast<uint8_t>(changed[14] + 1);  // the transmission attempts
  EXPECT_TRUE(recorder.DeviceRead(device, changed).note.empty());
}

// The window's fast write: its record says only the changed blocks are proven; the whole check
// behind it completes it with a record of its own, however it ends, carrying the check's errors
// let past and the device's bytes before the write.
TEST(RegistryRecorder, AWriteOfTheChangesIsCompletedByItsWholeCheck) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  const DeviceRecord device{"COM3", 252, 12, "Ловар-Т2 Версия 2.2"};
  const ConfigImage before = SampleImage(252);
  ConfigImage sent = before;
  sent[0] = static_cast<uint8_t>(sent[0] + 1);  // not the device's: bytes 0 to 99 stay its own
  sent[200] = static_cast<uint8_t>(sent[200] + 1);
  const auto write = [&](bool whole_check, O outcome, bool override_noted) {
    if (override_noted) recorder.NoteOverride("COM3", "пропущено: [x]");
    WriteReport r;
    r.outcome = outcome;
    r.cause = outcome == O::Verified ? WriteReport::Cause::None : WriteReport::Cause::Interrupted;
    r.from = 100;
    r.end = ImageLength(252);
    r.model = 252;
    r.changed_only = true;
    r.written_blocks = 1;
    r.total_blocks = 10;
    r.prior_read = true;
    r.blocks_only = !whole_check;
    r.whole_check = whole_check;
    recorder.DeviceWritten(device, sent, r);
  };
  const auto newest = [&](RecordInfo& info, std::vector<uint8_t>& image) {
    std::vector<RecordInfo> history;
    ASSERT_TRUE(registry->History(252, ObjectNumber(252, before), history).ok());
    ASSERT_FALSE(history.empty());
    info = history.back();
    image.clear();
    if (!info.image_hash.empty()) {
      ASSERT_TRUE(registry->Image(info.image_hash, image).ok());
    }
  };
  RecordInfo info;
  std::vector<uint8_t> image;

  recorder.DeviceRead(device, before);
  write(false, O::Verified, true);
  newest(info, image);
  EXPECT_EQ(info.outcome, RecordOutcome::Unproven);
  EXPECT_EQ(info.message,
            "Конфигурация записана в УО (записано и проверено блоков: 1 из 10): изменённые "
            "блоки проверены, остальное не проверено. пропущено: [x]");
  write(true, O::Verified, false);
  newest(info, image);
  EXPECT_EQ(info.outcome, RecordOutcome::Holds);
  EXPECT_EQ(info.message, "Конфигурация в УО проверена полностью. пропущено: [x]");
  ASSERT_EQ(image.size(), 256u);
  EXPECT_EQ(image[0], before[0]);  // the device's own, as read before the write
  EXPECT_EQ(image[200], sent[200]);

  // Stopped by the next act: the changed blocks proven, the rest not.
  write(false, O::Verified, false);
  write(true, O::CheckStopped, false);
  newest(info, image);
  EXPECT_EQ(info.outcome, RecordOutcome::Unproven);
  EXPECT_NE(info.message.find("остальная конфигурация повторно не проверена"), std::string::npos)
      << info.message;

  // A check whose write was never recorded here (nor one said twice) adds nothing.
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(252, ObjectNumber(252, before), history).ok());
  const size_t count = history.size();
  write(true, O::Verified, false);
  ASSERT_TRUE(registry->History(252, ObjectNumber(252, before), history).ok());
  EXPECT_EQ(history.size(), count);
}

// The window's "Причина": the next write's records carry it, its whole check's too; the
// reads around it and the write after carry the run's own note.
TEST(RegistryRecorder, AWritesReasonGoesWithItsRecordsOnly) {
  testing::TempFolder dir;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "registry.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  RegistryRecorder recorder(*registry);
  recorder.SetContext({0, "Петров", ""});
  const DeviceRecord device{"COM3", 252, 12, "Ловар-Т2 Версия 2.2"};
  const ConfigImage image = SampleImage(252);
  const auto write = [&](bool whole_check) {
    WriteReport r;
    r.outcome = O::Verified;
    r.from = 100;
    r.end = ImageLength(252);
    r.model = 252;
    r.prior_read = true;
    r.blocks_only = !whole_check;
    r.whole_check = whole_check;
    recorder.DeviceWritten(device, image, r);
  };
  recorder.DeviceRead(device, image);
  recorder.SetWriteNote("новый ключ");
  write(false);
  write(true);
  recorder.DeviceRead(device, image);
  write(false);
  write(true);
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(252, ObjectNumber(252, image), history).ok());
  ASSERT_EQ(history.size(), 6u);
  const char* notes[] = {"", "новый ключ", "новый ключ", "", "", ""};
  for (size_t i = 0; i < history.size(); ++i) {
    EXPECT_EQ(history[i].note, notes[i]) << i;
    EXPECT_EQ(history[i].technician, "Петров") << i;
  }
}

}  // namespace
}  // namespace lovar
