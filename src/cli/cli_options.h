// lovar-cli's command line: its commands and options, defined once. The program parses with
// it, and the manual page is generated from it (src/manpage), so the two never differ.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/batch_command.h"
#include "cli/change_commands.h"
#include "cli/check_command.h"
#include "cli/cli_recording.h"
#include "cli/fields_commands.h"
#include "cli/sites_commands.h"

namespace lovar {

struct CliOptions {
  std::string port;
  std::string out;
  std::string file;
  std::string archive;   // --archive DIR: keep every read there
  RecordOptions record;  // read, write: --no-record, --db, --site, --operator, --note
  bool no_verify = false;
  bool verify = false;  // the check is the default; the flag stays for older scripts
  bool full = false;    // write: every block, not only those that differ from the device
  int retries = 3;
  int key_wait = 60;
  std::string rules;                 // write --rules FILE: the company's rules
  std::vector<std::string> allowed;  // write --allow-check ID: rules whose errors may pass
  bool over_drift = false;           // write --over-drift: write over fields changed not through us
};

// The commands, to tell which one the command line chose.
struct CliCommands {
  CLI::App* ports = nullptr;
  CLI::App* identify = nullptr;
  CLI::App* read = nullptr;
  CLI::App* write = nullptr;
  CLI::App* key = nullptr;
  std::unique_ptr<FieldsCommands> fields;  // show, diff, export, import
  std::unique_ptr<BatchCommand> batch;
  std::unique_ptr<CheckCommand> check;
  std::unique_ptr<SitesCommands> sites;    // sites list, history, show, export, sync
  std::unique_ptr<ChangeCommands> change;  // change new, show, status, approve…
};

// Names and describes app, adds --version, the options and the commands bound to options, and
// the exit statuses as the help's footer.
CliCommands DefineCliOptions(CLI::App& app, CliOptions& options);

}  // namespace lovar
