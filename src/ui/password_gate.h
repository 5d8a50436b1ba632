// PasswordGate: the main window's password gate. On the models that have one, the pages stay
// hidden until the text typed into "Пароль" equals the stored password (compared as typed and
// when the edit gets the focus); then the pages show and the panel goes.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QLineEdit;
class QWidget;

namespace lovar {

class PasswordGate : public QObject {
 public:
  // panel holds label and edit; pages is what the gate hides.
  PasswordGate(QWidget& panel, QLabel& label, QLineEdit& edit, QWidget& pages);

  const QString& Stored() const { return stored_; }
  void SetStored(const QString& password) { stored_ = password; }
  // The pages hidden until password is typed.
  void Lock(const QString& password);
  // Before a display: the pages show when the typed text is the stored password as it was
  // before this display, else the edit asks for it.
  void AtDisplay();
  // The panel put away for a model without a gate; the typed text kept as the password.
  void HidePanel();
  void ShowPanel();
  void KeepTyped();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Typed();

  QWidget& panel_;
  QLabel& label_;
  QLineEdit& edit_;
  QWidget& pages_;
  QString stored_;
};

}  // namespace lovar
