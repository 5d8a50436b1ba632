// Figures for the windows, printed, not asserted (offscreen platform unless one is set):
//   start to the search window shown (target at most 300 ms),
//   UpDate on a model-251 image (target at most 5 ms),
//   peak resident memory with a model-251 image shown (target at most 80 MB).
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"
#include "serial/port_list.h"

using Clock = std::chrono::steady_clock;

// Milliseconds since the process was started, loading of the Qt libraries included: the
// kernel's start time (field 22 of /proc/self/stat, in clock ticks since boot) against
// CLOCK_BOOTTIME. Ticks are 10 ms, so the figure is that coarse. Negative when unknown.
double MsSinceProcessStart() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 2));  // from field 3 on
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long start_ticks = 0;
  if (!(fields >> start_ticks)) return -1;
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double now_ms = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
  return now_ms - start_ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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
    std::printf(
        "start to search window shown: %.1f ms in the process, %.0f ms since the "
        "process started (target <= 300)\n",
        ms, MsSinceProcessStart());
  }

  lovar::testing::UiSession s;
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
