// What the main window says: its status line, the message box of a failure, and its title,
// marked "* " while the session's image is kept neither in the device nor in a file, with
// "Правка"'s actions named after the steps they would take back.
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QStatusBar>
#include <QString>

#include "page.h"
#include "session/session.h"
#include "session_texts.h"

namespace lovar {

class WindowStatus {
 public:
  WindowStatus(QMainWindow& window, QStatusBar& bar, QAction& undo, QAction& redo, Dialogs& dialogs,
               const Session& session);

  // One line in the status bar.
  void Show(const QString& text);
  // A note beside what the line says (the registry's word after a read's end): both stay.
  void ShowBeside(const QString& note);
  // The status line, and a warning box when said.caption is set.
  void Say(const Said& said);
  // The title without the marker: what the window holds.
  void SetBaseTitle(const QString& title);
  // The marker and the actions, as the session now stands.
  void Refresh();

 private:
  QMainWindow& window_;
  QStatusBar& bar_;
  QAction& undo_;
  QAction& redo_;
  Dialogs& dialogs_;
  const Session& session_;
  QString base_title_;
};

}  // namespace lovar
