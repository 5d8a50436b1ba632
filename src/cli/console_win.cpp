#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
// Needs windows.h before it.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "cli/console.h"
#include "model/cp1251.h"

namespace lovar {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_handled{false};

// Console output. The C library cannot be trusted with UTF-8 on a console: it may pass each byte
// through the locale's code page (Wine's does, as Latin-1), or write a letter's two bytes in two
// writes. So where standard output or error is a console, both go through one pipe, in the order
// written, to a thread that hands the text to the console as UTF-16; the console's code page is
// never changed. A redirected stream keeps its UTF-8 bytes as they are.
struct ConsoleRelay {
  HANDLE console = nullptr;  // where the text goes; nullptr while nothing is relayed
  HANDLE pipe = nullptr;     // the pipe's reading end
  std::thread thread;
  int saved[3] = {-1, -1, -1};  // the console's own descriptors 1 and 2, to put back
};
ConsoleRelay g_relay;
HANDLE g_stderr_console = nullptr;  // standard error's console, when it is one

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

std::string FromWide(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

void WriteToConsole(HANDLE console, std::string_view utf8) {
  if (utf8.empty()) return;
  const int n = static_cast<int>(utf8.size());
  std::wstring text(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, text.data(), static_cast<int>(text.size()));
  DWORD written = 0;
  WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void RelayToConsole(HANDLE pipe, HANDLE console) {
  std::string pending;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    pending.append(buffer, got);
    const size_t whole = WholeUtf8Characters(pending);
    WriteToConsole(console, std::string_view(pending).substr(0, whole));
    pending.erase(0, whole);
  }
  WriteToConsole(console, pending);
}

// Puts the console's own descriptors back, which closes the pipe, and waits until the thread
// has handed everything on. Once: at the exit, or before an end without one.
void EndRelay() {
  static std::atomic<bool> ended{false};
  if (ended.exchange(true) || std::this_thread::get_id() == g_relay.thread.get_id()) return;
  std::fflush(stdout);
  std::fflush(stderr);
  for (int fd : {1, 2}) {
    if (g_relay.saved[fd] < 0) continue;
    _dup2(g_relay.saved[fd], fd);
    _close(g_relay.saved[fd]);
  }
  if (g_relay.thread.joinable()) g_relay.thread.join();
  CloseHandle(g_relay.pipe);
}

void StartRelay() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  const bool to_console[3] = {false, IsConsole(out), IsConsole(err)};
  if (to_console[2]) g_stderr_console = err;
  if (!to_console[1] && !to_console[2]) return;
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) return;
  const int pipe_fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_BINARY);
  if (pipe_fd < 0) {
    CloseHandle(read);
    CloseHandle(write);
    return;
  }
  for (int fd : {1, 2}) {
    if (!to_console[fd]) continue;
    g_relay.saved[fd] = _dup(fd);
    _dup2(pipe_fd, fd);
    _setmode(fd, _O_BINARY);
  }
  _close(pipe_fd);
  // Unbuffered like a terminal's, so that output and errors keep their order.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  g_relay.console = to_console[1] ? out : err;
  g_relay.pipe = read;
  g_relay.thread = std::thread(RelayToConsole, read, g_relay.console);
  std::atexit(EndRelay);
}

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

void PrepareConsole() {
  StartRelay();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool StderrIsTerminal() {
  return g_stderr_console != nullptr;
}

bool PrepareStderrRedraw() {
  DWORD mode = 0;
  if (!StderrIsTerminal() || !GetConsoleMode(g_stderr_console, &mode)) return false;
  return SetConsoleMode(g_stderr_console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!StderrIsTerminal() || !GetConsoleScreenBufferInfo(g_stderr_console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

const std::atomic<bool>& WatchInterrupts() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  return g_interrupted;
}

void EndConsoleOutput() {
  EndRelay();
}

void InterruptHandled() {
  g_handled.store(true);
}

}  // namespace lovar
