#include "cli/session_runner.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "protocol/answer_allowance.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

// One device on the console: a progress bar on stderr when it is a terminal, and the retries
// said on lines of their own.
class StderrBar : public SessionWatcher {
 public:
  explicit StderrBar(bool draw) : draw_(draw) {}
  ~StderrBar() override { EndLine(); }

  void Stage(const std::string& label) override {
    EndLine();
    label_ = label;
  }
  void Progress(int position, int maximum) override {
    if (!draw_ || maximum <= 0) return;
    constexpr int kWidth = 40;
    const int filled = std::clamp(position * kWidth / maximum, 0, kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %d/%d", label_.c_str(), bar.c_str(), position, maximum);
    drawn_ = true;
  }
  void Retry(bool stray, int asked, int retries) override {
    EndLine();
    std::fprintf(stderr, "%s, повтор %d из %d\n",
                 stray ? "Прибор отвечает не на запрос" : "Прибор не отвечает", asked, retries);
  }
  void StepEnded() override { EndLine(); }

 private:
  void EndLine() {
    if (!drawn_) return;
    std::fputc('\n', stderr);
    drawn_ = false;
  }

  bool draw_;
  bool drawn_ = false;
  std::string label_;
};

}  // namespace

int Fail(const Outcome& out) {
  std::fprintf(stderr, "%s\n", out.message.c_str());
  return static_cast<int>(out.status);
}

int Fail(Status status, const std::string& message) {
  return Fail(Outcome{status, message});
}

void ConfigureLikeTheMainWindow(TCport& port) {
  port.SetBaudRate(9600);
  port.SetByteSize(8);
  port.SetParity(TParity::NO);
  port.SetStopBits(TStopBits::ONESTOPBIT);
  port.SetReadDevice(true);
  port.SetWaitEvent(0);
  port.SetWaitCountByte(1);
}

SessionRunner::SessionRunner(EventLoop& loop, PortInterface& port, int retries,
                             SessionWatcher& watcher, const std::atomic<bool>& interrupted,
                             Recorder* recorder)
    : SessionRunner(loop, port, retries, nullptr, &watcher, interrupted, recorder) {}

SessionRunner::SessionRunner(EventLoop& loop, PortInterface& port, int retries, bool progress,
                             const std::atomic<bool>& interrupted, Recorder* recorder)
    : SessionRunner(loop, port, retries, StderrBarFor(progress), nullptr, interrupted, recorder) {}

std::unique_ptr<SessionWatcher> SessionRunner::StderrBarFor(bool progress) {
  return std::make_unique<StderrBar>(progress);
}

SessionRunner::SessionRunner(EventLoop& loop, PortInterface& port, int retries,
                             std::unique_ptr<SessionWatcher> own, SessionWatcher* watcher,
                             const std::atomic<bool>& interrupted, Recorder* recorder)
    : loop_(loop),
      own_watcher_(std::move(own)),
      watcher_(watcher != nullptr ? *watcher : *own_watcher_),
      session_(port, *this, SessionOptions{std::max(retries, 0), &interrupted, false}) {
  session_.SetRecorder(recorder);
  timer_id_ = loop_.AddTimer(kWatchTick, [this] { session_.Timer1Timer(); });
}

void SessionRunner::SetCheckGate(const CheckGate* gate) {
  gate_ = gate;
  session_.SetCompanyRules(gate != nullptr ? gate->rules() : nullptr);
}

bool SessionRunner::AskWriteDespiteErrors(const std::vector<Finding>& findings) {
  static const CheckGate kNone;
  return (gate_ != nullptr ? *gate_ : kNone).Blocking(findings).empty();
}

SessionRunner::~SessionRunner() {
  alive_.reset();
  loop_.RemoveTimer(timer_id_);
}

void SessionRunner::StartOpen(const std::string& port_name, std::function<void(Outcome)> done) {
  // From a task of its own, as an operation's end: a local port opens at once, inside the call.
  session_.OpenAsync(port_name, [this, port_name, done = std::move(done)](bool open) {
    Outcome out;
    if (!open)
      out = {Status::PortError,
             port_name + ": " + std::string(ErrorText(session_.port().LastError()))};
    loop_.Post([alive = std::weak_ptr<bool>(alive_), done, out] {
      if (alive.lock()) done(out);
    });
  });
}

Outcome SessionRunner::Open(const std::string& port_name) {
  std::optional<Outcome> result;
  StartOpen(port_name, [&result](Outcome out) { result = std::move(out); });
  // A network port's connect ends by its own time-out.
  while (!result) loop_.RunUntil([&] { return result.has_value(); }, std::chrono::hours(1));
  return *result;
}

void SessionRunner::Ended(const SessionEnd& end) {
  watcher_.StepEnded();
  if (end.operation != operation_ || !done_) return;
  // From a task of its own: the caller may start the next operation, or end the runner.
  loop_.Post([alive = std::weak_ptr<bool>(alive_), done = std::exchange(done_, nullptr), end] {
    if (alive.lock()) done(end);
  });
}

void SessionRunner::StartIdentify(Done done) {
  operation_ = Operation::Identify;
  done_ = std::move(done);
  session_.Identify();
}

void SessionRunner::StartRead(Done done) {
  operation_ = Operation::Read;
  done_ = std::move(done);
  session_.Read();
}

void SessionRunner::StartWrite(bool check, Done done, bool whole) {
  operation_ = Operation::Write;
  done_ = std::move(done);
  session_.Write(check, whole);
}

void SessionRunner::StartLearnKey(std::chrono::seconds wait, Done done) {
  operation_ = Operation::LearnKey;
  done_ = std::move(done);
  session_.LearnKey(wait);
}

SessionEnd SessionRunner::RunToEnd(const std::function<void(Done)>& start) {
  std::optional<SessionEnd> result;
  start([&result](const SessionEnd& end) { result = end; });
  // Every operation ends by itself: by its end, the watch for progress, or Ctrl-C.
  while (!result) loop_.RunUntil([&] { return result.has_value(); }, std::chrono::hours(1));
  return *result;
}

Outcome SessionRunner::Identify() {
  return RunToEnd([this](Done done) { StartIdentify(std::move(done)); }).outcome;
}

SessionEnd SessionRunner::ReadImage() {
  return RunToEnd([this](Done done) { StartRead(std::move(done)); });
}

SessionEnd SessionRunner::WriteImage(bool check, bool whole) {
  return RunToEnd([this, check, whole](Done done) { StartWrite(check, std::move(done), whole); });
}

Outcome SessionRunner::LearnKey(std::chrono::seconds wait) {
  return RunToEnd([this, wait](Done done) { StartLearnKey(wait, std::move(done)); }).outcome;
}

}  // namespace lovar
