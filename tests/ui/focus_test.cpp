// Where the focus is on the pages: a frame shows the control a click on a check finding
// focused, and Tab on a model 251's "Параметры" follows the rows of its lower group.
#include <QListWidget>

#include "check_view.h"
#include "focus_view.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

class FocusTest : public QObject {
  Q_OBJECT
 private slots:
  void AClickOnAFindingFramesTheFieldItFocuses() {
    ConfigImage image = SampleImage(251);
    std::string why;
    QVERIFY(StoreFieldText(*FindFieldById(251, "object_number"), image, "", why));
    UiSession s;
    QVERIFY(ReadDemo(s, 251, image, "TabSheet6"));
    auto* frame = s.form1().findChild<FocusFrame*>(QStringLiteral("FocusFrame"));
    QVERIFY(frame != nullptr && frame->isHidden());
    QListWidget* list = s.form1().check().panel().list();
    const std::vector<Finding>& findings = s.form1().check().panel().findings();
    const auto found = std::find_if(findings.begin(), findings.end(), [](const Finding& f) {
      return f.rule == "object-number-empty";
    });
    QVERIFY(found != findings.end());
    QListWidgetItem* item = list->item(static_cast<int>(found - findings.begin()));
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    QLineEdit* edit = s.pui().EditObjekt;
    QVERIFY(WaitFor([&] { return QApplication::focusWidget() == edit; }, 5000));
    QCOMPARE(frame->target(), edit);
    QVERIFY(frame->isVisible() && frame->parentWidget() == edit->parentWidget());
    QVERIFY(frame->geometry().contains(edit->geometry()));
    QVERIFY(FocusOn(s.ui().PageControl1->tabBar()));  // off the pages: no frame
    QVERIFY(frame->isHidden());
  }

  // After "Пароль" Tab went down to the technological loop's boxes; the rows go across.
  void TabFollowsTheRowsOfTheParameters() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251), "TabSheet1"));
    Ui::ParametersPage& p = s.pui();
    QVERIFY(FocusOn(p.EditObjekt));
    QWidget* expected[] = {p.Edit2,        p.EditPasw,       p.EditCountRep,   p.Edit6,
                           p.EditCountSMS, p.EditCountSpeak, p.EditTimeAnswer, p.CheckTechV1};
    for (QWidget* next : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), next->objectName());
    }
  }
};

LOVAR_UI_TEST(FocusTest)
#include "focus_test.moc"
