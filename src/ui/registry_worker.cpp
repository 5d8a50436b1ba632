#include "registry_worker.h"

#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>

#include "files/environment.h"
#include "recording/recording_registry.h"
#include "store/store_os.h"
#include "utf8.h"

namespace lovar {

RegistryWorker::RegistryWorker(std::filesystem::path archive, ArchiveTime run_start,
                               QObject* parent)
    : QObject(parent), context_(new QObject), archive_(std::move(archive)), run_start_(run_start) {
  context_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
  thread_.start();
}

RegistryWorker::~RegistryWorker() {
  // The registry goes on the thread that used it, and with it what TLS kept for the thread; a
  // record under way ends first.
  QSemaphore released;
  Post([this, &released] {
    registry_.reset();
    ReleaseThreadTls();
    released.release();
  });
  released.acquire();
  thread_.quit();
  thread_.wait();
}

void RegistryWorker::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

void RegistryWorker::SetLocation(const QString& location) {
  Post([this, location] { location_ = location; });
}

Registry* RegistryWorker::Recording(QString& failure) {
  if (registry_ != nullptr && registry_location_ == location_) return registry_.get();
  registry_.reset();
  may_wait_ = true;
  OpenedRegistry opened =
      OpenRecordingRegistry(location_.toStdString(), EnvironmentUtf8("LOVAR_DB").c_str(), archive_, run_start_);
  if (opened.registry == nullptr) {
    failure = Q(opened.failure);
    return nullptr;
  }
  registry_location_ = location_;
  registry_ = std::move(opened.registry);
  for (const std::string& note : opened.notes) failure += (failure.isEmpty() ? "" : "; ") + Q(note);
  return registry_.get();
}

void RegistryWorker::SayOnWindowThread(const QPointer<RegistryWorker>& self, const QString& text) {
  if (text.isEmpty()) return;
  QMetaObject::invokeMethod(
      this,
      [self, text] {
        if (self) emit self->said(text);
      },
      Qt::QueuedConnection);
}

void RegistryWorker::Record(SiteRecord record) {
  QPointer<RegistryWorker> self(this);
  Post([this, self, record = std::move(record)]() mutable {
    QString text;
    Registry* registry = Recording(text);
    if (registry == nullptr) {
      text = QStringLiteral("Запись в реестр не сохранена: ") + text;
    } else {
      std::vector<std::string> notes;
      RecordInto(*registry, std::move(record), may_wait_, notes);
      for (const std::string& note : notes) text += (text.isEmpty() ? "" : "; ") + Q(note);
    }
    SayOnWindowThread(self, text);
  });
}

void RegistryWorker::OpenForQueries(Opened done) {
  QPointer<RegistryWorker> self(this);
  Post([this, self, done = std::move(done)] {
    // The archive is the recording registry's to take in (before any read of this run).
    QString said;
    Recording(said);
    OpenedRegistry opened =
        OpenRecordingRegistry(location_.toStdString(), EnvironmentUtf8("LOVAR_DB").c_str(), {});
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
    QMetaObject::invokeMethod(
        this,
        [self, done, registry, failure] {
          if (self) done(registry, failure);
        },
        Qt::QueuedConnection);
  });
}

void RegistryWorker::WaitIdle() {
  QSemaphore done;
  Post([&done] { done.release(); });
  done.acquire();
}

}  // namespace lovar
