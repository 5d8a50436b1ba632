#include "enter_key.h"

#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace lovar {
namespace {

class EnterPressesButtons : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button == nullptr || !button->hasFocus() || !button->isEnabled()) return false;
    if (qobject_cast<QDialog*>(button->window()) != nullptr) return false;
    button->animateClick();
    return true;
  }
};

}  // namespace

void InstallEnterPressesButtons(QCoreApplication& app) {
  const QString name = QStringLiteral("EnterPressesButtons");
  if (app.findChild<QObject*>(name, Qt::FindDirectChildrenOnly) != nullptr) return;
  auto* filter = new EnterPressesButtons(&app);
  filter->setObjectName(name);
  app.installEventFilter(filter);
}

}  // namespace lovar
