#include "cli/batch_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/cli_recording.h"
#include "files/config_file.h"
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

// What the devices share: the plan, the options, where results go.
struct Batch {
  EventLoop& loop;
  const BatchPlan& plan;
  const BatchOptions& options;
  const std::atomic<bool>& interrupted;
  BatchDisplay& display;
  Recorder* recorder;  // the archive and the registry, or null
  BatchResults& results;
  FindingGroups device_notes;
};

const CheckGate& GateOf(const BatchOptions& options) {
  static const CheckGate kNone;
  return options.checks != nullptr ? *options.checks : kNone;
}

class Device : private SessionWatcher {
 public:
  // ended: called once the device has ended (from its own calls: the owner destroys it later).
  Device(Batch& batch, size_t index, std::function<void()> ended)
      : batch_(batch),
        index_(index),
        row_(batch.plan.rows[index]),
        ended_(std::move(ended)),
        port_(std::make_unique<TCport>(batch.loop)) {
    line_ = batch_.display.Add(row_.port, row_.object_number);
    ConfigureLikeTheMainWindow(*port_);
    session_ = std::make_unique<SessionRunner>(batch.loop, *port_, batch.options.retries,
                                               static_cast<SessionWatcher&>(*this),
                                               batch.interrupted, batch.recorder);
    session_->SetCheckGate(batch.options.checks);
  }

  void Start() {
    started_ = Clock::now();
    batch_.display.Phase(line_, "Опознание");
    // Every row's open is started and the batch goes on: a server that never answers holds
    // its own row only.
    session_->StartOpen(row_.port, [this](const Outcome& out) {
      if (!out.ok()) return End(out);
      if (Stopped()) return;
      session_->StartIdentify([this](const SessionEnd& end) { Identified(end.outcome); });
    });
  }

  bool Ended() const { return ended_flag_; }

 private:
  void Identified(const Outcome& out) {
    if (!out.ok()) return End(out);
    model_ = session_->model();
    device_line_ = session_->device_line();
    if (model_ != batch_.plan.model)
      return End({Status::WrongModel, "Неверный тип УО: прибор " + session_->device_line() +
                                          ", а план для " + ModelNameAndCode(batch_.plan.model)});
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
    device_now_ = session_->image();
    // Over what the device holds: a model 251 template has only the first 2048 bytes.
    std::string why;
    if (!ApplyPlanRow(batch_.plan, row_, session_->image(), why))
      return End({Status::FileError, why + ". В УО ничего не записано"});
    // Judged as it will be written: the device's own keys, its firmware.
    const CheckGate& gate = GateOf(batch_.options);
    const DeviceJudgement judged = JudgeRowDevice(batch_.plan, row_, session_->image(),
                                                  session_->session().FirmwareVersion(), gate);
    std::string notes;
    for (const Finding& f : judged.added) {
      const std::string line = JudgedLine(f, gate);
      if (f.severity == Severity::Error && !gate.Allows(f)) continue;  // in the refusal
      notes += (notes.empty() ? "" : "; ") + line;
      batch_.device_notes.Add(line, row_);
    }
    notes_ = notes;
    result_.notes = batch_.results.texts.Intern(notes);
    if (!judged.judged.ok())
      return End(CheckRefusal(judged.judged.blocking, "В УО ничего не записано"));
    if (Stopped()) return;
    if (batch_.options.registry != nullptr) batch_.options.registry->ReadIsPrior(row_.port);
    if (!judged.judged.let_pass.empty() && batch_.recorder != nullptr)
      batch_.recorder->NoteOverride(row_.port,
                                    OverrideText(judged.judged.let_pass, "--allow-check"));
    AwaitDrift();
  }

  // The read's comparison with its site, from the registry's thread, before the write: waited
  // for on the loop at most kDriftWait, the other devices going on meanwhile.
  void AwaitDrift() {
    CliRecording* recording = batch_.options.drift;
    std::weak_ptr<bool> alive = alive_;
    EventLoop& loop = batch_.loop;
    const auto given = [alive, &loop, this](const DriftFound& found) {
      loop.Post([alive, this, found] {
        if (!alive.expired()) Drifted(found);
      });
    };
    if (recording == nullptr || !recording->WhenDrift(row_.port, given)) return Write();
    drift_timer_ = loop.AddTimer(CliRecording::kDriftWait, [this, recording] {
      recording->ForgetDrift(row_.port);
      DriftFound late;
      late.port = row_.port;
      late.why = "реестр не ответил за " + std::to_string(CliRecording::kDriftWait.count()) + " с";
      Drifted(late);
    });
  }

  void Drifted(const DriftFound& found) {
    if (drift_decided_) return;
    drift_decided_ = true;
    if (drift_timer_ != 0) batch_.loop.RemoveTimer(drift_timer_);
    drift_timer_ = 0;
    if (const std::string text = DriftFoundText(found); !text.empty()) {
      notes_ += (notes_.empty() ? "" : "; ") + text;
      result_.notes = batch_.results.texts.Intern(notes_);
      batch_.display.Note(line_, text);
    }
    const std::string over = OverwrittenDrift(found, device_now_, session_->image());
    if (!over.empty() && !batch_.options.over_drift)
      return End({Status::OverDrift, OverDriftRefusal(over)});
    if (!over.empty()) {
      notes_ += (notes_.empty() ? "" : "; ") + OverDriftNote(over);
      result_.notes = batch_.results.texts.Intern(notes_);
    }
    if (Stopped()) return;
    Write();
  }

  void Write() {
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
    if (!batch_.interrupted.load()) return false;
    End({Status::Interrupted, "Прервано пользователем. В УО ничего не записано"});
    return true;
  }

  void End(const Outcome& out) {
    if (drift_timer_ != 0) batch_.loop.RemoveTimer(drift_timer_);
    drift_timer_ = 0;
    drift_decided_ = true;
    // A row that ended before its write is recorded for the object it was meant for.
    SiteRecorder* registry = batch_.options.registry;
    if (registry != nullptr && !out.ok() && !write_recorded_)
      registry->StepFailed({row_.port, model_ != 0 ? model_ : batch_.plan.model, 0, device_line_},
                           row_.object_number, out.message);
    result_.row = &row_;
    result_.model = static_cast<uint16_t>(model_);
    result_.status = out.status;
    result_.seconds = std::chrono::duration<float>(Clock::now() - started_).count();
    result_.ended = std::time(nullptr);
    batch_.results.SetMessage(result_, out.message);
    batch_.results.rows[index_] = result_;
    session_.reset();  // the port is closed and free at once
    ended_flag_ = true;
    char took[32];
    std::snprintf(took, sizeof took, " (%.1f с)", result_.seconds);
    batch_.display.Finished(line_, out.ok(), out.message + took);
    ended_();
  }

  // SessionWatcher.
  void Stage(const std::string& label) override { batch_.display.Phase(line_, label); }
  void Progress(int position, int maximum) override {
    batch_.display.Progress(line_, position, maximum);
  }
  void Retry(bool stray, int asked, int retries) override {
    batch_.display.Note(line_,
                        std::string(stray ? "прибор отвечает не на запрос" : "прибор не отвечает") +
                            ", повтор " + std::to_string(asked) + " из " + std::to_string(retries));
  }

  Batch& batch_;
  size_t index_;
  const PlanRow& row_;
  std::function<void()> ended_;
  std::unique_ptr<TCport> port_;
  std::unique_ptr<SessionRunner> session_;
  DeviceResult result_;
  int model_ = 0;
  int line_ = 0;
  Clock::time_point started_{};
  bool ended_flag_ = false;
  bool write_recorded_ = false;  // the write's end went to the recorder
  std::string device_line_;
  ConfigImage device_now_;  // as read, before the row's values
  std::string notes_;
  int drift_timer_ = 0;
  bool drift_decided_ = false;
  // Gone with the device, so that an answer posted to the loop finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

void BatchResults::SetMessage(DeviceResult& r, const std::string& message) {
  const std::string& port = r.row->port;
  r.port_first = !port.empty() && message.size() > port.size() + 2 &&
                 message.compare(0, port.size(), port) == 0 &&
                 message.compare(port.size(), 2, ": ") == 0;
  r.message = texts.Intern(r.port_first ? std::string_view(message).substr(port.size() + 2)
                                        : std::string_view(message));
}

BatchResults RunBatch(EventLoop& loop, const BatchPlan& plan, const BatchOptions& options,
                      const std::atomic<bool>& interrupted, BatchDisplay& display) {
  std::unique_ptr<ArchiveRecorder> archive;
  if (!options.archive.empty())
    archive = std::make_unique<ArchiveRecorder>(PathFromUtf8(options.archive));
  RecorderPair both(archive.get(), options.registry);
  BatchResults results;
  results.rows.resize(plan.rows.size());
  Batch batch{loop,        plan,    options,
              interrupted, display, archive || options.registry ? &both : nullptr,
              results,     {}};

  const size_t parallel = std::max<size_t>(options.parallel, 1);
  std::vector<std::unique_ptr<Device>> running;
  size_t next = 0;
  bool refill_posted = false;
  std::function<void()> refill;
  // A device that ends asks for its place to be given to the next row, from a task of its own:
  // it is destroyed there, never inside its own calls.
  const auto ended = [&] {
    if (refill_posted) return;
    refill_posted = true;
    loop.Post([&] { refill(); });
  };
  refill = [&] {
    refill_posted = false;
    std::erase_if(running, [](const std::unique_ptr<Device>& d) { return d->Ended(); });
    while (running.size() < parallel && next < plan.rows.size()) {
      if (interrupted.load()) {
        // Ctrl-C: the rows not begun never touch their devices.
        for (; next < plan.rows.size(); ++next) {
          DeviceResult& r = results.rows[next];
          r.row = &plan.rows[next];
          r.status = Status::Interrupted;
          r.ended = std::time(nullptr);
          r.message =
              results.texts.Intern("Прервано пользователем до начала. В УО ничего не записано");
        }
        break;
      }
      auto device = std::make_unique<Device>(batch, next++, ended);
      device->Start();
      // One whose port would not open ended at once: its place is free again.
      if (!device->Ended()) running.push_back(std::move(device));
    }
  };
  const int redraw = loop.AddTimer(kRedraw, [&display] { display.Refresh(); });
  display.Refresh();
  refill();
  // Each device ends by itself: its steps end, are given up, or stop at Ctrl-C.
  const auto all_ended = [&] { return next >= plan.rows.size() && running.empty(); };
  while (!loop.RunUntil(all_ended, std::chrono::hours(1))) {
  }
  loop.RemoveTimer(redraw);
  display.Close();
  results.device_notes = batch.device_notes.Lines();
  return results;
}

}  // namespace lovar
