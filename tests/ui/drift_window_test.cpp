// A device changed behind the registry's back, read in the window: the fields are shown on the
// panel "Проверка" as changed not through Lovar, a click turns to one, and a write that would
// change one asks "записать поверх?" first (a real device: lovar-sim on a pseudo-terminal).
#include <QListWidget>
#include <QProcess>
#include <QTabWidget>

#include "app_settings.h"
#include "binding.h"
#include "check_panel.h"
#include "harness.h"
#include "sim/device_sim.h"
#include "sites_menu.h"
#include "store/registry.h"

using namespace lovar;
using namespace lovar::testing;

// Only the tests with a simulated device use them (none on Windows).
#ifdef LOVAR_SIM_PATH
namespace {

// A registry file named by the window's setting whose site 1024 (model 251) was last read with
// the sounder's time other than the sample device holds.
std::unique_ptr<Registry> RegistryOfSite1024(const QTemporaryDir& dir, uint8_t sounder) {
  const QString file = dir.filePath(QStringLiteral("registry.sqlite"));
  SetRegistryLocationSetting(file);
  RegistryOptions options;
  options.location = {false, file.toStdString()};
  StoreResult opened;
  auto registry = Registry::Open(options, opened);
  if (!registry) return nullptr;
  ConfigImage image = SampleImage(251);
  image[13] = sounder;
  SiteRecord record;
  record.info.model = 251;
  record.info.object = "1024";
  record.info.device_line = "Ловар-М Версия 2.2";
  record.image.assign(image.bytes().begin(), image.bytes().begin() + 4096);
  if (!registry->Record(record).ok()) return nullptr;
  return registry;
}

std::vector<RecordInfo> HistoryOf1024(Registry& registry) {
  std::vector<RecordInfo> history;
  registry.History(251, "1024", history);
  return history;
}

}  // namespace
#endif

class DriftWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { SetRegistryLocationSetting({}); }

#ifdef LOVAR_SIM_PATH
  void ADriftedFieldIsShownAndAWriteOverItAsksFirst() {
    QTemporaryDir dir;
    const uint8_t recorded = static_cast<uint8_t>(SampleImage(251)[13] + 7);
    auto registry = RegistryOfSite1024(dir, recorded);
    QVERIFY(registry);
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!port.isEmpty());
    UiSession s;
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());

    // Compared on the registry's thread; the panel shows it once it is known.
    CheckPanel& panel = s.form1().check().panel();
    QVERIFY(WaitFor([&] { return panel.drift().size() == 1; }));
    QCOMPARE(panel.drift()[0].fields, std::vector<std::string>{"sounder_time"});
    QVERIFY2(panel.summary()->text().endsWith(QStringLiteral("; изменено не через Ловар: 1")),
             qPrintable(panel.summary()->text()));
    QListWidgetItem* item = panel.list()->item(0);
    QVERIFY2(item->text().startsWith(
                 QStringLiteral("изменено не через Ловар: Параметры: Внутренний звуковой сигн. "
                                "(было %1, стало %2)")
                     .arg(recorded)
                     .arg(SampleImage(251)[13])),
             qPrintable(item->text()));
    // The read's record keeps it.
    QVERIFY(WaitFor([&] {
      s.form1().sites().worker().WaitIdle();
      return HistoryOf1024(*registry).size() == 2;
    }));
    QCOMPARE(HistoryOf1024(*registry).back().drift, std::string("sounder_time"));

    // A click turns to the field's page.
    const Field& sounder = *FindFieldById(251, "sounder_time");
    auto* control = s.form1().findChild<QWidget*>(QString::fromStdString(PlaceOf(sounder).control));
    QVERIFY(control != nullptr);
    s.ui().PageControl1->setCurrentIndex(s.ui().PageControl1->count() - 1);
    panel.list()->scrollToItem(item);
    QTest::mouseClick(panel.list()->viewport(), Qt::LeftButton, {},
                      panel.list()->visualItemRect(item).center());
    QVERIFY(s.ui().PageControl1->currentWidget()->isAncestorOf(control));

    // Another field edited: the write goes on without a question.
    std::string why;
    ConfigImage& image = s.form1().session().image();
    QVERIFY(StoreFieldText(*FindFieldById(251, "siren_time"), image, "33", why));
    const size_t asked = s.dialogs.messages.size();
    s.ui().ButtonWrite->click();
    QVERIFY(WaitFor([&] { return !s.form1().session().Busy(); }));
    QCOMPARE(s.dialogs.messages.size(), asked);

    // The sounder put back as recorded: asked first; "no" sends nothing.
    QVERIFY(StoreFieldText(sounder, image, std::to_string(recorded), why));
    s.dialogs.yes_no_answer = false;
    s.form1().sites().worker().WaitIdle();
    const size_t records = HistoryOf1024(*registry).size();
    s.ui().ButtonWrite->click();
    QCOMPARE(s.dialogs.messages.size(), asked + 1);
    QCOMPARE(s.dialogs.messages.back().caption, QStringLiteral("Записать в УО"));
    QCOMPARE(s.dialogs.messages.back().text,
             QStringLiteral("В приборе изменено не через Ловар: Параметры: Внутренний звуковой "
                            "сигн.\n\nЗапись изменит эти поля. Записать поверх?"));
    QVERIFY(!s.form1().session().Busy());
    s.form1().sites().worker().WaitIdle();
    QCOMPARE(HistoryOf1024(*registry).size(), records);
    // "yes" writes over it; the device then holds it, and a later write is not asked again.
    s.dialogs.yes_no_answer = true;
    s.ui().ButtonWrite->click();
    QCOMPARE(s.dialogs.messages.size(), asked + 2);
    QVERIFY(WaitFor([&] { return !s.form1().session().Busy(); }));
    QVERIFY(StoreFieldText(*FindFieldById(251, "siren_time"), image, "34", why));
    s.ui().ButtonWrite->click();
    QVERIFY(WaitFor([&] { return !s.form1().session().Busy(); }));
    QVERIFY2(s.dialogs.messages.size() == asked + 2,
             qPrintable(s.dialogs.messages.back().caption + ": " + s.dialogs.messages.back().text));
    QVERIFY(WaitFor([&] {
      s.form1().sites().worker().WaitIdle();
      const RecordInfo last = HistoryOf1024(*registry).back();
      return last.operation == RecordOperation::Write && last.outcome == RecordOutcome::Holds;
    }));
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
  }
#endif
};

LOVAR_UI_TEST(DriftWindowTest)
#include "drift_window_test.moc"
