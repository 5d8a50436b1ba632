// Child processes for the end-to-end tests: the lovar-sim simulator on a pseudo-terminal,
// lovar-cli runs with their output captured, and ser2net serving a simulator over TCP.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lovar::e2e {

struct RunResult {
  int exit_code = -1;  // -1: killed after the time limit
  std::string out;
  std::string err;
};

// Runs program with args, waits at most limit, captures stdout and stderr.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              std::chrono::milliseconds limit = std::chrono::seconds(120));

RunResult RunCli(const std::vector<std::string>& args,
                 std::chrono::milliseconds limit = std::chrono::seconds(120));

// lovar-cli started in the background, for tests that signal it while it runs.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;
  void Signal(int signal);
  // Waits for the end (killed after limit) and collects its output.
  RunResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// lovar-sim running on a pseudo-terminal; stopped with SIGTERM when destroyed. With log, its
// line per request goes to a file that WaitForLog reads.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args, bool log = false);
  // Waits until the log holds text; false after limit.
  bool WaitForLog(const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
  ~SimProcess();
  // The log so far (with log).
  std::string Log() const;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& port() const { return port_; }
  // Stops the simulator (SIGTERM) and waits for it; returns its exit status.
  int Stop();
  // Whether the process has already ended by itself (it exits after a hang-up).
  bool Exited();

 private:
  int pid_ = -1;
  int status_ = -1;
  std::string port_;
  std::string log_;
};

// The real ser2net serving a device (a lovar-sim pseudo-terminal) on 127.0.0.1 and a free
// port, raw (socket://) or Telnet with COM Port Control (rfc2217://), from a configuration file
// of its own; stopped when destroyed. Returns once it listens.
class Ser2netProcess {
 public:
  Ser2netProcess(const std::string& device, bool telnet);
  ~Ser2netProcess();
  Ser2netProcess(const Ser2netProcess&) = delete;
  Ser2netProcess& operator=(const Ser2netProcess&) = delete;

  const std::string& url() const { return url_; }
  uint16_t port() const { return port_; }
  // Kills it at once, as a crashed or switched-off server: its connections drop.
  void Kill();

 private:
  int pid_ = -1;
  uint16_t port_ = 0;
  std::string url_;
};

// A TCP port on 127.0.0.1 that nothing listens on (it was free a moment ago).
uint16_t FreePort();

std::string TempPath(const std::string& name);

// For its lifetime the programs started record into a registry file of their own (LOVAR_DB),
// made new: a test whose simulated devices all start with the sample image (one object number,
// so one site) does not find another test's writes there as changes made behind its back.
class OwnRegistry {
 public:
  explicit OwnRegistry(const std::string& name);
  ~OwnRegistry();
  OwnRegistry(const OwnRegistry&) = delete;
  OwnRegistry& operator=(const OwnRegistry&) = delete;
};

}  // namespace lovar::e2e
