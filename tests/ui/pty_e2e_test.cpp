// End to end over a pseudo-terminal: the windows drive a real TCport against the lovar-sim
// process, one path per model: search, "Старт", read, an edit, write; the simulator saves its
// image on exit and it must equal the tool's.
#include <QProcess>
#include <QTemporaryDir>

#include "files/config_file.h"
#include "harness.h"

using namespace lovar;
using namespace lovar::testing;

class PtyEndToEndTest : public QObject {
  Q_OBJECT
 private slots:
  void ReadEditWriteOverAPseudoTerminal_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("250") << 250;
    QTest::newRow("251") << 251;
    QTest::newRow("252") << 252;
  }
  void ReadEditWriteOverAPseudoTerminal() {
#ifndef LOVAR_SIM_PATH
    QSKIP("lovar-sim is not built here");
#else
    QFETCH(int, model);
    QTemporaryDir dir;
    const QString saved = dir.filePath("device.dat");
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", QString::number(model), "--save", saved});
    QVERIFY(!port.isEmpty());

    Session s;
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана"));
    TypeAndLeave(s.pui().EditTimeSound, "42");
    const int sound = model == 251 ? 13 : 117;
    QCOMPARE(int(s.form1().Image()[sound]), 42);
    s.form1().ButtonWriteClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().StatusBar1->currentMessage().contains("записана"));
    s.form1().close();  // closes the port
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));

    ConfigImage device;
    QVERIFY(LoadConfigFile(saved.toStdString(), model, device).ok());
    const int first = model == 252 ? 100 : 0;
    const int length = FileImageLength(model);
    for (int i = first; i < length; ++i)
      QVERIFY2(device[i] == s.form1().Image()[i], qPrintable(QString("byte %1").arg(i)));
#endif
  }
};

LOVAR_UI_TEST(PtyEndToEndTest)
#include "pty_e2e_test.moc"
