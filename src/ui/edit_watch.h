// The main window's watch over the installer's edits. After every key, click and focus change
// in the window the session compares its image with the undo history's snapshot (once the
// event has been handled), so that whatever an editor stored becomes one undo step. And Ctrl+Z
// and Ctrl+Y in a line edit are the edit's own while it holds typing not yet stored, the
// window's "Отменить" and "Повторить" otherwise.
//
// Threads: window thread only.
#pragma once

#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace lovar {

class Session;

// The line edit a key or focus event was sent to: the edit itself, or an editable combo box's.
QLineEdit* LineEditOf(QObject* watched);

class EditWatch : public QObject {
 public:
  // Watches every event of the application for window's; captured: after a capture.
  EditWatch(QWidget& window, Session& session, std::function<void()> captured);
  ~EditWatch() override;

  // The pages were shown from the image: what the focused edit shows is stored.
  void Displayed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ScheduleCapture();
  // Ctrl+Z, Ctrl+Y, Ctrl+Shift+Z in edit (ShortcutOverride: press false, KeyPress: true): true
  // when the event is settled here.
  bool UndoKey(QLineEdit* edit, QKeyEvent* key, bool press);

  QWidget& window_;
  Session& session_;
  std::function<void()> captured_;
  bool pending_ = false;
  QPointer<QLineEdit> edit_;  // the line edit with the focus
  QString entry_text_;        // its text when it got it: typing not yet stored
};

}  // namespace lovar
