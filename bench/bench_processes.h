// Child processes for the benchmarks: lovar-cli runs timed with their resource use, and
// lovar-sim started on a pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace lovar::bench {

using Clock = std::chrono::steady_clock;

// Starts args (found on PATH when no path is given), its stdin from /dev/null and its stdout
// into out_fd (or /dev/null); its stderr too into /dev/null when mute_stderr.
inline pid_t Spawn(const std::vector<std::string>& args, int out_fd = -1,
                   bool mute_stderr = false) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (mute_stderr) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror(argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct ChildResult {
  int status = 0;
  rusage usage{};
  double seconds = 0;
  double CpuSeconds() const {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
};

// Waits for the child; seconds since started.
inline ChildResult Wait(pid_t pid, Clock::time_point started) {
  ChildResult r;
  wait4(pid, &r.status, 0, &r.usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return r;
}

// lovar-sim on a pseudo-terminal; stopped (SIGTERM) when destroyed.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) std::exit(1);
    args.insert(args.begin(), LOVAR_SIM_PATH);
    pid_ = Spawn(args, out[1]);
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') port_ += c;
    close(out[0]);
  }
  ~Sim() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;
  const std::string& port() const { return port_; }

 private:
  pid_t pid_ = -1;
  std::string port_;
};

}  // namespace lovar::bench
