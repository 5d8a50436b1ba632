// The "Проверка" panel in the main window and the question before a write with errors, driven
// through the real controls of the window on the demo device.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QStatusBar>

#include "app_settings.h"
#include "check_view.h"
#include "harness.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

bool Lists(UiSession& s, const char* rule) {
  for (const Finding& f : s.form1().check().panel().findings())
    if (f.rule == rule) return true;
  return false;
}

int RowOf(UiSession& s, const char* rule) {
  const std::vector<Finding>& findings = s.form1().check().panel().findings();
  for (size_t i = 0; i < findings.size(); ++i)
    if (findings[i].rule == rule) return static_cast<int>(i);
  return -1;
}

}  // namespace

class CheckWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void ThePanelFollowsAnEditAndAClickTurnsToTheField() {
    UiSession s;
    QVERIFY(s.Identify(251));
    CheckPanel& panel = s.form1().check().panel();
    QCOMPARE(panel.summary()->text(), QStringLiteral("Проверка: конфигурация не показана"));
    s.demo(251).device().image() = SampleImage(251);
    QVERIFY(s.Start());
    QVERIFY(!Lists(s, "object-number-empty"));
    QVERIFY(panel.summary()->text().startsWith(QStringLiteral("Проверка: ")));

    // The installer clears the object number with the keyboard and moves on.
    auto* edit = s.form1().findChild<QLineEdit*>(QStringLiteral("EditObjekt"));
    QVERIFY(edit != nullptr && ShowTabOf(s, edit) && FocusOn(edit));
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QVERIFY(FocusOn(s.ui().PageControl1->tabBar()));
    QVERIFY(WaitFor([&] { return Lists(s, "object-number-empty"); }, 5000));

    // From another page, a click on the finding turns back to the field and focuses it.
    QVERIFY(ShowTab(s, "TabSheet6"));
    QListWidget* list = panel.list();
    QListWidgetItem* item = list->item(RowOf(s, "object-number-empty"));
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    QVERIFY(s.ui().PageControl1->currentWidget()->isAncestorOf(edit));
    QVERIFY(WaitFor([&] { return QApplication::focusWidget() == edit; }, 5000));

    // Undo brings the number back, and the panel follows.
    s.form1().UndoClick();
    QVERIFY(!Lists(s, "object-number-empty"));
  }

  void AWriteWithErrorsAsksFirstAndGoingBackSendsNothing() {
    // No direction has a number: the device would report to nobody.
    ConfigImage image = SampleImage(251);
    std::string why;
    for (int n = 1; n <= 5; ++n)
      QVERIFY(StoreFieldText(*FindFieldById(251, "direction" + std::to_string(n) + ".phone"), image,
                             "", why));
    UiSession s;
    QVERIFY(ReadDemo(s, 251, image));
    QVERIFY(Lists(s, "no-reporting-direction"));
    DeviceSim& device = s.demo(251).device();

    s.dialogs.write_despite_errors = false;
    s.ui().ButtonWrite->click();
    QCOMPARE(s.dialogs.check_questions.size(), size_t{1});
    QCOMPARE(s.dialogs.check_questions[0].front().rule, std::string("no-reporting-direction"));
    QVERIFY(s.WaitIdle());
    QVERIFY(device.writes().empty());
    QVERIFY2(s.ui().StatusBar1->currentMessage().startsWith(
                 QStringLiteral("Запись не начата: проверка нашла ошибки")),
             qPrintable(s.ui().StatusBar1->currentMessage()));
    QVERIFY(s.ui().ButtonWrite->isEnabled());

    s.dialogs.write_despite_errors = true;
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block: nothing was edited
    QCOMPARE(s.dialogs.check_questions.size(), size_t{2});
    QVERIFY(WaitFor([&] { return !device.writes().empty(); }));
    QVERIFY(s.WaitIdle());
    QVERIFY(WaitFor([&] { return !s.form1().session().Busy(); }));
    QCOMPARE(device.image(), s.form1().session().image());
  }

  void ACompanyRulesFileIsCheckedAndABadOneIsSaid() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    const QString path = s.files.filePath(QStringLiteral("rules.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "lovar-checks", "version": 1, "rules": [
        {"id": "objects", "field": "object_number", "range": {"min": 900000, "max": 900001}}]})");
    file.close();
    QVERIFY(s.form1().LoadCompanyRules(path));
    QVERIFY(Lists(s, "objects"));
    QVERIFY(!s.form1().LoadCompanyRules(s.files.filePath(QStringLiteral("none.json"))));
    QVERIFY(!Lists(s, "objects"));
    QVERIFY(Lists(s, "company-rules-not-loaded"));
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith(
        QStringLiteral("Правила компании не загружены: ")));
  }

  // A rules file with a misspelt member, named in the settings: at this start as at every
  // start, the panel says for as long as it lasts that the company's rules are not in force
  // and why, and a write asks first. "Записать всё равно" is recorded with the write, and the
  // next read of the site says so.
  void ARulesFileThatFailsIsSaidWhileItLastsAndAWriteAsksFirst() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rules.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "lovar-checks", "version": 1, "rules": [
        {"id": "objects", "field": "object_number", "rnage": {"min": 1000}}]})");
    file.close();
    SetCompanyRulesFile(path);
    UiSession s;
    QVERIFY(s.Identify(251));        // the main window made: its start takes the setting
    SetCompanyRulesFile(QString());  // the other tests' settings as they were
    CheckPanel& panel = s.form1().check().panel();
    const QString said = panel.summary()->text();
    QVERIFY2(said.contains(QStringLiteral("Правила компании не действуют")) &&
                 said.contains(QStringLiteral("неизвестный член «rnage»")),
             qPrintable(said));

    s.demo(251).device().image() = SampleImage(251);
    QVERIFY(s.Start());
    QCOMPARE(panel.findings().front().rule, std::string("company-rules-not-loaded"));
    QCOMPARE(panel.summary()->text(), QStringLiteral("Проверка: 1 ошибка"));
    // The status line has moved on to the read; the panel has not.
    QVERIFY(!s.ui().StatusBar1->currentMessage().contains(QStringLiteral("Правила")));

    DeviceSim& device = s.demo(251).device();
    s.dialogs.write_despite_errors = false;
    s.ui().ButtonWrite->click();
    QCOMPARE(s.dialogs.check_questions.size(), size_t{1});
    QCOMPARE(s.dialogs.check_questions[0].front().rule, std::string("company-rules-not-loaded"));
    QVERIFY(s.WaitIdle());
    QVERIFY(device.writes().empty());

    s.dialogs.write_despite_errors = true;
    s.form1().findChild<QAction*>("NWriteAll")->trigger();
    QVERIFY(WaitFor([&] { return !device.writes().empty(); }));
    QVERIFY(s.WaitIdle());
    QVERIFY(WaitFor([&] { return !s.form1().session().Busy(); }));
    QVERIFY(!panel.note()->isVisible());
    QVERIFY(s.Start());
    const QString note = panel.note()->text();
    QVERIFY2(panel.note()->isVisible() && note.contains(QStringLiteral("несмотря на ошибки")) &&
                 note.contains(QStringLiteral("«Записать всё равно»")) &&
                 note.contains(QStringLiteral("[company-rules-not-loaded]")),
             qPrintable(note));
  }
};

LOVAR_UI_TEST(CheckWindowTest)
#include "check_window_test.moc"
