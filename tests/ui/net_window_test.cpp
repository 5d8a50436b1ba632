// The search window on network ports: a typed socket:// name reaches lovar-sim through the real
// ser2net and stays in the port list; the window keeps running while a server is slow to
// answer, and says why a connection failed.
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "harness.h"
#include "port_switch.h"
#include "serial/link_error.h"
#include "ui_form_key.h"

#if defined(LOVAR_SIM_PATH) && defined(__linux__)
#include "support/loopback.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// ser2net serving device raw on a free port of 127.0.0.1; its socket:// name, empty on failure.
QString StartSer2net(QProcess& server, const QTemporaryDir& dir, const QString& device) {
  uint16_t port = 0;
  {
    SilentServer probe;  // a free port, given back at once
    port = probe.port;
  }
  const QString config = dir.filePath("ser2net.yaml");
  std::ofstream(config.toStdString())
      << "connection: &lovar\n"
      << "  accepter: tcp,127.0.0.1," << port << "\n"
      << "  connector: serialdev," << device.toStdString() << ",9600n81,local\n";
  server.start("/usr/sbin/ser2net", {"-n", "-u", "-c", config, "-P", config + ".pid"});
  if (!server.waitForStarted(10000) || !WaitFor([&] { return ListeningOnLoopback(port); }))
    return {};
  return QStringLiteral("socket://127.0.0.1:%1").arg(port);
}

}  // namespace

class NetWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void NetworkPortNamesAreSearchable() {
    QVERIFY(TFormKey::IsPortName("socket://127.0.0.1:3001"));
    QVERIFY(TFormKey::IsPortName("RFC2217://[::1]:2217"));
    QVERIFY(TFormKey::IsPortName("rfc2217://bad name"));  // opened, and said to be malformed
    QVERIFY(!TFormKey::IsPortName("tcp://10.0.0.1:23"));
    QCOMPARE(TFormKey::ServerOf("rfc2217://[fe80::1]:2217"), QString("[fe80::1]:2217"));
    QCOMPARE(TFormKey::ServerOf("socket://box.local:4001"), QString("box.local:4001"));
  }

  void TypedNetworkPortReadsThroughSer2netAndStaysInTheList() {
    if (!QFile::exists("/usr/sbin/ser2net")) QSKIP("ser2net is not installed");
    QTemporaryDir dir;
    QProcess sim, server;
    const QString device = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!device.isEmpty());
    const QString url = StartSer2net(server, dir, device);
    QVERIFY(!url.isEmpty());

    UiSession s;
    s.form_key.ui().ComboBoxComs->setEditText(url);
    s.form_key.ButtonFindClick();
    QVERIFY(
        s.form_key.ui().LabelStatus->text().startsWith(QStringLiteral("Соединение с 127.0.0.1:")));
    QVERIFY(WaitFor([&] { return s.form_key.ui().ListBoxDevice->count() > 0; }));
    QVERIFY(s.form_key.ui().ButtonFind->isEnabled());
    QListWidget* list = s.form_key.ui().ListBoxDevice;  // the device line shown whole
    QVERIFY(WaitFor(
        [&] {
          return list->fontMetrics().horizontalAdvance(list->item(0)->text()) <
                 list->viewport()->width();
        },
        5000));
    // Kept in the list, before the demo entries.
    const int kept = s.form_key.ui().ComboBoxComs->findText(url);
    QCOMPARE(kept, 0);
    // The engine's no-answer watch sees the network's round trip through the window's port.
    QVERIFY(s.form1().Cport1().RoundTrip() > std::chrono::milliseconds{0});
    QVERIFY(s.Start());
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана"));
    QCOMPARE(s.dialogs.continue_questions, 0);
    s.form1().close();
    server.terminate();
    server.waitForFinished(10000);
    sim.terminate();
    sim.waitForFinished(10000);
  }

  void SilentServerLeavesTheWindowRunningAndIsSaidAfterItsTimeOut() {
    SilentServer silent;
    QVERIFY(silent.port != 0);
    const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port);
    UiSession s;
    s.form_key.ui().ComboBoxComs->setEditText(url);
    s.form_key.ButtonFindClick();
    // The click has returned while the server has still said nothing.
    QVERIFY(s.form1().Cport1().Opening());
    QCOMPARE(s.form_key.ui().LabelStatus->text(),
             QStringLiteral("Соединение с 127.0.0.1:%1…").arg(silent.port));
    QVERIFY(!s.form_key.ui().ButtonFind->isEnabled());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(100);
    QVERIFY(WaitFor([&] { return !s.form1().Cport1().Opening(); }, 30000));
    QVERIFY(ticks > 5);  // the event loop ran all along
    QCOMPARE(s.form_key.ui().LabelStatus->text(),
             url + ": " + QString::fromUtf8(ErrorText(LinkError::NoNegotiation).data()) + ".");
    QVERIFY(s.form_key.ui().ButtonFind->isEnabled());
    QVERIFY(!s.form1().Cport1().IsOpen());
  }

  void ClosingWhileConnectingAbandonsTheOpen() {
    SilentServer silent;
    UiSession s;
    s.form_key.ui().ComboBoxComs->setEditText(
        QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port));
    s.form_key.ButtonFindClick();
    QVERIFY(s.form1().Cport1().Opening());
    s.form_key.close();
    QVERIFY(s.program_ended);
    QVERIFY(!s.form1().Cport1().Opening());
    // The abandoned open ends on its own thread; nothing reaches the window afterwards.
    QTest::qWait(0);
    QVERIFY(!s.form1().Cport1().IsOpen());
  }
};

LOVAR_UI_TEST(NetWindowTest)
#include "net_window_test.moc"
#endif
