#include "session/session.h"

#include <algorithm>

#include "model/image_normalize.h"
#include "protocol/answer_allowance.h"
#include "session/end_texts.h"

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

// The operation a request belongs to, for an end the engine reports after its operation ended
// (a late reply took it up again).
std::optional<Operation> OperationOf(uint8_t request) {
  switch (request) {
    case kReadRequest:
      return Operation::Read;
    case kKeyRequest:
      return Operation::LearnKey;
    case kIdentifyRequest:
    case kAfterIdentify:
      return Operation::Identify;
    default:
      return std::nullopt;
  }
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

// "Конфигурация считана не полностью (72 из 256 байт)", the start of a read's failure.
std::string ReadStoppedAt(const SessionEnd& end) {
  return end_texts::PartialRead(end.reached, end.length);
}

}  // namespace

const char* StageLabel(SessionStage stage) {
  switch (stage) {
    case SessionStage::Reading:
      return "Чтение из УО";
    case SessionStage::ReadingPrior:
      return "Чтение из УО перед записью";
    case SessionStage::Writing:
      return "Запись в УО";
    case SessionStage::Checking:
      return "Проверка записи";
    case SessionStage::Repairing:
      return "Исправление записи";
    case SessionStage::WholeCheck:
      return "Полная проверка";
  }
  return "";
}

Session::Session(PortInterface& port, SessionObserver& observer, SessionOptions options)
    : port_(port),
      observer_(observer),
      options_(options),
      engine_(port, image_, *this),
      verified_(engine_, image_, *this) {
  baselines_.LetGo(image_);  // nothing read yet: nothing to lose
  history_.Reset(image_);
  port_.OnReceive = [this](const TMessageDevice& message) {
    engine_.Cport1Receive(message);
    Check();
  };
}

Session::~Session() {
  engine_.StopExchange();
  port_.CloseDevice();  // no delivery comes after it; also clears a tty's exclusive mode
  port_.OnReceive = nullptr;
}

// ---- The port. ----

bool Session::Open(const std::string& name) {
  if (!port_.IsOpen()) {
    port_.SetNameDevice(name);
    if (port_.OpenDevice()) port_.RaiseRtsDtr();
    recorded_ = false;  // perhaps another device behind the same name
    device_holds_.reset();
  } else if (name != port_.NameDevice()) {
    port_.CloseDevice();
    engine_.SetButtonsEnabled(false);
    port_.SetNameDevice(name);
    port_.OpenDevice();
    recorded_ = false;
    device_holds_.reset();
  }
  if (port_.IsOpen()) engine_.SetButtonsEnabled(true);
  return port_.IsOpen();
}

void Session::OpenAsync(const std::string& name, std::function<void(bool open)> done) {
  if (port_.IsOpen() && name == port_.NameDevice()) {
    engine_.SetButtonsEnabled(true);
    done(true);
    return;
  }
  // As Open: RTS and DTR are raised on a port that was closed, not on a switch of names.
  const bool raise = !port_.IsOpen();
  if (!raise) {
    port_.CloseDevice();
    engine_.SetButtonsEnabled(false);
  }
  port_.SetNameDevice(name);
  recorded_ = false;  // perhaps another device behind the same name
  port_.OpenDeviceAsync([this, raise, done = std::move(done)](bool opened) {
    if (opened && raise) port_.RaiseRtsDtr();
    if (port_.IsOpen()) engine_.SetButtonsEnabled(true);
    done(port_.IsOpen());
  });
}

void Session::Close() {
  StopWholeCheck(WriteReport::Cause::Interrupted);
  device_holds_.reset();
  engine_.StopExchange();
  if (run_) Finish(EndCause::Closed);
  port_.CloseDevice();
}

void Session::Timer1Timer() {
  engine_.Timer1Timer();
  Check();
}

// ---- Operations. ----

bool Session::InterruptedByUser() const {
  return options_.interrupted != nullptr && options_.interrupted->load();
}

bool Session::Busy() const {
  return reading_ || (verified_.Running() && !behind_);
}

void Session::Begin(Operation operation, std::optional<std::chrono::milliseconds> limit) {
  run_ = Run{operation};
  run_->answered = engine_.ProgressFrames();
  run_->progressed = Clock::now();
  if (limit) run_->deadline = run_->progressed + *limit;
  asked_ = 0;
  read_result_ = 0;
  identified_ = false;
  key_read_ = false;
  stopped_.reset();
  finished_.reset();
  record_.reset();
}

void Session::Supersede() {
  StopWholeCheck(WriteReport::Cause::Interrupted);
  if (!run_) return;
  // An identification whose 212 is still unanswered is done: the device is known.
  Finish(run_->operation == Operation::Identify && identified_ ? EndCause::None
                                                               : EndCause::Cancelled);
}

void Session::Identify() {
  Supersede();
  if (!port_.IsOpen()) {
    SessionEnd end{Operation::Identify, EndCause::NotOpen,
                   Failure(EndCause::NotOpen, "Поиск прибора")};
    observer_.Ended(end);
    return;
  }
  Begin(Operation::Identify);
  observer_.Started(Operation::Identify);
  engine_.SendIdentification();
  Check();
}

bool Session::Read() {
  // The changes are in the device already; only the check behind them is outstanding: the
  // owner decides whether to stop it, and it goes on unless so.
  if (behind_) {
    if (!observer_.AskStopWholeCheck()) {
      observer_.Ended({Operation::Read,
                       EndCause::CheckGoesOn,
                       {Status::Interrupted, std::string(end_texts::kReadCheckGoesOn)}});
      return false;
    }
    CommitEdits();
    // What was written is in the device: nothing of it is lost by the read.
    if (image_ == verified_.Sent()) agreed_loss_ = image_;
  }
  Supersede();
  if (!port_.IsOpen()) {
    engine_.ButtonReadClick();  // the progress goes back to 0; nothing is sent
    SessionEnd end{Operation::Read, EndCause::NotOpen};
    end.length = ImageLength();
    end.outcome = Failure(EndCause::NotOpen, ReadStoppedAt(end));
    observer_.Ended(end);
    return true;
  }
  if (!MayLoseChanges()) {
    observer_.Ended({Operation::Read,
                     EndCause::Declined,
                     {Status::Interrupted, std::string(end_texts::kReadDeclined)}});
    return false;
  }
  // From its first reply on, the read overwrites the image from offset 0.
  reading_ = true;
  coverage_.Read(0);
  Begin(Operation::Read);
  observer_.Started(Operation::Read);
  observer_.Stage(SessionStage::Reading);
  engine_.ButtonReadClick();
  Check();
  return true;
}

void Session::Write(bool verify, bool whole) {
  Supersede();
  CommitEdits();
  const int model = DeviceModel();
  if (!Writable()) {
    const EndCause cause = IsKnownModel(model) ? EndCause::NotWritable : EndCause::WrongModel;
    SessionEnd end{Operation::Write, cause,
                   cause == EndCause::WrongModel
                       ? Outcome{Status::WrongModel, end_texts::WriteWrongModel(device_.line)}
                       : Outcome{Status::FileError, "Конфигурация считана не полностью"}};
    end.reached = coverage_.known();
    end.length = ImageLength();
    observer_.Ended(end);
    return;
  }
  if (!port_.IsOpen()) {
    // Nothing is sent: said as a write not begun, and why the port is closed.
    WriteReport report;
    report.outcome = WriteReport::Outcome::NotStarted;
    report.cause = port_.LastError() != LinkError::None ? WriteReport::Cause::LineLost
                                                        : WriteReport::Cause::PortClosed;
    report.model = model;
    report.from = report.stopped_at = Exchange::WriteStart(model);
    report.end = ImageLength();
    SessionEnd end{
        Operation::Write, EndCause::NotOpen, {Status::LineLost, WriteReportText(report)}};
    end.report = report;
    end.length = ImageLength();
    observer_.Ended(end);
    return;
  }
  // The check's errors are the owner's to let go: nothing is sent before it has answered.
  if (const std::vector<Finding> findings = CheckImage();
      CountFindings(findings).errors > 0 && !observer_.AskWriteDespiteErrors(findings)) {
    SessionEnd end{
        Operation::Write,
        EndCause::CheckErrors,
        {Status::CheckErrors, end_texts::WriteCheckRefused(CountsText(CountFindings(findings)))}};
    end.length = ImageLength();
    observer_.Ended(end);
    return;
  }
  Begin(Operation::Write);
  observer_.Started(Operation::Write);
  // The device is read first when the image lacks what only the device holds (a model 251
  // file's keys), or when what the write replaces is not recorded yet.
  const bool read_prior =
      !Whole() || (recorder_ != nullptr && recorder_->ReadsBeforeWrite() && !recorded_);
  StartWrite(verify, whole, read_prior, OwnEnd());
  Check();
}

// Where the image's own bytes end: what it holds, read first for the rest; within a whole
// image, the file's bytes when beyond them it holds just what the device was read to hold (a
// model 251 file loaded over a read: the keys are the device's, not the file's).
int Session::OwnEnd() const {
  if (!Whole()) return coverage_.known();
  const int own = coverage_.own();
  const int length = ImageLength();
  if (own >= length || !device_holds_ ||
      !std::equal(image_.bytes().begin() + own, image_.bytes().begin() + length,
                  device_holds_->bytes().begin() + own))
    return length;
  return own;
}

void Session::LearnKey(std::optional<std::chrono::milliseconds> limit) {
  Supersede();
  if (!port_.IsOpen() || !engine_.ButtonsEnabled()) {
    engine_.ButtonKeyClick();  // only clears the key shown
    observer_.Ended({Operation::LearnKey, port_.IsOpen() ? EndCause::Cancelled : EndCause::NotOpen,
                     Failure(EndCause::NotOpen, std::string(end_texts::kKeyRead))});
    return;
  }
  Begin(Operation::LearnKey, limit);
  observer_.Started(Operation::LearnKey);
  engine_.ButtonKeyClick();
  Check();
}

void Session::StopKey() {
  engine_.ButtonStopKeyClick();
  if (run_ && run_->operation == Operation::LearnKey) Finish(EndCause::Cancelled);
}

void Session::Cancel() {
  const bool writing = verified_.Running();
  if (!writing && !reading_) return;
  engine_.StopExchange();
  engine_.SetButtonsEnabled(true);
  if (run_)
    Finish(EndCause::Cancelled);
  else
    verified_.Stop(WriteReport::Cause::Interrupted);  // a write a late reply took up again
}

void Session::PageChanged() {
  if (behind_) return;  // a read-back behind a write, not a write: it goes on
  engine_.SetButtonsEnabled(true);
  engine_.StopExchange();
  // A write under way stops after the block last sent; the report says how far it got.
  if (run_)
    Finish(EndCause::PageChanged);
  else
    verified_.Stop(WriteReport::Cause::PageChanged);
}

// ---- The engine's events. ----

bool Session::AskContinue() {
  if (!Unattended()) return observer_.AskContinue();
  if (InterruptedByUser() || asked_ >= options_.retries) return false;
  ++asked_;
  observer_.Retry(engine_.Talking(), asked_, options_.retries);
  return true;
}

void Session::Progress(int position) {
  asked_ = 0;  // a reply came: the retries count again from zero
  observer_.Progress(position, ImageLength());
}

void Session::Identified(int model, int firmware) {
  identified_ = true;
  device_holds_.reset();
  device_ = {port_.NameDevice(), model, firmware, DeviceLine(model, firmware)};
  bool new_model = false;
  if (IsKnownModel(model)) {
    // Perhaps another device: its image is not recorded, and no bytes of the one before that
    // no file holds (a model 251 device's keys) may go into it.
    recorded_ = false;
    if (model != image_model_) {
      // The image belongs to another model: nothing of it is to be written, and its edits are
      // no steps of this model's fields.
      coverage_.Reset();
      history_.Reset(image_);
      image_model_ = model;
      new_model = true;
    } else {
      coverage_.NewDevice(FileImageLength(model));
    }
  }
  observer_.Identified(device_, new_model);
  Settle(Operation::Identify);
}

void Session::ReadEnded(bool complete, bool display) {
  read_result_ = complete ? 1 : 2;
  read_display_ = display;
  Settle(Operation::Read);
}

void Session::Stopped(uint8_t request, StopReason reason) {
  const std::optional<Operation> operation =
      run_ ? std::optional<Operation>(run_->operation) : OperationOf(request);
  if (!operation) {
    if (reason == StopReason::LineLost) {
      device_holds_.reset();
      observer_.Disconnected();
    }
    return;
  }
  stopped_ = reason;
  Settle(*operation);
}

void Session::KeyRead() {
  observer_.KeyRead();
  key_read_ = true;
  Settle(Operation::LearnKey);
}

void Session::WriteStageChanged(WriteStage stage) {
  // Behind a write, a repair is part of the whole check: its end says what was repaired.
  if (behind_) return observer_.Stage(SessionStage::WholeCheck);
  switch (stage) {
    case WriteStage::ReadingPrior:
      observer_.Stage(SessionStage::ReadingPrior);
      return;
    case WriteStage::Writing:
      // The bytes the write sends as 0 (models 250, 252: 127 to 130) are no edit.
      Absorb(history_.snapshot());
      observer_.Stage(SessionStage::Writing);
      return;
    case WriteStage::Checking:
      observer_.Stage(SessionStage::Checking);
      return;
    case WriteStage::Repairing:
      observer_.Stage(SessionStage::Repairing);
      return;
  }
}

bool Session::PriorImageRead(const ConfigImage& prior) {
  CaptureEdits();  // what was typed during the read is an edit of its own
  if (recorder_ != nullptr) {
    record_ = recorder_->DeviceRead(Record(), prior);
    if (!record_->ok) return false;
    recorded_ = true;
  }
  device_holds_ = prior;
  baselines_.DeviceHolds(prior);
  const int length = ImageLength();
  if (!Whole()) {
    // What no file holds (a model 251 device's keys and their names) is the device's own.
    const int from = coverage_.known();
    std::copy(prior.bytes().begin() + from, prior.bytes().begin() + length,
              image_.bytes().begin() + from);
    coverage_.Filled(length);
    Absorb(history_.snapshot());
    observer_.ImageChanged();
  }
  return true;
}

void Session::WriteFinished(const WriteReport& report) {
  if (behind_) return EndWholeCheck(report);
  finished_ = report;
  Settle(Operation::Write);
}

// ---- Ends. ----

void Session::Settle(Operation operation) {
  if (finishing_) return;
  if (!run_) {
    // Given up at the question, taken up again by a late reply: it ends once more.
    run_ = Run{operation};
    run_->answered = engine_.ProgressFrames();
    run_->progressed = Clock::now();
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
  const auto now = Clock::now();
  switch (r.phase) {
    case Phase::Running:
      break;
    case Phase::AfterIdentify:
      // A silent device is not an error here; once answered, nothing can take the answer to
      // the 212 for the answer to the next request.
      if (engine_.RequestOutstanding() && port_.IsOpen() && now < r.phase_until) return;
      engine_.ForgetRequest();
      return Finish(EndCause::None);
    case Phase::Draining:
      if (engine_.AnsweredFrames() == r.drained && port_.IsOpen() && now < r.phase_until) return;
      return Finish(EndCause::Interrupted);
  }

  if (Done(r.operation)) {
    if (r.operation != Operation::Identify || !Unattended()) return Finish(EndCause::None);
    asked_ = 0;
    r.phase = Phase::AfterIdentify;
    r.phase_until = now + kAnswerTo212 + Allowance(port_);
    return Check();
  }
  if (Unattended()) {
    if (InterruptedByUser()) {
      // Nothing more is sent; the reply to the request on the wire still tells what the device
      // took.
      engine_.SendNoMore();
      if (!engine_.RequestOutstanding()) return Finish(EndCause::Interrupted);
      r.phase = Phase::Draining;
      r.phase_until = now + kInFlight + Allowance(port_);
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
  if (r.deadline && now >= *r.deadline) return Finish(EndCause::TimeUp);
  if (!Unattended()) return;
  // Progress is a frame that answers a request and moves the exchange on (a read reply
  // without data does not); none for longer than the retries allow, whatever the device sends
  // meanwhile, and the exchange is given up.
  if (engine_.ProgressFrames() != r.answered) {
    r.answered = engine_.ProgressFrames();
    r.progressed = now;
  } else if (now - r.progressed > StallLimit(options_.retries, Allowance(port_))) {
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
      end.outcome = Failure(cause, "Поиск прибора");
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

// ---- The image. ----

std::vector<Finding> Session::CheckImage() const {
  const int model = DeviceModel();
  if (!IsKnownModel(model) || reading_ || !Saveable()) return {};
  // Beyond a file's bytes only when the image holds the device's own (a model 251's keys).
  const int firmware = device_.model == model ? device_.firmware : -1;
  return CheckConfiguration(Whole() ? DeviceCheckInput(model, image_, firmware, nullptr, company_)
                                    : FileCheckInput(model, image_, nullptr, company_));
}

bool Session::Writable() const {
  const int model = DeviceModel();
  return IsKnownModel(model) && coverage_.Writable(ImageLength(), FileImageLength(model));
}

Session::Loaded Session::LoadFile(const std::filesystem::path& path, bool whole_image) {
  const int model = DeviceModel();
  CommitEdits();
  // Checked aside first: a refused file changes nothing, so it asks nothing.
  ConfigImage loaded = image_;
  Loaded out;
  out.bytes = FileImageLength(model);
  out.result = whole_image ? LoadWholeImage(path, model, loaded, out.bytes)
                           : LoadConfigFile(path, model, loaded);
  if (!out.result.ok()) return out;
  if (!MayLoseChanges()) {
    out.declined = true;
    return out;
  }
  image_ = loaded;
  if (options_.normalize) NormalizeImage(model, image_);
  coverage_.Loaded(out.bytes);
  history_.Reset(image_);
  baselines_.FileHolds(image_, out.bytes);
  agreed_loss_.reset();
  return out;
}

FileResult Session::SaveFile(const std::filesystem::path& path) {
  CommitEdits();
  const int model = DeviceModel();
  const FileResult result = SaveConfigFile(path, model, image_);
  if (result.ok()) baselines_.FileHolds(image_, FileImageLength(model));
  return result;
}

bool Session::CaptureEdits() {
  const int model = DeviceModel();
  if (reading_ || !IsKnownModel(model)) return false;
  return history_.Capture(image_, model, ImageLength());
}

bool Session::CommitEdits() {
  observer_.FlushEdits();
  return CaptureEdits();
}

EditStep Session::Undo() {
  if (reading_) return {};
  CommitEdits();  // what is typed but not stored is an edit of its own, taken back first
  return history_.Undo(image_);
}

EditStep Session::Redo() {
  if (reading_) return {};
  CommitEdits();
  return history_.Redo(image_);
}

bool Session::Unsaved() const {
  return !reading_ && baselines_.WouldLose(image_, ImageLength());
}

bool Session::HasUnsavedChanges() {
  if (reading_) return false;  // the owner agreed to replace the image when the read began
  CommitEdits();
  return baselines_.WouldLose(image_, ImageLength());
}

bool Session::MayLoseChanges() {
  if (!HasUnsavedChanges() || (agreed_loss_ && *agreed_loss_ == image_)) return true;
  if (!observer_.AskLoseChanges()) return false;
  agreed_loss_ = image_;
  return true;
}

// Changes that are no edit (the bytes a write sends as 0, the device's bytes a write takes):
// into the history's snapshot without a step, and into every baseline that held the byte.
void Session::Absorb(const ConfigImage& before_ref) {
  const ConfigImage before = before_ref;
  const int length = ImageLength();
  if (history_.Absorb(image_, length).empty()) return;
  baselines_.Absorb(before, image_, length);
}

DeviceRecord Session::Record() const {
  return {device_.port, DeviceModel(), FirmwareVersion(), device_.line};
}

}  // namespace lovar
