#include "registry_worker.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <future>

#include "files/environment.h"
#include "recording/recording_registry.h"
#include "utf8.h"

namespace lovar {

RegistryWorker::RegistryWorker(std::filesystem::path archive, ArchiveTime run_start,
                               QObject* parent)
    : QObject(parent), archive_(std::move(archive)), run_start_(run_start) {}

RegistryWorker::~RegistryWorker() {
  Close();
}

RegistryWorker::Closed RegistryWorker::Close(const std::function<void(int records)>& waiting) {
  Closed closed;
  const auto add = [&closed](PendingResult& p) {
    closed.side += p.side;
    closed.lost += p.lost;
    for (std::string& file : p.side_files) closed.side_files.push_back(std::move(file));
  };
  if (current_) earlier_.push_back(std::move(current_));
  current_location_.clear();
  // Bounded as a whole: what is still queued then goes beside the registry's file, taken in at
  // the next start.
  const auto until = std::chrono::steady_clock::now() + end_limit_;
  for (auto& worker : earlier_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    RecordWorker::Drained drained =
        worker->Drain(std::max(left, std::chrono::milliseconds(0)), waiting);
    add(drained.pending);
    for (std::string& note : drained.notes) closed.notes.push_back(std::move(note));
  }
  // The try under way ends by the registry's own time-out; what it still held goes aside too.
  for (auto& worker : earlier_) {
    PendingResult stopped = worker->Stop();
    add(stopped);
    for (std::string& note : stopped.notes) closed.notes.push_back(std::move(note));
  }
  earlier_.clear();
  // A query under way ends by the registry's own time-out; nothing of it is kept.
  queries_.reset();
  return closed;
}

void RegistryWorker::SetLocation(const QString& location) {
  location_ = location;
}

RecordWorker& RegistryWorker::Current() {
  if (current_ && current_location_ == location_) return *current_;
  if (current_) earlier_.push_back(std::move(current_));
  current_location_ = location_;
  const std::string location = location_.toStdString();
  const std::string env_db = EnvironmentUtf8("LOVAR_DB");
  RegistryOptions place;
  std::string why;
  RecordingPlace(location, env_db.c_str(), place, why);
  current_ = std::make_unique<RecordWorker>(
      place, [location, env_db, archive = archive_, before = run_start_] {
        return OpenRecordingRegistry(location, env_db.c_str(), archive, before);
      });
  QPointer<RegistryWorker> self(this);
  current_->OnSaid([self](std::vector<std::string> notes) {
    QString text;
    for (const std::string& note : notes) text += (text.isEmpty() ? "" : "; ") + Q(note);
    if (!self) return;
    QMetaObject::invokeMethod(
        self.data(),
        [self, text] {
          if (self) emit self->said(text);
        },
        Qt::QueuedConnection);
  });
  return *current_;
}

RecordWorker& RegistryWorker::Queries() {
  if (!queries_)
    queries_ = std::make_unique<RecordWorker>(RegistryOptions{}, [] { return OpenedRegistry{}; });
  return *queries_;
}

void RegistryWorker::Record(SiteRecord record) {
  Current().Record(std::move(record));
}

void RegistryWorker::RecordRead(SiteRecord record, std::function<void(const DriftFound&)> seen) {
  QPointer<RegistryWorker> self(this);
  Current().Record(
      std::move(record), [self, seen = std::move(seen)](
                             Registry* registry, const std::string& failure, SiteRecord& read) {
        const DriftFound found =
            registry != nullptr ? CompareWithSite(*registry, read) : NotCompared(read, failure);
        MarkDrift(found, read);
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, seen, found] {
              if (self && seen) seen(found);
            },
            Qt::QueuedConnection);
      });
}

void RegistryWorker::OpenForQueries(Opened done) {
  QPointer<RegistryWorker> self(this);
  const std::string location = location_.toStdString();
  // Not behind the records: a record waiting for the registry would hold the dialog too. The
  // archive is the recording registry's to take in; until it has, the dialog shows the
  // registry as it is.
  Queries().Run([self, location, done = std::move(done)](Registry*, const std::string&) {
    OpenedRegistry opened =
        OpenRecordingRegistry(location, EnvironmentUtf8("LOVAR_DB").c_str(), {});
    QString failure = Q(opened.failure);
    std::shared_ptr<Registry> registry = std::move(opened.registry);
    if (registry != nullptr && registry->Shared()) {
      // The dialog's queries run on the window thread: a server out of reach is found here,
      // where waiting for it blocks nothing.
      std::vector<SiteSummary> none;
      const StoreResult probe = registry->Sites("\x01", none);
      if (!probe.ok()) {
        failure = Q(probe.message);
        registry.reset();
      }
    }
    if (!self) return;
    QMetaObject::invokeMethod(
        self.data(),
        [self, done, registry, failure] {
          if (self) done(registry, failure);
        },
        Qt::QueuedConnection);
  });
}

void RegistryWorker::RunQuery(std::function<void()> work) {
  Queries().Run([work = std::move(work)](Registry*, const std::string&) { work(); });
}

void RegistryWorker::Run(std::function<void()> work) {
  Current().Run([work = std::move(work)](Registry*, const std::string&) { work(); });
}

void RegistryWorker::RunOnRecords(RecordWorker::Job work) {
  Current().Run(std::move(work));
}

void RegistryWorker::WaitIdle() {
  for (RecordWorker* worker : {&Current(), &Queries()}) {
    auto idle = std::make_shared<std::promise<void>>();
    std::future<void> done = idle->get_future();
    worker->Run([idle](Registry*, const std::string&) { idle->set_value(); });
    done.wait();
  }
}

int RegistryWorker::Waiting() const {
  int n = current_ ? current_->Waiting() : 0;
  for (const auto& worker : earlier_) n += worker->Waiting();
  return n;
}

}  // namespace lovar
