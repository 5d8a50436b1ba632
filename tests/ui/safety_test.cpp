// The main window's safety net, driven through the real widgets against the in-process demo
// devices: the question before changes are lost (exactly when something would be lost), the
// title's marker, undo and redo over edits on several pages, Ctrl+Z in an edit, the archive of
// every read, and a write that keeps the device's prior image first.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

#include "files/archive.h"
#include "files/config_file.h"
#include "model/image_diff.h"
#include "pages_helpers.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

const QString kTitle = "Программирование УО ЛОВАР";

// A fault on the demo device's n-th request from now (every `every`-th after it when set).
void FaultAhead(SimPort& demo, FaultKind kind, int n, int every = 0) {
  demo.device().AddFault({kind, demo.device().requests() + n, every});
}

// The capture of an edit runs once the event that made it has been handled.
void Settle() {
  QCoreApplication::processEvents();
}

// EditTimeIn1 (model 250: byte 104) typed anew and left.
void EditDelay(UiSession& s, int value) {
  TypeAndLeave(s.pui().EditTimeIn1, QString::number(value));
  Settle();
}
void Edit(UiSession& s) {
  EditDelay(s, (s.form1().Image()[104] + 1) % 200);
}

bool Read(UiSession& s) {
  s.form1().ButtonReadClick();
  return s.WaitIdle();
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, int model,
                  const ConfigImage& image) {
  const QString path = dir.filePath(name);
  const std::vector<uint8_t> bytes = SerializeConfigFile(model, image);
  QFile file(path);
  if (file.open(QIODevice::WriteOnly))
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
  return path;
}

std::vector<ArchiveEntry> Archived(UiSession& s) {
  return ListArchive(s.form1().ArchivePath());
}

ConfigImage Pattern(uint8_t seed) {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 13 + seed);
  return image;
}

void CtrlKey(QWidget* to, Qt::Key key) {
  QTest::keyClick(to, key, Qt::ControlModifier);
  Settle();
}

}  // namespace

class SafetyTest : public QObject {
  Q_OBJECT
 private slots:
  // Each row starts with a complete read of a model 250 device; the question comes exactly as
  // often as something would have been lost, and is always answered Yes here.
  void TheQuestionComesExactlyWhenSomethingWouldBeLost() {
    struct Row {
      const char* name;
      std::function<void(UiSession&, const QTemporaryDir&)> steps;
      int questions;
    };
    auto save = [](UiSession& s, const QTemporaryDir& dir) {
      s.dialogs.save_answer = dir.filePath("saved.dat");
      s.form1().N3Click();
    };
    auto load = [](UiSession& s, const QString& file) {
      s.dialogs.open_answer = file;
      s.form1().N2Click();
    };
    auto write = [](UiSession& s) {
      s.form1().ButtonWriteClick();
      QVERIFY(s.WaitIdle());
    };
    const std::vector<Row> rows = {
        {"read again", [](UiSession& s, const QTemporaryDir&) { QVERIFY(Read(s)); }, 0},
        {"edit, read again",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           QVERIFY(Read(s));
         },
         1},
        {"edit, save, read again",
         [&](UiSession& s, const QTemporaryDir& dir) {
           Edit(s);
           save(s, dir);
           QVERIFY(Read(s));
         },
         0},
        {"edit, save, edit, load the saved file",
         [&](UiSession& s, const QTemporaryDir& dir) {
           Edit(s);
           save(s, dir);
           Edit(s);
           load(s, dir.filePath("saved.dat"));
         },
         1},
        {"edit, write, read again",
         [&](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           write(s);
           QVERIFY(Read(s));
         },
         0},
        {"edit, a write the device does not keep, read again",
         [&](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           FaultAhead(s.demo(250), FaultKind::Unstored, 1, 1);
           write(s);
           QCOMPARE(s.dialogs.messages.size(), size_t(1));
           QVERIFY(Read(s));
         },
         1},
        {"a write the device does not keep, load: it holds a mix",
         [&](UiSession& s, const QTemporaryDir& dir) {
           s.demo(250).device().image()[40] ^= 0xFF;
           FaultAhead(s.demo(250), FaultKind::Unstored, 1, 1);
           write(s);
           load(s, WriteFile(dir, "f.dat", 250, SampleImage(250)));
         },
         1},
        {"edit, undo, read again",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           s.form1().UndoClick();
           QVERIFY(Read(s));
         },
         0},
        {"edit, load a file of another model (refused: nothing changes)",
         [&](UiSession& s, const QTemporaryDir& dir) {
           Edit(s);
           load(s, WriteFile(dir, "m.dat", 251, SampleImage(251)));
         },
         0},
        {"close", [](UiSession& s, const QTemporaryDir&) { s.form1().close(); }, 0},
        {"edit, close",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           s.form1().close();
           QVERIFY(s.program_ended);
         },
         1},
        {"edit, close the search window",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           s.form1().FindDeviceClick();
           s.form_key.close();
           QVERIFY(s.program_ended);
         },
         1},
        {"edit, «Поиск прибора…», «Поиск» on another port",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           s.form1().findChild<QAction*>("NFindDevice")->trigger();
           QVERIFY(s.form_key.isVisible());
           QVERIFY(s.Identify(252));
         },
         1},
        {"edit, a click on the device line",
         [](UiSession& s, const QTemporaryDir&) {
           Edit(s);
           s.form_key.ListBoxDeviceClick();
           QVERIFY(s.WaitIdle());
         },
         1},
        {"edit, typed but not left, read again",
         [](UiSession& s, const QTemporaryDir&) {
           s.pui().EditTimeIn1->setText("3");
           s.pui().EditTimeIn1->setModified(true);
           QVERIFY(FocusOn(s.pui().EditTimeIn1));
           QVERIFY(Read(s));
         },
         1},
    };
    for (const Row& row : rows) {
      qInfo("%s", row.name);
      QTemporaryDir dir;
      UiSession s;
      QVERIFY(ReadDemo(s, 250, SampleImage(250)));
      QCOMPARE(s.dialogs.lose_questions, 0);
      row.steps(s, dir);
      QCOMPARE(s.dialogs.lose_questions, row.questions);
    }
  }

  void AnsweringNoKeepsTheChangesWhereTheyAre() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    EditDelay(s, 77);
    s.dialogs.lose_answer = false;
    QVERIFY(!s.form1().ButtonReadClick());
    QCOMPARE(s.ui().StatusBar1->currentMessage(),
             QString("Чтение не начато: изменения остались в окне."));
    QVERIFY(s.ui().PageControl1->isVisible());
    s.dialogs.open_answer = WriteFile(dir, "f.dat", 250, SampleImage(250));
    s.form1().N2Click();
    QCOMPARE(int(s.form1().Image()[104]), 77);
    s.form1().close();
    s.form_key.close();
    s.form1().FindDeviceClick();
    QVERIFY(s.form1().isVisible());
    QVERIFY(!s.form_key.isVisible());
    QVERIFY(!s.program_ended);
    QCOMPARE(s.dialogs.lose_questions, 5);
    QVERIFY(s.form1().windowTitle().startsWith("* " + kTitle));
    QCOMPARE(s.pui().EditTimeIn1->text(), QString("77"));
  }

  void TheTitleIsMarkedWhileTheChangesAreKeptNowhere() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QVERIFY(s.form1().windowTitle().startsWith(kTitle));
    Edit(s);
    QVERIFY(s.form1().windowTitle().startsWith("* " + kTitle));
    s.dialogs.save_answer = dir.filePath("t.dat");
    s.form1().N3Click();
    QVERIFY(s.form1().windowTitle().startsWith(kTitle));
    Edit(s);
    QVERIFY(s.form1().windowTitle().startsWith("* " + kTitle));
    s.form1().UndoClick();  // back to what the file holds
    QVERIFY(s.form1().windowTitle().startsWith(kTitle));
    s.dialogs.open_answer = WriteFile(dir, "other.dat", 250, Pattern(3));
    s.form1().N2Click();
    QCOMPARE(s.form1().windowTitle(),
             "Программирование УО ЛОВАРТ " + QDir::toNativeSeparators(s.dialogs.open_answer));
  }

  // One step per edit, whatever page or control made it; each Ctrl+Z takes one back with the
  // controls showing it again, each Ctrl+Y does it again, and the bytes are exactly as before.
  void UndoAndRedoOverEditsOnSeveralPagesRestoreTheBytesExactly() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    s.form1().activateWindow();
    QVERIFY(WaitFor([&] { return s.form1().isActiveWindow(); }, 5000));
    std::vector<ConfigImage> states = {s.form1().Image()};
    std::vector<QString> labels;
    auto done = [&](const char* label) {
      Settle();
      states.push_back(s.form1().Image());
      labels.push_back(label);
      QCOMPARE(s.ui().NUndo->text(), QString("&Отменить: ") + label);
    };
    const QString delay = s.pui().EditTimeIn1->text();
    QVERIFY(ShowTab(s, "TabSheet1"));
    TypeAndLeave(s.pui().EditTimeIn1, "45");
    done("Время в секундах, Выход");
    QVERIFY(FocusOn(s.pui().ComboBoxTypeShl2));
    QTest::keyClick(s.pui().ComboBoxTypeShl2, Qt::Key_Down);
    done("ШС2: Тип шлейфа");
    QVERIFY(ShowTab(s, "TabSheet6"));
    TypeAndLeave(Directions(s).direction(3).phone, "+74951112233");
    done("Направление 4: Номер телефона");
    QVERIFY(ShowTab(s, "TabSheet8"));
    TypeAndLeave(Gprs(s).ui().EditIPPCO, "10.0.0.1");
    done("Параметры премника: IP адрес");
    QVERIFY(ShowTab(s, "TabSheet2"));
    QTableWidget* keys = Keys(s).ui().StringGridKey;
    QVERIFY(FocusOn(keys));
    keys->setCurrentCell(2, 1);
    QTest::mouseClick(Keys(s).ui().Button2, Qt::LeftButton);  // "Удалить"
    done("Ключ 1: Код");  // grid row 2: the grid numbers model 251's keys from 0
    keys->setCurrentCell(3, 1);
    Keys(s).ui().ButtonKey->click();  // "Считать ключ": the demo reader reports its key
    QVERIFY(WaitFor([&] { return !Keys(s).ui().ButtonWriteKey->isHidden(); }));
    QTest::mouseClick(Keys(s).ui().ButtonWriteKey, Qt::LeftButton);  // "Записать"
    done("Ключ 2: Код");
    QVERIFY(LeaveGrid(s));  // nothing more: the grid was committed by the deletion
    Settle();
    QCOMPARE(s.form1().Image(), states.back());

    for (size_t i = states.size() - 1; i > 0; --i) {
      QCOMPARE(s.ui().NUndo->text(), "&Отменить: " + labels[i - 1]);
      CtrlKey(&s.form1(), Qt::Key_Z);
      QCOMPARE(s.form1().Image(), states[i - 1]);
    }
    QVERIFY(!s.ui().NUndo->isEnabled());
    QCOMPARE(s.ui().NUndo->text(), QString("&Отменить"));
    // The controls show what was restored, on the page of the step taken back last.
    QCOMPARE(s.pui().EditTimeIn1->text(), delay);
    QCOMPARE(s.ui().PageControl1->currentWidget()->objectName(), QString("TabSheet1"));
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Отменено: Время в секундах, Выход"));
    QVERIFY(s.form1().windowTitle().startsWith(kTitle));

    for (size_t i = 1; i < states.size(); ++i) {
      QCOMPARE(s.ui().NRedo->text(), "&Повторить: " + labels[i - 1]);
      CtrlKey(&s.form1(), Qt::Key_Y);
      QCOMPARE(s.form1().Image(), states[i]);
    }
    QVERIFY(!s.ui().NRedo->isEnabled());
    QCOMPARE(CellText(keys, 2, 1), QString("0000000000000000"));
    QCOMPARE(CellText(keys, 3, 1), QString("EFCDAB8967452301"));
    QCOMPARE(s.ui().PageControl1->currentWidget()->objectName(), QString("TabSheet2"));
    QCOMPARE(Gprs(s).ui().EditIPPCO->text(), QString("10.0.0.1"));
  }

  // Typing not yet stored is the edit's own to take back; after that Ctrl+Z is the window's.
  void CtrlZInAnEditHoldingTypingIsTheEditsOwn() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    s.form1().activateWindow();
    QVERIFY(WaitFor([&] { return s.form1().isActiveWindow(); }, 5000));
    const ConfigImage read = s.form1().Image();
    TypeAndLeave(s.pui().EditTimeOut1, "99");
    Settle();
    QCOMPARE(int(s.form1().Image()[108]), 99);
    QLineEdit* in = s.pui().EditTimeIn1;
    const QString shown = in->text();
    QVERIFY(FocusOn(in));
    in->selectAll();
    QTest::keyClicks(in, "5");
    QCOMPARE(in->text(), QString("5"));
    CtrlKey(in, Qt::Key_Z);  // the edit's own
    QCOMPARE(in->text(), shown);
    QCOMPARE(int(s.form1().Image()[108]), 99);
    CtrlKey(in, Qt::Key_Y);  // and its redo, while it holds typing
    QCOMPARE(in->text(), QString("5"));
    CtrlKey(in, Qt::Key_Z);
    CtrlKey(in, Qt::Key_Z);  // nothing typed any more: the window's, the delay out taken back
    QCOMPARE(int(s.form1().Image()[108]), int(read[108]));
    QCOMPARE(s.pui().EditTimeOut1->text(), QString::number(read[108]));
    QCOMPARE(s.form1().Image(), read);
  }

  // Models 250 and 252: the display sets an out-of-range byte to 0; that is no edit.
  void TheDisplaysCorrectionsAreNoEdits() {
    ConfigImage device = SampleImage(250);
    device[118] = 7;  // output 1's mode past the list
    device[101] = 9;  // loop ШС2's type past the list
    UiSession s;
    QVERIFY(ReadDemo(s, 250, device));
    QCOMPARE(int(s.form1().Image()[118]), 0);
    QVERIFY(!s.ui().NUndo->isEnabled());
    QVERIFY(s.form1().windowTitle().startsWith(kTitle));
    QVERIFY(Read(s));
    QCOMPARE(s.dialogs.lose_questions, 0);
    // The archive keeps what the device held.
    const std::vector<ArchiveEntry> kept = Archived(s);
    QCOMPARE(kept.size(), size_t(2));
    ConfigImage archived;
    QVERIFY(LoadConfigFile(kept[0].path, 250, archived).ok());
    QCOMPARE(int(archived[118]), 7);
    QCOMPARE(int(archived[101]), 9);
  }

  void EveryCompleteReadIsArchivedAndLoadsBackWhole() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QVERIFY2(s.ui().StatusBar1->currentMessage().contains(", копия — во временном архиве"),
             qPrintable(s.ui().StatusBar1->currentMessage()));
    QCOMPARE(Archived(s).size(), size_t(1));
    QVERIFY(Archived(s)[0].path.parent_path().filename() == std::filesystem::path(u8"Архив"));
    // A read that ends early is no configuration: not archived.
    FaultAhead(s.demo(251), FaultKind::Drop, 100);
    s.dialogs.continue_answer = false;
    QVERIFY(Read(s));
    QCOMPARE(Archived(s).size(), size_t(1));
    QVERIFY(!s.ui().ButtonWrite->isEnabled());

    s.dialogs.archive_choice = 0;
    s.form1().N5Click();
    QCOMPARE(s.dialogs.archive_rows.size(), size_t(1));
    QCOMPARE(s.dialogs.archive_rows[0].model, QString("Ловар-М"));
    QCOMPARE(s.dialogs.archive_rows[0].object, QString("1024"));
    QVERIFY(
        s.dialogs.archive_rows[0].when.contains(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} ")));
    QCOMPARE(s.dialogs.lose_questions, 0);  // half read: nothing of value was lost
    // The keys too: the archive holds the whole image.
    QCOMPARE(s.form1().Image(), SampleImage(251));
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    QVERIFY(s.form1().windowTitle().contains(QString::fromUtf8("Архив")));
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Файл загружен: "));
  }

  // The device on the line may be another since the last read: before anything is written, it
  // is read into the archive, and the bytes no file holds (its keys) are its own, never the
  // first device's.
  void AWriteToADeviceNotReadSinceItWasFoundReadsItIntoTheArchiveFirst() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    const ConfigImage other = Pattern(5);
    s.demo(251).device().image() = other;  // another device on the same port
    QVERIFY(s.Find());
    const ConfigImage file = Pattern(9);
    s.dialogs.open_answer = WriteFile(dir, "f.dat", 251, file);
    s.form1().N2Click();
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    QStringList statuses;
    QObject::connect(s.ui().StatusBar1, &QStatusBar::messageChanged, s.ui().StatusBar1,
                     [&](const QString& m) { statuses.append(m); });
    s.form1().ButtonWriteClick();
    QVERIFY(s.WaitIdle());
    QCOMPARE(statuses.mid(0, 3),
             (QStringList{"Чтение из УО перед записью: прежняя конфигурация — в архив…",
                          "Запись в УО…", "Проверка записи…"}));
    QVERIFY(statuses.at(3).startsWith("Конфигурация записана в УО (записано и проверено блоков: "));
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Конфигурация в УО проверена полностью"));
    const std::vector<ArchiveEntry> kept = Archived(s);
    QCOMPARE(kept.size(), size_t(2));
    ConfigImage prior;
    int bytes = 0;
    QVERIFY(LoadWholeImage(kept[0].path, 251, prior, bytes).ok());
    QCOMPARE(prior, other);
    const ConfigImage& device = s.demo(251).device().image();
    for (int i = 0; i < 2048; ++i) QCOMPARE(device[i], file[i]);
    for (int i = 2048; i < 4096; ++i) QCOMPARE(device[i], other[i]);
    QCOMPARE(s.form1().Image(), device);
    QCOMPARE(s.form1().windowTitle().left(2), QString("Пр"));  // nothing unsaved
    // Read now: the next write reads nothing first, and sends nothing; the whole range is read
    // again behind it.
    const size_t writes = s.demo(251).device().writes().size();
    statuses.clear();
    s.form1().ButtonWriteClick();
    QVERIFY(s.WaitIdle());
    QCOMPARE(Archived(s).size(), size_t(2));
    QCOMPARE(s.demo(251).device().writes().size(), writes);  // the device holds it
    QVERIFY(std::any_of(statuses.begin(), statuses.end(),
                        [](const QString& m) { return m.startsWith("Изменений нет"); }));
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Конфигурация в УО проверена полностью"));
  }

#ifdef LOVAR_SIM_PATH
  void AWriteWhoseDeviceCannotBeArchivedIsNotBegun() {
    QTemporaryDir dir;
    QProcess sim;
    const QString port =
        StartLovarSim(sim, {"--model", "250", "--save", dir.filePath("device.dat")});
    QVERIFY(!port.isEmpty());
    UiSession s;
    QFile blocker(QDir(s.files.path()).filePath(QString::fromUtf8("Архив")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    QVERIFY(s.Search(port) && s.Start());
    QVERIFY2(s.ui().StatusBar1->currentMessage().contains("Копия в архив не сохранена"),
             qPrintable(s.ui().StatusBar1->currentMessage()));
    Edit(s);
    s.form1().ButtonWriteClick();
    QVERIFY(s.WaitIdle());
    QCOMPARE(s.dialogs.messages.size(), size_t(1));
    QCOMPARE(s.dialogs.messages[0].caption, QString("Запись в УО не начата"));
    QVERIFY(s.dialogs.messages[0].text.contains("В УО ничего не записано"));
    QVERIFY(s.form1().windowTitle().startsWith("* " + kTitle));
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
    ConfigImage device;
    QVERIFY(LoadConfigFile(dir.filePath("device.dat").toStdString(), 250, device).ok());
    QCOMPARE(device, SampleImage(250));
  }
#endif

  // A demo device's sample is no site's: its reads never reach the real archive.
  void ADemoDevicesReadsStayOutOfTheRealArchive() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QVERIFY(s.ui().StatusBar1->currentMessage().endsWith(
        ", копия — во временном архиве демо-приборов"));
    QCOMPARE(Archived(s).size(), size_t(1));
    QVERIFY(!QDir(s.files.path()).exists(QString::fromUtf8("Архив")));
  }

  void TheComparisonRefusesAHalfReadImage() {
    UiSession s;
    QVERIFY(s.Identify(250));
    FaultAhead(s.demo(250), FaultKind::Drop, 10);
    s.dialogs.continue_answer = false;
    QVERIFY(s.Start());
    s.ui().N4->trigger();
    QCOMPARE(s.dialogs.messages.size(), size_t(1));
    QCOMPARE(s.dialogs.messages[0].caption, QString("Сравнение невозможно"));
    QVERIFY(s.dialogs.messages[0].text.contains("не полностью (72 из 256 байт)"));
    QVERIFY(s.form1().findChild<QDialog*>("CompareDialog") == nullptr);
  }
};

LOVAR_UI_TEST(SafetyTest)
#include "safety_test.moc"
