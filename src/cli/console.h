// The few things the command-line client needs of the console, one source file per OS.
#pragma once

namespace lovar {

// Makes the console take UTF-8 output (Windows); nothing to do on POSIX.
void PrepareConsole();

// Whether standard error is a terminal, so that a progress bar can be drawn on it.
bool StderrIsTerminal();

}  // namespace lovar
