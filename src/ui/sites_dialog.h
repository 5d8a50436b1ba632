// "Объекты…": the sites of the registry as cards (object number, model, name, customer, status,
// last seen, last outcome, station, technician), and a row for the records of no site, filtered
// as an object number, a name, a customer or a telephone is typed; the card and the history of
// the site chosen; two versions compared in the comparison window; a version chosen to be
// loaded into the window (which writes it to a device only with the usual checks).
//
// What it changes in the registry is only ever added: a card's new version ("Карточка…"), a note
// on a record ("Примечание…"), records put under a site ("Отнести к объекту…"). A registry that
// cannot be read or changed (a server out of reach) is said in the dialog's status line.
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
#include <string>
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
  QPushButton* card_button() const { return card_button_; }
  QPushButton* note_button() const { return note_; }
  QPushButton* assign_button() const { return assign_; }
  QLabel* card() const { return card_; }
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
  // The site of that id to select once the list shows it.
  void ChooseSite(int64_t site) { reselect_ = site; }
  // A query is under way (with a runner).
  bool Asking() const { return asking_ > 0; }

  // "Карточка…": the card of the site selected edited in CardDialog (card_edit answers it in
  // tests: given the card, returns the next version, or nullopt for Cancel); kept as its new
  // version.
  std::function<std::optional<SiteCard>(const SiteCard&)> card_edit;
  void EditCard();
  // "Примечание…": a note on the record selected, asked as one line.
  void AddNote();
  // "Отнести к объекту…": the records selected put under a site named by its number or name.
  void AssignSelected();
  // The most sites shown at once; a search narrows the rest.
  static constexpr int kShown = 500;

 private:
  // work on the registry (through the runner, or at once); then done on the window thread,
  // unless the dialog is gone.
  void Ask(std::function<void(Registry&)> work, std::function<void()> done);
  void FillSites();
  void ShowSites(const StoreResult& r);
  // The sites that fit the search, from the list read last.
  std::vector<const SiteEntry*> Fitting() const;
  void ShowCard();
  void ShowRecord();
  // A change to the registry, then the list read again (kept is said on success).
  void Change(std::function<StoreResult(Registry&)> change, const QString& kept);
  std::vector<std::string> SelectedRecords() const;
  // The site selected (0: the records of no site), -1 for none.
  int64_t CurrentSite() const;
  void FillHistory();
  void ShowHistory();
  // As wide as the tables' columns need, within the screen.
  void FitWidth();
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
  std::vector<SiteEntry> all_sites_;        // the list read last
  int unplaced_ = 0;                        // records of no site
  // The rows shown: a site, or (site 0 with no card) the records of no site.
  std::vector<SiteEntry> site_rows_;
  std::vector<RecordNote> notes_shown_;  // the notes of the site shown
  int64_t reselect_ = -1;                // the site to select again once the list is read again
  QString last_change_;                  // the last change's word, said while nothing else is
  std::vector<RecordInfo> history_rows_;
  std::optional<Version> chosen_;
  QLineEdit* filter_;
  QTableWidget* sites_;
  QTableWidget* history_;
  QPushButton* compare_;
  QPushButton* load_;
  QPushButton* card_button_;
  QPushButton* note_;
  QPushButton* assign_;
  QLabel* card_;
  QLabel* record_;
  QLabel* status_;
};

}  // namespace lovar
