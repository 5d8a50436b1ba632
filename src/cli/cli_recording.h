// Recording into the registry of sites from lovar-cli read, write and batch: on by default,
// --no-record skips it, --db URL|FILE (else $LOVAR_DB, else the user's own file) chooses where.
// A record that cannot be kept is said on stderr and never turns what the device did into a
// failure; a record kept on this station waiting for the server is said too.
//
// Threads: the caller's (the CLI's loop thread).
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <string>

#include "recording/registry_recorder.h"
#include "store/registry.h"

namespace lovar {

struct RecordOptions {
  bool no_record = false;
  std::string db;  // --db
};

// Adds --no-record and --db to a command.
void AddRecordOptions(CLI::App& command, RecordOptions& options);

class CliRecording {
 public:
  // Opens the registry unless --no-record, and takes in the archive folder once (archive: ""
  // for none). Says on stderr what is to be said once, or why nothing will be recorded.
  CliRecording(const RecordOptions& options, const std::filesystem::path& archive,
               RecordOperation write_operation);
  ~CliRecording();

  // The location named on the command line or in $LOVAR_DB is no registry's location: the
  // command stops before touching any device, with this line.
  const std::string& refused() const { return refused_; }
  // Null when nothing is recorded.
  RegistryRecorder* recorder() { return recorder_.get(); }
  // The recorder beside the archive (either may be null): the one the session is given.
  Recorder* With(Recorder* archive);
  // Says on stderr what the records met so far.
  void SayNotes();

 private:
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<RegistryRecorder> recorder_;
  std::unique_ptr<RecorderPair> pair_;
  std::string refused_;
};

}  // namespace lovar
