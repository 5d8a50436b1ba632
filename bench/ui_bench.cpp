// Figures for the windows, printed, not asserted (offscreen platform unless one is set):
//   start to the search window shown (target at most 300 ms),
//   UpDate on a model-251 image (target at most 5 ms),
//   peak resident memory with a model-251 image shown (target at most 80 MB),
//   "Объекты…" over a registry of 10 000 sites: opened, and an object number typed;
//   silent: the longest gap of the window's event loop (a heartbeat timer) while a paced device
//     is read and written and "Объекты…" is opened and typed in, the registry a PostgreSQL that
//     accepts and never answers (target under 100 ms);
//   loaded: paced model 251 reads on a machine loaded by two spinning processes per core,
//     counting the no-answer questions asked though the device answered (target 0).
// usage: ui_bench [basic|silent|loaded] [--quick] [--reads N]   (--quick: 3 loaded reads, not 20)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include "app_settings.h"
#include "bench_processes.h"
#include "harness.h"
#include "recording/record_worker.h"
#include "recording/recording_registry.h"
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

// The longest gap between two beats of a 5 ms timer on the window's thread: how long the
// window's event loop was held at most while something ran.
class Heartbeat {
 public:
  Heartbeat() {
    QObject::connect(&timer_, &QTimer::timeout,
                     [this] { longest_ = std::max(longest_, since_.restart()); });
    timer_.start(5);
    since_.start();
  }
  // The longest gap since the last call, in ms; starts a new measure.
  qint64 Take() {
    QApplication::processEvents();
    const qint64 longest = std::max(longest_, since_.elapsed());
    longest_ = 0;
    since_.restart();
    return longest;
  }

 private:
  QTimer timer_;
  QElapsedTimer since_;
  qint64 longest_ = 0;
};

bool Idle(lovar::testing::UiSession& s, int timeout_ms) {
  return lovar::testing::WaitFor(
      [&] {
        return !s.form1().exchange().RequestOutstanding() && s.form1().exchange().ButtonsEnabled();
      },
      timeout_ms);
}

int Basic(const Clock::time_point start);

// The window over a registry that accepts and never answers.
void Silent() {
  using lovar::testing::WaitFor;
  lovar::bench::SilentServer server;
  const QString silent =
      QString::fromStdString("postgresql://lovar@" + server.Address() + "/lovar?sslmode=disable");
  lovar::SetRegistryLocationSetting(silent);
  QProcess sim;
  const QString port = lovar::testing::StartLovarSim(sim, {"--model", "250", "--pace"});
  lovar::testing::UiSession s({port.toStdString()});
  Heartbeat beat;
  if (port.isEmpty() || !s.Search(port)) {
    std::puts("lovar-sim not found");
    return;
  }
  beat.Take();
  const QElapsedTimer took = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  s.form_key.ButtonCreateClick();
  const bool read = Idle(s, 60000);
  const qint64 read_gap = beat.Take();
  s.form1().WriteAllClick();
  const bool written = Idle(s, 60000);
  const qint64 write_gap = beat.Take();

  // "Объекты…" through the menu: the registry's server is found out of reach on the worker.
  lovar::SitesMenu& menu = s.form1().sites();
  menu.sites_action()->trigger();
  const bool said = WaitFor(
      [&] { return s.ui().StatusBar1->currentMessage().contains("Реестр объектов недоступен"); },
      30000);
  const qint64 open_gap = beat.Take();

  // The dialog over the same registry, opened off the window thread, its queries on a worker
  // of their own: an object number typed a key at a time while each query waits.
  auto opening = std::async(std::launch::async, [&] {
    lovar::RegistryOptions options;
    options.location = {true, silent.toStdString()};
    lovar::StoreResult r;
    return std::shared_ptr<lovar::Registry>(lovar::Registry::Open(options, r));
  });
  WaitFor([&] { return opening.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
          30000);
  std::shared_ptr<lovar::Registry> registry = opening.get();
  qint64 typing_gap = -1;
  bool answered = false;
  if (registry) {
    lovar::RecordWorker queries(lovar::RegistryOptions{}, [] { return lovar::OpenedRegistry{}; });
    lovar::SitesDialog dialog(
        *registry, s.dialogs, &s.form1(),
        [&queries, registry](std::function<void(lovar::Registry&)> work) {
          queries.Run([registry, work](lovar::Registry*, const std::string&) { work(*registry); });
        });
    dialog.show();
    beat.Take();
    for (const char* key : {"1", "0", "2", "4"}) {
      QTest::keyClicks(dialog.filter(), key);
      WaitFor([] { return false; }, 200);
    }
    answered = WaitFor([&] { return !dialog.Asking(); }, 60000);
    typing_gap = beat.Take();
  }
  std::printf(
      "the window, registry a PostgreSQL that never answers (load average %.1f); longest gap of "
      "the event loop (target < 100 ms):\n",
      lovar::bench::LoadAverage());
  std::printf("  model 250 paced read%s: %lld ms; whole write%s: %lld ms\n",
              read ? "" : " (NOT ENDED)", static_cast<long long>(read_gap),
              written ? "" : " (NOT ENDED)", static_cast<long long>(write_gap));
  std::printf("  \"Объекты…\" until the registry was said out of reach%s: %lld ms\n",
              said ? "" : " (NOT SAID)", static_cast<long long>(open_gap));
  std::printf("  \"1024\" typed into \"Объекты…\" and every query answered%s: %lld ms\n",
              answered ? "" : " (NOT ANSWERED)", static_cast<long long>(typing_gap));
  std::printf("  (%.1f s in all)\n", took.elapsed() / 1000.0);
  s.form1().close();
  sim.terminate();
  sim.waitForFinished(20000);
  lovar::SetRegistryLocationSetting({});
}

// Paced model 251 reads in the window on a loaded machine.
void Loaded(int reads) {
  QProcess sim;
  const QString port = lovar::testing::StartLovarSim(sim, {"--model", "251", "--pace"});
  lovar::testing::UiSession s({port.toStdString()});
  if (port.isEmpty() || !s.Search(port)) {
    std::puts("lovar-sim not found");
    return;
  }
  const double load_before = lovar::bench::LoadAverage();
  const lovar::bench::BusyLoad load(2);
  int not_ended = 0, asked_reads = 0;
  double longest = 0;
  for (int i = 0; i < reads; ++i) {
    const int questions = s.dialogs.continue_questions;
    QElapsedTimer t;
    t.start();
    if (i == 0)
      s.form_key.ButtonCreateClick();
    else
      s.form1().ButtonReadClick();
    const bool ended = Idle(s, 120000) &&
                       s.ui().StatusBar1->currentMessage().contains("Конфигурация считана из УО");
    const int asked = s.dialogs.continue_questions - questions;
    not_ended += !ended;
    asked_reads += asked > 0;
    longest = std::max(longest, t.elapsed() / 1000.0);
    std::printf("  read %d: %.2f s, %s, no-answer questions %d\n", i + 1, t.elapsed() / 1000.0,
                ended ? "whole" : "NOT WHOLE", asked);
    std::fflush(stdout);
  }
  std::printf(
      "the window, model 251 paced reads, %d busy processes (load average %.1f before, %.1f at "
      "the end)\n",
      load.count(), load_before, lovar::bench::LoadAverage());
  std::printf(
      "  %d reads: %d not whole, %d asked the no-answer question (%d questions; target 0); "
      "longest read %.2f s\n",
      reads, not_ended, asked_reads, s.dialogs.continue_questions, longest);
  s.form1().close();
  sim.terminate();
  sim.waitForFinished(20000);
}

int main(int argc, char** argv) {
  std::string only;
  int reads = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") reads = 3;
    if (a == "--reads" && i + 1 < argc) reads = std::atoi(argv[++i]);
    if (a == "basic" || a == "silent" || a == "loaded") only = a;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The window's settings, archive and registry: the run's own, not the user's.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  const Clock::time_point start = Clock::now();
  QApplication app(argc, argv);
  int status = 0;
  if (only.empty() || only == "basic") status = Basic(start);
  if (only.empty() || only == "silent") Silent();
  if (only.empty() || only == "loaded") Loaded(reads);
  return status;
}

int Basic(const Clock::time_point start) {
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
