// Figures for the windows, printed, not asserted (offscreen platform unless one is set):
//   start to the search window shown (target at most 300 ms),
//   UpDate on a model-251 image (target at most 5 ms),
//   peak resident memory with a model-251 image shown (target at most 80 MB).
#include <sys/resource.h>

#include <QApplication>
#include <chrono>
#include <cstdio>

#include "harness.h"
#include "serial/port_list.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const Clock::time_point start = Clock::now();
  QApplication app(argc, argv);
  {
    lovar::testing::ScriptedDialogs dialogs;
    lovar::TFormKey form_key(dialogs, lovar::FillComPorts());
    form_key.show();
    if (!QTest::qWaitForWindowExposed(&form_key)) std::puts("search window not exposed");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("start to search window shown: %.1f ms (target <= 300)\n", ms);
  }

  lovar::testing::Session s;
  if (!s.Identify(251) || !s.Start()) {
    std::puts("model 251 demo read failed");
    return 1;
  }
  QApplication::processEvents();
  constexpr int kRuns = 200;
  const Clock::time_point t0 = Clock::now();
  for (int i = 0; i < kRuns; ++i) s.form1().UpDate();
  const double per = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / kRuns;
  std::printf("UpDate on a model 251 image: %.3f ms per call (target <= 5)\n", per);

  for (int i = 0; i < s.ui().PageControl1->count(); ++i) {
    s.ui().PageControl1->setCurrentIndex(i);
    QApplication::processEvents();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory with a model 251 image shown: %.1f MB (target <= 80)\n",
              usage.ru_maxrss / 1024.0);
  return 0;
}
