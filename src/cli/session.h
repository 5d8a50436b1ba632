// One conversation with a device for the command-line client: the exchange engine on a port,
// driven by the core's event loop, with the no-answer question answered OK a bounded number of
// times. Window-thread code: everything runs on the thread that calls these functions.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "model/config_image.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/event_loop.h"
#include "serial/port_interface.h"

namespace lovar {

// Exit statuses of lovar-cli; each failure also prints one line on stderr.
enum class Status : int {
  Ok = 0,
  PortError = 2,       // no such port, port busy, no access
  NoAnswer = 3,        // "Прибор не отвечает"
  WrongModel = 4,      // "Неверный тип УО"
  FileError = 5,       // unreadable, damaged or unwritable file
  WriteStopped = 6,    // the write ended before its last block (no answer, the line lost)
  VerifyMismatch = 7,  // the read-back after the write differs, or could not be finished
  LineLost = 8,        // the line hung up or the adapter was unplugged
  KeyTimeout = 9,      // no key was held to the reader in time
  Interrupted = 10,    // Ctrl-C or SIGTERM: stopped after the frame in flight
  GaveUp = 11,         // the device answers, but never to the request
};

struct Outcome {
  Status status = Status::Ok;
  std::string message;  // the one line for stderr when status is not Ok
  bool ok() const { return status == Status::Ok; }
};

class Session : private VerifiedWriteView {
 public:
  // retries: OK answers to the no-answer question in a row; they also bound how long an
  // exchange may go without progress. progress: draw a progress bar on stderr. interrupted:
  // set (from a signal handler) to stop after the frame in flight.
  Session(EventLoop& loop, PortInterface& port, int retries, bool progress,
          const std::atomic<bool>& interrupted);
  ~Session() override;

  Outcome Open(const std::string& port_name);
  // Sends 208 and waits for the reply and for the answer to the 212 that follows it.
  Outcome Identify();
  Outcome ReadImage();
  // Writes the image as "Записать в УО" does and, with check, proves it by reading back what
  // was written and writing differing blocks again (VerifiedWrite). write_report() says more.
  Outcome WriteImage(bool check);
  const WriteReport& write_report() const { return report_; }
  // Polls for a key for at most `wait`.
  Outcome LearnKey(std::chrono::seconds wait);

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

  enum class End { Done, Interrupted, LineLost, GaveUp, Stalled, NoAnswer, TimeUp };
  // Runs the loop until done(), or the exchange was given up, the line was lost, the user
  // interrupted, or nothing moved on for longer than the retries allow (limit, when given,
  // bounds the whole exchange). On an interruption the reply to the frame in flight is still
  // taken, then the exchange is stopped.
  End RunExchange(const std::function<bool()>& done,
                  std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // The failure of an exchange that ended otherwise than Done, in one line.
  Outcome Failure(End end, const std::string& what) const;
  void EndProgress();

  EventLoop& loop_;
  PortInterface& port_;
  ConfigImage image_;
  VerifiedWrite verified_{*this};
  Exchange engine_;
  int retries_;
  std::chrono::milliseconds stall_limit_;
  const std::atomic<bool>& interrupted_;
  int asked_ = 0;
  bool progress_;
  bool progress_drawn_ = false;
  std::string stage_;  // the progress bar's label
  int maximum_ = 256;
  int timer_id_ = 0;
  std::string device_line_;
  int read_result_ = 0;  // 0 running, 1 complete, 2 ended early
  bool abandoned_ = false;
  bool gave_up_ = false;
  bool key_read_ = false;
  std::optional<WriteReport> finished_;
  WriteReport report_;
};

}  // namespace lovar
