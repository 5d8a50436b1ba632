// The session's ends: when the operation running is over, how it ended, and what it says (the
// watch for an exchange that makes no progress, Ctrl-C, the answer to the 212 awaited).
#include <algorithm>

#include "model/image_normalize.h"
#include "protocol/answer_allowance.h"
#include "session/end_texts.h"
#include "session/session.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;

// The no-answer question comes 1.0 to 1.1 s after a request; each OK waits as long again.
constexpr auto kQuestionPeriod = 1200ms;
// How long the reply to the frame in flight is waited for after Ctrl-C.
constexpr auto kInFlight = 1500ms;
// How long the answer to the 212 after an identification is waited for, unattended.
constexpr auto kAnswerTo212 = 1000ms;
// Each of these waits the port's round trip longer on a network port (answer_allowance.h).

// How long an exchange may go without progress: every question the retries allow, and a margin.
std::chrono::milliseconds StallLimit(int retries, std::chrono::milliseconds allowance) {
  return (kQuestionPeriod + allowance) * (retries + 1) + 2000ms;
}

// A wait as the watch's ticks (kWatchTick), rounded up.
int Ticks(std::chrono::milliseconds wait) {
  return static_cast<int>((wait + kWatchTick - 1ms) / kWatchTick);
}

WriteReport::Cause WriteCause(EndCause cause) {
  switch (cause) {
    case EndCause::Interrupted:
    case EndCause::Cancelled:
    case EndCause::Closed:
      return WriteReport::Cause::Interrupted;
    case EndCause::PageChanged:
      return WriteReport::Cause::PageChanged;
    case EndCause::LineLost:
    case EndCause::PortClosed:
    case EndCause::NotOpen:
      return WriteReport::Cause::LineLost;
    case EndCause::NoAnswer:
    case EndCause::TimeUp:
      return WriteReport::Cause::NoAnswer;
    default:
      return WriteReport::Cause::GaveUp;
  }
}

EndCause CauseOf(const WriteReport& report) {
  switch (report.cause) {
    case WriteReport::Cause::None:
      return EndCause::None;
    case WriteReport::Cause::NoAnswer:
      return EndCause::NoAnswer;
    case WriteReport::Cause::GaveUp:
      return EndCause::GaveUp;
    case WriteReport::Cause::LineLost:
    case WriteReport::Cause::PortClosed:
      return EndCause::LineLost;
    case WriteReport::Cause::PageChanged:
      return EndCause::PageChanged;
    case WriteReport::Cause::Interrupted:
      return EndCause::Interrupted;
    case WriteReport::Cause::Refused:
      return EndCause::Refused;
    case WriteReport::Cause::Disagree:
      return EndCause::Disagree;
  }
  return EndCause::None;
}

}  // namespace

// "Конфигурация считана не полностью (72 из 256 байт)", the start of a read's failure.
std::string Session::ReadStoppedAt(const SessionEnd& end) {
  return end_texts::PartialRead(end.reached, end.length);
}

void Session::Settle(Operation operation) {
  if (finishing_) return;
  if (!run_) {
    // Given up at the question, taken up again by a late reply: it ends once more.
    run_ = Run{operation};
    run_->answered = engine_.ProgressFrames();
  } else if (run_->operation != operation) {
    return;  // no end of the operation running
  }
  Check();
}

bool Session::Done(Operation operation) const {
  switch (operation) {
    case Operation::Identify:
      // Unattended, the answer to the 212 is awaited for a while (AfterIdentify); the window
      // waits for it as for any reply.
      return identified_ && (Unattended() || !engine_.RequestOutstanding());
    case Operation::Read:
      return read_result_ == 1;
    case Operation::Write:
      return finished_.has_value();
    case Operation::LearnKey:
      return key_read_;
  }
  return false;
}

void Session::Check() {
  if (!run_ || finishing_) return;
  Run& r = *run_;
  switch (r.phase) {
    case Phase::Running:
      break;
    case Phase::AfterIdentify:
      // A silent device is not an error here; once answered, nothing can take the answer to
      // the 212 for the answer to the next request.
      if (engine_.RequestOutstanding() && port_.IsOpen() && r.phase_ticks > 0) return;
      engine_.ForgetRequest();
      return Finish(EndCause::None);
    case Phase::Draining:
      if (engine_.AnsweredFrames() == r.drained && port_.IsOpen() && r.phase_ticks > 0) return;
      return Finish(EndCause::Interrupted);
  }

  if (Done(r.operation)) {
    if (r.operation != Operation::Identify || !Unattended()) return Finish(EndCause::None);
    asked_ = 0;
    r.phase = Phase::AfterIdentify;
    r.phase_ticks = Ticks(kAnswerTo212 + Allowance(port_));
    return Check();
  }
  if (Unattended()) {
    if (InterruptedByUser()) {
      // Nothing more is sent; the reply to the request on the wire still tells what the device
      // took.
      engine_.SendNoMore();
      if (!engine_.RequestOutstanding()) return Finish(EndCause::Interrupted);
      r.phase = Phase::Draining;
      r.phase_ticks = Ticks(kInFlight + Allowance(port_));
      r.drained = engine_.AnsweredFrames();
      return;
    }
    if (!port_.IsOpen()) return Finish(EndCause::LineLost);
  }
  if (stopped_) {
    switch (*stopped_) {
      case StopReason::LineLost:
        return Finish(EndCause::LineLost);
      case StopReason::GaveUp:
        return Finish(EndCause::GaveUp);
      case StopReason::Disagree:
        return Finish(EndCause::Disagree);
      case StopReason::Abandoned:
        // Unattended, a device that talked but never to the request gave up, not went silent.
        return Finish(Unattended() && engine_.Talking() ? EndCause::GaveUp : EndCause::NoAnswer);
    }
  }
  if (r.operation == Operation::Read && read_result_ == 2) return Finish(EndCause::PortClosed);
  if (r.deadline && Clock::now() >= *r.deadline) return Finish(EndCause::TimeUp);
  if (!Unattended()) return;
  // Progress is a frame that answers a request and moves the exchange on (a read reply
  // without data does not); none for longer than the retries allow, whatever the device sends
  // meanwhile, and the exchange is given up. Counted in the watch's ticks: a loop held by
  // other work (another device, a slow machine) makes no device look stalled.
  if (engine_.ProgressFrames() != r.answered) {
    r.answered = engine_.ProgressFrames();
    r.quiet_ticks = 0;
  } else if (r.quiet_ticks > Ticks(StallLimit(options_.retries, Allowance(port_)))) {
    return Finish(EndCause::Stalled);
  }
}

void Session::Finish(EndCause cause) {
  const Run run = *run_;
  run_.reset();
  finishing_ = true;
  if (Unattended() && cause != EndCause::None) {
    engine_.StopExchange();
    if (run.operation == Operation::LearnKey) engine_.ButtonStopKeyClick();
  }
  if (run.operation == Operation::Write && !finished_) verified_.Stop(WriteCause(cause));
  finishing_ = false;

  SessionEnd end;
  end.operation = run.operation;
  end.cause = cause;
  end.reached = engine_.state().offset;
  end.length = ImageLength();
  switch (run.operation) {
    case Operation::Identify:
      end.outcome = Failure(cause, std::string(end_texts::kIdentify));
      break;
    case Operation::Read:
      FinishRead(end);
      break;
    case Operation::Write:
      FinishWrite(end);
      break;
    case Operation::LearnKey:
      end.outcome = cause == EndCause::TimeUp
                        ? Outcome{Status::KeyTimeout, "Ключ не поднесён к считывателю"}
                        : Failure(cause, std::string(end_texts::kKeyRead));
      break;
  }
  read_result_ = 0;
  key_read_ = false;
  stopped_.reset();
  finished_.reset();
  record_.reset();
  if (end.cause == EndCause::LineLost || end.cause == EndCause::PortClosed) device_holds_.reset();
  observer_.Ended(end);
  if (behind_due_) StartWholeCheck();
}

void Session::FinishRead(SessionEnd& end) {
  const bool complete = end.cause == EndCause::None;
  end.display = read_result_ != 0 && read_display_;
  coverage_.Read(end.reached);
  reading_ = false;
  if (complete) {
    // The device's bytes as read, before any correction.
    if (recorder_ != nullptr) {
      end.record = recorder_->DeviceRead(Record(), image_);
      recorded_ = end.record->ok;
    }
    device_holds_ = image_;  // before the window's corrections: those are to be written
    if (options_.normalize) NormalizeImage(DeviceModel(), image_);
    baselines_.DeviceHolds(image_);
  } else {
    baselines_.LetGo(image_);  // what the owner agreed to replace is half replaced
  }
  history_.Reset(image_);
  agreed_loss_.reset();
  end.outcome = Failure(end.cause, ReadStoppedAt(end));
}

void Session::FinishWrite(SessionEnd& end) {
  WriteReport report = *finished_;
  using C = WriteReport::Cause;
  // A port found closed at a step's start was closed by the line itself (a hang-up): said so.
  if (report.cause == C::PortClosed && port_.LastError() != LinkError::None)
    report.cause = C::LineLost;
  // Ctrl-C or SIGTERM while a request waited for its resend ends the wait: the user's stop, not
  // the device's silence.
  if ((report.cause == C::NoAnswer || report.cause == C::GaveUp) &&
      (end.cause == EndCause::Interrupted || (Unattended() && InterruptedByUser())))
    report.cause = C::Interrupted;
  using O = WriteReport::Outcome;
  if (report.ok() && !WholeCheckDue(report))
    baselines_.DeviceWritten(verified_.Sent(), report.from, report.end);
  else if (!report.ok() && report.outcome != O::NotStarted && report.outcome != O::Stale)
    baselines_.DeviceUnknown();  // it may hold a mix
  KnowWritten(report);
  if (report.outcome == O::Stale) end.readback_record = KnowStale();
  // A write that never began sent nothing: the image it was to write names the site it was for.
  // One that found another configuration in the device: what the device holds is what was read
  // back.
  if (recorder_ != nullptr)
    recorder_->DeviceWritten(Record(),
                             report.outcome == O::NotStarted ? image_
                             : report.outcome == O::Stale    ? verified_.ReadBackImage()
                                                             : verified_.Sent(),
                             report);
  if (end.cause == EndCause::None) end.cause = CauseOf(report);
  end.reached = report.stopped_at;
  end.report = report;
  end.record = record_;

  Status status = Status::Ok;
  switch (report.outcome) {
    case O::Verified:
    case O::Unchecked:
      break;
    case O::Differs:
    case O::CheckStopped:
    case O::Stale:
      status = Status::VerifyMismatch;
      break;
    case O::WriteStopped:
      status = Status::WriteStopped;
      break;
    case O::NotStarted:
      switch (report.cause) {
        case WriteReport::Cause::Refused:
          end.outcome = {Status::FileError, end_texts::WriteArchiveRefused(
                                                record_ ? record_->message : std::string())};
          return;
        case WriteReport::Cause::NoAnswer:
          status = Status::NoAnswer;
          break;
        case WriteReport::Cause::GaveUp:
        case WriteReport::Cause::Disagree:
          status = Status::GaveUp;
          break;
        default:
          status = Status::LineLost;
          break;
      }
      break;
  }
  if (report.cause == WriteReport::Cause::Interrupted) status = Status::Interrupted;
  end.outcome = {status, WriteReportText(report)};
}

Outcome Session::Failure(EndCause cause, const std::string& what) const {
  switch (cause) {
    case EndCause::None:
      return {};
    case EndCause::Interrupted:
    case EndCause::Cancelled:
    case EndCause::Closed:
    case EndCause::Declined:
    case EndCause::CheckGoesOn:
      return {Status::Interrupted, what + ": прервано пользователем"};
    case EndCause::PageChanged:
      return {Status::Interrupted, what + ": остановлено сменой страницы"};
    case EndCause::NotOpen:
    case EndCause::PortClosed:
    case EndCause::LineLost: {
      // A port closed under a read with no fault of the line was closed, not lost.
      if (cause == EndCause::PortClosed && port_.LastError() == LinkError::None)
        return {Status::LineLost, what + ": порт закрыт"};
      const LinkError error =
          port_.LastError() == LinkError::None ? LinkError::HungUp : port_.LastError();
      return {Status::LineLost, what + ": " + std::string(ErrorText(error))};
    }
    case EndCause::GaveUp:
      return {Status::GaveUp, what + ": прибор отвечает, но не на запросы"};
    case EndCause::Stalled:
      return {Status::GaveUp, what + ": обмен не продвигается"};
    case EndCause::Disagree:
      return {Status::GaveUp, what + ": ответы прибора на смещении " +
                                  std::to_string(engine_.DisagreedAt()) + " расходятся"};
    case EndCause::NoAnswer:
    case EndCause::TimeUp:
      return {Status::NoAnswer, what + ": Прибор не отвечает"};
    case EndCause::NotWritable:
    case EndCause::Refused:
      return {Status::FileError, what};
    case EndCause::WrongModel:
      return {Status::WrongModel, what};
    case EndCause::CheckErrors:
      return {Status::CheckErrors, what};
  }
  return {};
}

}  // namespace lovar
