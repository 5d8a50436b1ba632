#include "sites_menu.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>

#include "app_settings.h"
#include "file_menu.h"
#include "file_paths.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "model/image_diff.h"
#include "session/session.h"
#include "store/local_time.h"
#include "utf8.h"
#include "window_status.h"

namespace lovar {

SitesMenu::SitesMenu(QWidget& window, QMenu& menu, QAction* after, Session& session,
                     FileMenu& files, WindowStatus& status, Dialogs& dialogs,
                     ArchiveRecorder& archive)
    : window_(window),
      session_(session),
      files_(files),
      status_(status),
      dialogs_(dialogs),
      sites_(
          [this](SiteRecord record) {
            // A demo device's sample is no site's configuration.
            if (files_.IsDemo()) return;
            // A write's record: what the device holds now (or may: as the registry's drift
            // takes a write of ours not proven), which a later write is held to.
            if (const auto read = drift_.find(record.info.port);
                read != drift_.end() && record.info.operation != RecordOperation::Read &&
                !record.image.empty() && record.image.size() <= read->second.read.bytes().size())
              std::copy(record.image.begin(), record.image.end(),
                        read->second.read.bytes().begin());
            worker().Record(std::move(record));
          },
          [this](SiteRecord record) {
            if (files_.IsDemo()) return;
            const std::string port = record.info.port;
            ReadDrift& read = drift_[port];
            read.found.reset();
            std::copy(record.image.begin(),
                      record.image.begin() + static_cast<long>(std::min(record.image.size(),
                                                                        read.read.bytes().size())),
                      read.read.bytes().begin());
            QPointer<SitesMenu> self(this);
            worker().RecordRead(std::move(record), [self, port](const DriftFound& found) {
              if (!self) return;
              self->drift_[port].found = found;
              if (self->drift_seen_) self->drift_seen_(found);
            });
          }),
      pair_(&archive, &sites_) {
  const QList<QAction*> actions = menu.actions();
  const int at = actions.indexOf(after);
  QAction* before = at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr;
  sites_action_ = new QAction(QStringLiteral("&Объекты…"), &menu);
  sites_action_->setObjectName(QStringLiteral("NSites"));
  settings_action_ = new QAction(QStringLiteral("&Настройки…"), &menu);
  settings_action_->setObjectName(QStringLiteral("NSettings"));
  menu.insertAction(before, sites_action_);
  menu.insertAction(before, settings_action_);
  connect(sites_action_, &QAction::triggered, this, [this] { Sites(); });
  connect(settings_action_, &QAction::triggered, this, [this] { Settings(); });
}

SitesMenu::~SitesMenu() {
  delete dialog_;
}

RegistryWorker& SitesMenu::worker() {
  if (!worker_) {
    worker_ = std::make_unique<RegistryWorker>(ArchiveFolder(files_.FilesFolder()), run_start_);
    worker_->SetLocation(RegistryLocationSetting());
    connect(worker_.get(), &RegistryWorker::said, this,
            [this](const QString& text) { status_.ShowBeside(text); });
  }
  return *worker_;
}

bool SitesMenu::AskWriteOverDrift() {
  const auto read = drift_.find(session_.device().port);
  if (read == drift_.end() || !read->second.found) return true;
  const std::string over =
      OverwrittenDrift(*read->second.found, read->second.read, session_.image());
  if (over.empty()) return true;
  return dialogs_.AskYesNo(QStringLiteral("Записать в УО"),
                           QStringLiteral("В приборе изменено не через Ловар: ") + Q(over) +
                               QStringLiteral("\n\nЗапись изменит эти поля. Записать поверх?"));
}

void SitesMenu::Sites() {
  Open(0, {});
}

void SitesMenu::History() {
  // A demo device's reads are in the run's own archive, never in the registry.
  if (files_.IsDemo()) return files_.Archive();
  const int model = session_.DeviceModel();
  if (!IsKnownModel(model)) return Open(0, {});
  Open(model, ObjectNumber(model, session_.image()));
}

void SitesMenu::Open(int model, const std::string& object) {
  if (dialog_ != nullptr) {
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  if (opening_) return;
  opening_ = true;
  status_.Show(QStringLiteral("Открывается реестр объектов…"));
  const bool history = model != 0;
  worker().OpenForQueries(
      [this, model, object, history](std::shared_ptr<Registry> registry, const QString& failure) {
        opening_ = false;
        if (registry == nullptr) {
          status_.Show(QStringLiteral("Реестр объектов недоступен: ") + failure);
          // The archive's own list, as before there was a registry.
          if (history) files_.Archive();
          return;
        }
        status_.Show(failure.isEmpty() ? QString() : failure);
        queries_ = registry;
        // Its queries run on the registry's thread: a slow server never freezes the window.
        RegistryWorker* worker = &this->worker();
        dialog_ = new SitesDialog(*queries_, dialogs_, &window_,
                                  [worker, registry](std::function<void(Registry&)> work) {
                                    worker->Run([registry, work] { work(*registry); });
                                  });
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        if (history) {
          dialog_->Choose(model, object);
          dialog_->filter()->setText(Q(object));
        }
        connect(dialog_, &QDialog::accepted, this, [this] {
          if (dialog_ != nullptr && dialog_->chosen()) LoadVersion(*dialog_->chosen());
        });
        connect(dialog_, &QObject::destroyed, this, [this] { queries_.reset(); });
        dialog_->open();
      });
}

void SitesMenu::LoadVersion(const SitesDialog::Version& version) {
  // Through a file of its own, so that the version is loaded with every check a file gets.
  const int model = version.info.model;
  ConfigImage image;
  const size_t length = std::min(version.image.size(), image.bytes().size());
  std::copy(version.image.begin(), version.image.begin() + static_cast<long>(length),
            image.bytes().begin());
  const bool whole = static_cast<int>(length) >= ImageLength(model);
  const std::vector<uint8_t> bytes =
      whole ? SerializeWholeImage(model, image) : SerializeConfigFile(model, image);
  versions_ = std::make_unique<QTemporaryDir>();
  const QString file = versions_->filePath(QStringLiteral("version.dat"));
  const FileResult saved =
      versions_->isValid()
          ? SaveFileReplacing(ToPath(file),
                              {reinterpret_cast<const char*>(bytes.data()), bytes.size()})
          : FileResult{FileError::CannotWrite};
  if (!saved.ok()) {
    status_.Show(QStringLiteral("Версия не загружена: ") + Q(DescribeError(saved)));
    return;
  }
  if (!files_.Load(file, whole)) return;
  const QString object =
      version.info.object.empty() ? QStringLiteral("(без номера)") : Q(version.info.object);
  const QString title = QStringLiteral("Объект ") + object + QStringLiteral(", ") +
                        Q(LocalTimeText(version.info.time));
  status_.SetBaseTitle(QStringLiteral("Программирование УО ЛОВАРТ ") + title);
  status_.Show(QStringLiteral("Загружена версия из реестра: ") + title);
}

void SitesMenu::Settings() {
  SettingsDialog dialog(&window_);
  if (dialog.exec() != QDialog::Accepted) return;
  if (worker_) worker_->SetLocation(RegistryLocationSetting());
  status_.Show(QStringLiteral("Настройки сохранены"));
  emit SettingsKept();
}

}  // namespace lovar
