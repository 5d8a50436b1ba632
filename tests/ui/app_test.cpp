// The program as a whole: its command line, the file given on it, the About box, where the
// file dialogs start, and the texts Qt itself shows.
#include <QCoreApplication>
#include <QDate>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "about.h"
#include "app.h"
#include "file_paths.h"
#include "files/config_file.h"
#include "harness.h"
#include "qt_dialogs.h"
#include "qt_translations.h"
#include "sim/sim_port.h"
#include "version/build_date.h"
#include "version/version.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// A model file whose byte 13 (model 251: the sounder's time) is `mark`.
QString WriteFile(const QTemporaryDir& dir, int model, uint8_t mark) {
  ConfigImage image = SampleImage(model);
  image[13] = mark;
  const QString path = dir.filePath(QStringLiteral("файл %1.dat").arg(model));
  return SaveConfigFile(path.toStdU16String(), model, image).ok() ? path : QString();
}

QString Clean(const QString& path) {
  return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT
 private slots:
  void Options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("demo");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("version");
    QTest::addColumn<bool>("refused");
    QTest::newRow("none") << QStringList{} << 0 << "" << false << false;
    QTest::newRow("demo 251") << QStringList{"--demo", "251"} << 251 << "" << false << false;
    QTest::newRow("demo=252") << QStringList{"--demo=252"} << 252 << "" << false << false;
    QTest::newRow("demo 253") << QStringList{"--demo", "253"} << 0 << "" << false << true;
    QTest::newRow("demo without model") << QStringList{"--demo"} << 0 << "" << false << true;
    QTest::newRow("unknown") << QStringList{"--fast"} << 0 << "" << false << true;
    QTest::newRow("version") << QStringList{"--version"} << 0 << "" << true << false;
    QTest::newRow("file") << QStringList{"C:\\УО\\LovarM.dat"} << 0 << "C:\\УО\\LovarM.dat" << false
                          << false;
    QTest::newRow("demo and file")
        << QStringList{"a.dat", "--demo", "250"} << 250 << "a.dat" << false << false;
    QTest::newRow("two files") << QStringList{"a.dat", "b.dat"} << 0 << "a.dat" << false << true;
  }
  void Options() {
    QFETCH(QStringList, arguments);
    QFETCH(int, demo);
    QFETCH(QString, file);
    QFETCH(bool, version);
    QFETCH(bool, refused);
    const AppOptions options = ParseAppOptions(arguments);
    QCOMPARE(options.demo_model, demo);
    QCOMPARE(options.file, file);
    QCOMPARE(options.version, version);
    QCOMPARE(!options.error.isEmpty(), refused);
  }

  void AboutNamesTheVersionAndTheBuildDay() {
    UiSession s;
    QVERIFY(s.Identify(251));
    s.ui().NAbout->trigger();
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].caption, QString("О программе"));
    const QString text = s.dialogs.messages[0].text;
    QVERIFY2(text.contains(QStringLiteral("Версия ") + kVersion), qPrintable(text));
    const QString day =
        QDate::fromString(kBuildDate, Qt::ISODate).toString(QStringLiteral("dd.MM.yyyy"));
    QVERIFY2(!day.isEmpty() && text.contains(day), qPrintable(text));
  }

  // The file of the command line: named in the search window's caption, offered once after the
  // first complete read, loaded on Yes, left alone on No, refused when of another model.
  void FileFromTheCommandLineIsOfferedAfterTheFirstRead_data() {
    QTest::addColumn<int>("file_model");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("byte13");
    QTest::addColumn<QString>("status");
    QTest::newRow("yes") << 251 << true << 77 << "Файл загружен: файл 251.dat";
    QTest::newRow("no") << 251 << false << int(SampleImage(251)[13])
                        << "Конфигурация считана из УО (4096 байт)";
    QTest::newRow("another model")
        << 250 << true << int(SampleImage(251)[13]) << "Файл не принят: Неверный тип УО";
  }
  void FileFromTheCommandLineIsOfferedAfterTheFirstRead() {
    QFETCH(int, file_model);
    QFETCH(bool, answer);
    QFETCH(int, byte13);
    QFETCH(QString, status);
    QTemporaryDir dir;
    const QString file = WriteFile(dir, file_model, 77);
    QVERIFY(!file.isEmpty());
    UiSession s;
    s.dialogs.yes_no_answer = answer;
    s.form_key.OfferFileAfterRead(file);
    QVERIFY(s.form_key.windowTitle().endsWith(QFileInfo(file).fileName()));
    QVERIFY(s.Identify(251));
    QVERIFY(s.dialogs.messages.empty());  // nothing asked before the read
    QVERIFY(s.Start());
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }));
    QCOMPARE(s.dialogs.messages[0].caption, QString("Файл конфигурации"));
    QVERIFY(s.dialogs.messages[0].text.contains(QDir::toNativeSeparators(file)));
    QCOMPARE(int(s.form1().Image()[13]), byte13);
    QVERIFY2(s.ui().StatusBar1->currentMessage().startsWith(status),
             qPrintable(s.ui().StatusBar1->currentMessage()));
    QCOMPARE(s.form_key.windowTitle(), QString("Поиск прибора"));

    const size_t asked = s.dialogs.messages.size();
    s.form1().ButtonReadClick();
    QVERIFY(s.WaitIdle());
    QTest::qWait(50);
    QCOMPARE(s.dialogs.messages.size(), asked);  // asked once only
  }

  // Beside the program when the model's folder can be made there; otherwise (an installed
  // program's folder belongs to the system) in the user's documents.
  void FileDialogsStartBesideTheProgramOrInTheDocuments() {
    QTemporaryDir dir;
    UiSession s;
    QVERIFY(s.Identify(251));
    s.form1().SetProgramFolder(dir.path());
    s.form1().N2Click();
    QCOMPARE(Clean(s.dialogs.open_folder), dir.filePath("LovarM"));
    QVERIFY(QFileInfo(s.dialogs.open_folder).isDir());

    // A program folder where nothing can be made: a file stands in its place.
    QFile blocker(dir.filePath("program"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    s.form1().SetProgramFolder(blocker.fileName());
    const QString documents =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Ловар";
    const bool existed = QFileInfo::exists(documents);
    s.form1().N2Click();
    QCOMPARE(Clean(s.dialogs.open_folder), documents + "/LovarM");
    QVERIFY(QFileInfo(s.dialogs.open_folder).isDir());
    if (!existed) QDir(documents).removeRecursively();
  }

  // Where an installer puts the program, files never go beside it, even when it runs as root
  // or as an administrator and could make them there.
  void AnInstalledProgramsFolderIsKnown() {
    QVERIFY(IsInstalledProgramFolder("/usr/bin"));
    QVERIFY(IsInstalledProgramFolder("/usr/local/bin"));
    QVERIFY(!IsInstalledProgramFolder("/home/installer/lovar"));
    QVERIFY(!IsInstalledProgramFolder("/usrlocal"));
    const QByteArray saved = qgetenv("ProgramFiles");
    qputenv("ProgramFiles", "C:\\Program Files");
    QVERIFY(IsInstalledProgramFolder("C:\\Program Files\\Lovar"));
    QVERIFY(IsInstalledProgramFolder("c:/program files/Lovar"));
    QVERIFY(!IsInstalledProgramFolder("C:\\Program Files Extra\\Lovar"));
    QVERIFY(!IsInstalledProgramFolder("D:\\Lovar"));
    if (saved.isNull())
      qunsetenv("ProgramFiles");
    else
      qputenv("ProgramFiles", saved);
  }
};

// Qt's own texts in Russian, and a message box as wide as its caption.
class QtTextsTest : public QObject {
  Q_OBJECT
 private slots:
  void TheNoAnswerBoxSpeaksRussianAndShowsItsWholeCaption() {
    QVERIFY(LoadQtTranslations(*qApp));
    const std::unique_ptr<QMessageBox> box = QtDialogs::ContinueBox();
    QCOMPARE(box->button(QMessageBox::Cancel)->text(), QString("Отмена"));
    QCOMPARE(box->windowTitle(), QString("Прибор не отвечает"));
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    QVERIFY(box->width() >= title.horizontalAdvance(box->windowTitle()) + 100);
  }

  // The question stands above a window of ours, also while the program is not in front.
  void TheNoAnswerBoxBelongsToTheWindowShown() {
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const std::unique_ptr<QMessageBox> box = QtDialogs::ContinueBox();
    QVERIFY(box->parentWidget() != nullptr);
    QCOMPARE(box->parentWidget()->window(), &window);
  }

  void TheFileDialogsSpeakRussian() {
    QVERIFY(LoadQtTranslations(*qApp));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const auto* name = dialog.findChild<QLabel*>("fileNameLabel");
    QVERIFY(name != nullptr);
    QCOMPARE(name->text().remove('&'), QString("Имя файла:"));
  }
};

LOVAR_UI_TEST(AppTest)
LOVAR_UI_TEST(QtTextsTest)
#include "app_test.moc"
