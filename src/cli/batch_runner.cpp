#include "cli/batch_runner.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "files/config_file.h"
#include "files/diff_report.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "serial/tcport.h"
#include "session/recorder.h"

namespace lovar {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often the lines on a terminal are drawn again.
constexpr auto kRedraw = 250ms;

class Device : private SessionWatcher {
 public:
  // recorder (may be null) keeps each device's image as read, before anything is written.
  Device(EventLoop& loop, const BatchPlan& plan, const PlanRow& row, const BatchOptions& options,
         const std::atomic<bool>& interrupted, BatchDisplay& display, Recorder* recorder,
         RegistryRecorder* registry)
      : plan_(plan),
        registry_(registry),
        interrupted_(interrupted),
        display_(display),
        port_(std::make_unique<TCport>(loop)) {
    result_.row = &row;
    line_ = display_.Add(row.port, row.object_number);
    ConfigureLikeTheMainWindow(*port_);
    session_ = std::make_unique<SessionRunner>(
        loop, *port_, options.retries, static_cast<SessionWatcher&>(*this), interrupted, recorder);
    session_->SetCheckGate(options.checks);
  }

  void Start() {
    started_ = Clock::now();
    display_.Phase(line_, "Опознание");
    if (Outcome out = session_->Open(result_.row->port); !out.ok()) return End(out);
    session_->StartIdentify([this](const SessionEnd& end) { Identified(end.outcome); });
  }

  bool Ended() const { return ended_; }
  const DeviceResult& result() const { return result_; }

 private:
  void Identified(const Outcome& out) {
    if (!out.ok()) return End(out);
    result_.model = session_->model();
    device_line_ = session_->device_line();
    if (result_.model != plan_.model)
      return End({Status::WrongModel, "Неверный тип УО: прибор " + session_->device_line() +
                                          ", а план для " + ModelNameAndCode(plan_.model)});
    if (Stopped()) return;
    session_->StartRead([this](const SessionEnd& read) { Read(read); });
  }

  void Read(const SessionEnd& read) {
    const Outcome& out = read.outcome;
    if (!out.ok()) return End({out.status, out.message + ". В УО ничего не записано"});
    // The device's image as read is kept before anything is written (the archive the windows
    // and read and write keep: named by time, model and object number, the newest kept).
    if (read.record && !read.record->ok)
      return End(
          {Status::FileError, "Архив: " + read.record->message + ". В УО ничего не записано"});
    // Over what the device holds: a model 251 template has only the first 2048 bytes.
    std::string why;
    if (!ApplyPlanRow(plan_, *result_.row, session_->image(), why))
      return End({Status::FileError, why + ". В УО ничего не записано"});
    if (Stopped()) return;
    session_->StartWrite(true, [this](const SessionEnd& written) {
      write_recorded_ = written.report.has_value();
      // Said from what the write did: one whose first block never went out changed nothing
      // (nor one that found another configuration before sending any).
      using O = WriteReport::Outcome;
      result_.write_began =
          written.report && written.report->outcome != O::NotStarted &&
          !(written.report->outcome == O::Stale && written.report->written_blocks == 0);
      End(written.outcome);
    });
  }

  // Ctrl-C between two steps: the next one does not begin.
  bool Stopped() {
    if (!interrupted_.load()) return false;
    End({Status::Interrupted, "Прервано пользователем. В УО ничего не записано"});
    return true;
  }

  void End(const Outcome& out) {
    // A row that ended before its write is recorded for the object it was meant for.
    if (registry_ != nullptr && !out.ok() && !write_recorded_)
      registry_->StepFailed(
          {result_.row->port, result_.model != 0 ? result_.model : plan_.model, 0, device_line_},
          result_.row->object_number, out.message);
    result_.outcome = out;
    result_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    result_.ended_at = NowText();
    session_.reset();  // the port is closed and free at once
    ended_ = true;
    char took[32];
    std::snprintf(took, sizeof took, " (%.1f с)", result_.seconds);
    display_.Finished(line_, out.ok(), out.message + took);
  }

  // SessionWatcher.
  void Stage(const std::string& label) override { display_.Phase(line_, label); }
  void Progress(int position, int maximum) override { display_.Progress(line_, position, maximum); }
  void Retry(bool stray, int asked, int retries) override {
    display_.Note(line_,
                  std::string(stray ? "прибор отвечает не на запрос" : "прибор не отвечает") +
                      ", повтор " + std::to_string(asked) + " из " + std::to_string(retries));
  }

  const BatchPlan& plan_;
  RegistryRecorder* registry_;
  const std::atomic<bool>& interrupted_;
  BatchDisplay& display_;
  std::unique_ptr<TCport> port_;
  std::unique_ptr<SessionRunner> session_;
  DeviceResult result_;
  int line_ = 0;
  Clock::time_point started_{};
  bool ended_ = false;
  bool write_recorded_ = false;  // the write's end went to the recorder
  std::string device_line_;
};

}  // namespace

std::vector<DeviceResult> RunBatch(EventLoop& loop, const BatchPlan& plan,
                                   const BatchOptions& options,
                                   const std::atomic<bool>& interrupted, BatchDisplay& display) {
  std::unique_ptr<ArchiveRecorder> archive;
  if (!options.archive.empty())
    archive = std::make_unique<ArchiveRecorder>(PathFromUtf8(options.archive));
  RecorderPair both(archive.get(), options.registry);
  std::vector<std::unique_ptr<Device>> devices;
  for (const PlanRow& row : plan.rows)
    devices.push_back(std::make_unique<Device>(loop, plan, row, options, interrupted, display,
                                               archive || options.registry ? &both : nullptr,
                                               options.registry));
  const int redraw = loop.AddTimer(kRedraw, [&display] { display.Refresh(); });
  display.Refresh();
  for (auto& device : devices) device->Start();
  const auto all_ended = [&] {
    for (const auto& device : devices)
      if (!device->Ended()) return false;
    return true;
  };
  // Each device ends by itself: its steps end, are given up, or stop at Ctrl-C.
  while (!loop.RunUntil(all_ended, std::chrono::hours(1))) {
  }
  loop.RemoveTimer(redraw);
  display.Close();
  std::vector<DeviceResult> results;
  for (const auto& device : devices) results.push_back(device->result());
  return results;
}

}  // namespace lovar
