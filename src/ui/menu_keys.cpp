#include "menu_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QStringList>
#include <map>

namespace lovar {
namespace {

// The letter an item's text underlines, upper case; null for none.
QChar Letter(const QAction* action) {
  const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
  if (mnemonic.isEmpty()) return {};
  return QChar(static_cast<char16_t>(mnemonic[0].key())).toUpper();
}

// The item of `actions` whose letter is the one given (upper case), reachable now.
QAction* ItemOf(const QList<QAction*>& actions, QChar letter) {
  for (QAction* action : actions)
    if (action->isVisible() && action->isEnabled() && !action->isSeparator() &&
        Letter(action) == letter)
      return action;
  return nullptr;
}

class AnyLayout : public QObject {
 public:
  explicit AnyLayout(QMenuBar& bar) : QObject(&bar), bar_(bar) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    const QChar letter = RussianLetterOnKey(key->key()).toUpper();
    if (letter.isNull()) return false;
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // An open menu of the bar: its item by the letter, as if typed under the Russian layout.
    if (auto* menu = qobject_cast<QMenu*>(watched); menu != nullptr && IsOurs(menu)) {
      if ((mods & ~(Qt::ShiftModifier | Qt::AltModifier)) != 0 ||
          ItemOf(menu->actions(), letter) == nullptr)
        return false;
      QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString(letter));
      QCoreApplication::sendEvent(menu, &typed);
      return true;
    }
    // Alt and a key anywhere in the bar's window: the menu by its letter.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (mods != Qt::AltModifier || widget == nullptr || widget->window() != bar_.window())
      return false;
    QAction* item = ItemOf(bar_.actions(), letter);
    if (item == nullptr || item->menu() == nullptr) return false;
    bar_.setActiveAction(item);
    return true;
  }

 private:
  bool IsOurs(const QMenu* menu) const {
    for (const QAction* action : bar_.actions())
      if (action->menu() == menu) return true;
    return false;
  }

  QMenuBar& bar_;
};

}  // namespace

QChar RussianLetterOnKey(int qt_key) {
  static const std::map<int, char16_t> kKeys = {
      {Qt::Key_Q, u'й'},         {Qt::Key_W, u'ц'},           {Qt::Key_E, u'у'},
      {Qt::Key_R, u'к'},         {Qt::Key_T, u'е'},           {Qt::Key_Y, u'н'},
      {Qt::Key_U, u'г'},         {Qt::Key_I, u'ш'},           {Qt::Key_O, u'щ'},
      {Qt::Key_P, u'з'},         {Qt::Key_BracketLeft, u'х'}, {Qt::Key_BracketRight, u'ъ'},
      {Qt::Key_A, u'ф'},         {Qt::Key_S, u'ы'},           {Qt::Key_D, u'в'},
      {Qt::Key_F, u'а'},         {Qt::Key_G, u'п'},           {Qt::Key_H, u'р'},
      {Qt::Key_J, u'о'},         {Qt::Key_K, u'л'},           {Qt::Key_L, u'д'},
      {Qt::Key_Semicolon, u'ж'}, {Qt::Key_Apostrophe, u'э'},  {Qt::Key_Z, u'я'},
      {Qt::Key_X, u'ч'},         {Qt::Key_C, u'с'},           {Qt::Key_V, u'м'},
      {Qt::Key_B, u'и'},         {Qt::Key_N, u'т'},           {Qt::Key_M, u'ь'},
      {Qt::Key_Comma, u'б'},     {Qt::Key_Period, u'ю'},      {Qt::Key_QuoteLeft, u'ё'},
  };
  const auto found = kKeys.find(qt_key);
  return found != kKeys.end() ? QChar(found->second) : QChar();
}

void MenuLettersAnyLayout(QMenuBar& bar) {
  qApp->installEventFilter(new AnyLayout(bar));
}

QString CheckMenuLetters(const QMenuBar& bar) {
  QStringList faults;
  auto check = [&faults](const QString& where, const QList<QAction*>& actions) {
    std::map<char16_t, int> uses;
    for (const QAction* a : actions)
      if (!a->isSeparator()) ++uses[Letter(a).unicode()];
    QStringList items;
    for (const QAction* a : actions)
      if (!a->isSeparator() && (Letter(a).isNull() || uses[Letter(a).unicode()] > 1))
        items << QString(a->text()).remove(QLatin1Char('&'));
    if (!items.isEmpty()) faults << where + QStringLiteral(": ") + items.join(QStringLiteral(", "));
  };
  check(QStringLiteral("Меню"), bar.actions());
  for (const QAction* top : bar.actions())
    if (top->menu() != nullptr)
      check(QString(top->text()).remove(QLatin1Char('&')), top->menu()->actions());
  return faults.join(QStringLiteral("; "));
}

}  // namespace lovar
