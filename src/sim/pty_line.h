// The device simulator on a pseudo-terminal (POSIX). Clients open the slave side as they would
// a serial port; the line keeps a slave descriptor of its own open (raw, no echo), so clients
// may connect and disconnect any number of times without the master seeing a hang-up.
//
// Run() serves the line on the calling thread, sleeping in ppoll() between events. Replies go
// out when the simulator's delays have passed, each output in one write(). With pacing, both
// directions run at the wire rate of 9600 baud 8N1 (10 bits a byte): received bytes are taken
// one byte time apart and replies are written one byte per byte time, on absolute deadlines so
// that lateness does not accumulate. A hang-up fault closes the master and the line's own slave
// descriptor, so the client sees POLLHUP / EIO, and Run() returns.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "sim/device_sim.h"

namespace lovar {

struct PtyOptions {
  bool pace = false;
  std::string link;  // also create this symlink to the slave (removed again at the end)
  // One short line per request (without newline); none when empty.
  std::function<void(std::string_view)> log;
};

// One byte time at 9600 baud 8N1.
inline constexpr std::chrono::nanoseconds kByteTime{10'000'000'000LL / 9600};

class PtyLine {
 public:
  enum class End { Stopped, HungUp, Failed };

  // sim must outlive the line; Run() feeds it on the calling thread.
  PtyLine(DeviceSim& sim, PtyOptions options);
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pseudo-terminal (and the link). False with a message (Russian) in error.
  bool Open(std::string& error);
  // The path clients open, such as "/dev/pts/5".
  const std::string& SlavePath() const { return slave_path_; }

  // Serves the line until Stop() or a hang-up fault. After Failed, error() says why.
  End Run();
  const std::string& error() const { return error_; }

  // Makes Run() return. Safe from any thread and from a signal handler.
  void Stop() noexcept;

 private:
  void Log(int number, std::span<const uint8_t> frame);
  void HangUp();  // closes the master and the own slave descriptor
  void Close();

  DeviceSim& sim_;
  PtyOptions options_;
  int master_ = -1;
  int slave_ = -1;
  int stop_read_ = -1;
  int stop_write_ = -1;
  bool linked_ = false;
  std::string slave_path_;
  std::string error_;
};

}  // namespace lovar
