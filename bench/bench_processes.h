// Child processes for the benchmarks: lovar-cli runs timed with their resource use, and
// lovar-sim started on a pseudo-terminal.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lovar::bench {

using Clock = std::chrono::steady_clock;

// Starts args (found on PATH when no path is given), its stdin from /dev/null and its stdout
// into out_fd (or /dev/null); its stderr into err_fd when given, else into /dev/null when
// mute_stderr.
inline pid_t Spawn(const std::vector<std::string>& args, int out_fd = -1, bool mute_stderr = false,
                   int err_fd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (err_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  else if (mute_stderr)
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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

// A server on 127.0.0.1 that accepts every connection and never says a word: a network serial
// server or a PostgreSQL that hangs. Its connections are held until it is destroyed.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      std::perror("silent server");
      std::exit(1);
    }
    port_ = ntohs(a.sin_port);
    accepting_ = std::thread([this] {
      for (;;) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;  // shut down
        held_.push_back(client);
      }
    });
  }
  ~SilentServer() {
    shutdown(fd_, SHUT_RDWR);
    accepting_.join();
    close(fd_);
    for (const int client : held_) close(client);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  // "127.0.0.1:port"
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> held_;  // the accepting thread's until it ended
  std::thread accepting_;
};

// per_core processes per core that only spin, for a loaded machine; stopped when destroyed.
class BusyLoad {
 public:
  explicit BusyLoad(int per_core) {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < per_core * (cores > 0 ? cores : 1); ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        for (;;) __asm__ __volatile__("");  // spins, never optimised away
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoad() {
    for (const pid_t pid : pids_) kill(pid, SIGKILL);
    for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  BusyLoad(const BusyLoad&) = delete;
  BusyLoad& operator=(const BusyLoad&) = delete;
  int count() const { return static_cast<int>(pids_.size()); }

 private:
  std::vector<pid_t> pids_;
};

// The load average over the last minute, as /proc/loadavg says it (-1 when unknown).
inline double LoadAverage() {
  double load = -1;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

}  // namespace lovar::bench
