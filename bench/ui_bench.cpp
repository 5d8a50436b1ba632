// Figures for the windows, printed, not asserted (offscreen platform unless one is set):
//   start to the search window shown (target at most 300 ms),
//   UpDate on a model-251 image (target at most 5 ms),
//   peak resident memory with a model-251 image shown (target at most 80 MB),
//   "Объекты…" over a registry of 10 000 sites: opened, and an object number typed.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include "harness.h"
#include "serial/port_list.h"
#include "sim/device_sim.h"
#include "sites_dialog.h"

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

  QTemporaryDir folder;
  lovar::RegistryOptions options;
  options.location = {false, folder.filePath(QStringLiteral("registry.sqlite")).toStdString()};
  options.store.durable = false;  // a quick fill; the dialog only reads
  lovar::StoreResult opened;
  auto registry = lovar::Registry::Open(options, opened);
  if (!registry) {
    std::printf("registry not opened: %s\n", opened.message.c_str());
    return 1;
  }
  lovar::ConfigImage image = lovar::SampleImage(251);
  for (int i = 1; i <= 10000; ++i) {
    lovar::SiteRecord r;
    r.info.model = 251;
    r.info.object = std::to_string(i);
    image[13] = static_cast<uint8_t>(i);
    r.image.assign(image.bytes().begin(), image.bytes().end());
    registry->Record(r);
  }
  const auto ms_since = [](Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
  };
  Clock::time_point t = Clock::now();
  lovar::SitesDialog sites(*registry, s.dialogs, nullptr);
  std::printf("\"Объекты…\" over 10 000 sites: opened in %.0f ms", ms_since(t));
  for (const char* key : {"1", "0", "2", "4"}) {
    t = Clock::now();
    QTest::keyClicks(sites.filter(), key);
    std::printf("; \"%s\" typed: %d sites in %.0f ms", sites.filter()->text().toUtf8().constData(),
                sites.sites()->rowCount(), ms_since(t));
  }
  std::printf("\n");
  return 0;
}
