// The program's command line.
#include "app.h"
#include "harness.h"

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

LOVAR_UI_TEST(AppTest)
#include "app_test.moc"
