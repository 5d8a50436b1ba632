#include "password_gate.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>

namespace lovar {

PasswordGate::PasswordGate(QWidget& panel, QLabel& label, QLineEdit& edit, QWidget& pages)
    : panel_(panel), label_(label), edit_(edit), pages_(pages) {
  connect(&edit_, &QLineEdit::textChanged, this, [this] { Typed(); });
  edit_.installEventFilter(this);
}

void PasswordGate::Lock(const QString& password) {
  pages_.hide();
  stored_ = password;
}

void PasswordGate::AtDisplay() {
  if (edit_.text() == stored_)
    pages_.show();
  else
    edit_.show();
}

void PasswordGate::HidePanel() {
  panel_.hide();
}

void PasswordGate::ShowPanel() {
  panel_.show();
}

void PasswordGate::KeepTyped() {
  stored_ = edit_.text();
}

void PasswordGate::Typed() {
  if (edit_.text() != stored_) return;
  pages_.show();
  panel_.hide();
}

bool PasswordGate::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &edit_) return false;
  if (event->type() == QEvent::FocusIn && edit_.text() == stored_) pages_.show();
  // "Пароль" stands only beside its edit: alone beside the buttons it reads as a field to find.
  if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
    label_.setVisible(event->type() == QEvent::ShowToParent);
  return false;
}

}  // namespace lovar
