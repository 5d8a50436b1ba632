// The main window never writes or saves a half-read image, proves every write and says how it
// ended, says a lost line and leads back to the search, against the in-process demo device with
// faults added on the fly.
#include <QAction>
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>

#include "files/config_file.h"
#include "harness.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// A fault on the demo device's n-th request from now (every `every`-th after it when set).
void FaultAhead(SimPort& demo, FaultKind kind, int n, int every = 0) {
  demo.device().AddFault({kind, demo.device().requests() + n, every});
}

}  // namespace

class IntegrityTest : public QObject {
  Q_OBJECT
 private slots:
  void AbandonedReadLeavesWriteDisabledAndSaveRefusedUntilAFileIsLoaded() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(s.Identify(250));
    FaultAhead(s.demo(250), FaultKind::Drop, 10);  // the tenth read request: offset 72
    s.dialogs.continue_answer = false;             // Cancel at "Прибор не отвечает"
    s.form_key.ButtonCreateClick();
    QCOMPARE(s.ui().StatusBar1->currentMessage(), QString("Чтение из УО…"));
    QVERIFY(s.WaitIdle());
    QCOMPARE(s.dialogs.continue_questions, 1);
    QVERIFY(s.ui().ButtonRead->isEnabled());
    QVERIFY(!s.ui().ButtonWrite->isEnabled());
    QCOMPARE(s.ui().StatusBar1->currentMessage(),
             QString("Конфигурация считана не полностью (72 из 256 байт): Прибор не отвечает"));

    const size_t blocks = s.demo(250).device().writes().size();
    s.form1().ButtonWriteClick();
    QCOMPARE(s.demo(250).device().writes().size(), blocks);
    QCOMPARE(s.dialogs.messages.size(), size_t(1));
    QCOMPARE(s.dialogs.messages[0].caption, QString("Запись в УО невозможна"));
    QVERIFY(s.dialogs.messages[0].text.startsWith(
        "Конфигурация считана из УО не полностью (72 из 256 байт)."));

    s.dialogs.save_answer = dir.filePath("half.dat");
    s.form1().N3Click();
    QVERIFY(!QFile::exists(s.dialogs.save_answer));
    QCOMPARE(s.dialogs.messages.size(), size_t(2));
    QCOMPARE(s.dialogs.messages[1].caption, QString("Сохранение невозможно"));

    // A whole file makes the image whole: write and save are open again.
    const std::vector<uint8_t> file = SerializeConfigFile(250, SampleImage(250));
    QFile whole(dir.filePath("whole.dat"));
    QVERIFY(whole.open(QIODevice::WriteOnly));
    whole.write(reinterpret_cast<const char*>(file.data()), qint64(file.size()));
    whole.close();
    s.dialogs.open_answer = whole.fileName();
    s.form1().N2Click();
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    s.form1().N3Click();
    QVERIFY(QFile::exists(s.dialogs.save_answer));
  }

  void CompleteReadAfterAnAbandonedOneOpensTheWriteAgain() {
    UiSession s;
    QVERIFY(s.Identify(251));
    FaultAhead(s.demo(251), FaultKind::Drop, 100);
    s.dialogs.continue_answer = false;
    s.form_key.ButtonCreateClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(!s.ui().ButtonWrite->isEnabled());
    s.form1().ButtonReadClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().ButtonWrite->isEnabled());
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана из УО"));
  }

  void WriteShowsItsStagesAndRepairsAHoleBehindTheAcknowledgements() {
    UiSession s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    QStringList statuses;
    QObject::connect(s.ui().StatusBar1, &QStatusBar::messageChanged, s.ui().StatusBar1,
                     [&](const QString& m) { statuses.append(m); });
    s.demo(250).device().image()[250] ^= 0x01;  // in the last block, which is lost
    FaultAhead(s.demo(250), FaultKind::Duplicate, 15);
    FaultAhead(s.demo(250), FaultKind::Lost, 16);
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, as it was
    QVERIFY(s.WaitIdle());
    QCOMPARE(s.ui().StatusBar1->currentMessage(),
             QString("Конфигурация записана в УО (блоков записано повторно: 1)"));
    QCOMPARE(statuses.mid(0, 4), (QStringList{"Запись в УО…", "Проверка записи…",
                                              "Исправление записи…", "Проверка записи…"}));
    QCOMPARE(s.demo(250).device().image()[250], s.form1().Image()[250]);
    QVERIFY(s.dialogs.messages.empty());
  }

  void WriteTheDeviceDoesNotKeepIsSaidWithWhatItHolds() {
    UiSession s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    s.demo(250).device().image()[40] ^= 0xFF;
    FaultAhead(s.demo(250), FaultKind::Unstored, 1, 1);
    s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, as it was
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    const auto& box = s.dialogs.messages[0];
    QCOMPARE(box.caption, QString("Запись в УО не подтверждена"));
    QVERIFY2(box.text.contains("начиная со смещения 40") &&
                 box.text.contains("смесь старой и новой конфигурации"),
             qPrintable(box.text));
    QCOMPARE(s.ui().StatusBar1->currentMessage(), box.text);
    QVERIFY(s.ui().ButtonWrite->isEnabled());
  }

  // Past a model 251 file's 2048 bytes a read cut short holds all a file keeps: the message
  // says saving is possible (it said unavailable, while "Сохранить" rightly saved).
  void AReadLostPastTheFilesHalfSaysSavingIsPossible() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(s.Identify(251) && s.Start());
    FaultAhead(s.demo(251), FaultKind::HangUp, 300);
    s.form1().ButtonReadClick();
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    const QString text = s.dialogs.messages[0].text;
    QVERIFY2(text.contains("Запись в УО недоступна") &&
                 text.contains("сохранить считанное в файл можно") &&
                 !text.contains("сохранение недоступн"),
             qPrintable(text));
    s.dialogs.save_answer = dir.filePath("half.dat");
    s.form1().N3Click();
    QVERIFY(QFile::exists(s.dialogs.save_answer));
  }

  void LostLineIsSaidAndANewSearchFindsTheDeviceAgain() {
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    FaultAhead(s.demo(251), FaultKind::HangUp, 30);
    s.form1().ButtonReadClick();
    QVERIFY(WaitFor([&] { return !s.form1().Cport1().IsOpen(); }));
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    const auto& box = s.dialogs.messages[0];
    QCOMPARE(box.caption, QString("Связь с портом потеряна"));
    QVERIFY2(box.text.contains("не полностью (232 из 4096 байт)") &&
                 box.text.contains("«Файл» → «Поиск прибора…»"),
             qPrintable(box.text));
    QCOMPARE(s.ui().StatusBar1->currentMessage(),
             QString("Конфигурация считана не полностью (232 из 4096 байт): Связь с портом "
                     "потеряна"));
    QVERIFY(s.ui().ButtonRead->isEnabled());
    QVERIFY(!s.ui().ButtonWrite->isEnabled());  // half of it was read

    auto* back = s.form1().findChild<QAction*>("NFindDevice");
    QVERIFY(back != nullptr && back->isEnabled());
    back->trigger();
    QVERIFY(s.form_key.isVisible());
    QVERIFY(s.Find());  // the device is back: "Поиск" opens the port again
    QVERIFY(s.Start());
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана из УО"));
    QVERIFY(s.ui().ButtonWrite->isEnabled());
  }

  void DeviceThatNeverAnswersTheRequestIsGivenUpWithAMessage() {
    UiSession s;
    QVERIFY(s.Identify(250));
    FaultAhead(s.demo(250), FaultKind::Empty, 1, 1);
    s.dialogs.continue_answer = true;
    s.form_key.ButtonCreateClick();
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    QCOMPARE(s.dialogs.continue_questions, Exchange::kGiveUpAfter - 1);
    QCOMPARE(s.dialogs.messages[0].caption, QString("Прибор отвечает не на запросы"));
    QVERIFY(s.ui().ButtonRead->isEnabled());
    QVERIFY(!s.ui().ButtonWrite->isEnabled());
  }
};

LOVAR_UI_TEST(IntegrityTest)
#include "integrity_test.moc"
