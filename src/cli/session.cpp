#include "cli/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "model/config_image.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = 100ms;
// The no-answer question comes 1.0 to 1.1 s after a request; each OK waits as long again.
constexpr auto kQuestionPeriod = 1200ms;
// How long the reply to the frame in flight is waited for after Ctrl-C.
constexpr auto kInFlight = 1500ms;

std::chrono::milliseconds StallLimit(int retries) {
  return kQuestionPeriod * (retries + 1) + 2000ms;
}

const char* StageLabel(WriteStage stage) {
  switch (stage) {
    case WriteStage::Writing:
      return "Запись в УО";
    case WriteStage::Checking:
      return "Проверка записи";
    case WriteStage::Repairing:
      return "Исправление записи";
  }
  return "";
}

}  // namespace

Session::Session(EventLoop& loop, PortInterface& port, int retries, bool progress,
                 const std::atomic<bool>& interrupted)
    : loop_(loop),
      port_(port),
      engine_(port, image_, verified_),
      retries_(retries),
      stall_limit_(StallLimit(retries)),
      interrupted_(interrupted),
      progress_(progress) {
  verified_.Attach(engine_, image_);
  port_.OnReceive = [this](const TMessageDevice& m) { engine_.Cport1Receive(m); };
  timer_id_ = loop_.AddTimer(kTick, [this] { engine_.Timer1Timer(); });
}

Session::~Session() {
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
  EndProgress();
  std::fprintf(stderr, "%s, повтор %d из %d\n",
               engine_.StrayFramesSinceSend() > 0 ? "Прибор отвечает не на запрос"
                                                  : "Прибор не отвечает",
               asked_, retries_);
  return true;
}

void Session::SetProgressPosition(int position) {
  asked_ = 0;  // a reply came: the retries count again from zero
  if (!progress_ || maximum_ <= 0) return;
  constexpr int kWidth = 40;
  const int filled = std::clamp(position * kWidth / maximum_, 0, kWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %d/%d", stage_.c_str(), bar.c_str(), position, maximum_);
  progress_drawn_ = true;
}

void Session::WriteStageChanged(WriteStage stage) {
  EndProgress();
  stage_ = StageLabel(stage);
}

void Session::EndProgress() {
  if (!progress_drawn_) return;
  std::fputc('\n', stderr);
  progress_drawn_ = false;
}

Session::End Session::RunExchange(const std::function<bool()>& done,
                                  std::optional<std::chrono::milliseconds> limit) {
  abandoned_ = false;
  gave_up_ = false;
  const auto stop = [&] {
    return done() || abandoned_ || gave_up_ || !port_.IsOpen() || interrupted_.load();
  };
  const auto started = Clock::now();
  End end = End::Done;
  for (;;) {
    // Progress is a frame that answers a request; none for longer than the retries allow,
    // whatever the device sends meanwhile, and the exchange is given up.
    const uint64_t answered = engine_.AnsweredFrames();
    auto slice = stall_limit_;
    if (limit) {
      const auto left = *limit - std::chrono::duration_cast<std::chrono::milliseconds>(
                                     Clock::now() - started);
      if (left <= 0ms) {
        end = End::TimeUp;
        break;
      }
      slice = std::min(slice, left);
    }
    if (loop_.RunUntil(stop, slice)) break;
    if (engine_.AnsweredFrames() == answered) {
      end = End::Stalled;
      break;
    }
  }
  if (end == End::Done) {
    if (done()) {
      EndProgress();
      return End::Done;
    }
    if (interrupted_.load()) {
      // Nothing more is sent; the reply to the request on the wire still tells what the device
      // took.
      engine_.SendNoMore();
      const uint64_t answered = engine_.AnsweredFrames();
      if (engine_.RequestOutstanding())
        loop_.RunUntil(
            [&] { return engine_.AnsweredFrames() != answered || !port_.IsOpen(); }, kInFlight);
      end = End::Interrupted;
    } else if (!port_.IsOpen()) {
      end = End::LineLost;
    } else if (gave_up_ || engine_.StrayFramesSinceSend() > 0) {
      end = End::GaveUp;
    } else {
      end = End::NoAnswer;
    }
  }
  engine_.StopExchange();
  EndProgress();  // the reply in flight may have drawn the bar once more
  return end;
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

Outcome Session::Identify() {
  device_line_.clear();
  asked_ = 0;
  engine_.SendIdentification();
  const End end = RunExchange([&] { return !device_line_.empty(); });
  if (end != End::Done) return Failure(end, "Поиск прибора");
  asked_ = 0;
  // The 212 that follows the reply is answered by some frame; let that answer arrive so that it
  // cannot be taken for the answer to the next request. A silent device is not an error here.
  loop_.RunUntil([&] { return !engine_.RequestOutstanding() || !port_.IsOpen(); }, 1000ms);
  engine_.state().send_buffer[1] = 0;
  return {};
}

Outcome Session::ReadImage() {
  read_result_ = 0;
  asked_ = 0;
  stage_ = "Чтение из УО";
  SetProgressMaximum(engine_.ImageLength());
  engine_.ButtonReadClick();
  End end = RunExchange([&] { return read_result_ != 0; });
  if (end == End::Done && read_result_ != 1) end = End::LineLost;  // the port closed under it
  if (end == End::Done) return {};
  return Failure(end, "Чтение остановлено на смещении " + std::to_string(engine_.state().offset) +
                          " из " + std::to_string(engine_.ImageLength()));
}

Outcome Session::WriteImage(bool check) {
  finished_.reset();
  asked_ = 0;
  SetProgressMaximum(engine_.ImageLength());
  verified_.Start(check);
  const End end = RunExchange([&] { return finished_.has_value(); });
  if (!finished_) {
    using C = WriteReport::Cause;
    const C cause = end == End::Interrupted ? C::Interrupted
                    : end == End::LineLost  ? C::LineLost
                    : end == End::NoAnswer  ? C::NoAnswer
                                            : C::GaveUp;
    verified_.Stop(cause);
  }
  report_ = *finished_;
  using O = WriteReport::Outcome;
  Status status = Status::Ok;
  switch (report_.outcome) {
    case O::Verified:
    case O::Unchecked:
      return {Status::Ok, WriteReportText(report_)};
    case O::Differs:
    case O::CheckStopped:
      status = Status::VerifyMismatch;
      break;
    case O::WriteStopped:
      status = Status::WriteStopped;
      break;
  }
  if (report_.cause == WriteReport::Cause::Interrupted) status = Status::Interrupted;
  return {status, WriteReportText(report_)};
}

Outcome Session::LearnKey(std::chrono::seconds wait) {
  key_read_ = false;
  asked_ = 0;
  engine_.ButtonKeyClick();
  const End end = RunExchange([&] { return key_read_; }, wait);
  if (end == End::Done) return {};
  engine_.ButtonStopKeyClick();
  if (end == End::TimeUp) return {Status::KeyTimeout, "Ключ не поднесён к считывателю"};
  return Failure(end, "Чтение ключа");
}

}  // namespace lovar
