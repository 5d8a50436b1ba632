// lovar-cli write: the check of a configuration file before the device is touched. Errors stop
// the write (exit 15, each listed on stderr) unless their rules are let pass (--allow-check ID);
// warnings, and the errors let pass, are said on stderr and the write goes on. The session asks
// the same of the image it writes (SessionRunner answers from the same gate).
//
// Threads: the caller's.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "check/check_gate.h"
#include "session/outcome.h"

namespace lovar {

// --rules FILE and --allow-check ID (repeatable), for write and batch.
void AddCheckOptions(CLI::App& command, std::string& rules, std::vector<std::string>& allowed);

// The gate of --rules FILE and --allow-check ID…: 0 when made; else the exit status, after the
// fault is said on stderr: 5 for a rules file that cannot be taken, a command-line mistake's
// status (CLI11's) for an id that names no rule.
int MakeCheckGate(const std::string& rules, std::vector<std::string> allowed, CheckGate& gate);

// model: the file's. Ok to go on.
Outcome CheckFileBeforeWrite(const std::filesystem::path& file, int model, const CheckGate& gate);

}  // namespace lovar
