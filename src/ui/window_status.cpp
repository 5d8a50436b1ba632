#include "window_status.h"

#include "undo_menu.h"

namespace lovar {

WindowStatus::WindowStatus(QMainWindow& window, QStatusBar& bar, QAction& undo, QAction& redo,
                           Dialogs& dialogs, const Session& session)
    : window_(window),
      bar_(bar),
      undo_(undo),
      redo_(redo),
      dialogs_(dialogs),
      session_(session),
      base_title_(window.windowTitle()) {}

void WindowStatus::Show(const QString& text) {
  bar_.showMessage(text);
  bar_.setToolTip(text);  // a long line is shortened in the middle
}

void WindowStatus::ShowBeside(const QString& note) {
  const QString line = bar_.currentMessage();
  Show(line.isEmpty() ? note : Sentence(line) + QLatin1Char(' ') + Sentence(note));
}

void WindowStatus::Say(const Said& said) {
  if (said.text.isEmpty()) return;
  Show(said.status.isEmpty() ? said.text : said.status);
  if (!said.caption.isEmpty()) dialogs_.Message(said.caption, said.text, true);
}

void WindowStatus::SetBaseTitle(const QString& title) {
  base_title_ = title;
  Refresh();
}

void WindowStatus::Refresh() {
  ShowEditActions(undo_, redo_, session_.history(), session_.Reading(), window_);
  window_.setWindowTitle(session_.Unsaved() ? QStringLiteral("* ") + base_title_ : base_title_);
}

}  // namespace lovar
