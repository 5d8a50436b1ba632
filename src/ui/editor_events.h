// The events the editors of a page react to: a key press that carries a character for their key
// filters, and "on leaving" a control (a focus-out that means the user moved on). One event
// filter serves every control of a page.
//
// Threads: window thread only.
#pragma once

#include <QKeyEvent>
#include <QObject>
#include <QWidget>
#include <functional>
#include <map>

namespace lovar {

// What a key filter sees as a character: a key that types text or backspace. Focus keys, bare
// modifiers, Enter, Escape and the Ctrl shortcuts (Ctrl+A, C, V, X, Z, whose text is a control
// character) are not: they reach the control as usual. Ctrl+Alt is AltGr on Windows and types.
bool IsCharacterKey(const QKeyEvent* key);

// Leaving means the focus moved to another control, not that a message box or a popup came up
// (the "not a valid integer" box would otherwise come back again and again).
bool IsLeaving(const QEvent* event);

// The events of a page's editors. A line edit whose text was not edited since the display put it
// there (QLineEdit::isModified) is not stored when left: leaving a field unchanged never changes
// the image, whatever the editor would make of the text.
class EditorEvents : public QObject {
 public:
  // Gets the text of a character key; true drops the key.
  using KeyFilter = std::function<bool(const QString& text)>;
  using OnLeave = std::function<void()>;
  // Said when typing stops at a control's limit (typing_limits.h): a key its filter drops
  // (limit: what the filter takes, `allowed` of Add), a key or a paste past its maximum length.
  using OnLimit = std::function<void(QWidget* control, const QString& limit)>;

  // key_filter may be empty (every key passes), and so may on_leave; allowed says what the
  // filter takes ("только цифры").
  void Add(QWidget* control, KeyFilter key_filter, OnLeave on_leave, QString allowed = {});
  void SayLimits(OnLimit say) { say_ = std::move(say); }
  // The control takes no key but Tab and Shift+Tab (a list chosen with the mouse only).
  void SwallowKeys(QWidget* control);
  // Runs the leave handler of the control that has the focus, if it is one of these, so that
  // what it holds is stored before a write or a save.
  void CommitFocused();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    KeyFilter key_filter;
    OnLeave on_leave;
    QString allowed;
    bool swallow_keys = false;
  };
  void Leave(QObject* control);
  // The key as the control takes it: true when dropped (and said).
  bool KeyPressed(QWidget* control, const Entry& entry, const QKeyEvent* key);

  std::map<QObject*, Entry> entries_;
  OnLimit say_;
  // A message box that a leave handler raises moves the focus: that must not run it again.
  bool leaving_ = false;
};

}  // namespace lovar
