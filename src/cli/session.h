// One conversation with a device for the command-line client: the exchange engine on a port,
// driven by the core's event loop, with the no-answer question answered OK a bounded number of
// times. Window-thread code: everything runs on the loop's thread.
//
// Each step (identify, read, write, key) can be started and left to the loop (Start...: the
// result comes to a callback), so that several sessions on several ports share one loop and
// run at once; or run to its end (Identify, ReadImage...: the loop runs until the step is over).
// Each session has its own 100 ms tick on the loop, which drives the engine's no-answer watch,
// the session's watch for an exchange that makes no progress, and Ctrl-C.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/config_image.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/event_loop.h"
#include "serial/port_interface.h"

namespace lovar {

class TCport;

// The port with the main window's settings: 9600 baud, 8 data bits, no parity, one stop bit,
// no flow control, DTR and RTS off until raised after the open.
void ConfigureLikeTheMainWindow(TCport& port);

// Exit statuses of lovar-cli; each failure also prints one line on stderr.
enum class Status : int {
  Ok = 0,
  PortError = 2,       // no such port, port busy, no access, the port server unreachable
  NoAnswer = 3,        // "Прибор не отвечает"
  WrongModel = 4,      // "Неверный тип УО"
  FileError = 5,       // unreadable, damaged or unwritable file
  WriteStopped = 6,    // the write ended before its last block (no answer, the line lost)
  VerifyMismatch = 7,  // the read-back after the write differs, or could not be finished
  LineLost = 8,        // the line hung up, the adapter was unplugged, the connection dropped
  KeyTimeout = 9,      // no key was held to the reader in time
  Interrupted = 10,    // Ctrl-C or SIGTERM: stopped after the frame in flight
  GaveUp = 11,         // the device answers, but never to the request
  PlanRefused = 12,    // batch: the plan has faults; no device was touched
  NotAllWritten = 13,  // batch: some devices do not hold their configuration
  CheckWarnings = 14,  // check: the configuration has warnings, no errors
  CheckErrors = 15,    // check: the configuration has at least one error
  RegistryError = 16,  // the registry of sites cannot be opened, read or written
  NotInRegistry = 17,  // sites: no such site, or no configuration of it at that time
};

struct Outcome {
  Status status = Status::Ok;
  std::string message;  // the one line for stderr when status is not Ok
  bool ok() const { return status == Status::Ok; }
};

// A command's failure: the message on a line of stderr; returns the exit status.
int Fail(const Outcome& out);
int Fail(Status status, const std::string& message);

// What a session shows while it works; every call on the loop's thread.
class SessionWatcher {
 public:
  virtual ~SessionWatcher() = default;
  // A stage begins: "Чтение из УО", "Запись в УО", "Проверка записи", "Исправление записи".
  virtual void Stage(const std::string& /*label*/) {}
  // Bytes of the stage done, of maximum.
  virtual void Progress(int /*position*/, int /*maximum*/) {}
  // The device did not answer the request (stray: it sent frames, but none answers it); the
  // request goes again, for the asked-th time of retries.
  virtual void Retry(bool /*stray*/, int /*asked*/, int /*retries*/) {}
  // The step is over, however it ended.
  virtual void StepEnded() {}
};

class Session : private VerifiedWriteView {
 public:
  using Done = std::function<void(const Outcome&)>;

  // retries: OK answers to the no-answer question in a row; they also bound how long an
  // exchange may go without progress. interrupted: set (from a signal handler) to stop after
  // the frame in flight. watcher must outlive the session.
  Session(EventLoop& loop, PortInterface& port, int retries, SessionWatcher& watcher,
          const std::atomic<bool>& interrupted);
  // The same with a progress bar on stderr when progress is set, and the retries said there.
  Session(EventLoop& loop, PortInterface& port, int retries, bool progress,
          const std::atomic<bool>& interrupted);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Outcome Open(const std::string& port_name);

  // Steps run to their end.
  // Sends 208 and waits for the reply and for the answer to the 212 that follows it.
  Outcome Identify();
  Outcome ReadImage();
  // The device's image, read whole just before a write: may complete the image from it and keep
  // it; false refuses the write, with why in one line.
  using PriorImage = std::function<bool(const ConfigImage& prior, std::string& why)>;
  // Writes the image as "Записать в УО" does and, with check, proves it by reading back what
  // was written and writing differing blocks again (VerifiedWrite). With prior, the device is
  // read first and prior decides whether the write begins.
  Outcome WriteImage(bool check, PriorImage prior = nullptr);
  // Polls for a key for at most `wait`.
  Outcome LearnKey(std::chrono::seconds wait);

  // The same steps left to the loop: done is called once, from a task of its own on the
  // loop's thread, when the step is over. One step at a time.
  void StartIdentify(Done done);
  void StartRead(Done done);
  void StartWrite(bool check, Done done, PriorImage prior = nullptr);
  void StartLearnKey(std::chrono::seconds wait, Done done);

  const std::string& device_line() const { return device_line_; }
  int model() const { return engine_.DeviceModel(); }
  ConfigImage& image() { return image_; }
  Exchange& engine() { return engine_; }

 private:
  // ExchangeView and VerifiedWriteView.
  bool AskContinue() override;
  void SetProgressMaximum(int maximum) override { maximum_ = maximum; }
  void SetProgressPosition(int position) override;
  void AddDeviceLine(const std::string& line) override { device_line_ = line; }
  void ReadEnded(bool complete, bool) override { read_result_ = complete ? 1 : 2; }
  void Abandoned(uint8_t) override { abandoned_ = true; }
  void GaveUp(uint8_t) override { gave_up_ = true; }
  void KeyRead() override { key_read_ = true; }
  void WriteStageChanged(WriteStage stage) override;
  void WriteFinished(const WriteReport& report) override { finished_ = report; }
  bool PriorImageRead(const ConfigImage& prior) override;

  Session(EventLoop& loop, PortInterface& port, int retries, std::unique_ptr<SessionWatcher> own,
          SessionWatcher* watcher, const std::atomic<bool>& interrupted);
  static std::unique_ptr<SessionWatcher> StderrBarFor(bool progress);

  enum class End { Done, Interrupted, LineLost, GaveUp, Stalled, NoAnswer, TimeUp };
  enum class Kind { Identify, Read, Write, Key };
  struct Step;

  // Starts a step that ends when done() holds, or the exchange was given up, the line was
  // lost, the user interrupted, or nothing moved on for longer than the retries allow (limit,
  // when given, bounds the whole step). On an interruption the reply to the frame in flight is
  // still taken, then the exchange is stopped.
  void Begin(Kind kind, std::function<bool()> done, Done on_end,
             std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // Looks whether the step under way is over; after every delivery and tick.
  void Check();
  void Finish(End end);
  // The step's result, once it ended.
  Outcome Result(Kind kind, End end);
  // Runs the loop until the step started by start is over.
  Outcome RunToEnd(const std::function<void(Done)>& start);
  // The failure of an exchange that ended otherwise than Done, in one line.
  Outcome Failure(End end, const std::string& what) const;

  EventLoop& loop_;
  PortInterface& port_;
  std::unique_ptr<SessionWatcher> own_watcher_;  // the stderr bar of the second constructor
  SessionWatcher& watcher_;
  ConfigImage image_;
  VerifiedWrite verified_{*this};
  Exchange engine_;
  int retries_;
  const std::atomic<bool>& interrupted_;
  int asked_ = 0;
  int maximum_ = 256;
  int timer_id_ = 0;
  std::string device_line_;
  int read_result_ = 0;  // 0 running, 1 complete, 2 ended early
  bool abandoned_ = false;
  bool gave_up_ = false;
  bool key_read_ = false;
  std::optional<WriteReport> finished_;
  PriorImage prior_;
  std::string prior_refusal_;
  std::unique_ptr<Step> step_;
  // Gone with the session, so that a step's end posted to the loop finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lovar
