// The program's whole trip on a real serial port with the real windowing system: run by
// scripts/wine-tests with the Windows build under Wine and Xvfb (platform "windows") against
// lovar-sim on a pseudo-terminal that Wine maps as a COM port. Skipped unless LOVAR_TRIP_PORT
// names the port (it runs the same on Linux with a pty path and an X display).
//   LOVAR_TRIP_PORT   the port, e.g. COM5; it must be in the search window's list (a path, e.g.
//                     a Linux pty, which the list leaves out, is typed into it instead)
//   LOVAR_TRIP_SAVE   the file "Сохранить" writes (the script compares the device with it)
//   LOVAR_TRIP_SHOTS  a folder for screenshots of the screen at each step (optional)
// Search, "Старт" and the read, one edit on "Параметры" and one on "Параметры передачи"
// (model 251), "Записать в УО", "Сохранить"; the buttons and the tab are clicked with the mouse
// and the values typed key by key.
#include <QDir>
#include <QScreen>
#include <QTabBar>

#include "files/config_file.h"
#include "model/catalog.h"
#include "pages_helpers.h"
#include "qt_translations.h"
#include "serial/port_list.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

constexpr int kExchangeWaitMs = 120000;  // Wine under Xvfb on a loaded machine is slow

void Click(QWidget* widget) {
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

// Types into an edit key by key and leaves it, which stores the value.
void TypeInto(QLineEdit* edit, const QString& text) {
  Click(edit);
  edit->selectAll();
  QTest::keyClicks(edit, text);
  Leave(edit);
}

}  // namespace

class ComPortTripTest : public QObject {
  Q_OBJECT
 public:
  ComPortTripTest() : shots_(qEnvironmentVariable("LOVAR_TRIP_SHOTS")) {}

 private:
  // The whole screen as the windowing system shows it, or the window alone if that fails.
  void Shot(QWidget& window, const char* name) {
    if (shots_.isEmpty()) return;
    QDir().mkpath(shots_);
    QTest::qWait(300);  // let the window system paint what the last step changed
    QPixmap picture = window.screen()->grabWindow(0);
    if (picture.isNull()) picture = window.grab();
    QVERIFY(picture.save(QStringLiteral("%1/%2.png").arg(shots_, QLatin1String(name))));
  }

  QString shots_;

 private slots:
  void SearchReadEditWriteSave() {
    const QString port = qEnvironmentVariable("LOVAR_TRIP_PORT");
    const QString save = qEnvironmentVariable("LOVAR_TRIP_SAVE");
    if (port.isEmpty() || save.isEmpty()) QSKIP("LOVAR_TRIP_PORT and LOVAR_TRIP_SAVE not set");
    LoadQtTranslations(*QCoreApplication::instance());

    // The search window lists the system's ports, the simulator's among them.
    UiSession s(FillComPorts());
    s.dialogs.save_answer = save;
    QVERIFY(QTest::qWaitForWindowExposed(&s.form_key, kExchangeWaitMs));
    QComboBox* ports = s.form_key.ui().ComboBoxComs;
    const int index = ports->findText(port);
    if (port.startsWith('/')) {
      ports->setEditText(port);
    } else {
      QVERIFY2(index >= 0, qPrintable(port + " is not in the port list"));
      ports->setCurrentIndex(index);
    }

    Click(s.form_key.ui().ButtonFind);
    QVERIFY(WaitFor([&] { return !s.form_key.ui().ButtonCreate->isHidden(); }, kExchangeWaitMs));
    QVERIFY(s.form_key.ui().ListBoxDevice->item(0)->text().endsWith(": Ловар-М Версия 2.2"));
    Shot(s.form_key, "1_search");

    Click(s.form_key.ui().ButtonCreate);
    QVERIFY(WaitFor(
        [&] {
          return s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана") &&
                 s.form1().exchange().ButtonsEnabled();
        },
        kExchangeWaitMs));
    QVERIFY(QTest::qWaitForWindowExposed(&s.form1(), kExchangeWaitMs));
    ConfigImage expected = s.form1().Image();
    Shot(s.form1(), "2_read");

    // "Параметры": the sounder's time.
    TypeInto(s.pui().EditTimeSound, "42");
    expected[13] = 42;
    // "Параметры передачи", reached by a click on its tab: the fourth direction's telephone.
    QTabWidget* pages = s.ui().PageControl1;
    QWidget* sheet = pages->findChild<QWidget*>("TabSheet6");
    const QRect tab = pages->tabBar()->tabRect(pages->indexOf(sheet));
    QTest::mouseClick(pages->tabBar(), Qt::LeftButton, Qt::NoModifier, tab.center());
    QVERIFY(WaitFor([&] { return pages->currentWidget() == sheet; }, 10000));
    TypeInto(Directions(s).direction(3).phone, "+380501112233");
    std::string why;
    QVERIFY(
        StoreFieldText(*FindFieldById(251, "direction4.phone"), expected, "+380501112233", why));
    QVERIFY(s.form1().Image() == expected);
    Shot(s.form1(), "3_edited");

    Click(s.ui().ButtonWrite);
    QVERIFY(WaitFor(
        [&] {
          // The changed blocks, then the whole image behind them.
          return s.ui().StatusBar1->currentMessage().contains("проверена полностью") &&
                 !s.form1().exchange().RequestOutstanding() &&
                 s.form1().exchange().ButtonsEnabled();
        },
        kExchangeWaitMs));
    Shot(s.form1(), "4_written");

    s.ui().N3->trigger();  // "Файл" → "Сохранить"
    QCOMPARE(s.ui().StatusBar1->currentMessage(), "Файл сохранён: " + QFileInfo(save).fileName());
    ConfigImage saved;
    QVERIFY(LoadConfigFile(save.toStdU16String(), 251, saved).ok());
    for (int i = 0; i < FileImageLength(251); ++i)
      QVERIFY2(saved[i] == expected[i], qPrintable(QString("saved byte %1").arg(i)));
    QCOMPARE(s.dialogs.continue_questions, 0);
    QVERIFY(s.dialogs.messages.empty());

    s.form1().close();  // closes the port; the simulator then saves what it holds
    QVERIFY(s.program_ended);
  }
};

LOVAR_UI_TEST(ComPortTripTest)
#include "com_trip_test.moc"
