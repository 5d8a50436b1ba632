// The windows' life against the in-process simulator: closing them, a page change during a
// write, another model after one was identified, and port names that are no port.
#include <QAction>
#include <QFile>
#include <QTemporaryDir>

#include "enter_key.h"
#include "harness.h"
#include "serial/link_error.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

class FlowTest : public QObject {
  Q_OBJECT
 private slots:
  void ClosingTheMainWindowClosesThePortAndEndsTheProgram() {
    UiSession s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    QVERIFY(s.form1().Cport1().IsOpen());
    s.form1().close();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.form_key.MainWindowReady());
    QVERIFY(s.program_ended);
  }

  void ClosingTheSearchWindowClosesTheMainWindowAndThePort() {
    UiSession s;
    QVERIFY(s.Identify(251));
    s.form_key.close();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.form1().isVisible());
    QVERIFY(s.program_ended);
  }

  void ChangingPagesDuringAWriteStopsIt() {
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    // The installer changes the page as the third block reaches the device.
    QTabWidget* pages = s.ui().PageControl1;
    s.demo(251).device().SetRequestObserver([&](int, std::span<const uint8_t> frame) {
      if (frame[6] == 202 && s.demo(251).device().writes().size() == 2)
        QMetaObject::invokeMethod(
            pages, [pages] { pages->setCurrentIndex(1); }, Qt::QueuedConnection);
    });
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, as it was
    QVERIFY(WaitFor([&] { return pages->currentIndex() == 1; }));
    const size_t blocks = s.demo(251).device().writes().size();
    QTest::qWait(300);
    QVERIFY(s.demo(251).device().writes().size() <= blocks + 1);  // at most the block in flight
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    QVERIFY(!s.form1().exchange().RequestOutstanding());
    const QString status = s.ui().StatusBar1->currentMessage();
    QVERIFY2(status.startsWith("Запись прервана на смещении ") &&
                 status.contains(" из 4096 (остановлено сменой страницы)"),
             qPrintable(status));
    QVERIFY(s.dialogs.messages.empty());  // the installer did it: no box
    QCOMPARE(s.dialogs.continue_questions, 0);
  }

  void AnotherModelReturnsToTheCreationStateFirst() {
    UiSession s;
    QVERIFY(s.Identify(252));
    QVERIFY(s.pui().ComboBoxTypeShl3->isHidden());
    QVERIFY(s.ui().PanelPassword->isHidden());
    QVERIFY(s.Identify(251));
    QVERIFY(!s.pui().ComboBoxTypeShl3->isHidden());
    QVERIFY(!s.pui().CheckRele23->isHidden());
    QVERIFY(!s.ui().PanelPassword->isHidden());
    QCOMPARE(s.params().FieldOf(s.pui().ComboBoxTypeShl1)->offset, 2);
    QCOMPARE(s.ui().ProgressBar1->maximum(), 4096);
  }

  void PortNamesThatAreNoPortAreIgnoredBySearch() {
    UiSession s;
    s.form_key.ui().ComboBoxComs->setEditText("xyz");
    s.form_key.ButtonFindClick();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.ui().ButtonRead->isEnabled());
    QVERIFY(s.form_key.ui().ButtonCreate->isHidden());
    QCOMPARE(s.form_key.ui().LabelStatus->text(),
             QString("«xyz» — не имя порта. Выберите порт из списка."));
  }

  // The search window's status line says why, in the words lovar-cli uses.
  void APortThatCannotBeOpenedSaysWhy() {
    QTemporaryDir dir;
    QFile file(dir.filePath("not-a-port"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const std::pair<QString, LinkError> cases[] = {
        {dir.filePath("missing"), LinkError::NoSuchPort},
        {file.fileName(), LinkError::NotSerial},
    };
    for (const auto& [port, error] : cases) {
      UiSession s;
      s.form_key.ui().ComboBoxComs->setEditText(port);
      s.form_key.ButtonFindClick();
      QVERIFY2(!s.form1().Cport1().IsOpen(), qPrintable(port));
      QCOMPARE(s.form_key.ui().LabelStatus->text(),
               port + ": " + QString::fromUtf8(ErrorText(error).data()) + ".");
    }
  }

  void EnterPressesTheFocusedButton() {
    InstallEnterPressesButtons(*qApp);
    UiSession s;
    s.form_key.ChooseDemo(250);
    s.form_key.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s.form_key));
    QPushButton* find = s.form_key.ui().ButtonFind;
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Return);
    QVERIFY(WaitFor([&] { return s.form_key.ui().ListBoxDevice->count() == 1; }));
    QPushButton* start = s.form_key.ui().ButtonCreate;
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(WaitFor([&] { return s.form1().isVisible(); }));
    QVERIFY(s.WaitIdle());
    QVERIFY(s.demo(250).device().requests() > 1);  // the read that "Старт" starts
  }
};

LOVAR_UI_TEST(FlowTest)
#include "flow_test.moc"
