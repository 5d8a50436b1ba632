#include "editor_events.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QLineEdit>

#include "typing_limits.h"

namespace lovar {

bool IsCharacterKey(const QKeyEvent* key) {
  const QString text = key->text();
  if (text.isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
  const Qt::KeyboardModifiers modifiers = key->modifiers();
  if ((modifiers & (Qt::ControlModifier | Qt::MetaModifier)) && !(modifiers & Qt::AltModifier))
    return false;
  const char16_t c = text.front().unicode();
  return text.size() > 1 || c == u'\b' || (c >= 0x20 && c != 0x7F);
}

bool IsLeaving(const QEvent* event) {
  if (event->type() != QEvent::FocusOut) return false;
  const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

void EditorEvents::Add(QWidget* control, KeyFilter key_filter, OnLeave on_leave, QString allowed) {
  Entry& entry = entries_[control];
  entry.key_filter = std::move(key_filter);
  entry.on_leave = std::move(on_leave);
  entry.allowed = std::move(allowed);
  control->installEventFilter(this);
}

void EditorEvents::SwallowKeys(QWidget* control) {
  entries_[control].swallow_keys = true;
  control->installEventFilter(this);
}

void EditorEvents::CommitFocused() {
  Leave(QApplication::focusWidget());
}

bool EditorEvents::eventFilter(QObject* watched, QEvent* event) {
  auto it = entries_.find(watched);
  if (it == entries_.end()) return false;
  const Entry& entry = it->second;
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    // Tab and Shift+Tab still move on: the keyboard reaches every control.
    if (entry.swallow_keys) return key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
    return KeyPressed(static_cast<QWidget*>(watched), entry, key);
  }
  if (IsLeaving(event)) Leave(watched);
  return false;
}

bool EditorEvents::KeyPressed(QWidget* control, const Entry& entry, const QKeyEvent* key) {
  const auto* edit = qobject_cast<const QLineEdit*>(control);
  auto say = [&](const QString& limit) {
    if (say_ && !limit.isEmpty()) say_(control, limit);
  };
  if (edit != nullptr && key->matches(QKeySequence::Paste)) {
    say(LengthLimitOf(edit, QApplication::clipboard()->text()));
    return false;
  }
  if (!IsCharacterKey(key)) return false;
  if (entry.key_filter && entry.key_filter(key->text())) {
    say(entry.allowed);
    return true;
  }
  if (edit != nullptr && key->key() != Qt::Key_Backspace && key->text() != QStringLiteral("\b"))
    say(LengthLimitOf(edit, key->text()));
  return false;
}

void EditorEvents::Leave(QObject* control) {
  auto it = entries_.find(control);
  if (leaving_ || it == entries_.end() || !it->second.on_leave) return;
  if (const auto* edit = qobject_cast<const QLineEdit*>(control); edit && !edit->isModified())
    return;
  leaving_ = true;
  it->second.on_leave();
  leaving_ = false;
}

}  // namespace lovar
