// lovar-sim's command line: its options, defined once. The program parses with it, and the
// manual page is generated from it (src/manpage), so the two never differ.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "sim/device_sim.h"

namespace lovar {

struct SimOptions {
  int model = 251;
  int firmware = 12;
  int key_after = 3;
  std::string image_path, key_text, link, save_path, save_whole_path;
  bool split = false, pace = false, quiet = false;
  CLI::Option* model_option = nullptr;  // to tell whether --model was given

  // The fault options: "N" or "N/EVERY" (with ":MS" when with_ms), repeatable.
  struct Fault {
    const char* name;
    FaultKind kind;
    bool with_ms;
    const char* help;
    std::vector<std::string> values;
  };
  std::vector<Fault> faults;
};

// Names and describes app, adds --version and every option bound to options.
void DefineSimOptions(CLI::App& app, SimOptions& options);

}  // namespace lovar
