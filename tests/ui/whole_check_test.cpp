// The write of the changes in the window: the changed blocks proven at once, the whole image
// read back behind while the window stays usable, and that check's ends — proven, another
// configuration found in the device (asked before it is overwritten), stopped by the next act
// (a read asks first), a lost line.
#include <QAction>
#include <QProcess>
#include <QProgressBar>
#include <QTabWidget>

#include "files/archive.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

bool Checking(UiSession& s) {
  return s.form1().session().WholeCheckRunning();
}
QString StatusText(UiSession& s) {
  return s.ui().StatusBar1->currentMessage();
}
bool Marked(UiSession& s) {
  return s.form1().windowTitle().startsWith("* ");
}
// The questions asked through AskYesNo with this caption.
int Asked(UiSession& s, const QString& caption) {
  int n = 0;
  for (const auto& m : s.dialogs.messages) n += m.caption == caption;
  return n;
}

}  // namespace

class WholeCheckTest : public QObject {
  Q_OBJECT
 private slots:
  void ChangedBlocksAreProvenAtOnceAndTheWholeImageBehind() {
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    TypeAndLeave(s.pui().EditTimeSound, "42");
    const size_t written = s.demo(251).device().writes().size();
    // The device changes outside the block written, after the read: the whole check finds it.
    // What the window shows is taken as the check's first read request arrives, and the page
    // is changed at its tenth.
    int reads = 0;
    size_t blocks = 0;  // written before the whole check began
    QString status, format;
    bool text_shown = false, marked = false, read_enabled = false, write_enabled = false;
    bool after_page_change = false;
    s.demo(251).device().SetRequestObserver([&](int, std::span<const uint8_t> frame) {
      if (frame[6] != 200 || !Checking(s)) return;
      if (++reads == 1) {
        s.demo(251).device().image()[4000] ^= 0x40;
        blocks = s.demo(251).device().writes().size() - written;
        status = StatusText(s);
        format = s.ui().ProgressBar1->format();
        text_shown = s.ui().ProgressBar1->isTextVisible();
        marked = Marked(s);
        read_enabled = s.ui().ButtonRead->isEnabled();
        write_enabled = s.ui().ButtonWrite->isEnabled();
      } else if (reads == 10) {
        QMetaObject::invokeMethod(
            &s.form1(),
            [&] {
              s.ui().PageControl1->setCurrentIndex(1);  // a page change does not stop it
              after_page_change = Checking(s);
            },
            Qt::QueuedConnection);
      }
    });
    s.form1().ButtonWriteClick();
    QVERIFY(WaitFor([&] { return reads > 10 && !Checking(s); }));
    // The block changed (and one the window's corrections changed after the read).
    QVERIFY(blocks >= 1 && blocks <= 2);
    QVERIFY2(status.contains(QString("записано и проверено блоков: %1 из 256").arg(blocks)),
             qPrintable(status));
    QVERIFY(format.startsWith("Полная проверка…"));
    QVERIFY(text_shown);
    QVERIFY(marked);  // not proven until the whole check ends
    QVERIFY(read_enabled && write_enabled);
    QVERIFY(after_page_change);
    QCOMPARE(s.ui().PageControl1->currentIndex(), 1);
    // A block nobody wrote holds other bytes, by two reads: the installer is asked ("Да") before
    // the window's image goes over it, and it is then written and proven.
    QVERIFY(WaitFor([&] {
      return !Checking(s) && !s.form1().session().Running() &&
             StatusText(s).startsWith("Конфигурация в УО проверена полностью");
    }));
    QCOMPARE(Asked(s, "В УО другая конфигурация"), 1);
    QVERIFY(s.dialogs.messages.back().text.startsWith(
        "УО хранит не ту конфигурацию, что была считана: различается 1 блок, первый на смещении "
        "4000"));
    QCOMPARE(int(s.demo(251).device().image()[4000]), int(s.form1().Image()[4000]));
    QVERIFY(!Marked(s));
    QCOMPARE(s.ui().ProgressBar1->format(), QString("%p%"));
  }

  // Another device on the same adapter (the demo device's image replaced after the read): the
  // whole check finds it, keeps what it read back (in the archive), and "Нет" leaves the device
  // as it was; the window keeps its image, unsaved.
  void AnotherDeviceOnThePortIsNotOverwrittenWithoutAsking() {
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    const size_t archived = ListArchive(s.form1().ArchivePath()).size();
    ConfigImage other = s.demo(251).device().image();
    for (int i : {16, 17, 300, 2104}) other[i] ^= 0x21;  // password, a telephone, a key
    s.demo(251).device().image() = other;
    TypeAndLeave(s.pui().EditTimeSound, "46");
    s.dialogs.yes_no_answer = false;
    s.form1().ButtonWriteClick();
    QVERIFY(WaitFor([&] { return Asked(s, "В УО другая конфигурация") == 1; }));
    QVERIFY(WaitFor([&] { return !Checking(s) && s.form1().exchange().ButtonsEnabled(); }));
    QVERIFY2(StatusText(s).startsWith("УО хранит не ту конфигурацию, что была считана: "
                                      "различаются 3 блока, первый на смещении 16"),
             qPrintable(StatusText(s)));
    QVERIFY2(StatusText(s).contains("Считанная конфигурация — во временном архиве"),
             qPrintable(StatusText(s)));
    // Only the block changed went out; the other device keeps the rest.
    const ConfigImage& device = s.demo(251).device().image();
    for (int i : {16, 17, 300, 2104}) QCOMPARE(int(device[i]), int(other[i]));
    QCOMPARE(ListArchive(s.form1().ArchivePath()).size(), archived + 1);
    QVERIFY(Marked(s));
    QVERIFY(s.form1().session().DeviceHolds() != nullptr);
    QCOMPARE(int((*s.form1().session().DeviceHolds())[300]), int(other[300]));
  }

  // "Считать" (F5) while the check runs asks first, saying the changes are written: "Нет" lets
  // the check go on to its end, "Да" stops it and reads, with no question about losing changes.
  void ReadDuringTheWholeCheckAsksFirst() {
    for (const bool stop : {false, true}) {
      UiSession s;
      QVERIFY(s.Identify(251));
      QVERIFY(s.Start());
      TypeAndLeave(s.pui().EditTimeSound, stop ? "43" : "47");
      s.dialogs.yes_no_answer = stop;
      bool pressed = false;
      s.demo(251).device().SetRequestObserver([&](int, std::span<const uint8_t>) {
        if (!pressed && Checking(s)) {
          pressed = true;
          QMetaObject::invokeMethod(
              &s.form1(), [&s] { s.form1().ButtonReadClick(); }, Qt::QueuedConnection);
        }
      });
      s.form1().ButtonWriteClick();
      QVERIFY(WaitFor([&] { return pressed && Asked(s, "Полная проверка записи") == 1; }));
      QVERIFY(s.dialogs.messages.back().text.startsWith(
          "Изменения записаны в УО и проверены. Не закончена только полная проверка"));
      QCOMPARE(s.dialogs.lose_questions, 0);
      if (!stop) {
        QVERIFY(WaitFor([&] {
          return !Checking(s) && StatusText(s) == "Конфигурация в УО проверена полностью";
        }));
        QCOMPARE(s.ui().ProgressBar1->value(), s.ui().ProgressBar1->maximum());
        QVERIFY(!Marked(s));
        continue;
      }
      QVERIFY(WaitFor([&] { return StatusText(s).startsWith("Конфигурация считана"); }));
      QVERIFY(!Checking(s));
      QCOMPARE(s.dialogs.lose_questions, 0);
    }
  }

  void ChangedBlocksProvenButNothingElseIsSaidAfterAStop() {
    UiSession s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    TypeAndLeave(s.pui().EditTimeSound, "44");
    bool closed = false;
    s.demo(250).device().SetRequestObserver([&](int, std::span<const uint8_t>) {
      if (!closed && Checking(s)) {
        closed = true;
        QMetaObject::invokeMethod(
            &s.form1(), [&s] { s.form1().session().Close(); }, Qt::QueuedConnection);
      }
    });
    s.form1().ButtonWriteClick();  // closing the window closes the session so
    QVERIFY(WaitFor([&] { return closed && !Checking(s); }));
    QVERIFY2(StatusText(s).contains("изменённые блоки записаны и проверены, остальная конфигурация "
                                    "повторно не проверена"),
             qPrintable(StatusText(s)));
    QVERIFY(Marked(s));
  }

  void WriteAllSendsEveryBlock() {
    UiSession s;
    QVERIFY(s.Identify(252));
    QVERIFY(s.Start());
    size_t written = s.demo(252).device().writes().size();
    QAction* all = s.form1().findChild<QAction*>("NWriteAll");
    QVERIFY(all != nullptr && all->isEnabled());
    s.form1().ButtonWriteClick();  // the bytes sent as 0 and the window's corrections
    QVERIFY(WaitFor([&] { return !Checking(s) && s.form1().exchange().ButtonsEnabled(); }));
    QVERIFY(s.demo(252).device().writes().size() <= written + 2);
    written = s.demo(252).device().writes().size();
    s.form1().ButtonWriteClick();  // nothing changed since: nothing sent, the range read again
    QVERIFY2(StatusText(s).startsWith("Изменений нет"), qPrintable(StatusText(s)));
    QVERIFY(WaitFor([&] { return !Checking(s) && s.WaitIdle(); }));
    QCOMPARE(s.demo(252).device().writes().size(), written);
    QCOMPARE(StatusText(s), QString("Конфигурация в УО проверена полностью"));
    all->trigger();
    QVERIFY(s.WaitIdle());
    QCOMPARE(s.demo(252).device().writes().size(), written + 10);  // 100 to 256
    QCOMPARE(StatusText(s), QString("Конфигурация записана в УО"));
    QVERIFY(!Checking(s));
  }

#ifdef LOVAR_SIM_PATH
  // Over a pseudo-terminal: the line hangs up in the middle of the whole check. Said, with what
  // the device holds; the image stays marked.
  void LineLostDuringTheWholeCheckIsSaidAndTheMarkerKept() {
    QProcess sim;
    // 1 and 2 the identification, 3 to 514 the read, 515 the block, 516 and 517 its read-back.
    const QString port = StartLovarSim(sim, {"--model", "251", "--hangup", "700"});
    QVERIFY(!port.isEmpty());
    UiSession s;
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    TypeAndLeave(s.pui().EditTimeSound, "45");
    s.form1().ButtonWriteClick();
    QVERIFY(WaitFor([&] { return Checking(s); }));
    QVERIFY(WaitFor([&] { return !Checking(s); }));
    QVERIFY2(StatusText(s).startsWith("Полная проверка прервана на смещении "),
             qPrintable(StatusText(s)));
    QVERIFY(StatusText(s).contains("изменённые блоки записаны и проверены"));
    QVERIFY(!s.dialogs.messages.empty());
    QCOMPARE(s.dialogs.messages.back().caption, QString("Связь с портом потеряна"));
    QVERIFY(s.dialogs.messages.back().text.contains("повторно не проверена. Подключите прибор"));
    QVERIFY(Marked(s));
    QVERIFY(s.form1().session().DeviceHolds() == nullptr);
    sim.waitForFinished(20000);
  }
#endif
};

LOVAR_UI_TEST(WholeCheckTest)
#include "whole_check_test.moc"
