#include "edit_watch.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include "session/session.h"

namespace lovar {

QLineEdit* LineEditOf(QObject* watched) {
  if (auto* combo = qobject_cast<QComboBox*>(watched); combo && combo->isEditable())
    return combo->lineEdit();
  return qobject_cast<QLineEdit*>(watched);
}

EditWatch::EditWatch(QWidget& window, Session& session, std::function<void()> captured)
    : window_(window), session_(session), captured_(std::move(captured)) {
  qApp->installEventFilter(this);
}

EditWatch::~EditWatch() {
  qApp->removeEventFilter(this);
}

void EditWatch::Displayed() {
  if (edit_ != nullptr) entry_text_ = edit_->text();
}

bool EditWatch::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      QLineEdit* edit = LineEditOf(watched);
      if (edit != nullptr && widget->window() == &window_ &&
          UndoKey(edit, static_cast<QKeyEvent*>(event), event->type() == QEvent::KeyPress))
        return true;
      if (event->type() == QEvent::KeyPress) ScheduleCapture();
      break;
    }
    case QEvent::FocusIn:
      if (QLineEdit* edit = LineEditOf(watched); edit != nullptr && edit->window() == &window_) {
        edit_ = edit;
        entry_text_ = edit->text();
      }
      ScheduleCapture();
      break;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
    case QEvent::FocusOut:
      ScheduleCapture();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void EditWatch::ScheduleCapture() {
  if (pending_ || !window_.isVisible()) return;
  pending_ = true;
  QTimer::singleShot(0, this, [this] {
    pending_ = false;
    session_.CaptureEdits();
    captured_();
  });
}

bool EditWatch::UndoKey(QLineEdit* edit, QKeyEvent* key, bool press) {
  const QKeyCombination combination = key->keyCombination();
  const bool undo = combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Z);
  const bool redo =
      combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Y) ||
      combination == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
  if (!undo && !redo) return false;
  const bool typing = edit == edit_ && edit->text() != entry_text_;
  if (press) {
    // Ctrl+Y is not the edit's own redo on every system: made so while it holds typing.
    if (!typing || !redo) return false;
    edit->redo();
    return true;
  }
  // Accepted, the key goes to the edit; ignored, it is the window's shortcut.
  if (typing)
    key->accept();
  else
    key->ignore();
  return true;
}

}  // namespace lovar
