#include "sites_menu.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMetaObject>
#include <QStatusBar>
#include <QTableWidget>

#include <algorithm>
#include <optional>
#include <utility>

#include "app_settings.h"
#include "file_menu.h"
#include "file_paths.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "model/image_diff.h"
#include "recording/site_match.h"
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
            Keep(std::move(record), false);
          },
          [this](SiteRecord record) {
            if (!files_.IsDemo()) Keep(std::move(record), true);
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
  if (auto* main = qobject_cast<QMainWindow*>(&window_)) {
    technician_label_ = new QLabel(main->statusBar());
    technician_label_->setObjectName(QStringLiteral("LabelTechnician"));
    technician_label_->setToolTip(
        QStringLiteral("Техник указан в каждой записи реестра; сменить — «Файл» → «Настройки…»"));
    main->statusBar()->addPermanentWidget(technician_label_);
  }
  TakeTechnician();
}

void SitesMenu::TakeTechnician() {
  context_.technician = TechnicianSetting().toStdString();
  sites_.SetContext(context_);
  if (technician_label_ != nullptr)
    technician_label_->setText(QStringLiteral("Техник: ") + (context_.technician.empty()
                                                                 ? QStringLiteral("не указан")
                                                                 : Q(context_.technician)));
}

QString SitesMenu::TechnicianQuestion() {
  return QStringLiteral(
      "Фамилия и имя техника. Они будут в каждой записи реестра объектов\nс этой "
      "станции; сменить — «Файл» → «Настройки…».");
}

QString SitesMenu::ReasonQuestion() {
  return QStringLiteral(
      "Причина записи в УО (можно оставить пустой).\nEnter — записать, Esc — "
      "не записывать.");
}

void SitesMenu::AskTechnicianOnce() {
  // A demo device is never recorded: its run asks nothing.
  if (files_.IsDemo() || TechnicianAsked()) return;
  QString name = TechnicianSetting();
  if (!dialogs_.AskLine(QStringLiteral("Техник"), TechnicianQuestion(), name)) name.clear();
  // Asked once: left empty, the records name no technician until it is set in the settings.
  SetTechnicianSetting(name);
  TakeTechnician();
}

bool SitesMenu::AskReason() {
  if (files_.IsDemo()) return true;
  AskTechnicianOnce();
  QString reason;
  if (!dialogs_.AskLine(QStringLiteral("Причина"), ReasonQuestion(), reason)) return false;
  sites_.SetWriteNote(reason.trimmed().toStdString());
  return true;
}

SitesMenu::~SitesMenu() {
  delete dialog_;
  delete question_;
}

void SitesMenu::ContextSite(int64_t site) {
  context_.site = site;
  sites_.SetContext(context_);
}

void SitesMenu::DeviceReading() {
  ++site_asked_;
  site_open_ = false;
  unanswered_.clear();
  ContextSite(0);
  if (question_ != nullptr) question_->deleteLater();
  question_ = nullptr;
}

void SitesMenu::KeepRead(SiteRecord record) {
  const std::string port = record.info.port;
  ReadDrift& read = drift_[port];
  read.found.reset();
  std::copy(record.image.begin(),
            record.image.begin() +
                static_cast<long>(std::min(record.image.size(), read.read.bytes().size())),
            read.read.bytes().begin());
  QPointer<SitesMenu> self(this);
  worker().RecordRead(std::move(record), [self, port](const DriftFound& found) {
    if (!self) return;
    self->drift_[port].found = found;
    if (self->drift_seen_) self->drift_seen_(found);
  });
}

void SitesMenu::Keep(SiteRecord record, bool complete_read) {
  // Stamped here: its id is known to the question that follows it.
  Registry::Stamp(record);
  const bool read = record.info.operation == RecordOperation::Read;
  if (site_open_ && !read) unanswered_.push_back(record.info.id);
  std::optional<SiteRecord> asked;
  if (read && record.info.site == 0) asked = record;
  if (complete_read)
    KeepRead(std::move(record));
  else
    worker().Record(std::move(record));
  // After the record: the question's job finds it in the registry.
  if (asked) AskSite(*asked);
}

void SitesMenu::AskSite(const SiteRecord& read) {
  const uint64_t asked = ++site_asked_;
  site_open_ = true;
  unanswered_ = {read.info.id};
  ConfigImage image;
  std::copy(
      read.image.begin(),
      read.image.begin() + static_cast<long>(std::min(read.image.size(), image.bytes().size())),
      image.bytes().begin());
  QPointer<SitesMenu> self(this);
  const RecordInfo info = read.info;
  worker().RunOnRecords([self, asked, info, image](Registry* registry, const std::string& failure) {
    SiteQuestion question;
    if (registry != nullptr)
      question = AskSiteQuestion(*registry, info, image);
    else
      question.result = {StoreError::Unreachable, failure};
    QMetaObject::invokeMethod(
        qApp,
        [self, asked, question = std::move(question), model = info.model]() mutable {
          if (self) self->ShowSiteQuestion(asked, std::move(question), model);
        },
        Qt::QueuedConnection);
  });
}

void SitesMenu::ShowSiteQuestion(uint64_t asked, SiteQuestion question, int model) {
  if (asked != site_asked_) return;  // another read since
  if (!question.result.ok() || !question.ask) {
    site_open_ = false;
    unanswered_.clear();
    // The registry did not answer: asked no one, waiting for nothing; placed later.
    if (!question.result.ok())
      status_.ShowBeside(QStringLiteral("Объект прибора не спрошен: ") +
                         Q(question.result.message) +
                         QStringLiteral(". Запись — «объект не указан»; отнести её к объекту можно "
                                        "позже"));
    return;
  }
  if (question_ != nullptr) question_->deleteLater();
  question_ = new SiteQuestionDialog(std::move(question), model, dialogs_, &window_);
  question_->setAttribute(Qt::WA_DeleteOnClose);
  SiteQuestionDialog* shown = question_;
  connect(shown, &QDialog::finished, this, [this, asked, shown](int result) {
    if (result != QDialog::Accepted) {
      if (asked == site_asked_) {
        site_open_ = false;
        unanswered_.clear();
        status_.ShowBeside(
            QStringLiteral("Объект не указан: отнести запись к объекту можно позже "
                           "(«Объекты…»)"));
      }
      return;
    }
    SiteAnswered(asked, shown->question(), shown->chosen_site(), shown->chosen_name());
  });
  shown->open();
}

void SitesMenu::SiteAnswered(uint64_t asked, const SiteQuestion& question, int64_t site,
                             const std::string& name) {
  if (asked != site_asked_) return;
  site_open_ = false;
  std::vector<std::string> records = std::exchange(unanswered_, {});
  // The device's later records go straight under a site chosen; a new one's id is known once
  // made, and records made meanwhile are put under it as well.
  if (site != 0) ContextSite(site);
  SiteCard card;
  card.name = name;
  card.technician = context_.technician;
  QPointer<SitesMenu> self(this);
  worker().RunOnRecords([self, asked, question, site, card, records](Registry* registry,
                                                                     const std::string& failure) {
    int64_t placed = site;
    StoreResult r{StoreError::Unreachable, failure};
    if (registry != nullptr)
      r = site != 0 ? FileUnderSite(*registry, records, site, card.technician)
                    : FileUnderNewSite(*registry, question, card, records, placed);
    QMetaObject::invokeMethod(
        qApp,
        [self, asked, r, placed, name = card.name, made = site == 0] {
          if (!self) return;
          if (made && asked == self->site_asked_) {
            // Records made while the site was being made: under it too.
            self->site_open_ = false;
            std::vector<std::string> later = std::exchange(self->unanswered_, {});
            if (placed != 0) self->ContextSite(placed);
            if (placed == 0) later.clear();
            if (!later.empty())
              self->worker().RunOnRecords([later, placed, technician = self->context_.technician](
                                              Registry* registry, const std::string&) {
                if (registry != nullptr) FileUnderSite(*registry, later, placed, technician);
              });
          }
          const QString site_name = QStringLiteral("«") + Q(name) + QStringLiteral("»");
          if (r.ok())
            self->status_.ShowBeside(
                (made ? QStringLiteral("Новый объект ") + site_name +
                            QStringLiteral(": запись отнесена к нему")
                      : QStringLiteral("Запись отнесена к объекту ") + site_name));
          else
            self->status_.ShowBeside(QStringLiteral("Запись не отнесена к объекту ") + site_name +
                                     QStringLiteral(": ") + Q(r.message) +
                                     QStringLiteral("; она остаётся «объект не указан»"));
        },
        Qt::QueuedConnection);
  });
  // Until a new site's id is known, the device's records are collected for it.
  if (site == 0) site_open_ = true;
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
  // A device without an object number is the site chosen for it after its read, if any.
  const std::string object = ObjectNumber(model, session_.image());
  if (object.empty()) return Open(0, {}, context_.site);
  Open(model, object);
}

void SitesMenu::Open(int model, const std::string& object, int64_t site) {
  if (dialog_ != nullptr) {
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  if (opening_) return;
  opening_ = true;
  status_.Show(QStringLiteral("Открывается реестр объектов…"));
  const bool history = model != 0;
  worker().OpenForQueries([this, model, object, history, site](std::shared_ptr<Registry> registry,
                                                               const QString& failure) {
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
    if (site != 0) dialog_->ChooseSite(site);
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
  TakeTechnician();
  status_.Show(QStringLiteral("Настройки сохранены"));
  emit SettingsKept();
}

}  // namespace lovar
