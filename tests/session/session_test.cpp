// The session's own seams, over the in-process simulator on the core's event loop: what a read
// records and corrects, when a write reads the device first and what it takes from it, the
// question and the owner's consent, another model.
#include "session/session.h"

#include <thread>

#include <gtest/gtest.h>

#include "files/config_file.h"
#include "model/catalog.h"
#include "serial/event_loop.h"
#include "sim/device_sim.h"
#include "sim/sim_port.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;

class Recording : public SessionObserver {
 public:
  bool AskContinue() override {
    ++asked;
    return continue_answer;
  }
  bool AskLoseChanges() override {
    ++lose_asked;
    return lose_answer;
  }
  bool AskWriteDespiteErrors(const std::vector<Finding>& findings) override {
    checked.push_back(findings);
    return write_despite_errors;
  }
  void Stage(SessionStage stage) override { stages.push_back(stage); }
  void Identified(const DeviceIdentity&, bool another) override { new_model = another; }
  void Ended(const SessionEnd& end) override { ends.push_back(end); }
  void WholeCheckEnded(const WriteReport& report, const std::string&,
                       const std::optional<KeptRecord>&) override {
    checks.push_back(report);
  }

  bool continue_answer = false;
  bool lose_answer = true;
  bool write_despite_errors = true;
  std::vector<std::vector<Finding>> checked;
  int asked = 0, lose_asked = 0;
  bool new_model = false;
  std::vector<SessionStage> stages;
  std::vector<SessionEnd> ends;
  std::vector<WriteReport> checks;
};

class KeptImages : public Recorder {
 public:
  KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) override {
    EXPECT_EQ(device.line, DeviceLine(device.model, device.firmware));
    kept.push_back(image);
    return {ok, {}, ok ? "" : "диск полон"};
  }
  bool ok = true;
  std::vector<ConfigImage> kept;
};

struct Bench {
  explicit Bench(int model, const ConfigImage& device = {}, SessionOptions options = {})
      : port(loop, SimConfig{.model = model},
             device == ConfigImage{} ? SampleImage(model) : device),
        session(port, seen, options) {
    session.SetRecorder(&recorder);
    tick = loop.AddTimer(100ms, [this] { session.Timer1Timer(); });
    bool open = false;
    session.OpenAsync("sim", [&open](bool ok) { open = ok; });
    EXPECT_TRUE(open);  // a simulated port opens inside the call
  }
  ~Bench() { loop.RemoveTimer(tick); }

  // Runs the loop until the operation's n-th end.
  const SessionEnd& Until(size_t n = 1) {
    EXPECT_TRUE(loop.RunUntil([&] { return seen.ends.size() >= n; }, 30s));
    return seen.ends.at(n - 1);
  }
  const SessionEnd& Run(const std::function<void()>& start) {
    const size_t n = seen.ends.size() + 1;
    start();
    return Until(n);
  }
  bool Connect() {
    return Run([&] { session.Identify(); }).cause == EndCause::None;
  }
  bool Read() {
    return Run([&] { session.Read(); }).cause == EndCause::None;
  }
  int ReadRequests() {
    int n = 0;
    for (const auto& frame : port.device().received_frames()) n += frame[6] == kReadRequest;
    return n;
  }

  EventLoop loop;
  Recording seen;
  KeptImages recorder;
  SimPort port;
  Session session;
  int tick = 0;
};

ConfigImage OutOfRange250() {
  ConfigImage image = SampleImage(250);
  image[101] = 9;     // loop 2: no such type
  image[118] = 7;     // output 1: no such mode
  image[127] = 0x5A;  // sent as 0 by every write
  return image;
}

TEST(SessionRead, RecordsTheDevicesBytesThenCorrectsThemBeforeTheHistoryStarts) {
  for (const bool window : {true, false}) {
    SCOPED_TRACE(window ? "window" : "unattended");
    Bench b(250, OutOfRange250(),
            window ? SessionOptions{.normalize = true} : SessionOptions{.retries = 3});
    ASSERT_TRUE(b.Connect());
    ASSERT_TRUE(b.Read());
    ASSERT_EQ(b.recorder.kept.size(), 1u);
    EXPECT_EQ(b.recorder.kept[0][118], 7);  // as the device holds it
    EXPECT_EQ(b.session.image()[101], window ? 0 : 9);
    EXPECT_EQ(b.session.image()[118], window ? 0 : 7);
    EXPECT_FALSE(b.session.history().CanUndo());  // a correction is no edit
    EXPECT_FALSE(b.session.Unsaved());
    EXPECT_TRUE(b.session.Writable());
  }
}

TEST(SessionWrite, BytesSentAsZeroAreNoEditAndTheDeviceIsNotReadAgain) {
  Bench b(250, OutOfRange250(), {.normalize = true});
  ASSERT_TRUE(b.Connect() && b.Read());
  b.session.image()[40] ^= 0xFF;  // an edit
  const int reads = b.ReadRequests();
  const SessionEnd& end = b.Run([&] { b.session.Write(); });
  ASSERT_TRUE(end.report && end.report->ok()) << end.outcome.message;
  EXPECT_EQ(b.seen.stages.front(), SessionStage::Reading);
  EXPECT_EQ(b.seen.stages[1], SessionStage::Writing);  // no read before: recorded at the read
  EXPECT_LT(b.ReadRequests() - reads, 32);             // the blocks written only
  EXPECT_EQ(b.session.image()[127], 0);
  EXPECT_FALSE(b.session.CaptureEdits());                      // the zeroing is no step
  EXPECT_EQ(b.session.history().NextUndo()->runs.size(), 1u);  // the edit
  EXPECT_TRUE(b.session.Unsaved());  // not proven until the whole check behind it ends
  ASSERT_TRUE(b.loop.RunUntil([&] { return !b.seen.checks.empty(); }, 30s));
  EXPECT_TRUE(b.seen.checks[0].ok());
  EXPECT_FALSE(b.session.Unsaved());
}

TEST(SessionWrite, AnImageWithErrorsIsWrittenOnlyWhenTheOwnerLetsIt) {
  ConfigImage silent = SampleImage(251);  // no direction with a number: it reports to nobody
  std::string why;
  for (int n = 1; n <= 5; ++n)
    ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "direction" + std::to_string(n) + ".phone"),
                               silent, "", why));
  Bench b(251, silent);
  ASSERT_TRUE(b.Connect() && b.Read());
  EXPECT_TRUE(b.seen.checked.empty());  // a read asks nothing
  b.seen.write_despite_errors = false;
  const SessionEnd refused = b.Run([&] { b.session.Write(); });
  EXPECT_EQ(refused.cause, EndCause::CheckErrors);
  EXPECT_EQ(refused.outcome.status, Status::CheckErrors);
  ASSERT_EQ(b.seen.checked.size(), 1u);
  EXPECT_EQ(b.seen.checked[0].front().rule, "no-reporting-direction");
  EXPECT_TRUE(b.port.device().writes().empty());

  b.seen.write_despite_errors = true;
  const SessionEnd& written = b.Run([&] { b.session.Write(); });
  EXPECT_TRUE(written.report && written.report->ok()) << written.outcome.message;
  EXPECT_EQ(b.seen.checked.size(), 2u);
}

// Model 251: a file holds 2048 bytes; the rest comes from THIS device, read just before the
// write, which also keeps what the write replaces. A record that fails touches nothing.
TEST(SessionWrite, AFileIsCompletedFromTheDeviceReadFirstAndNothingIsWrittenUnrecorded) {
  for (const bool recorded : {true, false}) {
    SCOPED_TRACE(recorded ? "recorded" : "record failed");
    ConfigImage device = SampleImage(251);
    device[3000] = 0x3C;  // a key of this device's
    Bench b(251, device);
    b.recorder.ok = recorded;
    ASSERT_TRUE(b.Connect());
    ConfigImage file = SampleImage(251);
    file[10] ^= 0x0F;
    file[3000] = 0x77;  // beyond the file: never written
    const std::string path = ::testing::TempDir() + "/session-251.dat";
    ASSERT_TRUE(SaveConfigFile(path, 251, file).ok());
    ASSERT_TRUE(b.session.LoadFile(path, false).result.ok());
    ASSERT_FALSE(b.session.Whole());
    ASSERT_TRUE(b.session.Writable());
    const SessionEnd& end = b.Run([&] { b.session.Write(); });
    ASSERT_EQ(b.recorder.kept.size(), 1u);
    EXPECT_EQ(b.recorder.kept[0][3000], 0x3C);
    EXPECT_EQ(b.seen.stages.front(), SessionStage::ReadingPrior);
    if (!recorded) {
      EXPECT_EQ(end.cause, EndCause::Refused);
      EXPECT_EQ(end.outcome.status, Status::FileError);
      EXPECT_NE(end.outcome.message.find("диск полон"), std::string::npos);
      EXPECT_TRUE(b.port.device().writes().empty());
      continue;
    }
    ASSERT_TRUE(end.outcome.ok()) << end.outcome.message;
    EXPECT_EQ(b.port.device().image()[10], file[10]);
    EXPECT_EQ(b.port.device().image()[3000], 0x3C);
    EXPECT_EQ(b.session.image()[3000], 0x3C);
    EXPECT_TRUE(b.session.Whole());
    EXPECT_FALSE(b.session.history().CanUndo());  // the device's bytes are no edit
  }
}

// What a write replaces is kept first, unless nothing records it (lovar-cli without --archive).
TEST(SessionWrite, AWholeFileIsWrittenAfterTheDeviceIsReadOnlyWhenARecorderKeepsIt) {
  for (const bool recorder : {true, false}) {
    SCOPED_TRACE(recorder ? "recorder" : "none");
    Bench b(250);
    if (!recorder) b.session.SetRecorder(nullptr);
    ASSERT_TRUE(b.Connect());
    const std::string path = ::testing::TempDir() + "/session-whole.dat";
    ASSERT_TRUE(SaveConfigFile(path, 250, OutOfRange250()).ok());
    ASSERT_TRUE(b.session.LoadFile(path, false).result.ok() && b.session.Whole());
    ASSERT_TRUE(b.Run([&] { b.session.Write(); }).outcome.ok());
    EXPECT_EQ(b.seen.stages.front() == SessionStage::ReadingPrior, recorder);
    EXPECT_EQ(b.recorder.kept.size(), recorder ? 1u : 0u);
  }
}

// The question is the owner's; a late reply after it was answered Cancel takes the read up
// again, and the read ends once more.
TEST(SessionQuestion, TheOwnerGivesUpAndALateReplyEndsTheReadAgain) {
  Bench b(250, {}, {.normalize = true});
  ASSERT_TRUE(b.Connect());
  b.port.device().AddFault({FaultKind::Delay, b.port.device().requests() + 5, 0, 1600});
  b.session.Read();
  const SessionEnd& given_up = b.Until(2);
  EXPECT_EQ(b.seen.asked, 1);
  EXPECT_EQ(given_up.cause, EndCause::NoAnswer);
  EXPECT_EQ(given_up.reached, 32);
  EXPECT_FALSE(b.session.Reading());
  const SessionEnd& resumed = b.Until(3);
  EXPECT_EQ(resumed.operation, Operation::Read);
  EXPECT_EQ(resumed.cause, EndCause::None);
  EXPECT_TRUE(b.session.Whole());
}

// Unattended: OK up to the retries, then given up and the exchange stopped.
TEST(SessionQuestion, UnattendedRetriesThenNoAnswer) {
  Bench b(252, {}, {.retries = 1});
  ASSERT_TRUE(b.Connect());
  b.port.device().AddFault({FaultKind::Drop, b.port.device().requests() + 3, 1});
  const SessionEnd& end = b.Run([&] { b.session.Read(); });
  EXPECT_EQ(b.seen.asked, 0);
  EXPECT_EQ(end.outcome.status, Status::NoAnswer);
  EXPECT_EQ(end.outcome.message,
            "Конфигурация считана не полностью (16 из 256 байт): Прибор не отвечает");
  EXPECT_TRUE(b.session.engine().state().stop);
}

TEST(SessionLoad, ChangesKeptNowhereAreReplacedOnlyWithTheOwnersConsent) {
  Bench b(250, {}, {.normalize = true});
  ASSERT_TRUE(b.Connect() && b.Read());
  b.session.image()[40] ^= 0xFF;
  const std::string path = ::testing::TempDir() + "/session-250.dat";
  ASSERT_TRUE(SaveConfigFile(path, 250, OutOfRange250()).ok());
  b.seen.lose_answer = false;
  const ConfigImage edited = b.session.image();
  EXPECT_TRUE(b.session.LoadFile(path, false).declined);
  EXPECT_TRUE(b.session.image() == edited);
  EXPECT_FALSE(b.Read());  // nor read over
  EXPECT_EQ(b.seen.ends.back().cause, EndCause::Declined);
  b.seen.lose_answer = true;
  ASSERT_TRUE(b.session.LoadFile(path, false).result.ok());
  EXPECT_EQ(b.seen.lose_asked, 3);
  EXPECT_EQ(b.session.image()[118], 0);  // corrected as a read is
  EXPECT_FALSE(b.session.Unsaved());
}

TEST(SessionIdentify, AnotherModelLeavesNothingToWrite) {
  Bench b(250);
  ASSERT_TRUE(b.Connect() && b.Read());
  b.port.device() = DeviceSim(SimConfig{.model = 251});
  ASSERT_TRUE(b.Connect());
  EXPECT_TRUE(b.seen.new_model);
  EXPECT_FALSE(b.session.Writable());
  const SessionEnd& end = b.Run([&] { b.session.Write(); });
  EXPECT_EQ(end.cause, EndCause::NotWritable);
  EXPECT_EQ(end.outcome.message,
            "Конфигурация не считана из УО и не загружена из файла. Запись не начата, в УО "
            "ничего не записано");
  EXPECT_TRUE(b.port.device().writes().empty());
}

TEST(SessionIdentify, ASilentDeviceIsSaidAsTheSearchsEnd) {
  Bench b(252, {}, {.retries = 0});
  b.port.device().AddFault({FaultKind::Drop, b.port.device().requests() + 1, 1});
  const SessionEnd& end = b.Run([&] { b.session.Identify(); });
  EXPECT_EQ(end.cause, EndCause::NoAnswer);
  EXPECT_EQ(end.outcome.message, "Поиск прибора: Прибор не отвечает");
}

// Unattended, the stall watch measures the exchange: a loop held by other work (another row, a
// record, a loaded machine) for longer than the watch's limit gives no device up, and the
// answers that waited meanwhile count before any tick.
TEST(SessionQuestion, ALoopHeldByOtherWorkGivesNoDeviceUp) {
  Bench b(250, {}, {.retries = 0});
  ASSERT_TRUE(b.Connect());
  int held = 0;
  b.session.Read();
  // Held twice in the middle of the read, each time past the limit (3.2 s with no retries).
  std::function<void()> hold = [&] {
    std::this_thread::sleep_for(3500ms);
    if (++held < 2) b.loop.Post(hold);
  };
  b.loop.Post(hold);
  const SessionEnd& end = b.Until(2);
  EXPECT_EQ(end.cause, EndCause::None) << end.outcome.message;
  EXPECT_EQ(held, 2);
  EXPECT_TRUE(b.session.Whole());
}

}  // namespace
}  // namespace lovar
