// The registry's own thread: everything that may wait for the registry (opening it and taking
// in the archive, recording, sending what waits, the sites' queries) runs here, one job at a
// time, in the order given, never on the devices' loop or the window's thread. A server that
// never answers, or a file another program holds locked, then holds this thread only: the
// devices go on, and their records queue here in order.
//
// The end of a run (Drain) waits for the records a bounded time; what is still queued then is
// kept beside the registry's file (its side file, taken in at the next open) and said, never
// lost, and the job under way is left to end by its own time-out.
//
// QueuedRecorder makes the session's ends into records (SiteRecorder) on the caller's thread
// and hands them to a worker.
//
// Threads: the public calls from any thread but the worker's own (Record, Run, TakeNotes and
// Waiting are quick; Drain and the destructor wait, bounded). Jobs run on the worker; a job
// gives its result back to its front itself (WindowThread::Post, the window's QtWindowThread).
// The worker releases what its TLS connections kept before it ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "recording/registry_recorder.h"
#include "store/registry.h"

namespace lovar {

struct OpenedRegistry;

class RecordWorker {
 public:
  // Opens the registry for the worker, on the worker, at its first job (it may wait for a
  // server, and takes in the archive). place: where it is (RecordingPlace), for the side file
  // of records a drain gives up on.
  RecordWorker(RegistryOptions place, std::function<OpenedRegistry()> open);
  // Drain(0) when not drained: nothing waits longer than the job under way.
  ~RecordWorker();
  RecordWorker(const RecordWorker&) = delete;
  RecordWorker& operator=(const RecordWorker&) = delete;

  // Set before the first job: what each job met (its notes, each a line in Russian) is handed
  // to said, on the worker, instead of waiting for TakeNotes (the window shows it at once).
  void OnSaid(std::function<void(std::vector<std::string> notes)> said) { said_ = std::move(said); }

  // Queues one record, stamped now (its time is the step's, whenever it is kept).
  void Record(SiteRecord record);
  // The same, with what is done to it on the worker just before it is kept (registry null,
  // failure said, when it cannot be opened; also called, on the caller's thread, for a record
  // set aside by a drain that gave up).
  using Prepare =
      std::function<void(Registry* registry, const std::string& failure, SiteRecord& record)>;
  void Record(SiteRecord record, Prepare prepare);
  // Queues a job over the registry (null, failure said, when it cannot be opened).
  using Job = std::function<void(Registry* registry, const std::string& failure)>;
  void Run(Job job);
  // What the records met so far, each a line in Russian (a record held, one waiting for the
  // server, records sent, the open's notes).
  std::vector<std::string> TakeNotes();
  // Records given and not yet handed to the registry.
  int Waiting() const;
  // Adds a line to what TakeNotes returns (a job's own).
  void Say(std::string text);

  struct Drained {
    bool done = false;      // every record handed over and the held ones kept (or set aside)
    int left = 0;           // records not kept in time, set aside in the side file (or lost)
    PendingResult pending;  // the registry's end (KeepPending), or the side file's
    std::vector<std::string> notes;  // TakeNotes, and what the end did
  };
  // The end of a run: the records held are kept (Registry::KeepPending) and every job given
  // before ends, waiting at most limit. Then what is still queued is kept in the side file and
  // said; the worker takes no more jobs. waiting(n) is called (on the caller's thread) once
  // when the records are not done at once, to say what the end waits for.
  Drained Drain(std::chrono::milliseconds limit,
                const std::function<void(int records)>& waiting = nullptr);
  // Ends the worker (Drain(0) first when not drained): waits for the job under way, which a
  // registry's own time-out bounds, and returns what is left to say (records it held then, set
  // aside with their side files, lost when even that failed).
  PendingResult Stop();

 private:
  struct Item {
    std::variant<SiteRecord, Job> what;
    Prepare prepare;  // a record's, may be null
  };
  void Loop();
  // On the worker: the registry, opened on first use.
  Registry* Opened(std::string& failure);

  RegistryOptions place_;
  std::function<OpenedRegistry()> open_;
  std::function<void(std::vector<std::string>)> said_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  int busy_ = 0;           // items taken and not ended
  bool stopping_ = false;  // no more jobs: the worker ends after the one under way
  bool given_up_ = false;  // a drain gave up: what the registry holds goes aside at the end
  bool drained_ = false;
  bool stopped_ = false;  // the caller's
  // After a drain gave up: records kept nowhere, and those set aside with their files (the
  // worker's; read once it ended).
  int lost_ = 0;
  int side_ = 0;
  std::vector<std::string> side_files_;
  std::vector<std::string> notes_;

  // The worker's own.
  std::unique_ptr<Registry> registry_;
  bool opened_ = false;
  std::string failure_;
  bool may_wait_ = true;

  std::thread thread_;  // last: starts once the rest is made
};

// The session's ends as records, handed to a worker.
class QueuedRecorder : public SiteRecorder {
 public:
  explicit QueuedRecorder(RecordWorker& worker,
                          RecordOperation write_operation = RecordOperation::Write)
      : SiteRecorder(write_operation), worker_(worker) {}
  // Never waits for the registry: the note (a write let past the check's errors that the
  // device still holds) is looked up on the worker and said among its notes, "Внимание: …".
  std::string ReadNote(const DeviceRecord& device, const ConfigImage& image) override;

 protected:
  void Keep(SiteRecord record) override { worker_.Record(std::move(record)); }
  // Compared on the worker, just before it is kept.
  void KeepRead(SiteRecord record) override;

 private:
  RecordWorker& worker_;
};

}  // namespace lovar
