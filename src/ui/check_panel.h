// The window's "Проверка" panel and the question before a write with errors.
//
// Above them, the fields the device's last read found changed not through this program (the
// registry's drift), each a finding of its own kind that a click turns to.
// The panel lists the findings of the check (src/check) over the image shown, errors first,
// each with its severity's icon and word, its text and how to mend it, and a count above them.
// A click on a finding (or Enter on it) emits the id of its first field, so that the window
// turns to that field's page and focuses it. The panel decides nothing: the window runs the
// check when the image changes and hands it the findings.
//
// Threads: window thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "check/check.h"

class QLabel;
class QListWidget;
class QListWidgetItem;

namespace lovar {

class CheckPanel : public QWidget {
  Q_OBJECT
 public:
  explicit CheckPanel(QWidget* parent = nullptr);

  // Shows these findings in place of the ones before (in the order given), after the drift.
  void SetFindings(std::vector<Finding> findings);
  // Fields the device's read found changed not through this program (drift): findings of their
  // own kind ("изменено не через Ловар: …"), one per field, listed first and counted apart;
  // kept until replaced (an empty list at the next read).
  void SetDrift(std::vector<Finding> drift);
  const std::vector<Finding>& drift() const { return drift_; }
  // No findings and why there is nothing to check: "Проверка: конфигурация не показана".
  void SetNothing(const QString& why);
  // A note above the findings (what the records know of the device read), "" for none; kept
  // until replaced.
  void SetNote(const QString& note);
  QLabel* note() const { return note_; }
  const std::vector<Finding>& findings() const { return findings_; }

  QListWidget* list() const { return list_; }
  QLabel* summary() const { return summary_; }

 signals:
  // The field (its id in the catalog) a chosen finding concerns first.
  void FieldChosen(const QString& field_id);

 private:
  void Choose(QListWidgetItem* item);

  void Show();

  std::vector<Finding> findings_;
  std::vector<Finding> drift_;
  bool nothing_ = false;  // SetNothing's: no findings shown
  QLabel* summary_;
  QLabel* note_;
  QListWidget* list_;
};

// The question before "Записать в УО" when the check found errors: its text, listing the
// errors (at most kListedErrors, then how many more), warnings not among them.
inline constexpr int kListedErrors = 8;
QString WriteDespiteErrorsText(const std::vector<Finding>& findings);
// The box: "Записать всё равно" and "Вернуться", "Вернуться" the default and Escape's, so that
// Enter does not write. Parented to the active window.
std::unique_ptr<QMessageBox> WriteDespiteErrorsBox(const std::vector<Finding>& findings);
// Shows the box; true when the installer chose "Записать всё равно".
bool AskWriteDespiteErrors(const std::vector<Finding>& findings);

}  // namespace lovar
