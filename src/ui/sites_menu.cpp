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
      sites_([this](SiteRecord record) {
        // A demo device's sample is no site's configuration.
        if (!files_.IsDemo()) worker().Record(std::move(record));
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

void SitesMenu::Close() {
  delete dialog_;
  queries_.reset();
  opening_ = false;  // an open under way ends with its worker, unheard
  if (!worker_) return;
  const RegistryWorker::Closed closed = worker_->Close([this](int records) {
    status_.Show(QStringLiteral("Записи ждут реестр объектов (") + QString::number(records) +
                 QStringLiteral(")…"));
    window_.repaint();
  });
  worker_.reset();
  if (closed.side == 0 && closed.lost == 0) return;
  QStringList lines;
  if (closed.side > 0) {
    QStringList files;
    for (const std::string& file : closed.side_files) files << Q(file);
    lines << QStringLiteral(
                 "Записи, не сохранённые в реестр объектов до закрытия окна (%1), "
                 "ждут в %2 %3: реестр возьмёт их при следующем запуске программы.")
                 .arg(closed.side)
                 .arg(files.size() == 1 ? QStringLiteral("файле") : QStringLiteral("файлах"))
                 .arg(files.join(QStringLiteral(", ")));
  }
  if (closed.lost > 0) {
    // Each loss as the store said it, with why.
    const qsizetype before = lines.size();
    for (const std::string& note : closed.notes)
      if (note.find("потеряно") != std::string::npos) lines << Q(note);
    if (lines.size() == before)
      lines << QStringLiteral("Записи, не сохранённые ни в реестре, ни рядом с ним (%1), потеряны.")
                   .arg(closed.lost);
  }
  dialogs_.Message(QStringLiteral("Реестр объектов"), lines.join(QLatin1Char('\n')), true);
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
        // Its queries run on the queries' worker: a slow server never freezes the window, and
        // records waiting for the registry never hold them.
        RegistryWorker* worker = &this->worker();
        dialog_ = new SitesDialog(*queries_, dialogs_, &window_,
                                  [worker, registry](std::function<void(Registry&)> work) {
                                    worker->RunQuery([registry, work] { work(*registry); });
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
