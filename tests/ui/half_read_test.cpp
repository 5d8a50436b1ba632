// What the window does with an image it does not show: a read that ended early leaves the pages
// showing an older image (or none), and nothing of theirs may reach the half-read one. Against
// lovar-sim on a pseudo-terminal, the window driven through its menus.
#include <QAction>
#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "files/config_file.h"
#include "model/regions.h"
#include "pages_helpers.h"

#ifdef LOVAR_SIM_PATH
using namespace lovar;
using namespace lovar::testing;

class HalfReadTest : public QObject {
  Q_OBJECT
 private slots:
  // A whole read of another model 251 device first, so the key grid holds other names; then a
  // read that stops at the no-answer question well past the file's 2048 bytes.
  void AHalfReadImageIsSavedAndComparedAsReadNeverAsThePagesShowAnother() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(s.Identify(251));
    std::string why;
    ConfigImage other = SampleImage(251);
    other.SetText(keys::NameOffset(0), 8, "Demo");
    s.demo(251).device().image() = other;
    QVERIFY(s.Start());
    QVERIFY(ShowTab(s, "TabSheet2"));
    QCOMPARE(CellText(Keys(s).ui().StringGridKey, 1, KeysPage::kNameColumn), QString("Demo"));

    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251", "--drop", "300/1"});
    QVERIFY(!port.isEmpty());
    s.dialogs.continue_answer = false;  // "Отмена" at "Прибор не отвечает"
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    QCOMPARE(s.dialogs.continue_questions, 1);
    QVERIFY(s.ui().StatusBar1->currentMessage().contains("(2376 из 4096 байт)"));
    const ConfigImage read = s.form1().Image();
    QCOMPARE(Bytes(read, 0, 2048), Bytes(SampleImage(251), 0, 2048));
    QVERIFY(!s.form1().windowTitle().startsWith("* "));

    // "Сравнить с файлом…" changes nothing.
    const QString file = dir.filePath("same.dat");
    QVERIFY(SaveConfigFile(file.toStdString(), 251, SampleImage(251)).ok());
    s.dialogs.open_answer = file;
    s.ui().N4->trigger();
    QCOMPARE(s.form1().Image(), read);
    QVERIFY(!s.form1().windowTitle().startsWith("* "));
    if (auto* compare = s.form1().findChild<QDialog*>("CompareDialog")) compare->close();

    // "Сохранить" writes what was read: the device's key names, not the grid's.
    s.dialogs.save_answer = dir.filePath("saved.dat");
    s.ui().N3->trigger();
    ConfigImage saved;
    QVERIFY(LoadConfigFile(s.dialogs.save_answer.toStdString(), 251, saved).ok());
    QCOMPARE(Bytes(saved, 0, 2048), Bytes(SampleImage(251), 0, 2048));
    QCOMPARE(saved.Text(keys::NameOffset(0), 8), std::string("Иванов"));
    QCOMPARE(s.form1().Image(), read);
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
  }
};

LOVAR_UI_TEST(HalfReadTest)
#include "half_read_test.moc"
#endif
