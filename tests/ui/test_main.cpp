// Runs every registered window test class on the offscreen platform.
#include <QApplication>
#include <memory>

#include "harness.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int failures = 0;
  for (lovar::testing::TestFactory factory : lovar::testing::TestRegistry()) {
    std::unique_ptr<QObject> test(factory());
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
