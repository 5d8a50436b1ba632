#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "cli/console.h"

namespace lovar {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_handled{false};

// Runs on a thread of its own. For the console's close, logoff and shutdown the system ends the
// process as soon as this returns, so it waits (a few seconds at most) for the port to be closed.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  g_interrupted.store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    for (int i = 0; i < 80 && !g_handled.load(); ++i) Sleep(50);
  }
  return TRUE;
}

}  // namespace

// Our texts are UTF-8; the console shows them right only when told so.
void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool PrepareStderrRedraw() {
  if (!StderrIsTerminal()) return false;
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(err, &mode)) return false;
  return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

const std::atomic<bool>& WatchInterrupts() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  return g_interrupted;
}

void InterruptHandled() {
  g_handled.store(true);
}

}  // namespace lovar
