// lovar-cli's commands over the named fields: show a configuration page by page, compare two,
// export one to JSON and import it back. A source is a configuration file or, with --port, the
// device (read whole); a model 251 file holds only the first 2048 bytes of the image, so the
// fields beyond them are neither shown nor compared for a file.
//
//   show FILE | --port P [--json]
//   diff A B | A --port P [--html REPORT]     exit 0 equal, 1 different
//   export FILE.dat [--out FILE.json]
//   import FILE.json --out FILE.dat [--model N]
//
// Threads: the caller's, as SessionRunner.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/session_runner.h"

namespace lovar {

// lovar-cli diff: the sources differ.
inline constexpr int kExitDiffer = 1;

// Prints every field of the image page by page (the bytes from 0 to extent), or with json the
// document of them; name says what the image is. Returns the exit status.
int ShowFields(const std::string& name, int model, const ConfigImage& image, int extent, bool json);
// Compares two images of one model field by field, as diff prints it (the bytes each holds from
// offset 0: extent_a, extent_b). Returns 0 when they are equal, 1 when they differ.
int DiffFields(const std::string& name_a, const std::string& name_b, int model,
               const ConfigImage& a, int extent_a, const ConfigImage& b, int extent_b);

class FieldsCommands {
 public:
  // Adds the subcommands to app.
  explicit FieldsCommands(CLI::App& app);

  // After parsing: whether one of these commands was given, and whether it reads a device.
  bool Chosen() const;
  bool NeedsDevice() const;

  // Opens the port and identifies the device on the session (the caller's rules for both).
  using Connect = std::function<Outcome(const std::string& port)>;
  // Runs the chosen command; the session and connect are used only when NeedsDevice().
  // Returns the exit status; failures are said on stderr.
  int Run(SessionRunner* session, const Connect& connect);

 private:
  CLI::App* show_ = nullptr;
  CLI::App* diff_ = nullptr;
  CLI::App* export_ = nullptr;
  CLI::App* import_ = nullptr;
  std::vector<std::string> files_;
  std::string port_;
  std::string out_;
  std::string html_;
  bool json_ = false;
  int model_ = 0;
};

}  // namespace lovar
