// The password gate on its own widgets: what opens the pages, what keeps them shut, and the
// label that stands only beside its edit.
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include "harness.h"
#include "password_gate.h"

using namespace lovar;

namespace {

struct Gate {
  QWidget window;
  QWidget* panel = new QWidget(&window);
  QLabel* label = new QLabel(QStringLiteral("Пароль"), panel);
  QLineEdit* edit = new QLineEdit(panel);
  QWidget* pages = new QWidget(&window);
  PasswordGate gate{*panel, *label, *edit, *pages};
  Gate() {
    window.show();
    pages->hide();
  }
};

}  // namespace

class PasswordGateTest : public QObject {
  Q_OBJECT
 private slots:
  void OnlyTheStoredPasswordOpensThePagesAndTakesThePanelAway() {
    Gate g;
    g.gate.SetStored(QStringLiteral("40718"));
    g.edit->setText(QStringLiteral("4071"));
    QVERIFY(g.pages->isHidden());
    QVERIFY(g.panel->isVisible());
    g.edit->setText(QStringLiteral("407189"));
    QVERIFY(g.pages->isHidden());
    g.edit->setText(QStringLiteral("40718"));
    QVERIFY(g.pages->isVisible());
    QVERIFY(g.panel->isHidden());
  }

  // A display opens the pages only for the password typed before it; Lock shuts them again
  // under another one.
  void ADisplayAndALockJudgeTheTypedText() {
    Gate g;
    g.gate.SetStored(QStringLiteral("1111"));
    g.edit->setText(QStringLiteral("2222"));
    g.gate.AtDisplay();
    QVERIFY(g.pages->isHidden());
    QVERIFY(g.edit->isVisible());
    g.gate.SetStored(QStringLiteral("2222"));
    g.gate.AtDisplay();
    QVERIFY(g.pages->isVisible());
    g.gate.Lock(QStringLiteral("3333"));
    QVERIFY(g.pages->isHidden());
    QCOMPARE(g.gate.Stored(), QStringLiteral("3333"));
    g.gate.KeepTyped();
    QCOMPARE(g.gate.Stored(), QStringLiteral("2222"));
  }

  void TheLabelFollowsItsEdit() {
    Gate g;
    QVERIFY(g.label->isVisible());
    g.edit->hide();
    QVERIFY(g.label->isHidden());
    g.edit->show();
    QVERIFY(g.label->isVisible());
  }
};

LOVAR_UI_TEST(PasswordGateTest)
#include "password_gate_test.moc"
