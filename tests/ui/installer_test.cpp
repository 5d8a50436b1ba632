// The windows as an installer meets them: the device list, the progress and "Отмена" of a read or
// a write, the title, a line lost in the middle of a write.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>

#include "files/config_file.h"
#include "menu_keys.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

void FaultAhead(SimPort& demo, FaultKind kind, int n) {
  demo.device().AddFault({kind, demo.device().requests() + n, 0});
}

// Waits until the demo device has received the n-th request from `from` on.
bool ReachedRequest(SimPort& demo, int from, int n) {
  return WaitFor([&] { return demo.device().requests() >= from + n; });
}

const QString kTitle = "Программирование УО ЛОВАР";

}  // namespace

class InstallerTest : public QObject {
  Q_OBJECT
 private slots:
  void TheDeviceListNamesThePortAndHoldsOnlyTheLastSearch() {
    UiSession s;
    QListWidget* list = s.form_key.ui().ListBoxDevice;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    QCOMPARE(s.form_key.ui().ProgressBar1->value(), 4096);
    s.form1().FindDeviceClick();
    s.form_key.ChooseDemo(250);
    s.form_key.ButtonFindClick();
    QCOMPARE(list->count(), 0);
    QCOMPARE(s.form_key.ui().ProgressBar1->value(), 0);
    QVERIFY(s.form_key.ui().ButtonCreate->isHidden());
    QVERIFY(WaitFor([&] { return list->count() == 1; }));
    QVERIFY2(list->item(0)->text().startsWith("Демо: Ловар-Т Версия "),
             qPrintable(list->item(0)->text()));
#ifdef LOVAR_SIM_PATH
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!port.isEmpty());
    QVERIFY(s.Search(port));
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), port + ": Ловар-М Версия 2.2");
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
#endif
  }

  void AReadStopsAtOtmenaWithWhatItReadAndAWriteSaysWhatTheDeviceMayHold() {
    UiSession s;
    QVERIFY(s.Identify(251));
    SimPort& demo = s.demo(251);
    int from = demo.device().requests();
    FaultAhead(demo, FaultKind::Drop, 100);  // the read of offset 792 goes unanswered
    s.form_key.ButtonCreateClick();
    QVERIFY(ReachedRequest(demo, from, 100));
    QVERIFY(s.ui().ButtonCancel->isVisible());
    QVERIFY(s.ui().ProgressBar1->isTextVisible());
    QCOMPARE(s.ui().ProgressBar1->text(), QString("19 %"));
    QTest::mouseClick(s.ui().ButtonCancel, Qt::LeftButton);
    QCOMPARE(
        s.ui().StatusBar1->currentMessage(),
        QString("Конфигурация считана не полностью (792 из 4096 байт): прервано пользователем"));
    QVERIFY(s.ui().ButtonCancel->isHidden());
    QVERIFY(s.ui().ButtonRead->isEnabled());
    QVERIFY(!s.ui().ButtonWrite->isEnabled());
    QVERIFY(!s.form1().exchange().RequestOutstanding());  // no question comes
    QCOMPARE(s.dialogs.continue_questions, 0);

    // A whole read, then a write stopped with Esc.
    QVERIFY(s.Start());
    s.ui().EditPassword->setText(s.form1().StoredPassword());
    from = demo.device().requests();
    FaultAhead(demo, FaultKind::Drop, 10);
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, as it was
    QVERIFY(ReachedRequest(demo, from, 10));
    s.form1().activateWindow();
    QVERIFY(WaitFor([&] { return s.form1().isActiveWindow(); }, 5000));
    QTest::keyClick(&s.form1(), Qt::Key_Escape);  // "Отмена"
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    const auto& box = s.dialogs.messages[0];
    QCOMPARE(box.caption, QString("Запись в УО прервана"));
    QVERIFY2(box.text.contains("на смещении 144 из 4096 (прервано пользователем)") &&
                 box.text.contains("смесь старой и новой"),
             qPrintable(box.text));
    QVERIFY(s.form1().windowTitle().startsWith("* "));  // the device may hold a mix
    QVERIFY(s.ui().ButtonCancel->isHidden());
  }

  void TheTitleNamesWhatTheWindowHoldsAndAnotherDemoMarksNothing() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    const QString device = s.form1().windowTitle();
    QVERIFY2(device.startsWith(kTitle + " — Демо: Ловар-Т Версия "), qPrintable(device));
    // A file refused names nothing.
    const QString other = dir.filePath("m.dat");
    QVERIFY(SaveConfigFile(other.toStdString(), 251, SampleImage(251)).ok());
    s.dialogs.open_answer = other;
    s.form1().N2Click();
    QCOMPARE(s.form1().windowTitle(), device);
    // A file saved is what the window holds.
    s.dialogs.save_answer = dir.filePath("t.dat");
    s.form1().N3Click();
    QCOMPARE(s.form1().windowTitle(),
             "Программирование УО ЛОВАРТ " + QDir::toNativeSeparators(s.dialogs.save_answer));
    // From one demo to another and back, nothing edited: nothing asked, nothing marked.
    for (int model : {251, 250}) {
      s.form1().FindDeviceClick();
      QVERIFY(s.Identify(model));
      QVERIFY(!s.form1().windowTitle().startsWith("* "));
      QVERIFY(s.Start());
      QVERIFY2(s.form1().windowTitle().startsWith(kTitle + " — Демо: Ловар-"),
               qPrintable(s.form1().windowTitle()));
    }
    QCOMPARE(s.dialogs.lose_questions, 0);
  }

  void TheKeyGridShowsOnlyTheKeysOfTheImageShown() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QTableWidget* g = Keys(s).ui().StringGridKey;
    QCOMPARE(CellText(g, 1, KeysPage::kNameColumn), QString("Иванов"));
    s.form1().FindDeviceClick();
    QVERIFY(s.Identify(250));
    QVERIFY(CellText(g, 1, KeysPage::kNameColumn).isEmpty());
    QVERIFY(CellText(g, 1, 1).isEmpty());
    QVERIFY(s.Start());
    QVERIFY(ShowTab(s, "TabSheet2"));
    QVERIFY(CellText(g, 1, KeysPage::kNameColumn).isEmpty());
    // Model 250 stores no names: the column takes no typing.
    TypeIntoCell(g, 1, KeysPage::kNameColumn, "Gate");
    QVERIFY(LeaveGrid(s));
    QVERIFY(CellText(g, 1, KeysPage::kNameColumn).isEmpty());
    QVERIFY(!s.form1().windowTitle().startsWith("* "));
    // Undo names the row as the grid numbers it (model 250: 2, 4, …).
    g->setCurrentCell(1, 1);
    QTest::mouseClick(Keys(s).ui().Button2, Qt::LeftButton);  // "Удалить"
    QVERIFY(WaitFor([&] { return s.ui().NUndo->isEnabled(); }));
    QCOMPARE(s.ui().NUndo->text(), QString("&Отменить: Ключ 2: Код"));
  }

  void FileDialogsHaveTitlesAndStartWhereThatKindOfFileWasLastChosen() {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("site 17");
    const QString file = dir.filePath("site 17/a.dat");
    QVERIFY(SaveConfigFile(file.toStdString(), 250, SampleImage(250)).ok());
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    s.dialogs.open_answer = file;
    s.form1().N2Click();
    QCOMPARE(s.dialogs.open_title, QString("Считать конфигурацию из файла"));
    s.dialogs.save_answer = {};  // cancelled
    s.form1().N3Click();
    QCOMPARE(s.dialogs.save_title, QString("Сохранить конфигурацию в файл"));
    QCOMPARE(s.dialogs.save_folder, dir.filePath("site 17"));
    s.dialogs.open_answer = {};
    s.ui().N4->trigger();
    QCOMPARE(s.dialogs.open_title, QString("Сравнить с файлом"));
    QCOMPARE(s.dialogs.open_folder, dir.filePath("site 17"));
    // Another model's files have folders of their own.
    s.form1().FindDeviceClick();
    QVERIFY(s.Identify(251) && s.Start());
    s.form1().N2Click();
    QVERIFY(s.dialogs.open_folder.endsWith("LovarM"));
  }

  void ALineLostInTheMiddleOfAWriteOffersToSaveTheEdits() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    TypeAndLeave(s.pui().EditTimeIn1, "45");
    FaultAhead(s.demo(250), FaultKind::HangUp, 5);
    s.dialogs.save_answer = dir.filePath("edits.dat");
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, as it was
    QVERIFY(WaitFor([&] { return QFile::exists(s.dialogs.save_answer); }));
    QCOMPARE(s.dialogs.messages.size(), size_t(1));
    const auto& box = s.dialogs.messages[0];
    QCOMPARE(box.caption, QString("Связь с портом потеряна"));
    QVERIFY2(box.text.startsWith("Запись прервана") && box.text.contains("Сохранить их в файл?") &&
                 box.text.contains("«Файл» → «Поиск прибора…»"),
             qPrintable(box.text));
    ConfigImage saved;
    QVERIFY(LoadConfigFile(s.dialogs.save_answer.toStdString(), 250, saved).ok());
    QCOMPARE(int(saved[104]), 45);
    QVERIFY(!s.form1().windowTitle().startsWith("* "));
  }
};

// The controls a page offers the keyboard: buttons, edits, lists, grids (a combo box's own line
// edit is reached through its combo box).
bool IsControl(const QWidget* w) {
  if (qobject_cast<const QComboBox*>(w->parentWidget()) != nullptr) return false;
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

class KeyboardTest : public QObject {
  Q_OBJECT
 private slots:
  void TabReachesEveryControlOfEveryPage_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("250") << 250;
    QTest::newRow("251") << 251;
  }
  void TabReachesEveryControlOfEveryPage() {
    QFETCH(int, model);
    UiSession s;
    QVERIFY(ReadDemo(s, model, SampleImage(model)));
    s.ui().EditPassword->setText(s.form1().StoredPassword());
    QTabWidget* tabs = s.ui().PageControl1;
    for (int i = 0; i < tabs->count(); ++i) {
      if (!tabs->isTabVisible(i)) continue;
      QWidget* page = tabs->widget(i);
      QVERIFY(ShowTab(s, page->objectName().toUtf8().constData()));
      QVERIFY(FocusOn(s.ui().ButtonRead));
      QSet<QWidget*> reached;
      for (int n = 0; n < 300 && !reached.contains(QApplication::focusWidget()); ++n) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      }
      for (QWidget* w : page->findChildren<QWidget*>())
        if (w->isVisible() && w->isEnabled() && IsControl(w))
          QVERIFY2(reached.contains(w), qPrintable(page->objectName() + ": " + w->objectName()));
    }
  }

  void EscStopsKeyPollingAndSpaceTogglesAFilterCell() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251), "TabSheet2"));
    FaultAhead(s.demo(251), FaultKind::Drop, 1);  // the reader keeps silent
    QTest::mouseClick(Keys(s).ui().ButtonKey, Qt::LeftButton);
    QVERIFY(Keys(s).ui().PanelSetKey->isVisible());
    QTest::keyClick(&s.form1(), Qt::Key_Escape);
    QVERIFY(WaitFor([&] { return Keys(s).ui().PanelKey->isHidden(); }));
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Считывание ключа остановлено."));
    QVERIFY(!s.form1().exchange().RequestOutstanding());
    QVERIFY(Keys(s).ui().ButtonKey->isEnabled());

    QVERIFY(ShowTab(s, "TabSheet7"));
    QTableWidget* filter = Filter(s).ui().StringGridFiltr;
    QVERIFY(FocusOn(filter));
    filter->setCurrentCell(13, 5);
    const bool was = !CellText(filter, 13, 5).isEmpty();
    QTest::keyClick(filter, Qt::Key_Space);
    QCOMPARE(CellText(filter, 13, 5).isEmpty(), was);
    QVERIFY(LeaveGrid(s));
    QCOMPARE(s.form1().Image().Bit(98 + 16, 4), !was);
  }

  void MenusHaveAcceleratorsAndShortcuts() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QCOMPARE(s.ui().N1->title(), QString("&Файл"));
    QCOMPARE(s.ui().N2->shortcut(), QKeySequence("Ctrl+O"));
    QCOMPARE(s.ui().N3->shortcut(), QKeySequence("Ctrl+S"));
    s.form1().activateWindow();
    QVERIFY(WaitFor([&] { return s.form1().isActiveWindow(); }, 5000));
    const int requests = s.demo(250).device().requests();
    QTest::keyClick(&s.form1(), Qt::Key_F5);  // read from the device
    QVERIFY(WaitFor([&] { return s.demo(250).device().requests() - requests == 32; }));
    QVERIFY(s.WaitIdle());
    QTemporaryDir dir;
    s.dialogs.save_answer = dir.filePath("k.dat");
    QTest::keyClick(&s.form1(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFile::exists(s.dialogs.save_answer));
  }

  // Every item has a letter of its own ("в" was both "Сравнить" and "Записать всё"), and under
  // an English layout a key stands for the Russian layout's letter on it: Alt+A is Alt+Ф
  // ("Файл"), Alt+C is Alt+С ("Справка"), then J is "о" ("О программе").
  void MenuLettersWorkUnderAnyLayout() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QCOMPARE(CheckMenuLetters(*s.ui().MainMenu1), QString());
    // A menu item under the pointer (its empty status tip) leaves the read's outcome in view.
    const QString said = s.ui().StatusBar1->currentMessage();
    QStatusTipEvent tip(QString{});
    QApplication::sendEvent(&s.form1(), &tip);
    QCOMPARE(s.ui().StatusBar1->currentMessage(), said);
    s.form1().activateWindow();
    QVERIFY(WaitFor([&] { return s.form1().isActiveWindow(); }, 5000));
    QTest::keyClick(s.ui().PageControl1, Qt::Key_A, Qt::AltModifier);
    QVERIFY(WaitFor([&] { return s.ui().N1->isVisible(); }, 5000));
    QTest::keyClick(s.ui().N1, Qt::Key_Escape);
    QVERIFY(WaitFor([&] { return !s.ui().N1->isVisible(); }, 5000));
    QTest::keyClick(s.ui().PageControl1, Qt::Key_C, Qt::AltModifier);
    QVERIFY(WaitFor([&] { return s.ui().NHelp->isVisible(); }, 5000));
    QTest::keyClick(s.ui().NHelp, Qt::Key_J);
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }, 5000));
    QVERIFY(s.dialogs.messages[0].text.contains("Ловар"));
  }

  void EnterInThePortBoxSearches() {
    UiSession s;
    s.form_key.ChooseDemo(251);
    s.form_key.activateWindow();
    QVERIFY(FocusOn(s.form_key.ui().ComboBoxComs));
    QTest::keyClick(s.form_key.ui().ComboBoxComs, Qt::Key_Return);
    QVERIFY(WaitFor([&] { return s.form_key.ui().ListBoxDevice->count() > 0; }));
  }
};

LOVAR_UI_TEST(InstallerTest)
LOVAR_UI_TEST(KeyboardTest)
#include "installer_test.moc"
