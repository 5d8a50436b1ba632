// The registry of sites for the window: every call that may wait for a server (opening,
// recording, sending what waits) runs on a worker thread of its own, one at a time, in order;
// the window hears how each ended through callbacks on its own thread.
//
// The window records through WindowRecorder: the session's ends are made into records on the
// window thread and handed to the worker; a demo device's are never recorded.
//
// Threads: every public call on the window thread; the callbacks come there too. The worker
// thread releases what its TLS connections kept before it ends.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <filesystem>
#include <functional>
#include <memory>

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
  ~RegistryWorker() override;

  // The registry's place (the window's setting; empty: $LOVAR_DB, else the user's file). The
  // next call opens it there.
  void SetLocation(const QString& location);
  // Records one record; said(text) afterwards when there is something to say (a record not
  // kept, one waiting for the server, records sent).
  void Record(SiteRecord record);
  // Opens a registry of its own for the window's queries (the sites dialog), and finds its
  // server answering. done(registry, failure) on the window thread: registry null, failure
  // said, when it cannot be used now.
  using Opened = std::function<void(std::shared_ptr<Registry>, QString)>;
  void OpenForQueries(Opened done);
  // Returns once every call made before has ended (tests; the window's end).
  void WaitIdle();

 signals:
  void said(const QString& text);

 private:
  void Post(std::function<void()> work);
  // On the worker: the recording registry, opened on first use.
  Registry* Recording(QString& failure);
  // On the worker: said(text) on the window thread while the worker lives; nothing when empty.
  void SayOnWindowThread(const QPointer<RegistryWorker>& self, const QString& text);

  QThread thread_;
  QObject* context_;  // lives on the worker thread
  std::filesystem::path archive_;
  ArchiveTime run_start_;
  // The worker's own (set on the window thread before each post, read on the worker).
  QString location_;
  std::unique_ptr<Registry> registry_;
  QString registry_location_;
  bool may_wait_ = true;
};

// The session's ends, as records for the worker. skip: true for a device not to be recorded
// (a demo device).
class WindowRecorder : public SiteRecorder {
 public:
  // keep: hands a record to the worker; it decides also whether the device is recorded.
  explicit WindowRecorder(std::function<void(SiteRecord)> keep) : keep_(std::move(keep)) {}

 protected:
  void Keep(SiteRecord record) override { keep_(std::move(record)); }

 private:
  std::function<void(SiteRecord)> keep_;
};

}  // namespace lovar
