// The session core (session/session.h) for the command-line client: one device's Session,
// unattended (the no-answer question answered OK up to --retries times, the watch for an
// exchange that makes no progress, Ctrl-C), driven by the core's event loop with its 100 ms
// tick. What happens is shown through a SessionWatcher (a progress bar on stderr, or batch's
// lines).
//
// Each operation can be started and left to the loop (Start...: its end comes to a callback,
// from a task of its own, so that the callback may start the next one or end the runner), so
// that several runners on several ports share one loop and run at once; or run to its end
// (Identify, ReadImage...: the loop runs until it is over).
//
// Threads: the loop's thread, as everything of the session.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "check/check_gate.h"
#include "serial/event_loop.h"
#include "serial/port_interface.h"
#include "session/session.h"

namespace lovar {

class TCport;

// The port with the main window's settings: 9600 baud, 8 data bits, no parity, one stop bit,
// no flow control, DTR and RTS off until raised after the open.
void ConfigureLikeTheMainWindow(TCport& port);

// A command's failure: the message on a line of stderr; returns the exit status.
int Fail(const Outcome& out);
int Fail(Status status, const std::string& message);

// What a runner shows while it works; every call on the loop's thread.
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
  // The operation is over, however it ended.
  virtual void StepEnded() {}
};

class SessionRunner : private SessionObserver {
 public:
  using Done = std::function<void(const SessionEnd&)>;

  // retries: OK answers to the no-answer question in a row; they also bound how long an
  // exchange may go without progress. interrupted: set (from a signal handler) to stop after
  // the frame in flight. watcher must outlive the runner. recorder (not owned, may be null)
  // keeps every complete read and what a write replaces (--archive).
  SessionRunner(EventLoop& loop, PortInterface& port, int retries, SessionWatcher& watcher,
                const std::atomic<bool>& interrupted, Recorder* recorder = nullptr);
  // The same with a progress bar on stderr when progress is set, and the retries said there.
  SessionRunner(EventLoop& loop, PortInterface& port, int retries, bool progress,
                const std::atomic<bool>& interrupted, Recorder* recorder = nullptr);
  ~SessionRunner() override;
  SessionRunner(const SessionRunner&) = delete;
  SessionRunner& operator=(const SessionRunner&) = delete;

  // Opens the port (session.h: OpenAsync), running the loop until it is open or has failed.
  Outcome Open(const std::string& port_name);
  // The same left to the loop: done(outcome) is called once, from a task of its own, when the
  // port is open or has failed (a network port's server may take its connect time-out); the
  // loop's other devices go on meanwhile.
  void StartOpen(const std::string& port_name, std::function<void(Outcome)> done);

  // Operations run to their end.
  // Sends 208 and waits for the reply and for the answer to the 212 that follows it.
  Outcome Identify();
  // With a recorder, the end carries the record of the complete read.
  SessionEnd ReadImage();
  // Writes the image as "Записать в УО" does, proven with check (the session's write policy:
  // the device read first when the image lacks its rest, or the recorder has not kept it; only
  // the blocks that differ from what the device is known to hold, unless whole).
  SessionEnd WriteImage(bool check, bool whole = false);
  // Polls for a key for at most `wait`.
  Outcome LearnKey(std::chrono::seconds wait);

  // The same left to the loop: done is called once, from a task of its own on the loop's
  // thread, when the operation is over. One at a time.
  void StartIdentify(Done done);
  void StartRead(Done done);
  void StartWrite(bool check, Done done, bool whole = false);
  void StartLearnKey(std::chrono::seconds wait, Done done);

  // Which of the check's errors a write lets pass (not owned; null: none), and the company's
  // rules the session checks with. Without it an image with errors is not written.
  void SetCheckGate(const CheckGate* gate);

  Session& session() { return session_; }
  const std::string& device_line() const { return session_.device().line; }
  int model() const { return session_.DeviceModel(); }
  ConfigImage& image() { return session_.image(); }

 private:
  SessionRunner(EventLoop& loop, PortInterface& port, int retries,
                std::unique_ptr<SessionWatcher> own, SessionWatcher* watcher,
                const std::atomic<bool>& interrupted, Recorder* recorder);
  static std::unique_ptr<SessionWatcher> StderrBarFor(bool progress);

  // SessionObserver.
  void Retry(bool stray, int asked, int retries) override { watcher_.Retry(stray, asked, retries); }
  void Stage(SessionStage stage) override { watcher_.Stage(StageLabel(stage)); }
  void Progress(int position, int maximum) override { watcher_.Progress(position, maximum); }
  void Ended(const SessionEnd& end) override;
  bool AskWriteDespiteErrors(const std::vector<Finding>& findings) override;

  // Runs the loop until the operation started by start is over.
  SessionEnd RunToEnd(const std::function<void(Done)>& start);

  EventLoop& loop_;
  std::unique_ptr<SessionWatcher> own_watcher_;  // the stderr bar of the second constructor
  SessionWatcher& watcher_;
  Session session_;
  int timer_id_ = 0;
  Operation operation_ = Operation::Identify;  // the one started last, which done_ waits for
  Done done_;
  const CheckGate* gate_ = nullptr;
  // Gone with the runner, so that an end posted to the loop finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lovar
