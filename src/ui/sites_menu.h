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
#include <memory>

#include "files/archive.h"
#include "registry_worker.h"
#include "session/recorder.h"
#include "sites_dialog.h"

class QAction;
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

  void Sites();     // "Объекты…"
  void History();   // "Архив…": the history of the device shown
  void Settings();  // "Настройки…"
  // The window closes: the dialog "Объекты…" goes, the records still queued are waited for a
  // bounded time (the status line says so), and what the registry did not take by then is said
  // in a message box: how many, the side file that keeps them, taken in at the next start.
  void Close();

  // The dialog "Объекты…" open now, when one is (tests drive it).
  SitesDialog* dialog() const { return dialog_; }
  QAction* sites_action() const { return sites_action_; }
  QAction* settings_action() const { return settings_action_; }
  RegistryWorker& worker();

 signals:
  // "Настройки…" kept new settings: what depends on them takes them up.
  void SettingsKept();

 private:
  // Opens the dialog over a registry for queries; with a site, that site's history shown.
  void Open(int model, const std::string& object);
  void LoadVersion(const SitesDialog::Version& version);

  QWidget& window_;
  Session& session_;
  FileMenu& files_;
  WindowStatus& status_;
  Dialogs& dialogs_;
  std::unique_ptr<RegistryWorker> worker_;  // made on first use (the archive's folder is known)
  WindowRecorder sites_;
  RecorderPair pair_;
  std::shared_ptr<Registry> queries_;  // the open dialog's registry
  QPointer<SitesDialog> dialog_;
  QAction* sites_action_;
  QAction* settings_action_;
  std::unique_ptr<QTemporaryDir> versions_;       // a loaded version's file
  const ArchiveTime run_start_ = LocalTimeNow();  // the archive's reads since are this run's
  bool opening_ = false;
};

}  // namespace lovar
