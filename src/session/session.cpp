#include "session/session.h"

#include <algorithm>

#include "protocol/answer_allowance.h"
#include "session/end_texts.h"

namespace lovar {
namespace {

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

// Perhaps another device behind the name: its image is not recorded, and what the device held
// is not known.
void Session::ForgetDevice() {
  recorded_ = false;
  device_holds_.reset();
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
  ForgetDevice();
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
  // The session's watches count ticks as the engine's do: none while input waits for delivery,
  // none made up after the thread was held.
  if (run_ && !port_.InputPending()) {
    ++run_->quiet_ticks;
    if (run_->phase_ticks > 0) --run_->phase_ticks;
  }
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
  if (limit) run_->deadline = Clock::now() + *limit;
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
                   Failure(EndCause::NotOpen, std::string(end_texts::kIdentify))};
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
                       : Outcome{Status::FileError,
                                 end_texts::WriteNotWhole(coverage_.known(), ImageLength())}};
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

DeviceRecord Session::Record() const {
  return {device_.port, DeviceModel(), FirmwareVersion(), device_.line};
}

}  // namespace lovar
