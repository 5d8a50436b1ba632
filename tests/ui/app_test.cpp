// The program's command line and the texts Qt itself shows.
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include "app.h"
#include "harness.h"
#include "qt_dialogs.h"
#include "qt_translations.h"

using namespace lovar;

class AppTest : public QObject {
  Q_OBJECT
 private slots:
  void Options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("demo");
    QTest::addColumn<bool>("refused");
    QTest::newRow("none") << QStringList{} << 0 << false;
    QTest::newRow("demo 251") << QStringList{"--demo", "251"} << 251 << false;
    QTest::newRow("demo=252") << QStringList{"--demo=252"} << 252 << false;
    QTest::newRow("demo 253") << QStringList{"--demo", "253"} << 0 << true;
    QTest::newRow("demo without model") << QStringList{"--demo"} << 0 << true;
    QTest::newRow("unknown") << QStringList{"--fast"} << 0 << true;
  }
  void Options() {
    QFETCH(QStringList, arguments);
    QFETCH(int, demo);
    QFETCH(bool, refused);
    const AppOptions options = ParseAppOptions(arguments);
    QCOMPARE(options.demo_model, demo);
    QCOMPARE(!options.error.isEmpty(), refused);
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
