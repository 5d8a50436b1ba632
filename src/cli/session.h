// One conversation with a device for the command-line client: the exchange engine on a port,
// driven by the core's event loop, with the no-answer question answered OK a bounded number of
// times. Window-thread code: everything runs on the thread that calls these functions.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "model/config_image.h"
#include "protocol/exchange.h"
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
  WriteStopped = 6,    // the write ended before its last block
  VerifyMismatch = 7,  // read back differs from what was written
  LineLost = 8,        // the line hung up or the adapter was unplugged
  KeyTimeout = 9,      // no key was held to the reader in time
};

struct Outcome {
  Status status = Status::Ok;
  std::string message;  // the one line for stderr when status is not Ok
  bool ok() const { return status == Status::Ok; }
};

class Session : private ExchangeView {
 public:
  // progress: draw a progress bar on stderr.
  Session(EventLoop& loop, PortInterface& port, int retries, bool progress);
  ~Session() override;

  Outcome Open(const std::string& port_name);
  // Sends 208 and waits for the reply and for the answer to the 212 that follows it.
  Outcome Identify();
  Outcome ReadImage();
  // Writes the image as "Записать в УО" does; the bytes actually sent are kept for Verify.
  Outcome WriteImage();
  // Reads the device back and compares every byte the last write sent.
  Outcome Verify();
  // Polls for a key for at most `wait`.
  Outcome LearnKey(std::chrono::seconds wait);

  const std::string& device_line() const { return device_line_; }
  int model() const { return engine_.DeviceModel(); }
  ConfigImage& image() { return image_; }
  Exchange& engine() { return engine_; }

 private:
  // ExchangeView.
  bool AskContinue() override;
  void SetProgressMaximum(int maximum) override { maximum_ = maximum; }
  void SetProgressPosition(int position) override;
  void AddDeviceLine(const std::string& line) override { device_line_ = line; }
  void ReadEnded(bool complete, bool) override { read_result_ = complete ? 1 : 2; }
  void WriteEnded(bool complete) override { write_result_ = complete ? 1 : 2; }
  void Abandoned(uint8_t) override { abandoned_ = true; }
  void KeyRead() override { key_read_ = true; }

  // Runs the loop until done() or the exchange was given up or the line was lost.
  Outcome RunExchange(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      const char* what);
  void EndProgress();

  EventLoop& loop_;
  PortInterface& port_;
  ConfigImage image_;
  Exchange engine_;
  int retries_;
  int asked_ = 0;
  bool progress_;
  bool progress_drawn_ = false;
  int maximum_ = 256;
  int timer_id_ = 0;
  std::string device_line_;
  int read_result_ = 0;  // 0 running, 1 complete, 2 ended early
  int write_result_ = 0;
  bool abandoned_ = false;
  bool key_read_ = false;
  ConfigImage sent_;
  int sent_from_ = 0;
  int sent_to_ = 0;
};

}  // namespace lovar
