// A write of the changes against lovar-sim paced at 9600 baud, model 251, one field changed:
//  1. in the window's session (Session, attended): from "Записать в УО" to the changed blocks
//     proven, and the whole check behind it against the wire time of one read;
//  2. lovar-cli write of a file that differs from the device in one telephone number, against
//     the wire time of one read;
//  3. lovar-cli batch of eight devices, each with its own object number and telephone numbers,
//     against one device alone (alternating, several rounds, the medians).
// Prints figures; asserts nothing.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_processes.h"
#include "files/config_file.h"
#include "model/catalog.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"
#include "session/session.h"
#include "sim/device_sim.h"

namespace {

using namespace lovar;
using namespace lovar::bench;

// One read of model 251: 512 requests (12 bytes) and replies (16) at 10 bits a byte.
constexpr double kReadWire = 512 * (12 + 16) * 10.0 / 9600.0;

// The window session's read in this run: on a loaded machine the line's pace is not all.
double g_read_s = 0;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void WriteFile(const std::string& path, int model, const ConfigImage& image) {
  const std::vector<uint8_t> file = SerializeConfigFile(model, image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

class Watch : public SessionObserver {
 public:
  bool AskContinue() override { return true; }
  void Ended(const SessionEnd& end) override { ends.push_back(end); }
  void WholeCheckEnded(const WriteReport& report, const std::string&,
                       const std::optional<KeptRecord>&) override {
    check = report;
    check_at = Clock::now();
  }
  std::vector<SessionEnd> ends;
  std::optional<WriteReport> check;
  Clock::time_point check_at;
};

void WindowSession() {
  const Sim sim({"--model", "251", "--pace", "--quiet"});
  EventLoop loop;
  TCport port(loop);
  port.SetBaudRate(9600);
  Watch watch;
  Session session(port, watch, SessionOptions{.normalize = true});
  const int timer = loop.AddTimer(std::chrono::milliseconds(100), [&] { session.Timer1Timer(); });
  const auto until = [&](size_t n, int seconds) {
    loop.RunUntil([&] { return watch.ends.size() >= n; }, std::chrono::seconds(seconds));
    return watch.ends.size() >= n && watch.ends[n - 1].cause == EndCause::None;
  };
  std::optional<bool> open;
  session.OpenAsync(sim.port(), [&open](bool opened) { open = opened; });
  loop.RunUntil([&] { return open.has_value(); }, std::chrono::seconds(10));
  bool ok = open.value_or(false);
  session.Identify();
  ok = ok && until(1, 10);
  const auto read_started = Clock::now();
  session.Read();
  ok = ok && until(2, 60);
  const double read_s = Since(read_started);
  g_read_s = read_s;
  std::string why;
  ok = ok &&
       StorePhone(*FindFieldById(251, "direction1.phone"), session.image(), "+79037654321", why);
  const auto pressed = Clock::now();
  session.Write();
  ok = ok && until(3, 30);
  const double proven_s = Since(pressed);
  const auto check_started = Clock::now();
  loop.RunUntil([&] { return watch.check.has_value(); }, std::chrono::seconds(60));
  const bool checked = watch.check && watch.check->ok();
  const double check_s =
      checked ? std::chrono::duration<double>(watch.check_at - check_started).count() : 0;
  loop.RemoveTimer(timer);
  const WriteReport* report = ok ? &*watch.ends[2].report : nullptr;
  std::printf("window session, model 251, one telephone number changed after a read%s\n",
              ok && checked ? "" : "  FAILED");
  if (!ok || !checked)
    for (const SessionEnd& end : watch.ends) std::printf("  %s\n", end.outcome.message.c_str());
  std::printf("  read %.2f s (wire %.2f s, ratio %.3f)\n", read_s, kReadWire, read_s / kReadWire);
  std::printf("  press to changed blocks proven: %.3f s, %d blocks   (target <= 0.3 s)\n", proven_s,
              report ? report->written_blocks : 0);
  std::printf(
      "  whole check behind: %.2f s, ratio %.3f to one read's wire time   (target <= 1.03), "
      "%.3f to the read above\n",
      check_s, check_s / kReadWire, check_s / read_s);
}

void CliWrite() {
  const std::string dir = "/tmp/lovar-bench-fast";
  std::system(("mkdir -p " + dir).c_str());
  ConfigImage image = SampleImage(251);
  std::string why;
  StorePhone(*FindFieldById(251, "direction1.phone"), image, "+79037654321", why);
  WriteFile(dir + "/one-field.dat", 251, image);
  const Sim sim({"--model", "251", "--pace", "--quiet"});
  const auto started = Clock::now();
  const ChildResult r =
      Wait(Spawn({LOVAR_CLI_PATH, "write", "--port", sim.port(), dir + "/one-field.dat"}, -1, true),
           started);
  std::printf("lovar-cli write, model 251 file differing in one telephone number, exit %d\n",
              WEXITSTATUS(r.status));
  std::printf("  %.2f s, ratio %.3f to one read's wire time   (target <= 2.1)", r.seconds,
              r.seconds / kReadWire);
  if (g_read_s > 0) std::printf(", %.3f to the window session's read", r.seconds / g_read_s);
  std::printf("\n");
}

double Batch(const std::string& plan, int& status) {
  const auto started = Clock::now();
  const ChildResult r = Wait(Spawn({LOVAR_CLI_PATH, "batch", plan}, -1, true), started);
  status = std::max(status, WEXITSTATUS(r.status));
  return r.seconds;
}

void BatchOfEight(int rounds) {
  constexpr int kDevices = 8;
  const std::string dir = "/tmp/lovar-bench-fast";
  std::system(("mkdir -p " + dir).c_str());
  WriteFile(dir + "/template.dat", 251, SampleImage(251));
  std::vector<std::unique_ptr<Sim>> sims;
  for (int i = 0; i < kDevices; ++i)
    sims.push_back(
        std::make_unique<Sim>(std::vector<std::string>{"--model", "251", "--pace", "--quiet"}));
  // Each round gives every device values it does not hold yet.
  const auto plan = [&](const std::string& name, int devices, int round) {
    std::ofstream o(dir + "/" + name);
    o << "port,template,object_number,direction1.phone,direction2.phone\n";
    for (int i = 0; i < devices; ++i)
      o << sims[static_cast<size_t>(i)]->port() << ",template.dat," << 1000 + round * 10 + i
        << ",+7916000" << round << i << "01,+7916000" << round << i << "02\n";
    return dir + "/" + name;
  };
  std::vector<double> alone, together;
  int status = 0;
  for (int round = 0; round < rounds; ++round) {
    alone.push_back(Batch(plan("one.csv", 1, 2 * round), status));
    together.push_back(Batch(plan("all.csv", kDevices, 2 * round + 1), status));
    std::printf("  round %d: one device %.2f s, %d devices %.2f s\n", round + 1, alone.back(),
                kDevices, together.back());
  }
  const double one_s = Median(alone), all_s = Median(together);
  std::printf("lovar-cli batch, model 251, own object number and telephone numbers%s\n",
              status != 0 ? "  SOME DEVICE NOT WRITTEN" : "");
  std::printf("  one device alone: %.2f s (median of %d; %.3f x one read's wire time)\n", one_s,
              rounds, one_s / kReadWire);
  std::printf("  %d devices at once: %.2f s, ratio %.3f   (target <= 1.15)\n", kDevices, all_s,
              all_s / one_s);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "window") WindowSession();
  if (only.empty() || only == "cli") CliWrite();
  if (only.empty() || only == "batch") BatchOfEight(3);
  return 0;
}
