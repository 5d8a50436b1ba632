// The road of a configuration through the windows, for each model, against the in-process
// simulator: search, "Старт", read, display, edits, write, and the device holding what the tool
// holds.
#include "harness.h"
#include "model/regions.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

class FlowTest : public QObject {
  Q_OBJECT
 private slots:
  void SearchStartReadEditWrite_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("250") << 250;
    QTest::newRow("251") << 251;
    QTest::newRow("252") << 252;
  }
  void SearchStartReadEditWrite() {
    QFETCH(int, model);
    Session s;
    QVERIFY(s.Identify(model));
    QCOMPARE(s.form_key.ui().ListBoxDevice->item(0)->text(),
             QString::fromStdString(DeviceLine(model, 12)));
    QCOMPARE(s.ui().ProgressBar1->maximum(), ImageLength(model));
    QVERIFY(s.Start());
    QVERIFY(s.form1().isVisible());
    QVERIFY(!s.form_key.isVisible());
    QVERIFY(!s.ui().PageControl1->isHidden());  // empty edit = empty stored password, or 252
    const ConfigImage sample = SampleImage(model);
    Ui::ParametersPage& p = s.pui();
    if (model == 251) {
      QCOMPARE(p.EditTimeIn1->text(), QString::number(sample[10]));
      QCOMPARE(p.EditNameShl1->text(), QString::fromStdString(sample.Text(512, 8)));
      QCOMPARE(p.EditObjekt->text(), QString::fromStdString(sample.Text(21, 8)));
      QCOMPARE(p.CheckBoxAuto1->isChecked(), sample.Bit(2, 7));
      // Edits.
      TypeAndLeave(p.EditTimeSir, "300");
      QCOMPARE(int(s.form1().Image()[9]), 44);
      TypeAndLeave(p.EditNameShl2, "Окно");
      QCOMPARE(s.form1().Image().Text(520, 8), std::string("Окно"));
      p.CheckBoxSir3->setChecked(!p.CheckBoxSir3->isChecked());
      Leave(p.CheckBoxSir3);
      QCOMPARE(s.form1().Image().Bit(6, 2), p.CheckBoxSir3->isChecked());
    } else {
      QCOMPARE(p.EditTimeIn1->text(), QString::number(sample[104]));
      QCOMPARE(p.EditNumPlata->text(), QString::number(board::Address(sample)));
      TypeAndLeave(p.EditTimeIn1, "300");
      QCOMPARE(int(s.form1().Image()[104]), 44);
      QCOMPARE(p.EditTimeIn1->text(), QString("44"));
      p.ComboBoxLevel->setCurrentIndex(4);  // "360"
      QCOMPARE(int(s.form1().Image()[122]), 4);
      QCOMPARE(p.EditLevel->text(), QString("4"));
    }
    s.form1().ButtonWriteClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().StatusBar1->currentMessage().contains("записана"));
    const ConfigImage& device = s.demo(model).device().image();
    const ConfigImage& tool = s.form1().Image();
    const int first = model == 252 ? 100 : 0;  // bytes 0 to 99 never go to a model 252
    for (int i = first; i < ImageLength(model); ++i)
      QVERIFY2(device[i] == tool[i], qPrintable(QString("byte %1").arg(i)));
  }

  void ClosingTheMainWindowClosesThePortAndEndsTheProgram() {
    Session s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    QVERIFY(s.form1().Cport1().IsOpen());
    s.form1().close();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.form_key.MainWindowReady());
    QVERIFY(s.program_ended);
  }

  void ClosingTheSearchWindowClosesTheMainWindowAndThePort() {
    Session s;
    QVERIFY(s.Identify(251));
    s.form_key.close();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.form1().isVisible());
    QVERIFY(s.program_ended);
  }

  void ChangingPagesDuringAWriteStopsIt() {
    Session s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    // The installer changes the page as the third block reaches the device.
    QTabWidget* pages = s.ui().PageControl1;
    s.demo(251).device().SetRequestObserver([&](int, std::span<const uint8_t> frame) {
      if (frame[6] == 202 && s.demo(251).device().writes().size() == 2)
        QMetaObject::invokeMethod(pages, [pages] { pages->setCurrentIndex(1); },
                                  Qt::QueuedConnection);
    });
    s.form1().ButtonWriteClick();
    QVERIFY(WaitFor([&] { return pages->currentIndex() == 1; }));
    const size_t blocks = s.demo(251).device().writes().size();
    QTest::qWait(300);
    QVERIFY(s.demo(251).device().writes().size() <= blocks + 1);  // at most the block in flight
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    QVERIFY(!s.form1().exchange().RequestOutstanding());
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Запись в УО остановлена"));
    QCOMPARE(s.dialogs.continue_questions, 0);
  }

  void AnotherModelReturnsToTheCreationStateFirst() {
    Session s;
    QVERIFY(s.Identify(252));
    QVERIFY(s.pui().ComboBoxTypeShl3->isHidden());
    QVERIFY(s.ui().PanelPassword->isHidden());
    QVERIFY(s.Identify(251));
    QVERIFY(!s.pui().ComboBoxTypeShl3->isHidden());
    QVERIFY(!s.pui().CheckRele23->isHidden());
    QVERIFY(!s.ui().PanelPassword->isHidden());
    QCOMPARE(s.pui().ComboBoxTypeShl1->property("tag").toInt(), 2);
    QCOMPARE(s.ui().ProgressBar1->maximum(), 4096);
  }

  void PortNamesThatAreNoPortAreIgnoredBySearch() {
    Session s;
    s.form_key.ui().ComboBoxComs->setEditText("xyz");
    s.form_key.ButtonFindClick();
    QVERIFY(!s.form1().Cport1().IsOpen());
    QVERIFY(!s.ui().ButtonRead->isEnabled());
    QVERIFY(s.form_key.ui().ButtonCreate->isHidden());
  }
};

LOVAR_UI_TEST(FlowTest)
#include "flow_test.moc"
