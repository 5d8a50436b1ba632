#include "cli/session.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "model/config_image.h"
#include "protocol/answer_allowance.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = 100ms;
// The no-answer question comes 1.0 to 1.1 s after a request; each OK waits as long again.
constexpr auto kQuestionPeriod = 1200ms;
// How long the reply to the frame in flight is waited for after Ctrl-C.
constexpr auto kInFlight = 1500ms;
// How long the answer to the 212 after an identification is waited for.
constexpr auto kAnswerTo212 = 1000ms;
// Each of these waits the port's round trip longer on a network port (answer_allowance.h).

// How long an exchange may go without progress: every question the retries allow, and a margin.
std::chrono::milliseconds StallLimit(int retries, std::chrono::milliseconds allowance) {
  return (kQuestionPeriod + allowance) * (retries + 1) + 2000ms;
}

const char* StageLabel(WriteStage stage) {
  switch (stage) {
    case WriteStage::ReadingPrior:
      return "Чтение из УО перед записью";
    case WriteStage::Writing:
      return "Запись в УО";
    case WriteStage::Checking:
      return "Проверка записи";
    case WriteStage::Repairing:
      return "Исправление записи";
  }
  return "";
}

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

struct Session::Step {
  enum class Phase {
    Running,
    AfterIdentify,  // the device line came; the answer to the 212 is awaited
    Draining,       // interrupted: the reply to the frame in flight is awaited
  };
  Kind kind;
  std::function<bool()> done;
  Done on_end;
  std::optional<Clock::time_point> deadline;  // the whole step's limit
  Phase phase = Phase::Running;
  Clock::time_point phase_until{};  // AfterIdentify, Draining: how long to wait
  uint64_t answered = 0;            // the engine's answered frames when last seen to move
  Clock::time_point progressed{};   // when they last moved
};

Session::Session(EventLoop& loop, PortInterface& port, int retries, SessionWatcher& watcher,
                 const std::atomic<bool>& interrupted)
    : Session(loop, port, retries, nullptr, &watcher, interrupted) {}

Session::Session(EventLoop& loop, PortInterface& port, int retries, bool progress,
                 const std::atomic<bool>& interrupted)
    : Session(loop, port, retries, StderrBarFor(progress), nullptr, interrupted) {}

std::unique_ptr<SessionWatcher> Session::StderrBarFor(bool progress) {
  return std::make_unique<StderrBar>(progress);
}

Session::Session(EventLoop& loop, PortInterface& port, int retries,
                 std::unique_ptr<SessionWatcher> own, SessionWatcher* watcher,
                 const std::atomic<bool>& interrupted)
    : loop_(loop),
      port_(port),
      own_watcher_(std::move(own)),
      watcher_(watcher != nullptr ? *watcher : *own_watcher_),
      engine_(port, image_, verified_),
      retries_(retries),
      interrupted_(interrupted) {
  verified_.Attach(engine_, image_);
  port_.OnReceive = [this](const TMessageDevice& m) {
    engine_.Cport1Receive(m);
    Check();
  };
  timer_id_ = loop_.AddTimer(kTick, [this] {
    engine_.Timer1Timer();
    Check();
  });
}

Session::~Session() {
  alive_.reset();
  engine_.StopExchange();
  loop_.RemoveTimer(timer_id_);
  port_.CloseDevice();  // also clears the tty's exclusive mode
  port_.OnReceive = nullptr;
}

Outcome Session::Open(const std::string& port_name) {
  port_.SetNameDevice(port_name);
  if (!port_.OpenDevice())
    return {Status::PortError, port_name + ": " + std::string(ErrorText(port_.LastError()))};
  port_.RaiseRtsDtr();
  engine_.SetButtonsEnabled(true);  // as the search window does once the port is open
  return {};
}

bool Session::AskContinue() {
  if (interrupted_.load() || asked_ >= retries_) return false;
  ++asked_;
  watcher_.Retry(engine_.StrayFramesSinceSend() > 0, asked_, retries_);
  return true;
}

void Session::SetProgressPosition(int position) {
  asked_ = 0;  // a reply came: the retries count again from zero
  watcher_.Progress(position, maximum_);
}

void Session::WriteStageChanged(WriteStage stage) {
  watcher_.Stage(StageLabel(stage));
}

bool Session::PriorImageRead(const ConfigImage& prior) {
  prior_refusal_.clear();
  return !prior_ || prior_(prior, prior_refusal_);
}

void Session::Begin(Kind kind, std::function<bool()> done, Done on_end,
                    std::optional<std::chrono::milliseconds> limit) {
  abandoned_ = false;
  gave_up_ = false;
  step_ = std::make_unique<Step>();
  step_->kind = kind;
  step_->done = std::move(done);
  step_->on_end = std::move(on_end);
  step_->answered = engine_.AnsweredFrames();
  step_->progressed = Clock::now();
  if (limit) step_->deadline = step_->progressed + *limit;
}

void Session::Check() {
  if (!step_) return;
  Step& s = *step_;
  const auto now = Clock::now();
  switch (s.phase) {
    case Step::Phase::Running:
      break;
    case Step::Phase::AfterIdentify:
      // A silent device is not an error here; once answered, nothing can take the answer to
      // the 212 for the answer to the next request.
      if (engine_.RequestOutstanding() && port_.IsOpen() && now < s.phase_until) return;
      engine_.state().send_buffer[1] = 0;
      return Finish(End::Done);
    case Step::Phase::Draining:
      if (engine_.AnsweredFrames() == s.answered && port_.IsOpen() && now < s.phase_until) return;
      return Finish(End::Interrupted);
  }

  if (s.done()) {
    if (s.kind != Kind::Identify) return Finish(End::Done);
    asked_ = 0;
    s.phase = Step::Phase::AfterIdentify;
    s.phase_until = now + kAnswerTo212 + Allowance(port_);
    return Check();
  }
  if (interrupted_.load()) {
    // Nothing more is sent; the reply to the request on the wire still tells what the device
    // took.
    engine_.SendNoMore();
    if (!engine_.RequestOutstanding()) return Finish(End::Interrupted);
    s.phase = Step::Phase::Draining;
    s.phase_until = now + kInFlight + Allowance(port_);
    s.answered = engine_.AnsweredFrames();
    return;
  }
  if (!port_.IsOpen()) return Finish(End::LineLost);
  if (abandoned_ || gave_up_)
    return Finish(gave_up_ || engine_.StrayFramesSinceSend() > 0 ? End::GaveUp : End::NoAnswer);
  if (s.deadline && now >= *s.deadline) return Finish(End::TimeUp);
  // Progress is a frame that answers a request; none for longer than the retries allow,
  // whatever the device sends meanwhile, and the exchange is given up.
  if (engine_.AnsweredFrames() != s.answered) {
    s.answered = engine_.AnsweredFrames();
    s.progressed = now;
  } else if (now - s.progressed > StallLimit(retries_, Allowance(port_))) {
    return Finish(End::Stalled);
  }
}

void Session::Finish(End end) {
  const std::unique_ptr<Step> step = std::move(step_);
  if (end != End::Done) engine_.StopExchange();
  watcher_.StepEnded();
  const Outcome out = Result(step->kind, end);
  // From a task of its own: the caller may start the next step, or end the session.
  loop_.Post([alive = std::weak_ptr<bool>(alive_), done = step->on_end, out] {
    if (alive.lock()) done(out);
  });
}

Outcome Session::Result(Kind kind, End end) {
  switch (kind) {
    case Kind::Identify:
      return Failure(end, "Поиск прибора");
    case Kind::Read:
      if (end == End::Done && read_result_ != 1) end = End::LineLost;  // the port closed under it
      return Failure(end, "Чтение остановлено на смещении " +
                              std::to_string(engine_.state().offset) + " из " +
                              std::to_string(engine_.ImageLength()));
    case Kind::Key:
      if (end == End::Done) return {};
      engine_.ButtonStopKeyClick();
      if (end == End::TimeUp) return {Status::KeyTimeout, "Ключ не поднесён к считывателю"};
      return Failure(end, "Чтение ключа");
    case Kind::Write:
      break;
  }
  if (!finished_) {
    using C = WriteReport::Cause;
    const C cause = end == End::Interrupted ? C::Interrupted
                    : end == End::LineLost  ? C::LineLost
                    : end == End::NoAnswer  ? C::NoAnswer
                                            : C::GaveUp;
    verified_.Stop(cause);
  }
  WriteReport report = *finished_;
  // A port found closed at a step's start was closed by the line itself (a hang-up): said so.
  if (report.cause == WriteReport::Cause::PortClosed && port_.LastError() != LinkError::None)
    report.cause = WriteReport::Cause::LineLost;
  using O = WriteReport::Outcome;
  Status status = Status::Ok;
  switch (report.outcome) {
    case O::Verified:
    case O::Unchecked:
      return {Status::Ok, WriteReportText(report)};
    case O::Differs:
    case O::CheckStopped:
      status = Status::VerifyMismatch;
      break;
    case O::WriteStopped:
      status = Status::WriteStopped;
      break;
    case O::NotStarted:
      switch (report.cause) {
        case WriteReport::Cause::Refused:
          return {Status::FileError, prior_refusal_ + ". В УО ничего не записано"};
        case WriteReport::Cause::NoAnswer:
          status = Status::NoAnswer;
          break;
        case WriteReport::Cause::GaveUp:
          status = Status::GaveUp;
          break;
        default:
          status = Status::LineLost;
          break;
      }
      break;
  }
  if (report.cause == WriteReport::Cause::Interrupted) status = Status::Interrupted;
  return {status, WriteReportText(report)};
}

Outcome Session::Failure(End end, const std::string& what) const {
  switch (end) {
    case End::Done:
      return {};
    case End::Interrupted:
      return {Status::Interrupted, what + ": прервано пользователем"};
    case End::LineLost: {
      const LinkError error =
          port_.LastError() == LinkError::None ? LinkError::HungUp : port_.LastError();
      return {Status::LineLost, what + ": " + std::string(ErrorText(error))};
    }
    case End::GaveUp:
      return {Status::GaveUp, what + ": прибор отвечает, но не на запросы"};
    case End::Stalled:
      return {Status::GaveUp, what + ": обмен не продвигается"};
    case End::NoAnswer:
    case End::TimeUp:
      return {Status::NoAnswer, what + ": Прибор не отвечает"};
  }
  return {};
}

void Session::StartIdentify(Done done) {
  device_line_.clear();
  asked_ = 0;
  Begin(
      Kind::Identify, [this] { return !device_line_.empty(); }, std::move(done));
  engine_.SendIdentification();
  Check();
}

void Session::StartRead(Done done) {
  read_result_ = 0;
  asked_ = 0;
  watcher_.Stage("Чтение из УО");
  SetProgressMaximum(engine_.ImageLength());
  Begin(
      Kind::Read, [this] { return read_result_ != 0; }, std::move(done));
  engine_.ButtonReadClick();
  Check();
}

void Session::StartWrite(bool check, Done done, PriorImage prior) {
  finished_.reset();
  asked_ = 0;
  prior_ = std::move(prior);
  SetProgressMaximum(engine_.ImageLength());
  Begin(
      Kind::Write, [this] { return finished_.has_value(); }, std::move(done));
  verified_.Start(check, prior_ != nullptr);
  Check();
}

void Session::StartLearnKey(std::chrono::seconds wait, Done done) {
  key_read_ = false;
  asked_ = 0;
  Begin(
      Kind::Key, [this] { return key_read_; }, std::move(done), wait);
  engine_.ButtonKeyClick();
  Check();
}

Outcome Session::RunToEnd(const std::function<void(Done)>& start) {
  std::optional<Outcome> result;
  start([&result](const Outcome& out) { result = out; });
  // Every step ends by itself: by its end, the watch for progress, or Ctrl-C.
  while (!result) loop_.RunUntil([&] { return result.has_value(); }, std::chrono::hours(1));
  return *result;
}

Outcome Session::Identify() {
  return RunToEnd([this](Done done) { StartIdentify(std::move(done)); });
}

Outcome Session::ReadImage() {
  return RunToEnd([this](Done done) { StartRead(std::move(done)); });
}

Outcome Session::WriteImage(bool check, PriorImage prior) {
  return RunToEnd(
      [this, check, &prior](Done done) { StartWrite(check, std::move(done), std::move(prior)); });
}

Outcome Session::LearnKey(std::chrono::seconds wait) {
  return RunToEnd([this, wait](Done done) { StartLearnKey(wait, std::move(done)); });
}

}  // namespace lovar
