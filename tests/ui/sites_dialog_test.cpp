// "Объекты…" on a real registry file: the list filtered as a number is typed, a site's history,
// two versions compared, one chosen to load, and a registry that cannot be read.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <mutex>
#include <thread>
#include <vector>

#include "compare_dialog.h"
#include "file_paths.h"
#include "fit_content.h"
#include "harness.h"
#include "model/config_image.h"
#include "sim/device_sim.h"
#include "sites_dialog.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

constexpr StoreTime kDay = 86'400'000'000;

SiteRecord Version(const std::string& object, int sounder_time, StoreTime time) {
  ConfigImage image = SampleImage(251);
  image.SetText(21, 8, object);
  image[13] = static_cast<uint8_t>(sounder_time);
  SiteRecord r;
  r.info.time = time;
  r.info.model = 251;
  r.info.object = object;
  r.info.port = "COM5";
  r.info.device_line = "Ловар-М Версия 2.2";
  r.image.assign(image.bytes().begin(), image.bytes().end());
  return r;
}

std::unique_ptr<Registry> Filled(const QTemporaryDir& dir) {
  RegistryOptions options;
  options.location = {false, dir.filePath("registry.sqlite").toStdString()};
  StoreResult opened;
  auto registry = Registry::Open(options, opened);
  if (!registry) return nullptr;
  for (const char* object : {"1024", "1025", "2048"})
    registry->Record(Version(object, 15, 1 * kDay));
  registry->Record(Version("1024", 20, 2 * kDay));
  SiteRecord failed = Version("1024", 0, 3 * kDay);
  failed.image.clear();
  failed.info.operation = RecordOperation::Write;
  failed.info.outcome = RecordOutcome::Failed;
  failed.info.message = "Прибор не отвечает";
  registry->Record(failed);
  return registry;
}

}  // namespace

class SitesDialogTest : public QObject {
  Q_OBJECT
 private slots:
  // Through a runner (the registry's thread), a slow registry never holds the window: the
  // dialog says it waits, the typing goes on, and only the newest prefix's answer is shown.
  void QueriesOffTheWindowThreadNeverHoldItAndTheNewestPrefixWins() {
    QTemporaryDir dir;
    auto registry = Filled(dir);
    QVERIFY(registry);
    ScriptedDialogs dialogs;
    std::vector<std::thread> threads;
    std::mutex one_at_a_time;
    const auto slow = [&](std::function<void(Registry&)> work) {
      threads.emplace_back([&registry, &one_at_a_time, work] {
        std::lock_guard lock(one_at_a_time);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        work(*registry);
      });
    };
    SitesDialog dialog(*registry, dialogs, nullptr, slow);
    QVERIFY(dialog.Asking());
    QCOMPARE(dialog.status()->text(), QStringLiteral("Запрос к реестру…"));
    QElapsedTimer typing;
    typing.start();
    QTest::keyClicks(dialog.filter(), "1024");
    QVERIFY(typing.elapsed() < 1000);  // four queries asked (1.6 s of work), none waited for
    QVERIFY(WaitFor([&] { return !dialog.Asking(); }));
    QCOMPARE(dialog.sites()->rowCount(), 1);
    QCOMPARE(dialog.sites()->item(0, 0)->text(), QStringLiteral("1024"));
    QCOMPARE(dialog.history()->rowCount(), 3);
    QVERIFY(dialog.status()->text().isEmpty());
    for (std::thread& t : threads) t.join();
  }

  void TypingANumberFiltersTheSitesAndShowsTheOneFound() {
    QTemporaryDir dir;
    auto registry = Filled(dir);
    QVERIFY(registry);
    ScriptedDialogs dialogs;
    SitesDialog dialog(*registry, dialogs, nullptr);
    QCOMPARE(dialog.sites()->rowCount(), 3);
    QTest::keyClicks(dialog.filter(), "10");
    QCOMPARE(dialog.sites()->rowCount(), 2);
    QCOMPARE(dialog.sites()->item(1, 0)->text(), QStringLiteral("1025"));
    QTest::keyClicks(dialog.filter(), "24");
    QCOMPARE(dialog.sites()->rowCount(), 1);
    QCOMPARE(dialog.sites()->item(0, 1)->text(), QStringLiteral("Ловар-М (251)"));
    // The one site found shows its history at once, newest first.
    QCOMPARE(dialog.history()->rowCount(), 3);
    QCOMPARE(dialog.history()->item(0, 2)->text(), QStringLiteral("ошибка"));
    QCOMPARE(dialog.history()->item(0, 6)->text(), QStringLiteral("Прибор не отвечает"));
    // A step without an image can be neither loaded nor compared.
    QVERIFY(!dialog.load_button()->isEnabled());
    QTest::keyClicks(dialog.filter(), "9");
    QCOMPARE(dialog.sites()->rowCount(), 0);
    QCOMPARE(dialog.status()->text(), QStringLiteral("Нет таких объектов."));
  }

  // The history's last column shows a long message whole while the screen has room for it (run
  // on a 1366×768 screen to see it widen: QT_QPA_PLATFORM=offscreen:configfile=…).
  void TheMessageColumnIsAsWideAsItsText() {
    QTemporaryDir dir;
    auto registry = Filled(dir);
    QVERIFY(registry);
    SiteRecord stopped = Version("1024", 0, 4 * kDay);
    stopped.image.clear();
    stopped.info.operation = RecordOperation::Write;
    stopped.info.outcome = RecordOutcome::Failed;
    stopped.info.message =
        "Запись прервана на смещении 1344 (Прибор не отвечает). Прибор может хранить смесь "
        "старой и новой конфигурации";
    registry->Record(stopped);
    ScriptedDialogs dialogs;
    SitesDialog dialog(*registry, dialogs, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.filter(), "1024");
    QTableWidget* history = dialog.history();
    QCOMPARE(history->rowCount(), 4);
    const QString message = history->item(0, 6)->text();
    QCOMPARE(message, QString::fromStdString(stopped.info.message));
    QApplication::processEvents();
    QVERIFY2(
        history->columnWidth(6) >= history->fontMetrics().horizontalAdvance(message) ||
            dialog.width() == RoomFor(dialog).width(),
        qPrintable(QStringLiteral("%1 of %2").arg(history->columnWidth(6)).arg(dialog.width())));
  }

  void TwoVersionsAreComparedAndOneIsLoaded() {
    QTemporaryDir dir;
    auto registry = Filled(dir);
    QVERIFY(registry);
    ScriptedDialogs dialogs;
    SitesDialog dialog(*registry, dialogs, nullptr);
    QTest::keyClicks(dialog.filter(), "1024");
    QTableWidget* history = dialog.history();
    history->clearSelection();
    history->selectionModel()->select(history->model()->index(1, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    history->selectionModel()->select(history->model()->index(2, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(dialog.compare_button()->isEnabled());
    QVERIFY(!dialog.load_button()->isEnabled());
    QTest::mouseClick(dialog.compare_button(), Qt::LeftButton);
    auto* compare = dialog.findChild<CompareDialog*>();
    QVERIFY(compare != nullptr);
    QCOMPARE(compare->windowTitle(), QStringLiteral("Сравнение версий объекта 1024"));
    QCOMPARE(compare->table()->rowCount(), 1);
    QCOMPARE(compare->table()->item(0, 2)->text(), QStringLiteral("15"));  // older on the left
    QCOMPARE(compare->table()->item(0, 3)->text(), QStringLiteral("20"));
    compare->close();

    history->selectRow(1);
    QVERIFY(dialog.load_button()->isEnabled());
    QTest::mouseClick(dialog.load_button(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.chosen().has_value());
    QCOMPARE(dialog.chosen()->image, Version("1024", 20, 0).image);
    QCOMPARE(dialog.chosen()->info.model, 251);
  }

  // The list is of cards: a card edited is kept as a new version and found by its customer; a
  // note added to a record is shown with it; records of no site are listed and put under one.
  void CardsAreEditedRecordsNotedAndRecordsOfNoSitePlaced() {
    QTemporaryDir dir;
    auto registry = Filled(dir);
    QVERIFY(registry);
    SiteRecord stray = Version("", 15, 4 * kDay);  // a device without a number, no site given
    stray.info.model = 250;
    stray.image.resize(ImageLength(250));
    QVERIFY(registry->Record(stray).ok());
    ScriptedDialogs dialogs;
    SitesDialog dialog(*registry, dialogs, nullptr);
    QCOMPARE(dialog.sites()->rowCount(), 4);  // three sites, and the records of no site
    QCOMPARE(dialog.sites()->item(0, 2)->text(), QStringLiteral("Объект 1024"));
    QCOMPARE(dialog.sites()->item(3, 0)->text(), QStringLiteral("(объект не указан)"));

    // The card of 1024: its new version kept, the list read again, the site still selected.
    dialog.sites()->selectRow(0);
    QVERIFY(dialog.card_button()->isEnabled());
    dialog.card_edit = [](const SiteCard& card) -> std::optional<SiteCard> {
      SiteCard next = card;
      next.name = "Ленина, 5";
      next.customer = "ООО «Ромашка»";
      next.phones = "+7 916 123-45-67";
      next.status = "suspended";
      return next;
    };
    dialog.EditCard();
    QCOMPARE(dialog.status()->text(), QStringLiteral("Карточка объекта № 1 сохранена"));
    QCOMPARE(dialog.sites()->item(0, 2)->text(), QStringLiteral("Ленина, 5"));
    QCOMPARE(dialog.sites()->item(0, 4)->text(), QStringLiteral("приостановлен"));
    QVERIFY(dialog.card()->text().contains(QStringLiteral("телефоны: +7 916 123-45-67")));
    std::vector<SiteCard> versions;
    QVERIFY(registry->Cards(1, versions).ok());
    QCOMPARE(versions.size(), size_t(2));
    QCOMPARE(versions.front().name, std::string("Объект 1024"));  // the first kept as it was
    // Found by the customer's name, in any case.
    Type(dialog.filter(), QStringLiteral("ромашка"));
    QCOMPARE(dialog.sites()->rowCount(), 1);
    QCOMPARE(dialog.history()->rowCount(), 3);

    // A note on the newest record, shown with it.
    dialogs.on_line = [](const QString&) -> std::optional<QString> {
      return QStringLiteral("ключ заменён по заявке 17");
    };
    dialog.history()->selectRow(0);
    QVERIFY(dialog.note_button()->isEnabled());
    dialog.AddNote();
    QCOMPARE(dialog.status()->text(), QStringLiteral("Примечание добавлено"));
    QVERIFY(WaitFor([&] { return dialog.history()->rowCount() == 3; }));
    dialog.history()->selectRow(0);
    QVERIFY2(dialog.findChild<QLabel*>("LabelRecord")->text().contains("ключ заменён по заявке 17"),
             qPrintable(dialog.findChild<QLabel*>("LabelRecord")->text()));

    // The record of no site put under 2048 by its name.
    dialog.filter()->clear();
    dialog.sites()->selectRow(3);
    QCOMPARE(dialog.history()->rowCount(), 1);
    dialog.history()->selectRow(0);
    dialogs.on_line = [](const QString&) -> std::optional<QString> {
      return QStringLiteral("Объект 2048");
    };
    dialog.AssignSelected();
    QCOMPARE(dialog.status()->text(),
             QStringLiteral("Записей отнесено к объекту «Объект 2048»: 1"));
    QCOMPARE(dialog.sites()->rowCount(), 3);  // no record of no site left
    std::vector<RecordInfo> history;
    QVERIFY(registry->SiteHistory(3, history).ok());
    QCOMPARE(history.size(), size_t(2));
    // A site that is not there: said, nothing changed.
    dialogs.on_line = [](const QString&) -> std::optional<QString> {
      return QStringLiteral("нет");
    };
    dialog.sites()->selectRow(2);
    dialog.history()->selectRow(0);
    dialog.AssignSelected();
    QVERIFY(dialog.status()->text().startsWith(QStringLiteral("Не сохранено: ")));
  }

  void ARegistryThatCannotBeReadIsSaid() {
    QTemporaryDir dir;
    RegistryOptions options;
    options.location = {true, "postgresql://station@127.0.0.1:1/lovar"};
    options.local_file = ToPath(dir.filePath("local.sqlite"));
    StoreResult opened;
    auto registry = Registry::Open(options, opened);
    QVERIFY(registry);
    ScriptedDialogs dialogs;
    SitesDialog dialog(*registry, dialogs, nullptr);
    QCOMPARE(dialog.sites()->rowCount(), 0);
    QVERIFY(dialog.status()->text().startsWith(QStringLiteral("Список объектов не прочитан: ")));
    QVERIFY(dialog.status()->text().contains(QStringLiteral("сервер реестра недоступен")));
  }
};

LOVAR_UI_TEST(SitesDialogTest)
#include "sites_dialog_test.moc"
