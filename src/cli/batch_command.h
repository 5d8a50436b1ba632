// lovar-cli batch PLAN.csv: a programming station. Many devices programmed alike from one
// template, each with values of its own from a row of the plan (files/batch_plan.h), all ports
// at once (batch_runner.h).
//
//   batch PLAN.csv [--report FILE.csv] [--retry-plan FILE.csv] [--archive DIR] [--parallel N]
//                  [--rules FILE.json] [--allow-check ID]...
//                  [--no-record] [--db URL|FILE]
//   batch --change NAME --port P [--port …]   one change for many sites (change_commands.h)
//                  applied at each port's device, each found by its read
//
// The plan is checked whole first; a plan with faults is refused, each fault named by its row
// and column, and no device is touched (exit 12). So is a plan whose devices' configurations
// the check finds errors in (batch_check.h), unless --allow-check lets their rules pass; the
// check's other findings go into the report. While the devices are programmed, a line per
// device on stderr; at the end a table on stdout (row, port, model, object number, result,
// time), written also as CSV with --report. Exit 0 only when every device holds its
// configuration; otherwise the rows that failed are named (exit 13; 10 after Ctrl-C), and
// --retry-plan writes a plan of just those rows.
//
// Threads: the caller's, which runs the loop.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/cli_recording.h"

namespace lovar {

class BatchCommand {
 public:
  // Adds the subcommand to app.
  explicit BatchCommand(CLI::App& app);

  bool Chosen() const { return batch_->parsed(); }
  // Runs it; returns the exit status. retries as for every exchange.
  int Run(int retries);

 private:
  CLI::App* batch_ = nullptr;
  std::string plan_;
  std::string report_;
  std::string retry_plan_;
  std::string archive_;
  std::string rules_;
  std::vector<std::string> allowed_;
  RecordOptions record_;
  std::string change_;              // --change NAME
  std::vector<std::string> ports_;  // --port, with --change
  size_t parallel_ = 0;             // set to kBatchParallel by the option's default
};

}  // namespace lovar
