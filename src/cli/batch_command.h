// lovar-cli batch PLAN.csv: a programming station. Many devices programmed alike from one
// template, each with values of its own from a row of the plan (files/batch_plan.h), all ports
// at once (batch_runner.h).
//
//   batch PLAN.csv [--report FILE.csv] [--retry-plan FILE.csv] [--archive DIR] [--parallel N]
//                  [--rules FILE.json] [--allow-check ID]...
//                  [--no-record] [--db URL|FILE] [--over-drift]
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
// --retry-plan writes a plan of just those rows. A row whose write would change fields changed
// on its device not through this program (drift_check.h) fails so, unless --over-drift.
//
// Threads: the caller's, which runs the loop.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/batch_check.h"
#include "cli/batch_runner.h"
#include "cli/cli_recording.h"
#include "files/batch_plan.h"

namespace lovar {

class BatchCommand {
 public:
  // Adds the subcommand to app.
  explicit BatchCommand(CLI::App& app);

  bool Chosen() const { return batch_->parsed(); }
  // Runs it; returns the exit status. retries as for every exchange.
  int Run(int retries);

 private:
  // Each step before the devices returns 0, or the exit status after saying why no device was
  // touched.
  int PlanRefused(const PlanCheck& check) const;
  int OutputsRefused(const BatchPlan& plan) const;
  int ConfigurationsRefused(const BatchPlan& plan, CheckGate& gate, PlanFindings& checked) const;
  int SitesRefused(const BatchPlan& plan, CliRecording& recording) const;
  static std::vector<const PlanRow*> PrintResults(const BatchResults& results);
  bool SaveOutputs(const BatchPlan& plan, const BatchResults& results, const PlanFindings& checked,
                   const std::vector<const PlanRow*>& failed) const;

  CLI::App* batch_ = nullptr;
  std::string plan_;
  std::string report_;
  std::string retry_plan_;
  std::string archive_;
  std::string rules_;
  std::vector<std::string> allowed_;
  bool over_drift_ = false;  // --over-drift
  RecordOptions record_;
  std::string change_;              // --change NAME
  std::vector<std::string> ports_;  // --port, with --change
  size_t parallel_ = 0;             // set to kBatchParallel by the option's default
};

}  // namespace lovar
