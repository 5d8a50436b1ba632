// What the editors of the pages take from Qt's events: a key press that carries a character for
// their key filters, and a focus-out that means the user left the control ("on leaving").
//
// Threads: window thread only.
#pragma once

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>

namespace lovar {

// Focus keys and bare modifiers are no characters for a key filter.
inline bool IsCharacterKey(const QKeyEvent* key) {
  return key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab && !key->text().isEmpty();
}

// Leaving means the focus moved to another control, not that a message box or a popup came up
// (the "not a valid integer" box would otherwise come back again and again).
inline bool IsLeaving(const QEvent* event) {
  if (event->type() != QEvent::FocusOut) return false;
  const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

// Held while an exit handler runs: a message box that it raises moves the focus, and that must
// not run the handler again.
class ExitGuard {
 public:
  explicit ExitGuard(bool& running) : running_(running), entered_(!running) { running_ = true; }
  ~ExitGuard() {
    if (entered_) running_ = false;
  }
  ExitGuard(const ExitGuard&) = delete;
  ExitGuard& operator=(const ExitGuard&) = delete;
  // False when another exit handler is already running.
  bool entered() const { return entered_; }

 private:
  bool& running_;
  bool entered_;
};

}  // namespace lovar
