// The registry of sites for the window: a thin adapter over the core's recorder thread
// (recording/record_worker.h), one per place the window records into. Every call that may wait
// for a server (opening, recording, sending what waits) runs there, in order; the window hears
// how each ended through callbacks on its own thread. The sites dialog's registry and queries
// run on a worker of their own, with a connection of their own: a record that waits (a server
// out of reach, a file locked) never holds the dialog's answers, nor they the records.
//
// The window records through WindowRecorder: the session's ends are made into records on the
// window thread and handed to the worker; a demo device's are never recorded.
//
// Threads: every public call on the window thread; the callbacks come there too.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recording/drift_check.h"
#include "recording/record_worker.h"
#include "recording/registry_recorder.h"
#include "store/registry.h"

namespace lovar {

class RegistryWorker : public QObject {
  Q_OBJECT
 public:
  // archive: the archive folder to take in once, when the registry is first used: the reads
  // kept there before run_start; this run's own are recorded as they are made, never taken in
  // as well.
  RegistryWorker(std::filesystem::path archive, ArchiveTime run_start, QObject* parent = nullptr);
  // Close() unless closed, saying nothing.
  ~RegistryWorker() override;
  static constexpr std::chrono::seconds kEndLimit{5};

  // What the window's close left: records the registry did not take in time, kept beside its
  // file (their side files, taken in at the next start) or lost.
  struct Closed {
    int side = 0;
    int lost = 0;
    std::vector<std::string> side_files;
    std::vector<std::string> notes;  // each a line in Russian
  };
  // The window's close: waits for the records at most the end limit (kEndLimit; waiting(n) is
  // called once when they are not done at once), keeps what is still queued beside the
  // registry's file (RecordWorker::Drain) and ends the workers, each after the job under way,
  // which the registry's own time-out bounds. What is given afterwards goes to a worker anew.
  Closed Close(const std::function<void(int records)>& waiting = nullptr);
  // Tests: a shorter end limit.
  void SetEndLimit(std::chrono::milliseconds limit) { end_limit_ = limit; }

  // The registry's place (the window's setting; empty: $LOVAR_DB, else the user's file). The
  // next call records there; what was given before goes on where it was given.
  void SetLocation(const QString& location);
  // Records one record; said(text) afterwards when there is something to say (a record not
  // kept, one waiting for the server, records sent).
  void Record(SiteRecord record);
  // A complete read's record: compared with its site's last proven record on the worker first
  // (drift_check.h), marked, then kept; seen(found) afterwards on the window thread.
  void RecordRead(SiteRecord record, std::function<void(const DriftFound&)> seen);
  // Opens a registry of its own for the window's queries (the sites dialog), on the queries'
  // worker, and finds its server answering. done(registry, failure) on the window thread:
  // registry null, failure said, when it cannot be used now.
  using Opened = std::function<void(std::shared_ptr<Registry>, QString)>;
  void OpenForQueries(Opened done);
  // Runs work on the queries' worker, after the queries given before (the sites dialog's, over
  // the registry OpenForQueries gave, which nothing else uses meanwhile).
  void RunQuery(std::function<void()> work);
  // Runs work on the records' worker, after the records given before.
  void Run(std::function<void()> work);
  // Runs work on the worker over the registry the records go into (null, failure said, when it
  // cannot be opened now), after the records given before: the site question after a read.
  void RunOnRecords(RecordWorker::Job work);
  // Returns once every record and query given before has been dealt with (tests).
  void WaitIdle();
  // Records given and not kept yet.
  int Waiting() const;

 signals:
  void said(const QString& text);

 private:
  RecordWorker& Current();
  RecordWorker& Queries();

  std::filesystem::path archive_;
  ArchiveTime run_start_;
  std::chrono::milliseconds end_limit_ = kEndLimit;
  QString location_;
  // The worker for location_ (made on first use), and those of earlier places, still ending
  // what they were given.
  std::unique_ptr<RecordWorker> current_;
  QString current_location_;
  std::vector<std::unique_ptr<RecordWorker>> earlier_;
  // The queries' own (made on first use): it records nothing.
  std::unique_ptr<RecordWorker> queries_;
};

// The session's ends, as records for the worker. skip: true for a device not to be recorded
// (a demo device).
class WindowRecorder : public SiteRecorder {
 public:
  // keep: hands a record to the worker; it decides also whether the device is recorded.
  // keep_read: the same for a complete read's, compared first (null: as keep).
  explicit WindowRecorder(std::function<void(SiteRecord)> keep,
                          std::function<void(SiteRecord)> keep_read = nullptr)
      : keep_(std::move(keep)), keep_read_(std::move(keep_read)) {}

 protected:
  void Keep(SiteRecord record) override { keep_(std::move(record)); }
  void KeepRead(SiteRecord record) override {
    keep_read_ ? keep_read_(std::move(record)) : keep_(std::move(record));
  }

 private:
  std::function<void(SiteRecord)> keep_;
  std::function<void(SiteRecord)> keep_read_;
};

}  // namespace lovar
