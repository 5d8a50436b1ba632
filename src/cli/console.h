// The few things the command-line client needs of the console, one source file per OS.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace lovar {

// Makes the console take UTF-8 output (Windows), and gives it back its code page when the
// program ends; nothing to do on POSIX.
void PrepareConsole();

// The program's arguments in UTF-8, argv[0] first. Windows hands argv over in the ANSI code
// page, which cannot spell every path ("Документы" on a Western system), so there they are
// taken from the UTF-16 command line; elsewhere argv as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Whether standard error is a terminal, so that a progress bar can be drawn on it.
bool StderrIsTerminal();

// Whether lines drawn on stderr can be drawn again in place: a terminal that takes the ANSI
// cursor moves (not TERM=dumb); on Windows the console is switched to take them, where it can.
bool PrepareStderrRedraw();
// The width of the terminal on stderr in characters; 0 when unknown.
int StderrColumns();

// From now on Ctrl-C and a request to end (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break and the console's close) only set the returned flag, from any thread, so that the
// exchange stops after the frame in flight and the port is closed with its exclusive mode
// cleared, instead of the program dying mid-frame.
const std::atomic<bool>& WatchInterrupts();

// Hands on everything written to stdout and stderr before the process ends without its normal
// exit (std::_Exit): on Windows the console's text goes through a thread of its own.
void EndConsoleOutput();

// Called once the port is closed: a console being closed (Windows) waits for this, up to a few
// seconds, before the system ends the process.
void InterruptHandled();

}  // namespace lovar
