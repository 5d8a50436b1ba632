#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "cli/console.h"
#include "files/environment.h"

namespace lovar {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
}

}  // namespace

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool PrepareStderrRedraw() {
  const std::string term = EnvironmentUtf8("TERM");
  return StderrIsTerminal() && !term.empty() && term != "dumb";
}

int StderrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const std::atomic<bool>& WatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  return g_interrupted;
}

void EndConsoleOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
}

void InterruptHandled() {}

}  // namespace lovar
