// One session with one device (or one file): the configuration image and every policy around
// it, shared by the window, lovar-cli and batch.
//
// It owns the exchange engine and the verified write on the port it is given, the image, what
// of it holds one configuration (ImageCoverage), where it is kept besides (ImageBaselines: the
// unsaved-changes marker and the question before losing changes), the undo history, the
// device's identity, and decides:
// - a read: what the device held is recorded (Recorder, before anything corrects it), the
//   window's corrections are made (SessionOptions::normalize), the history starts anew;
// - a write: only a whole image is written, or one whose rest a read of THIS device gives
//   first; the device is read first also when its image is not recorded since it was
//   identified (the archive keeps what the write replaces; a record that fails refuses the
//   write); the write is proven (VerifiedWrite); the bytes it sends as 0 are no edit;
// - what the device holds: known after a complete read or a proven write of this device on this
//   port, until a lost line, a new identification or another port. Known, a write sends only
//   the 16-byte blocks that differ from it (fast_write.cpp); in the window the blocks are
//   proven at once and the whole range is read back behind (WholeCheckRunning), unattended the
//   whole range is read back before the write ends. When that check finds, by two reads, blocks
//   the write did not send holding other bytes, what was known was stale (another device on the
//   port, or a read that was wrong): what was read back is recorded and becomes what the device
//   holds, and nothing is written over it unless the owner writes again (the window asks);
// - the bytes a write takes from the device (a model 251 file's keys) are the device's own: a
//   whole write does not send them, and where two reads find the device holding other bytes
//   there than the read before the write, the device's are kept and said;
// - a load or a save: whole images only, and no load over changes kept nowhere unless the owner
//   lets them go;
// - a write of an image the check (src/check) finds errors in: only when the observer lets it
//   (AskWriteDespiteErrors), before anything is sent.
//
// Operations on the device (Identify, Read, Write, LearnKey) are asynchronous and one at a
// time: each that begins says Started, then Stage/Progress, and every one ends with one Ended
// (also one refused at once, without Started). An exchange given up at the no-answer question
// may be taken up again by a late reply, as the device protocol allows: its end is then said
// once more. File operations and the undo history are synchronous.
//
// The no-answer question is a seam: with SessionOptions::retries < 0 the observer is asked
// (the window's message box); otherwise the session answers OK up to retries times in a row,
// gives an exchange up that makes no progress for as long as those allow, stops after the frame
// in flight when *interrupted is set (Ctrl-C), and stops the exchange of a failed operation
// (lovar-cli and batch).
//
// The watches (the no-answer question, the stall watch, the waits for the 212's answer and for
// the frame in flight after Ctrl-C) count the 100 ms ticks, not the clock: a tick is not counted
// while the port holds input not yet delivered, and ticks missed while the thread was held are
// not made up, so a device that answered is never given up because the loop was busy.
//
// Threads: the window thread only (the port's deliveries come there). The owner calls
// Timer1Timer every 100 ms. Events come from inside the port's deliveries, the tick and the
// session's own calls: an observer must not destroy the session from inside one (post instead).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "check/check.h"
#include "files/config_file.h"
#include "model/config_image.h"
#include "model/edit_history.h"
#include "model/image_baselines.h"
#include "model/image_coverage.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/port_interface.h"
#include "session/outcome.h"
#include "session/recorder.h"

namespace lovar {

enum class Operation : uint8_t { Identify, Read, Write, LearnKey };

// Why an operation ended as it did.
enum class EndCause : uint8_t {
  None,         // done
  NotOpen,      // not begun: the port is not open
  NotWritable,  // write not begun: the image is not whole (nothing of a device may be lost)
  WrongModel,   // write not begun: the device's model is unknown
  Declined,     // read not begun: the owner kept changes kept nowhere else
  CheckGoesOn,  // read not begun: the owner let the whole check behind a write go on
  PortClosed,   // a read ended short: the port was closed under it
  NoAnswer,     // given up at the no-answer question (the owner's Cancel, or the retries spent)
  GaveUp,       // the device answers, but never to the request
  Stalled,      // unattended: no progress for longer than the retries allow
  Disagree,     // the reads of a block in doubt never agreed
  LineLost,     // the line hung up or the adapter was unplugged
  TimeUp,       // a key poll's time limit passed
  Cancelled,    // "Отмена", "Остановить", or another operation took the port
  PageChanged,  // the window's page changed (a write stops after the block in flight)
  Interrupted,  // Ctrl-C: stopped after the frame in flight
  Refused,      // write not begun: the device's image read first could not be recorded
  CheckErrors,  // write not begun: the check found errors, and the owner did not let it go on
  Closed,       // the session was closed
};

struct SessionEnd {
  Operation operation = Operation::Identify;
  EndCause cause = EndCause::None;
  // Ok, or the status and lovar-cli's one line (a write's: its report's text, also when Ok).
  Outcome outcome;
  int reached = 0;       // the exchange's offset at the end (a read: the bytes stored from 0)
  int length = 0;        // the image length
  bool display = false;  // a read: at least 256 bytes were stored, so the image is shown
  // A complete read: its record. A write: the record of the device's image read before it.
  std::optional<KeptRecord> record;
  // A write that found the device holding another configuration (WriteReport::Outcome::Stale):
  // the record of what was read back.
  std::optional<KeptRecord> readback_record;
  std::optional<WriteReport> report;  // a write that went as far as VerifiedWrite
};

struct DeviceIdentity {
  std::string port;
  int model = 0;
  int firmware = 0;
  std::string line;  // DeviceLine(model, firmware)
};

enum class SessionStage : uint8_t {
  Reading,
  ReadingPrior,
  Writing,
  Checking,
  Repairing,
  WholeCheck,  // the whole range read back behind a write of the changes
};

struct SessionOptions {
  // < 0: the observer answers the no-answer question. >= 0: unattended (see the top).
  int retries = -1;
  const std::atomic<bool>* interrupted = nullptr;  // unattended: Ctrl-C
  // The window's corrections of out-of-range bytes (model/image_normalize.h) after a complete
  // read and a load. lovar-cli and batch keep the device's bytes as they are.
  bool normalize = false;
};

// Every call on the window thread; all but the questions default to nothing.
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;

  // The no-answer question, when the options leave it to the observer: true to send the
  // request again. May run a nested loop.
  virtual bool AskContinue() { return false; }
  // Unattended: the device did not answer (stray: it sent frames, none answering); the request
  // goes again, the asked-th time of retries.
  virtual void Retry(bool /*stray*/, int /*asked*/, int /*retries*/) {}
  // The image holds changes kept nowhere else and is about to be replaced: true lets them go.
  virtual bool AskLoseChanges() { return true; }
  // A read is asked for while the whole check runs behind a write (the changes are written and
  // proven; only the check of the rest is outstanding): true stops the check and reads.
  virtual bool AskStopWholeCheck() { return true; }
  // The check found errors in the image about to be written (findings: all it found, errors
  // first): true writes it all the same. Asked before anything is sent.
  virtual bool AskWriteDespiteErrors(const std::vector<Finding>& /*findings*/) { return true; }
  // Store into the image what is typed but not stored yet: before a write, a save, a load, an
  // undo and the unsaved-changes test.
  virtual void FlushEdits() {}

  virtual void Started(Operation /*operation*/) {}
  virtual void Stage(SessionStage /*stage*/) {}
  // The exchange's offset of maximum (the image length).
  virtual void Progress(int /*position*/, int /*maximum*/) {}
  // The engine takes a new exchange (the exchange buttons' state).
  virtual void IdleChanged(bool /*idle*/) {}
  // An identification reply; new_model: another model than the image was of (the image is
  // nothing of this device's then). The 212 after it has been sent.
  virtual void Identified(const DeviceIdentity& /*device*/, bool /*new_model*/) {}
  // The session changed bytes of the image on its own (a write took the rest from the device):
  // what shows the image shows it again.
  virtual void ImageChanged() {}
  // The line was lost while no request was outstanding.
  virtual void Disconnected() {}
  // Key learning: EditKey's text; polling started; a key read; stopped.
  virtual void KeyText(const std::string& /*text*/) {}
  virtual void KeyPollingStarted() {}
  virtual void KeyRead() {}
  virtual void KeyStopped() {}

  virtual void Ended(const SessionEnd& /*end*/) {}
  // The whole range read back behind a write of the changes has ended (report.whole_check):
  // proven (ok), a difference that stayed, another configuration found (Stale: record is what
  // was read back, now what the device holds; a new Write writes the image over it), or
  // stopped by another operation, a lost line or the close. text: what to say
  // (WriteReportText). Until then the image counts as not proven.
  virtual void WholeCheckEnded(const WriteReport& /*report*/, const std::string& /*text*/,
                               const std::optional<KeptRecord>& /*record*/) {}
};

class Session : private ExchangeObserver, private VerifiedWriteObserver {
 public:
  // The port and observer must outlive the session; the session takes the port's OnReceive and
  // closes the port when it goes.
  Session(PortInterface& port, SessionObserver& observer, SessionOptions options = {});
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Not owned; null records nothing (and then a write reads the device first only for what the
  // image lacks).
  void SetRecorder(Recorder* recorder) { recorder_ = recorder; }

  // ---- The port. ----
  // Opens the port by name without holding the window thread while a network port connects
  // (several seconds at most): a closed port is opened and RTS and DTR raised; an open one under
  // another name is closed and that one opened (the exchange buttons disabled meanwhile); the
  // same name is kept. done(open) runs on the window thread once the port is open or has
  // failed (port().LastError() says why), at once for a local port or the same name. Close or
  // another open first: done never runs. A new name forgets the device (its image recorded,
  // what it holds).
  void OpenAsync(const std::string& name, std::function<void(bool open)> done);
  // Ends what runs (Closed) and closes the port.
  void Close();
  // The 100 ms tick: the no-answer watch and the session's own watches.
  void Timer1Timer();

  // ---- Operations on the device. ----
  void Identify();
  // False when the owner kept changes kept nowhere else, or let the whole check behind a write
  // go on (nothing read).
  bool Read();
  // verify: read back and compare (VerifiedWrite); false sends only. whole: the whole image
  // ("Записать всё", --full) even when what the device holds is known.
  void Write(bool verify = true, bool whole = false);
  // Polls for a key; limit: Ended(TimeUp) after it.
  void LearnKey(std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // "Остановить": the key poll stops.
  void StopKey();
  // "Отмена": a read keeps what it has read; a write says where it stood.
  void Cancel();
  // The window's page changed: the exchange stops at once, a write after the block in flight.
  void PageChanged();

  bool Running() const { return run_.has_value(); }
  // The whole range is being read back behind a write of the changes: no operation runs (the
  // window stays usable, a page change does not stop it), the next one stops it.
  bool WholeCheckRunning() const { return behind_; }
  // What the device is known to hold (see the top), or null.
  const ConfigImage* DeviceHolds() const { return device_holds_ ? &*device_holds_ : nullptr; }
  // A read or a write runs (the window's "Отмена" is offered).
  bool Busy() const;
  // A read stores into the image: its bytes are nobody's edits.
  bool Reading() const { return reading_; }

  // ---- The image. ----
  ConfigImage& image() { return image_; }
  const ConfigImage& image() const { return image_; }
  const ImageCoverage& coverage() const { return coverage_; }
  // Holds one whole configuration (a complete read, a whole image loaded).
  bool Whole() const { return coverage_.Whole(ImageLength()); }
  // May be written: whole, or whole within what a file holds, the rest to come from the device.
  bool Writable() const;
  // The bytes a configuration file holds are the configuration's: it may be saved, compared.
  bool Saveable() const { return coverage_.known() >= FileImageLength(DeviceModel()); }

  // The check's findings over the image (the bytes it holds of one configuration: the whole
  // image, or what a file holds); none while it holds no configuration (Saveable). Well under a
  // millisecond: the window runs it after every edit.
  std::vector<Finding> CheckImage() const;
  // A company's own rules, checked with the built-in ones (not owned; null: none).
  void SetCompanyRules(const CompanyRules* rules) { company_ = rules; }

  struct Loaded {
    FileResult result;
    bool declined = false;  // the owner kept its changes: nothing loaded
    int bytes = 0;          // the bytes of the image the file gave
  };
  // A configuration file (whole_image: the archive's, keys included) for the identified model.
  // Checked aside first: a refused file changes nothing and asks nothing.
  Loaded LoadFile(const std::filesystem::path& path, bool whole_image);
  FileResult SaveFile(const std::filesystem::path& path);

  // What changed since the history's snapshot becomes one undo step (not while reading).
  // True when a step was added.
  bool CaptureEdits();
  // The same after the observer stored what is typed but not stored yet (FlushEdits).
  bool CommitEdits();
  // The step taken back (done again); no runs when there was none.
  EditStep Undo();
  EditStep Redo();
  const EditHistory& history() const { return history_; }

  // Some of the image is kept neither in the device nor in a file (as it stands, not while a
  // read replaces it). HasUnsavedChanges flushes and captures first.
  bool Unsaved() const;
  bool HasUnsavedChanges();
  // Asks AskLoseChanges when there are unsaved changes (not again for the same image once let
  // go); true to go on.
  bool MayLoseChanges();

  // ---- The device. ----
  const DeviceIdentity& device() const { return device_; }
  int DeviceModel() const { return engine_.DeviceModel(); }
  int FirmwareVersion() const { return engine_.FirmwareVersion(); }
  int ImageLength() const { return engine_.ImageLength(); }
  // The key read last: as EditKey shows it, and as the key grid stores it.
  const std::string& EditKeyText() const { return engine_.EditKeyText(); }
  std::string KeyText() const { return engine_.KeyText(); }
  const Exchange& engine() const { return engine_; }
  PortInterface& port() { return port_; }

 private:
  enum class Phase : uint8_t {
    Running,
    AfterIdentify,  // the device line came; the answer to the 212 is awaited
    Draining,       // interrupted: the reply to the frame in flight is awaited
  };
  using Clock = std::chrono::steady_clock;
  struct Run {
    Operation operation;
    Phase phase = Phase::Running;
    std::optional<Clock::time_point> deadline;  // the whole operation's limit (a key poll's)
    int phase_ticks = 0;                        // AfterIdentify, Draining: ticks left to wait
    uint64_t answered = 0;                      // the engine's progress frames when last moved
    int quiet_ticks = 0;                        // the watch's ticks since they last moved
    uint64_t drained = 0;                       // Draining: the answered frames at its start
  };

  // ExchangeObserver.
  bool AskContinue() override;
  void IdleChanged(bool idle) override;
  void Progress(int position) override;
  void Identified(int model, int firmware) override;
  void ReadEnded(bool complete, bool display) override;
  void Stopped(uint8_t request, StopReason reason) override;
  void KeyText(const std::string& text) override { observer_.KeyText(text); }
  void KeyPollingStarted() override { observer_.KeyPollingStarted(); }
  void KeyRead() override;
  void KeyStopped() override { observer_.KeyStopped(); }
  // VerifiedWriteObserver.
  void WriteStageChanged(WriteStage stage) override;
  bool PriorImageRead(const ConfigImage& prior) override;
  void WriteFinished(const WriteReport& report) override;

  bool Unattended() const { return options_.retries >= 0; }
  void ForgetDevice();
  static std::string ReadStoppedAt(const SessionEnd& end);
  bool InterruptedByUser() const;
  void Begin(Operation operation, std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // Another operation takes the port: the one running ends first.
  void Supersede();
  // An end the engine reported for an operation: the one running, or one a late reply took up.
  void Settle(Operation operation);
  // Looks whether the operation running is over; after every delivery, tick and engine event.
  void Check();
  bool Done(Operation operation) const;
  void Finish(EndCause cause);
  void FinishRead(SessionEnd& end);
  void FinishWrite(SessionEnd& end);
  Outcome Failure(EndCause cause, const std::string& what) const;
  void Absorb(const ConfigImage& before);
  DeviceRecord Record() const;
  // The write of the changes and the check behind it (fast_write.cpp).
  void StartWrite(bool verify, bool whole, bool read_prior, int own_end);
  int OwnEnd() const;
  bool WholeCheckDue(const WriteReport& report) const;
  void KnowWritten(const WriteReport& report);
  void StartWholeCheck();
  void StopWholeCheck(WriteReport::Cause cause);
  void EndWholeCheck(const WriteReport& report);
  void TakeKept();
  // Another configuration found by a write's check: what was read back is what the device holds.
  std::optional<KeptRecord> KnowStale();

  PortInterface& port_;
  SessionObserver& observer_;
  SessionOptions options_;
  Recorder* recorder_ = nullptr;
  const CompanyRules* company_ = nullptr;
  ConfigImage image_;
  Exchange engine_;
  VerifiedWrite verified_;
  ImageCoverage coverage_;
  ImageBaselines baselines_;
  EditHistory history_;
  DeviceIdentity device_;
  int image_model_ = 0;    // the model the image is of; 0 before the first identification
  bool recorded_ = false;  // this device's image is recorded since its identification
  bool reading_ = false;
  std::optional<ConfigImage> agreed_loss_;  // the image the owner agreed to lose

  std::optional<Run> run_;
  bool finishing_ = false;
  int asked_ = 0;        // unattended: OK answers in a row
  int read_result_ = 0;  // 0 running, 1 complete, 2 ended short
  bool read_display_ = false;
  bool identified_ = false;
  bool key_read_ = false;
  std::optional<StopReason> stopped_;  // the engine gave the exchange up
  std::optional<WriteReport> finished_;
  std::optional<KeptRecord> record_;         // the record made for the operation running
  std::optional<ConfigImage> device_holds_;  // what the device holds, as read or proven
  bool behind_ = false;                      // the whole check runs behind a write
  bool behind_due_ = false;                  // it begins once the write's end is said
  WriteReport behind_report_;                // the write it is due behind
};

// The stage's words for a progress line: "Чтение из УО", "Запись в УО", "Проверка записи"…
const char* StageLabel(SessionStage stage);

}  // namespace lovar
