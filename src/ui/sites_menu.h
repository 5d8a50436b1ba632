// The registry of sites in the main window's menu "Файл": "Объекты…" (the sites, their
// histories, a version loaded into the window), "Архив…" as the history of the device shown,
// and "Настройки…" (the registry's place, the company rules file). It also keeps every read
// and write of a real device in the registry (a demo device's never), beside the archive.
//
// Every registry call runs on the worker (registry_worker.h); the window says how it ended,
// beside what its status line says (a read's end stays in view). The registry is opened by
// the first record or query, which takes in the archive's reads from before this run. Where no
// registry can be opened, "Архив…" shows the archive folder as before.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "files/archive.h"
#include "registry_worker.h"
#include "session/recorder.h"
#include "site_question_dialog.h"
#include "sites_dialog.h"

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace lovar {

class Dialogs;
class FileMenu;
class Session;
class WindowStatus;

class SitesMenu : public QObject {
  Q_OBJECT
 public:
  // Adds "Объекты…" and "Настройки…" to menu, after `after` (the archive's item).
  SitesMenu(QWidget& window, QMenu& menu, QAction* after, Session& session, FileMenu& files,
            WindowStatus& status, Dialogs& dialogs, ArchiveRecorder& archive);
  ~SitesMenu() override;

  // What the session records into: the archive, then the registry.
  Recorder& recorder() { return pair_; }

  // Each complete read of a real device compared with its site's last proven record (on the
  // registry's thread), heard on the window thread: the window shows the drift.
  void OnDrift(std::function<void(const DriftFound&)> seen) { drift_seen_ = std::move(seen); }
  // Before "Записать в УО": when writing the session's image would change fields the device's
  // last read found changed not through this program, asks "записать поверх?" naming them.
  // True when the write may go on (nothing drifted there, or the installer chose to).
  bool AskWriteOverDrift();

  void Sites();     // "Объекты…"
  void History();   // "Архив…": the history of the device shown
  void Settings();  // "Настройки…"
  // The window closes: the dialog "Объекты…" goes, the records still queued are waited for a
  // bounded time (the status line says so), and what the registry did not take by then is said
  // in a message box: how many, the side file that keeps them, taken in at the next start.
  void Close();

  // "Техник": asked once per station, before the first read or write of a real device; every
  // record the window makes names them. Shown at the right of the status line.
  void AskTechnicianOnce();
  // What the two questions say (also drawn in the windows' pictures).
  static QString TechnicianQuestion();
  static QString ReasonQuestion();
  QLabel* technician_label() const { return technician_label_; }
  // "Причина": asked before each write of a real device; the write's records carry it. False:
  // cancelled (Esc), nothing is to be written.
  bool AskReason();

  // A read begins: the device may be another one, so the site chosen for the last one goes
  // (its read asks again). The question still open is closed, its records left unassigned.
  void DeviceReading();
  // "Объект прибора", open now (tests answer it).
  SiteQuestionDialog* site_question() const { return question_; }

  // The dialog "Объекты…" open now, when one is (tests drive it).
  SitesDialog* dialog() const { return dialog_; }
  QAction* sites_action() const { return sites_action_; }
  QAction* settings_action() const { return settings_action_; }
  RegistryWorker& worker();

 signals:
  // "Настройки…" kept new settings: what depends on them takes them up.
  void SettingsKept();

 private:
  // Opens the dialog over a registry for queries; with a site (a model and object number, or
  // the registry's id), that site's history shown.
  void Open(int model, const std::string& object, int64_t site = 0);
  void LoadVersion(const SitesDialog::Version& version);
  // The technician from the settings into the records and the status line.
  void TakeTechnician();
  // Every record of a real device, before the worker: the read of a device the registry cannot
  // place asks its site; the records made until the answer are put under it.
  // complete_read: compared with the site's last proven record on the registry's thread first.
  void Keep(SiteRecord record, bool complete_read);
  void KeepRead(SiteRecord record);
  void AskSite(const SiteRecord& read);
  void ShowSiteQuestion(uint64_t asked, SiteQuestion question, int model);
  void SiteAnswered(uint64_t asked, const SiteQuestion& question, int64_t site,
                    const std::string& name);
  void ContextSite(int64_t site);

  QWidget& window_;
  Session& session_;
  FileMenu& files_;
  WindowStatus& status_;
  Dialogs& dialogs_;
  std::unique_ptr<RegistryWorker> worker_;  // made on first use (the archive's folder is known)
  WindowRecorder sites_;
  RecordContext context_;  // what the window's records say beside the device
  QLabel* technician_label_ = nullptr;
  uint64_t site_asked_ = 0;  // the read asked about last (a newer one drops older answers)
  bool site_open_ = false;   // from that read until its answer: records are collected
  std::vector<std::string> unanswered_;  // the records of the device since that read
  QPointer<SiteQuestionDialog> question_;
  RecorderPair pair_;
  std::shared_ptr<Registry> queries_;  // the open dialog's registry
  QPointer<SitesDialog> dialog_;
  QAction* sites_action_;
  QAction* settings_action_;
  std::function<void(const DriftFound&)> drift_seen_;
  // Per port: its last read's comparison, with the image read (the device's until written).
  struct ReadDrift {
    std::optional<DriftFound> found;  // none while the comparison is under way
    ConfigImage read;
  };
  std::map<std::string, ReadDrift> drift_;
  std::unique_ptr<QTemporaryDir> versions_;       // a loaded version's file
  const ArchiveTime run_start_ = LocalTimeNow();  // the archive's reads since are this run's
  bool opening_ = false;
};

}  // namespace lovar
