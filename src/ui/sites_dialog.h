// "Объекты…": the sites of the registry (object number, model, last seen, last outcome,
// station, operator), filtered as an object number is typed; the history of the site chosen;
// two versions compared in the comparison window; a version chosen to be loaded into the
// window (which writes it to a device only with the usual checks).
//
// The dialog reads the registry it is given and changes nothing in it. A registry that cannot
// be read (a server out of reach) is said in the dialog's status line.
//
// Threads: window thread only. Given a runner, every query runs through it (the registry's
// queries' own thread, RegistryWorker::RunQuery), its result comes back to the window thread, and
// the dialog says "Запрос к реестру…" meanwhile and never freezes: a typed prefix whose answer
// comes after a newer one's is dropped. Without one (tests), each query runs on the window thread.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "store/registry.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace lovar {

class CompareDialog;
class Dialogs;

class SitesDialog : public QDialog {
  Q_OBJECT
 public:
  // Runs work over the registry off the window thread; the registry is used by nothing else
  // meanwhile.
  using Runner = std::function<void(std::function<void(Registry&)> work)>;
  SitesDialog(Registry& registry, Dialogs& dialogs, QWidget* parent, Runner run = nullptr);

  QLineEdit* filter() const { return filter_; }
  QTableWidget* sites() const { return sites_; }
  QTableWidget* history() const { return history_; }
  QPushButton* compare_button() const { return compare_; }
  QPushButton* load_button() const { return load_; }
  QLabel* status() const { return status_; }

  // The version chosen with "Загрузить в окно" (the dialog is then accepted).
  struct Version {
    RecordInfo info;
    std::vector<uint8_t> image;  // from offset 0; its size says how much of the image it holds
  };
  const std::optional<Version>& chosen() const { return chosen_; }

  // "Сравнить": the two versions selected in the history, older first, in the comparison
  // window (owned by this dialog until closed). Null when they cannot be read, or (with a
  // runner) until they are.
  CompareDialog* CompareSelected();
  // "Загрузить в окно": reads the version selected and accepts.
  void LoadSelected();
  // The site to select once the list shows it (its history then shown).
  void Choose(int model, const std::string& object) { chosen_site_ = {model, object}; }
  // A query is under way (with a runner).
  bool Asking() const { return asking_ > 0; }

 private:
  // work on the registry (through the runner, or at once); then done on the window thread,
  // unless the dialog is gone.
  void Ask(std::function<void(Registry&)> work, std::function<void()> done);
  void FillSites();
  void ShowSites(const StoreResult& r);
  void FillHistory();
  void ShowHistory();
  void Compare(const RecordInfo& older, const RecordInfo& newer, const std::vector<uint8_t>& a,
               const std::vector<uint8_t>& b);
  void UpdateButtons();
  // The history rows selected that have an image, oldest first.
  std::vector<int> SelectedVersions() const;
  void Say(const QString& text);

  Registry& registry_;
  Dialogs& dialogs_;
  Runner run_;
  int asking_ = 0;
  QString notes_;
  std::optional<std::pair<int, std::string>>
      chosen_site_;  // Choose                           // the registry's, said when nothing else
                     // is
  CompareDialog* compare_shown_ = nullptr;  // the last comparison shown
  uint64_t sites_asked_ = 0;                // the newest prefix asked for
  uint64_t history_asked_ = 0;              // the newest site asked for
  std::vector<SiteSummary> site_rows_;
  std::vector<RecordInfo> history_rows_;
  std::optional<Version> chosen_;
  QLineEdit* filter_;
  QTableWidget* sites_;
  QTableWidget* history_;
  QPushButton* compare_;
  QPushButton* load_;
  QLabel* status_;
};

}  // namespace lovar
