// "Файл" → "Сравнить с файлом…": the window's image against a file, in a table, with the
// report saved as HTML.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include "compare_dialog.h"
#include "files/config_file.h"
#include "harness.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

class CompareDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void TheTableShowsWhatTheWindowHoldsAgainstTheFile() {
    QTemporaryDir dir;
    const QString file = dir.filePath("LovarM.dat");
    QVERIFY(SaveConfigFile(QFile::encodeName(file).toStdString(), 251, SampleImage(251)).ok());
    UiSession s;
    QVERIFY(s.Identify(251));
    s.demo(251).device().image() = SampleImage(251);
    QVERIFY(s.Start());
    s.form1().activateWindow();
    // Typed but not yet left: the comparison takes it, as a save would.
    QLineEdit* object = s.pui().EditObjekt;
    object->setFocus();
    QVERIFY(WaitFor([&] { return object->hasFocus(); }, 5000));
    object->selectAll();
    Type(object, "7777");
    s.dialogs.open_answer = file;
    s.ui().N4->trigger();
    auto* dialog = s.form1().findChild<CompareDialog*>();
    QVERIFY(dialog != nullptr);
    QTableWidget* table = dialog->table();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("В окне"));
    QCOMPARE(table->horizontalHeaderItem(3)->text(), QStringLiteral("В файле"));
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Параметры"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Номер объекта"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("7777"));
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("1024"));
    // The file holds no keys: they are not compared, and the dialog says so.
    QVERIFY(dialog->summary()->text().contains(QStringLiteral("Не сравнивались поля за пределами байтов 0–2047")));

    const QString report = dir.filePath("report.html");
    s.dialogs.save_answer = report;
    dialog->SaveClicked();
    QFile saved(report);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(saved.readAll());
    QVERIFY(html.contains(QStringLiteral("<td>Номер объекта</td><td class=\"id\">object_number</td><td>7777</td><td>1024</td>")));
    QVERIFY(html.contains(QStringLiteral("<th>Номер объекта</th><td>В окне: 7777, В файле: 1024</td>")));
    dialog->close();
  }

  void AFileOfAnotherModelIsRefusedAsTheLoadRefusesIt() {
    QTemporaryDir dir;
    const QString file = dir.filePath("Lovart.dat");
    QVERIFY(SaveConfigFile(QFile::encodeName(file).toStdString(), 250, SampleImage(250)).ok());
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(s.Start());
    const ConfigImage before = s.form1().Image();
    s.dialogs.open_answer = file;
    s.dialogs.messages.clear();
    s.ui().N4->trigger();
    QVERIFY(s.form1().findChild<CompareDialog*>() == nullptr);
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].caption, QStringLiteral("Неверный тип УО"));
    QVERIFY(s.form1().Image() == before);
  }
};

LOVAR_UI_TEST(CompareDialogTest)
#include "compare_dialog_test.moc"
