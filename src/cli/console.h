// The few things the command-line client needs of the console, one source file per OS.
#pragma once

#include <atomic>

namespace lovar {

// Makes the console take UTF-8 output (Windows); nothing to do on POSIX.
void PrepareConsole();

// Whether standard error is a terminal, so that a progress bar can be drawn on it.
bool StderrIsTerminal();

// From now on Ctrl-C and a request to end (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break and the console's close) only set the returned flag, from any thread, so that the
// exchange stops after the frame in flight and the port is closed with its exclusive mode
// cleared, instead of the program dying mid-frame.
const std::atomic<bool>& WatchInterrupts();

// Called once the port is closed: a console being closed (Windows) waits for this, up to a few
// seconds, before the system ends the process.
void InterruptHandled();

}  // namespace lovar
