// lovar-cli batch against paced devices: 8 lovar-sim model 250 devices at 9600 baud programmed
// in one batch, against one device alone, in the same run (alternating, several rounds, the
// medians). All ports share one event loop in lovar-cli, so the batch should take hardly longer
// than its slowest device. Also lovar-cli's CPU time per device. Prints figures; asserts nothing.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_processes.h"
#include "files/config_file.h"
#include "sim/device_sim.h"

namespace {

using namespace lovar;
using namespace lovar::bench;

constexpr int kDevices = 8;
constexpr int kRounds = 3;

struct Run {
  double seconds = 0;
  double cpu = 0;
  int status = 0;
};

Run Batch(const std::string& plan) {
  const auto started = Clock::now();
  const pid_t cli = Spawn({LOVAR_CLI_PATH, "batch", plan}, -1, /*mute_stderr=*/true);
  const ChildResult r = Wait(cli, started);
  return {r.seconds, r.CpuSeconds(), WEXITSTATUS(r.status)};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  const std::string dir = "/tmp/lovar-bench-batch";
  std::system(("mkdir -p " + dir).c_str());
  // Templates that differ from the devices' image and from each other in every byte: the lone
  // device's runs take one, the batch's runs the other two in turn, so every block of every
  // device changes in every run (a write sends only the blocks that differ).
  for (const int pattern : {0x21, 0x42, 0x63}) {
    ConfigImage image = SampleImage(250);
    for (int i = 0; i < 256; ++i) image[i] = static_cast<uint8_t>(image[i] ^ pattern);
    const std::vector<uint8_t> file = SerializeConfigFile(250, image);
    std::ofstream(dir + "/template" + std::to_string(pattern) + ".dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  }

  std::vector<std::unique_ptr<Sim>> sims;
  for (int i = 0; i < kDevices; ++i)
    sims.push_back(
        std::make_unique<Sim>(std::vector<std::string>{"--model", "250", "--pace", "--quiet"}));
  const std::string one = dir + "/one.csv", all = dir + "/all.csv";
  const auto plans = [&](int round) {
    const std::string templ = round % 2 == 0 ? "template33.dat" : "template66.dat";
    std::ofstream o(one), a(all);
    o << "port,template\n" << sims[0]->port() << ",template99.dat\n";
    a << "port,template\n";
    for (const auto& sim : sims) a << sim->port() << "," << templ << "\n";
  };

  std::vector<double> alone, together, cpu_alone, cpu_together;
  bool failed = false;
  for (int round = 0; round < kRounds; ++round) {
    plans(round);
    const Run a = Batch(one);
    const Run b = Batch(all);
    failed = failed || a.status != 0 || b.status != 0;
    alone.push_back(a.seconds);
    together.push_back(b.seconds);
    cpu_alone.push_back(a.cpu);
    cpu_together.push_back(b.cpu / kDevices);
    std::printf("  round %d: one device %.2f s, %d devices %.2f s\n", round + 1, a.seconds,
                kDevices, b.seconds);
  }
  const double one_s = Median(alone), all_s = Median(together);
  std::printf(
      "lovar-cli batch, model 250 paced at 9600 baud (identify, read, write, read-back)%s\n",
      failed ? "  SOME DEVICE NOT WRITTEN" : "");
  std::printf("  one device alone:   %.2f s (median of %d)\n", one_s, kRounds);
  std::printf("  %d devices at once:  %.2f s, ratio %.3f   (target <= 1.15)\n", kDevices, all_s,
              all_s / one_s);
  std::printf("  lovar-cli CPU time per device: %.1f ms alone, %.1f ms in the batch of %d\n",
              Median(cpu_alone) * 1000, Median(cpu_together) * 1000, kDevices);
  return 0;
}
