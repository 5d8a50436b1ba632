// Runs every registered window test class on the offscreen platform (or the platform that
// QT_QPA_PLATFORM names). LOVAR_UI_TESTS=Class1,Class2 runs only those classes.
// LOVAR_UI_LOG_DIR=folder writes each class's log to folder/Class.txt instead of standard
// output, which a Windows program without a console (under Wine with its output redirected)
// does not get from Qt Test.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <memory>

#include "harness.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The window records reads of real devices, and keeps its settings, in the user's data
  // folder: here one of the tests' own.
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
  // The trip on a real port records where the run's LOVAR_DB says, as the program would.
  if (qEnvironmentVariableIsEmpty("LOVAR_TRIP_PORT")) qunsetenv("LOVAR_DB");
  QApplication app(argc, argv);
  const QStringList only =
      qEnvironmentVariable("LOVAR_UI_TESTS").split(QLatin1Char(','), Qt::SkipEmptyParts);
  const QString log_dir = qEnvironmentVariable("LOVAR_UI_LOG_DIR");
  int failures = 0;
  for (lovar::testing::TestFactory factory : lovar::testing::TestRegistry()) {
    std::unique_ptr<QObject> test(factory());
    const QString name = QLatin1String(test->metaObject()->className());
    if (!only.isEmpty() && !only.contains(name)) continue;
    QStringList arguments = QCoreApplication::arguments();
    if (!log_dir.isEmpty())
      arguments << QStringLiteral("-o")
                << QDir(log_dir).filePath(name + QStringLiteral(".txt,txt"));
    failures += QTest::qExec(test.get(), arguments);
  }
  return failures == 0 ? 0 : 1;
}
