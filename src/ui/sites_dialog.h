// "Объекты…": the sites of the registry (object number, model, last seen, last outcome,
// station, operator), filtered as an object number is typed; the history of the site chosen;
// two versions compared in the comparison window; a version chosen to be loaded into the
// window (which writes it to a device only with the usual checks).
//
// The dialog reads the registry it is given and changes nothing in it. A registry that cannot
// be read (a server out of reach) is said in the dialog's status line.
//
// Threads: window thread only; each query runs on it (a prefix over 10 000 sites takes well
// under 100 ms on a file or a local server).
#pragma once

#include <QDialog>
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
  SitesDialog(Registry& registry, Dialogs& dialogs, QWidget* parent);

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
  // window (owned by this dialog until closed). Null when they cannot be read.
  CompareDialog* CompareSelected();
  // "Загрузить в окно": reads the version selected and accepts.
  void LoadSelected();

 private:
  void FillSites();
  void FillHistory();
  void UpdateButtons();
  // The history rows selected that have an image, oldest first.
  std::vector<int> SelectedVersions() const;
  bool ReadImage(const RecordInfo& info, std::vector<uint8_t>& image);
  void Say(const QString& text);

  Registry& registry_;
  Dialogs& dialogs_;
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
