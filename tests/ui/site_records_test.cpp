// What the window's records say beside the device, through a real device (lovar-sim on a
// pseudo-terminal): the technician asked once per station and named by every record, the
// reason asked before each write and carried by its records, Esc writing nothing; the site a
// device of model 250 or 252 is, asked after each read.
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QSettings>
#include <algorithm>

#include "app_settings.h"
#include "harness.h"
#include "site_question_dialog.h"
#include "sites_menu.h"
#include "store/registry.h"

#ifdef LOVAR_SIM_PATH
using namespace lovar;
using namespace lovar::testing;

namespace {

// The window's registry: a file of the test's own, named by the settings.
std::unique_ptr<Registry> OpenRegistry(const QString& file) {
  RegistryOptions options;
  options.location = {false, file.toStdString()};
  StoreResult opened;
  return Registry::Open(options, opened);
}

// A station never asked for its technician.
void ForgetTechnician() {
  QSettings settings(AppSettingsFile(), QSettings::IniFormat);
  settings.remove(QStringLiteral("station"));
}

int Asked(const ScriptedDialogs& dialogs, const QString& caption) {
  return static_cast<int>(std::count_if(dialogs.lines.begin(), dialogs.lines.end(),
                                        [&](const auto& line) { return line.caption == caption; }));
}

}  // namespace

class SiteRecordsTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { ForgetTechnician(); }
  void cleanup() {
    SetRegistryLocationSetting({});
    ForgetTechnician();
  }

  void TheTechnicianAndTheReasonReachTheRecords() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("registry.sqlite"));
    SetRegistryLocationSetting(file);
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "251"});
    QVERIFY(!port.isEmpty());
    {
      UiSession s;
      QString reason = QStringLiteral("новый ключ");
      s.dialogs.on_line = [&](const QString& caption) -> std::optional<QString> {
        if (caption == QStringLiteral("Техник")) return QStringLiteral("Петров П.");
        if (caption == QStringLiteral("Причина")) return reason;
        return std::nullopt;
      };
      QVERIFY(s.Search(port));
      QVERIFY(s.Start());
      QCOMPARE(s.form1().sites().technician_label()->text(), QStringLiteral("Техник: Петров П."));
      s.form1().ButtonWriteClick();
      QVERIFY(s.WaitIdle());
      QVERIFY(WaitFor([&] { return !s.form1().session().WholeCheckRunning(); }));
      // Esc at the reason: nothing is written, and the line says so.
      s.dialogs.on_line = [](const QString&) -> std::optional<QString> { return std::nullopt; };
      s.form1().ButtonWriteClick();
      QVERIFY(s.WaitIdle());
      QCOMPARE(s.ui().StatusBar1->currentMessage(),
               QStringLiteral("Запись в УО отменена: в УО ничего не записано."));
      // Once per station: a read and a write later ask the reason only.
      s.dialogs.on_line = [](const QString&) -> std::optional<QString> { return QString(); };
      QVERIFY(s.form1().ButtonReadClick());
      QVERIFY(s.WaitIdle());
      s.form1().ButtonWriteClick();
      QVERIFY(s.WaitIdle());
      QVERIFY(WaitFor([&] { return !s.form1().session().WholeCheckRunning(); }));
      QCOMPARE(Asked(s.dialogs, QStringLiteral("Техник")), 1);
      QCOMPARE(Asked(s.dialogs, QStringLiteral("Причина")), 3);
      s.form1().sites().worker().WaitIdle();
      s.form1().close();
    }
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));

    auto registry = OpenRegistry(file);
    QVERIFY(registry);
    std::vector<RecordInfo> history;
    QVERIFY(registry->History(251, "1024", history).ok());
    // Read, write (the reason), read, write (no reason); a write of the changes adds its whole
    // check's record, with its write's reason.
    QVERIFY2(history.size() >= 4, qPrintable(QString::number(history.size())));
    int with_reason = 0;
    for (const RecordInfo& r : history) {
      QCOMPARE(QString::fromStdString(r.technician), QStringLiteral("Петров П."));
      if (r.operation == RecordOperation::Read) QCOMPARE(r.note, std::string());
      if (!r.note.empty()) {
        QCOMPARE(QString::fromStdString(r.note), QStringLiteral("новый ключ"));
        ++with_reason;
      }
    }
    QVERIFY(with_reason >= 1);
    QCOMPARE(history.back().operation, RecordOperation::Write);
    QCOMPARE(history.back().note, std::string());
    QCOMPARE(TechnicianSetting(), QStringLiteral("Петров П."));
  }

  // Models 250 and 252 have no object number: each read asks which site the device is. A new
  // site for each, the write after the read under it too, the next read offered its site
  // first, and Esc leaving a read "объект не указан".
  void AModel250AndAModel252EachGoUnderTheirOwnSiteThroughTheQuestion() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("registry.sqlite"));
    SetRegistryLocationSetting(file);
    SetTechnicianSetting(QStringLiteral("Петров П."));
    int64_t sites[2] = {0, 0};
    const QString names[2] = {QStringLiteral("Ленина, 5"), QStringLiteral("Мира, 1")};
    for (int i = 0; i < 2; ++i) {
      const int model = i == 0 ? 250 : 252;
      QProcess sim;
      const QString port = StartLovarSim(sim, {"--model", QString::number(model)});
      QVERIFY(!port.isEmpty());
      UiSession s;
      s.dialogs.on_line = [&](const QString& caption) -> std::optional<QString> {
        if (caption == QStringLiteral("Новый объект")) return names[i];
        return QString();
      };
      QVERIFY(s.Search(port));
      QVERIFY(s.Start());
      SitesMenu& menu = s.form1().sites();
      QVERIFY(WaitFor([&] { return menu.site_question() && menu.site_question()->isVisible(); }));
      QVERIFY(menu.site_question()->question().best.empty());  // nothing recorded like it yet
      menu.site_question()->NewSite();
      QVERIFY(
          WaitFor([&] { return s.ui().StatusBar1->currentMessage().contains("Новый объект"); }));
      // The write after it goes straight under the site.
      s.form1().ButtonWriteClick();
      QVERIFY(s.WaitIdle());
      QVERIFY(WaitFor([&] { return !s.form1().session().WholeCheckRunning(); }));

      // Read again: its site first, chosen with Enter.
      QVERIFY(s.form1().ButtonReadClick());
      QVERIFY(s.WaitIdle());
      QVERIFY(WaitFor([&] { return menu.site_question() && menu.site_question()->isVisible(); }));
      SiteQuestionDialog& again = *menu.site_question();
      QVERIFY(!again.question().best.empty());
      QCOMPARE(QString::fromStdString(again.question().best.front().name), names[i]);
      QVERIFY(again.list()->item(0)->text().startsWith(names[i]));
      QTest::keyClick(&again, Qt::Key_Return);
      QVERIFY(WaitFor([&] { return s.ui().StatusBar1->currentMessage().contains("отнесена"); }));

      // Read once more, Esc: "объект не указан".
      QVERIFY(s.form1().ButtonReadClick());
      QVERIFY(s.WaitIdle());
      QVERIFY(WaitFor([&] { return menu.site_question() && menu.site_question()->isVisible(); }));
      QTest::keyClick(menu.site_question(), Qt::Key_Escape);
      QVERIFY(WaitFor(
          [&] { return s.ui().StatusBar1->currentMessage().contains("Объект не указан"); }));
      menu.worker().WaitIdle();
      s.form1().close();
      sim.terminate();
      QVERIFY(sim.waitForFinished(20000));

      auto registry = OpenRegistry(file);
      QVERIFY(registry);
      std::vector<int64_t> named;
      QVERIFY(registry->SitesNamed(names[i].toStdString(), named).ok());
      QCOMPARE(named.size(), size_t(1));
      sites[i] = named.front();
      std::vector<RecordInfo> history;
      QVERIFY(registry->SiteHistory(sites[i], history).ok());
      int reads = 0, writes = 0;
      for (const RecordInfo& r : history) {
        QCOMPARE(r.model, model);
        QCOMPARE(QString::fromStdString(r.technician), QStringLiteral("Петров П."));
        (r.operation == RecordOperation::Read ? reads : writes) += 1;
      }
      QCOMPARE(reads, 2);
      QVERIFY(writes >= 1);
      std::vector<RecordInfo> none;
      QVERIFY(registry->SiteHistory(0, none).ok());
      QCOMPARE(static_cast<int>(none.size()), i + 1);  // each Esc's read
      QCOMPARE(none.back().model, model);
    }
    QVERIFY(sites[0] != sites[1]);
  }

  // A registry that cannot answer asks nothing: the line says so, the read is not held up.
  void ARegistryThatCannotAnswerLeavesTheQuestionOut() {
    QTemporaryDir dir;
    // A folder where the file should be: no registry can be opened there.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("registry.sqlite")));
    SetRegistryLocationSetting(dir.filePath(QStringLiteral("registry.sqlite")));
    SetTechnicianSetting({});
    QProcess sim;
    const QString port = StartLovarSim(sim, {"--model", "252"});
    QVERIFY(!port.isEmpty());
    UiSession s;
    QVERIFY(s.Search(port));
    QVERIFY(s.Start());
    QVERIFY(WaitFor([&] { return s.ui().StatusBar1->currentMessage().contains("не спрошен"); }));
    QVERIFY(s.form1().sites().site_question() == nullptr);
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Конфигурация считана"));
    s.form1().close();
    sim.terminate();
    QVERIFY(sim.waitForFinished(20000));
  }
};

LOVAR_UI_TEST(SiteRecordsTest)
#include "site_records_test.moc"
#endif
