// The registry in the main window: "Объекты…" and "Архив…" load a version into the window, a
// demo device's read is never recorded, "Настройки…" keeps what it is given, and the close says
// what the registry did not take.
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QOperatingSystemVersion>
#include <QTableWidget>
#include <atomic>
#include <future>
#include <memory>

#include "app_settings.h"
#include "files/archive.h"
#include "harness.h"
#include "sim/device_sim.h"
#include "sites_menu.h"
#include "store/registry.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// A registry file in dir named by the window's setting, holding one version of site 1024
// (model 251) that differs from the demo device's image in byte 13.
std::unique_ptr<Registry> SetUpRegistry(const QTemporaryDir& dir) {
  const QString file = dir.filePath(QStringLiteral("registry.sqlite"));
  SetRegistryLocationSetting(file);
  RegistryOptions options;
  options.location = {false, file.toStdString()};
  StoreResult opened;
  auto registry = Registry::Open(options, opened);
  if (!registry) return nullptr;
  ConfigImage image = SampleImage(251);
  image[13] = static_cast<uint8_t>(image[13] + 7);
  SiteRecord record;
  record.info.model = 251;
  record.info.object = "1024";
  record.info.device_line = "Ловар-М Версия 2.2";
  record.image.assign(image.bytes().begin(), image.bytes().begin() + 4096);
  if (!registry->Record(record).ok()) return nullptr;
  return registry;
}

// Another program's hold on a registry file: a write transaction left open.
class FileLock {
 public:
  explicit FileLock(const QString& file) {
    sqlite3_open(file.toUtf8().constData(), &db_);
    locked_ = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }
  void Release() {
    if (db_ == nullptr) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
  bool locked_ = false;
};

SiteRecord ReadOf(const std::string& object) {
  SiteRecord record;
  record.info.model = 251;
  record.info.object = object;
  record.info.device_line = "Ловар-М Версия 2.2";
  const ConfigImage image = SampleImage(251);
  record.image.assign(image.bytes().begin(), image.bytes().begin() + 4096);
  return record;
}

int RecordsOf1024(Registry& registry) {
  std::vector<RecordInfo> history;
  registry.History(251, "1024", history);
  return static_cast<int>(history.size());
}

}  // namespace

class RegistryMenuTest : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { SetRegistryLocationSetting({}); }

  void AVersionChosenInTheSitesDialogIsLoadedIntoTheWindow() {
    QTemporaryDir dir;
    auto registry = SetUpRegistry(dir);
    QVERIFY(registry);
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    const uint8_t read = s.form1().Image()[13];
    SitesMenu& menu = s.form1().sites();
    menu.worker().WaitIdle();
    QCOMPARE(RecordsOf1024(*registry), 1);  // the demo device's read is not recorded

    menu.sites_action()->trigger();
    QVERIFY(WaitFor([&] { return menu.dialog() != nullptr; }));
    SitesDialog& dialog = *menu.dialog();
    QTest::keyClicks(dialog.filter(), "1024");
    // The queries run on the registry's thread; the dialog says it waits meanwhile.
    QVERIFY(WaitFor([&] { return dialog.sites()->rowCount() == 1 && !dialog.Asking(); }));
    QVERIFY(WaitFor([&] { return dialog.history()->rowCount() == 1 && !dialog.Asking(); }));
    dialog.history()->selectRow(0);
    dialog.LoadSelected();
    QVERIFY(WaitFor([&] { return s.form1().Image()[13] == static_cast<uint8_t>(read + 7); }));
    QVERIFY(s.form1().windowTitle().contains(QStringLiteral("Объект 1024")));
    QVERIFY(s.form1().session().Whole());  // model 251's whole image: written as any file
  }

#ifdef LOVAR_SIM_PATH
  // A real device (lovar-sim on a pseudo-terminal): its read is recorded, and "Архив…" shows its
  // history; a demo device's "Архив…" is the run's own archive.
  void TheArchiveItemShowsTheHistoryOfTheDeviceShown() {
    QTemporaryDir dir;
    auto registry = SetUpRegistry(dir);
    QVERIFY(registry);
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!port.isEmpty());
    UiSession s;
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    SitesMenu& menu = s.form1().sites();
    QVERIFY(WaitFor([&] {
      menu.worker().WaitIdle();
      return RecordsOf1024(*registry) == 2;
    }));
    s.ui().N5->trigger();
    QVERIFY(WaitFor([&] { return menu.dialog() != nullptr; }));
    QCOMPARE(menu.dialog()->filter()->text(), QStringLiteral("1024"));
    QVERIFY(WaitFor([&] { return menu.dialog()->history()->rowCount() == 2; }));
    menu.dialog()->reject();
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));

    UiSession demo;
    QVERIFY(demo.Identify(251));
    QVERIFY(demo.Start());
    demo.form1().N5Click();
    QCOMPARE(demo.dialogs.archive_rows.size(), size_t(1));
    QVERIFY(demo.form1().sites().dialog() == nullptr);
  }
#endif

#ifdef LOVAR_SIM_PATH
  // The first read on a new station whose archive holds a read from before: the read is said
  // with the archive's intake beside it, and recorded once (its own archive file was taken in
  // as well, "из архива").
  void TheFirstReadOnANewStationIsRecordedOnce() {
    QTemporaryDir dir;
    SetRegistryLocationSetting(dir.filePath(QStringLiteral("new.sqlite")));
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!port.isEmpty());
    UiSession s;
    const std::filesystem::path archive = ArchiveFolder(s.files.path().toStdString());
    QVERIFY(SaveToArchive(archive, 251, SampleImage(251), {2024, 5, 1, 12, 30, 5}).ok);
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    QVERIFY(WaitFor([&] { return s.ui().StatusBar1->currentMessage().contains("Перенесено"); }));
    const QString said = s.ui().StatusBar1->currentMessage();
    QVERIFY2(said.startsWith("Конфигурация считана из УО (4096 байт), копия — в архиве. ") &&
                 said.endsWith(": 1."),
             qPrintable(said));
    s.form1().sites().worker().WaitIdle();
    RegistryOptions options;
    options.location = {false, dir.filePath(QStringLiteral("new.sqlite")).toStdString()};
    StoreResult opened;
    auto registry = Registry::Open(options, opened);
    QVERIFY(registry);
    std::vector<RecordInfo> history;
    QVERIFY(registry->History(251, "1024", history).ok());
    QCOMPARE(history.size(), size_t(2));  // the earlier read "из архива", and this one
    QCOMPARE(history[0].operation, RecordOperation::Archive);
    QVERIFY(history[1].operation != RecordOperation::Archive);
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
  }
#endif

  // The window closes while the registry's file is held by another program: the close waits a
  // bounded time, then tells the installer how many records it could not keep there, which file
  // keeps them, and that the next start takes them in; and the next open does.
  void TheCloseSaysWhatTheRegistryDidNotTakeAndTheNextStartTakesItIn() {
    QTemporaryDir dir;
    QVERIFY(SetUpRegistry(dir));
    const QString file = dir.filePath(QStringLiteral("registry.sqlite"));
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    FileLock lock(file);
    QVERIFY(lock.locked());
    RegistryWorker& worker = s.form1().sites().worker();
    worker.SetEndLimit(std::chrono::milliseconds(300));
    for (const char* object : {"2001", "2002", "2003"}) worker.Record(ReadOf(object));
    s.form1().close();

    QCOMPARE(s.dialogs.messages.size(), size_t(1));
    const ScriptedDialogs::Shown& said = s.dialogs.messages[0];
    QCOMPARE(said.caption, QStringLiteral("Реестр объектов"));
    QVERIFY(said.warning);
    QVERIFY2(said.text.startsWith(QStringLiteral(
                 "Записи, не сохранённые в реестр объектов до закрытия окна (3), ждут в файл")) &&
                 said.text.endsWith(
                     QStringLiteral(": реестр возьмёт их при следующем запуске программы.")),
             qPrintable(said.text));
    const QStringList names =
        QDir(dir.path()).entryList({QStringLiteral("registry.sqlite.kept-*")}, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) QVERIFY2(said.text.contains(name), qPrintable(said.text));

    lock.Release();
    RegistryOptions options;
    options.location = {false, file.toStdString()};
    StoreResult opened;
    auto registry = Registry::Open(options, opened);
    QVERIFY(registry);
    for (const char* object : {"2001", "2002", "2003"}) {
      std::vector<RecordInfo> history;
      QVERIFY(registry->History(251, object, history).ok());
      QCOMPARE(history.size(), size_t(1));
    }
  }

  // A record that holds the records' worker (a server or a file that keeps it waiting) never
  // delays "Объекты…": the dialog opens and answers while the record's job still runs.
  void TheSitesDialogAnswersWhileARecordWaits() {
    QTemporaryDir dir;
    QVERIFY(SetUpRegistry(dir));
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    SitesMenu& menu = s.form1().sites();
    auto holding = std::make_shared<std::atomic<bool>>(false);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    menu.worker().Run([holding, released] {
      *holding = true;
      released.wait();
      *holding = false;
    });
    // Let go whatever the test finds, before the window's close waits for the records.
    const std::unique_ptr<std::promise<void>, void (*)(std::promise<void>*)> let_go(
        &release, [](std::promise<void>* p) { p->set_value(); });
    QVERIFY(WaitFor([&] { return holding->load(); }));

    menu.sites_action()->trigger();
    QVERIFY(WaitFor([&] { return menu.dialog() != nullptr; }, 10000));
    QTest::keyClicks(menu.dialog()->filter(), "1024");
    QVERIFY(
        WaitFor([&] { return menu.dialog()->sites()->rowCount() == 1 && !menu.dialog()->Asking(); },
                10000));
    QVERIFY(holding->load());  // answered while the record's job still held its worker
  }

  void SettingsAreKeptInTheUsersIniFile() {
    {
      SettingsDialog dialog(nullptr);
      dialog.registry()->setText(QStringLiteral("postgresql://station@office/lovar"));
      dialog.rules()->setText(QStringLiteral("/home/alarm/rules.json"));
      dialog.Keep();
    }
    QCOMPARE(CompanyRulesFile(), QStringLiteral("/home/alarm/rules.json"));
    SettingsDialog again(nullptr);
    QCOMPARE(again.registry()->text(), QStringLiteral("postgresql://station@office/lovar"));
    QCOMPARE(again.rules()->text(), QStringLiteral("/home/alarm/rules.json"));
    // It may hold a password: the user's alone.
    QCOMPARE(QFileInfo(AppSettingsFile()).fileName(), QStringLiteral("settings.ini"));
    // Windows keeps it owner-only by its access list, which Qt's permissions do not show.
    if (QOperatingSystemVersion::currentType() != QOperatingSystemVersion::Windows)
      QCOMPARE(QFile::permissions(AppSettingsFile()) & 0x0077, QFileDevice::Permissions());
    SetCompanyRulesFile({});
  }
};

LOVAR_UI_TEST(RegistryMenuTest)
#include "registry_menu_test.moc"
