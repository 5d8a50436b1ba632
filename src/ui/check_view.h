// The main window's "Проверка" panel at its right: the findings of the check over the image the
// pages show, kept current as the installer edits (the check is run again after every captured
// edit, a display of the image, and when the pages are shown or hidden), and nothing while no
// configuration is shown (none read or loaded yet, a read under way, the password not given).
// A click on a finding turns to its field's page and puts the focus on its control.
//
// The company's rules file is the window's: SetCompanyRules (or LoadCompanyRules from a path)
// gives them to the session, which checks with them here and before a write. A file that
// cannot be taken leaves no rule of it in force, and says so for as long as it lasts: as an
// error among the findings (company-rules-not-loaded), so that a write asks first, and with
// "конфигурация не показана" while nothing is shown.
//
// A write the installer lets past the check's errors ("Записать всё равно") is recorded as
// such (Recorder::NoteOverride); a read whose device still holds what such a write put there
// says so above the findings until the next read.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTabWidget>
#include <functional>
#include <optional>

#include "check/company_rules.h"
#include "check_panel.h"
#include "model/catalog.h"
#include "page.h"
#include "recording/drift_check.h"
#include "session/session.h"

class QMainWindow;

namespace lovar {

class CheckView : public QObject {
 public:
  // The panel's width beside the pages.
  static constexpr int kWidth = 300;

  // Puts the panel beside window's central widget. turn_to turns to a field's page (not while
  // an exchange runs: a page change stops it); the view then focuses the field's control.
  CheckView(QMainWindow& window, QTabWidget& pages, Session& session,
            std::function<void(const Field&)> turn_to);
  ~CheckView() override;

  // Runs the check again and shows its findings.
  void Refresh();

  void SetCompanyRules(std::optional<CompanyRules> rules);
  const std::optional<CompanyRules>& company_rules() const { return company_; }
  // Reads the rules file at path; empty when taken, else why not (in Russian). A file refused
  // leaves no company rules in force: a half-taken set would pass what the company forbids.
  QString LoadCompanyRules(const QString& path);

  // The question before a write with errors (the session asks it): true writes, and the
  // write's records say which errors were let past.
  bool AskWriteDespiteErrors(Dialogs& dialogs, Recorder& recorder,
                             const std::vector<Finding>& findings);
  // A read ended: what its records know of the configuration read (KeptRecord::note); the
  // drift of the read before is no longer shown.
  void ReadEnded(const SessionEnd& end);
  // The read's comparison with its site: the drifted fields shown, one finding each.
  void ShowDrift(const DriftFound& found);

  CheckPanel& panel() { return *panel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(const QString& field_id);

  QMainWindow& window_;
  QTabWidget& pages_;
  Session& session_;
  std::function<void(const Field&)> turn_to_;
  std::optional<CompanyRules> company_;
  CheckPanel* panel_;
};

// The control that shows field in window (a grid: its cell made current), focused. False when
// the window shows the field nowhere, or its control cannot take the focus now.
bool FocusFieldControl(QWidget& window, const Field& field);

}  // namespace lovar
