#include "processes.h"

#include "support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace lovar::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// fork rather than posix_spawn: the child asks to die with the test, so a test that aborts
// never leaves simulators holding CTest's output pipe until its timeout.
int Spawn(const std::string& program, const std::vector<std::string>& args, int out_fd,
          int err_fd) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(errno));
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out_fd, 1) < 0) _exit(127);
    if (err_fd >= 0 && dup2(err_fd, 2) < 0) _exit(127);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  return pid;
}

// Reads both pipes until they close or the limit passes (then the child is killed), and
// reaps it.
RunResult Collect(int pid, int out_fd, int err_fd, std::chrono::milliseconds limit);

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              std::chrono::milliseconds limit) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const int pid = Spawn(program, args, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  return Collect(pid, out[0], err[0], limit);
}

CliProcess::CliProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = Spawn(LOVAR_CLI_PATH, args, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

CliProcess::~CliProcess() {
  if (pid_ >= 0) Wait(std::chrono::milliseconds(0));
}

void CliProcess::Signal(int signal) {
  if (pid_ >= 0) kill(pid_, signal);
}

RunResult CliProcess::Wait(std::chrono::milliseconds limit) {
  const int pid = std::exchange(pid_, -1);
  return Collect(pid, out_, err_, limit);
}

namespace {

RunResult Collect(int pid, int out_fd, int err_fd, std::chrono::milliseconds limit) {
  RunResult result;
  const auto deadline = Clock::now() + limit;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int open_fds = 2;
  bool killed = false;
  while (open_fds > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

RunResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  return Run(LOVAR_CLI_PATH, args, limit);
}

SimProcess::SimProcess(std::vector<std::string> args, bool log) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  int log_fd = -1;
  if (log) {
    static int count = 0;
    log_ = TempPath("sim-" + std::to_string(getpid()) + "-" + std::to_string(++count) + ".log");
    log_fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  } else {
    args.push_back("--quiet");
  }
  pid_ = Spawn(LOVAR_SIM_PATH, args, out[1], log_fd);
  close(out[1]);
  if (log_fd >= 0) close(log_fd);
  // The first line is the port path.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  std::string line;
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  const size_t nl = line.find('\n');
  if (nl == std::string::npos) throw std::runtime_error("lovar-sim printed no port");
  port_ = line.substr(0, nl);
}

SimProcess::~SimProcess() {
  Stop();
}

std::string SimProcess::Log() const {
  std::ifstream in(log_);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool SimProcess::WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
  const auto deadline = Clock::now() + limit;
  do {
    std::ifstream in(log_);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    if (content.find(text) != std::string::npos) return true;
    usleep(5000);
  } while (Clock::now() < deadline);
  return false;
}

bool SimProcess::Exited() {
  if (pid_ < 0) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    pid_ = -1;
    return true;
  }
  return false;
}

int SimProcess::Stop() {
  if (pid_ >= 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
    pid_ = -1;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
    throw std::runtime_error("no free port");
  close(fd);
  return ntohs(a.sin_port);
}

Ser2netProcess::Ser2netProcess(const std::string& device, bool telnet) {
  port_ = FreePort();
  static int count = 0;
  const std::string config =
      TempPath("ser2net-" + std::to_string(getpid()) + "-" + std::to_string(++count) + ".yaml");
  // As the README serves a port; "local": a pseudo-terminal has no modem lines to watch.
  std::ofstream(config) << "connection: &lovar\n"
                        << "  accepter: " << (telnet ? "telnet(rfc2217),tcp," : "tcp,")
                        << "127.0.0.1," << port_ << "\n"
                        << "  connector: serialdev," << device << ",9600n81,local\n"
                        << "  options:\n"
                        << "    chardelay: false\n";
  url_ = (telnet ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") + std::to_string(port_);
  // -u: no UUCP lock files in the system's lock folder.
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_ =
      Spawn("/usr/sbin/ser2net", {"-n", "-u", "-c", config, "-P", config + ".pid"}, quiet, quiet);
  close(quiet);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!testing::ListeningOnLoopback(port_)) {
    int status = 0;
    if (Clock::now() > deadline || waitpid(pid_, &status, WNOHANG) == pid_)
      throw std::runtime_error("ser2net did not start listening on " + url_);
    usleep(5000);
  }
}

Ser2netProcess::~Ser2netProcess() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

void Ser2netProcess::Kill() {
  if (pid_ < 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string TempPath(const std::string& name) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/lovar-e2e-XXXXXX";
    const char* made = mkdtemp(tmpl);
    return std::string(made ? made : "/tmp");
  }();
  return dir + "/" + name;
}

OwnRegistry::OwnRegistry(const std::string& name) {
  const std::string file = TempPath(name + "-" + std::to_string(getpid()) + ".sqlite");
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + suffix).c_str());
  setenv("LOVAR_DB", file.c_str(), 1);
}

OwnRegistry::~OwnRegistry() {
  unsetenv("LOVAR_DB");
}

}  // namespace lovar::e2e
