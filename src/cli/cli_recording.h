// Recording into the registry of sites from lovar-cli read, write and batch: on by default,
// --no-record skips it, --db URL|FILE (else $LOVAR_DB, else the user's own file) chooses where.
// A registry that can never take the records is refused before any device is touched. A record
// the registry cannot take now is held and kept when the devices are done (else in a side file
// beside the registry, taken in at the next start); one kept nowhere ends the command with its
// own exit status, never turning what the device did into a failure. A record kept on this
// station waiting for the server is said too.
//
// The registry is opened (and a refusal said) before any device is touched; from then on it
// is the registry's own thread's (recording/record_worker.h): nothing of it runs on the
// devices' loop, and the command's end waits for the records at most kDrainLimit.
//
// Threads: the caller's (the CLI's loop thread).
#pragma once

#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "recording/drift_check.h"
#include "recording/record_worker.h"
#include "recording/registry_recorder.h"
#include "store/registry.h"

namespace lovar {

struct RecordOptions {
  bool no_record = false;
  std::string db;          // --db
  std::string site;        // --site ID|NAME
  std::string technician;  // --operator, else $LOVAR_OPERATOR
  std::string note;        // --note
};

// Adds --no-record, --db, --site, --operator and --note to a command.
void AddRecordOptions(CLI::App& command, RecordOptions& options);
// Adds --over-drift (write, batch): a write may change fields the device holds otherwise than
// the site's last proven record (drift_check.h); without it such a write is refused, before the
// device is written, with Status::OverDrift.
void AddOverDriftOption(CLI::App& command, bool& over_drift);

// A write over drift (OverwrittenDrift's names): the refusal's and the note's texts.
std::string OverDriftRefusal(const std::string& names);
std::string OverDriftNote(const std::string& names);

class CliRecording {
 public:
  // Opens the registry unless --no-record, and takes in the archive folder once (archive: ""
  // for none). Says on stderr what is to be said once, or why nothing will be recorded.
  CliRecording(const RecordOptions& options, const std::filesystem::path& archive,
               RecordOperation write_operation);
  ~CliRecording();

  // The registry cannot take records (the place, the string, the server's answer, the file),
  // or has no site that --site names: the command stops before touching any device, with this
  // line.
  const std::string& refused() const { return refused_; }
  // How long the command's end waits for the records still queued before it sets them aside
  // (the job under way then ends by the registry's own time-out).
  static constexpr std::chrono::seconds kDrainLimit{10};

  // Null when nothing is recorded.
  SiteRecorder* recorder() { return recorder_.get(); }
  // The recorder beside the archive (either may be null): the one the session is given.
  Recorder* With(Recorder* archive);
  // The site named so (site_store.h's FindSite), asked on the registry's thread and waited
  // for (before any device; the registry's own time-out bounds it); NotFound says the site is
  // not there, and Unreachable that it cannot be known now.
  StoreResult FindSite(const std::string& wanted, int64_t& id);
  // How the port's next read not yet taken compared with its site (drift_check.h), waited for
  // at most limit (the read's record may wait behind others): NotCompared when the registry
  // did not answer by then; nullopt when nothing is recorded. Each read is taken once.
  std::optional<DriftFound> AwaitDrift(const std::string& port, std::chrono::milliseconds limit);
  // The same without waiting: nullopt also when it is not known yet.
  std::optional<DriftFound> TakeDrift(const std::string& port);
  // The same for a loop that may not wait (batch): done(found) is called once, on the
  // registry's thread or at once on the caller's, with the port's next comparison not yet
  // taken. Nothing is called when nothing is recorded (returns false).
  bool WhenDrift(const std::string& port, std::function<void(const DriftFound&)> done);
  // The port's comparison no longer waited for (WhenDrift's time ran out): dropped when it
  // comes.
  void ForgetDrift(const std::string& port);
  // How long a write waits for its read's comparison before it goes on "не сравнено".
  static constexpr std::chrono::seconds kDriftWait{10};

  // At the command's end, once the devices are done: says what the records met, keeps those
  // held (in the registry, else in a side file) and returns the command's exit status: status,
  // or Status::NotRecorded when it was 0 and a record was kept nowhere.
  int Finish(int status);

 private:
  std::unique_ptr<RecordWorker> worker_;
  std::unique_ptr<QueuedRecorder> recorder_;
  std::unique_ptr<RecorderPair> pair_;
  std::string refused_;
  // The reads' comparisons, per port in order, from the registry's thread.
  struct DriftBox {
    std::mutex mutex;
    std::condition_variable given;
    std::map<std::string, std::deque<DriftFound>> found;
    std::map<std::string, int> late;  // answers no longer waited for, dropped when they come
    std::map<std::string, std::function<void(const DriftFound&)>> waiters;  // WhenDrift's
  };
  std::shared_ptr<DriftBox> drift_ = std::make_shared<DriftBox>();
};

}  // namespace lovar
