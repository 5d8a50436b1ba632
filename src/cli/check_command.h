// lovar-cli check: whether a configuration makes sense before it reaches a site (the rules of
// src/check, docs/checks.md). The source is a configuration file or, with --port, the device
// (read whole, keys included).
//
//   check FILE | --port P [--rules FILE.json] [--template FILE.dat]
//
// Prints the findings on stdout, errors first, each with its rule's id, the fields it concerns
// and the hint, then a count. Exit 0 with no finding, kExitCheckWarnings with warnings only,
// kExitCheckErrors with an error; a rules file, template or source that cannot be read fails as
// any command does (5, or the device's statuses), before anything is checked.
//
// Threads: the caller's, as SessionRunner.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/fields_commands.h"
#include "session/outcome.h"

namespace lovar {

inline constexpr int kExitCheckWarnings = static_cast<int>(Status::CheckWarnings);
inline constexpr int kExitCheckErrors = static_cast<int>(Status::CheckErrors);

class CheckCommand {
 public:
  // Adds the subcommand to app.
  explicit CheckCommand(CLI::App& app);

  bool Chosen() const { return check_->parsed(); }
  bool NeedsDevice() const { return !port_.empty(); }
  // Runs it; the session and connect are used only when NeedsDevice(). Returns the exit status.
  int Run(SessionRunner* session, const FieldsCommands::Connect& connect);

 private:
  CLI::App* check_ = nullptr;
  std::string file_;
  std::string port_;
  std::string rules_;
  std::string template_;
};

}  // namespace lovar
