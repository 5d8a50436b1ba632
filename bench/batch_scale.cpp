// lovar-cli batch against the length of its plan: 1 000, 10 000 and 100 000 rows over one model
// 251 template, each row its own port, object number and telephone number. The ports name no
// device (paths in a folder of the benchmark's own), so every row is checked, given its session
// and port, and ends at the port's open: what is measured is what the batch costs per row
// beside its devices' own time. Memory must not grow with the rows beyond their compact plan and
// results, and time must grow linearly. Prints rows per second and lovar-cli's peak resident
// memory; asserts nothing.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_processes.h"
#include "files/config_file.h"
#include "sim/device_sim.h"

int main() {
  namespace fs = std::filesystem;
  using namespace lovar;
  using namespace lovar::bench;
  const fs::path dir = fs::temp_directory_path() / "lovar-bench-batch-scale";
  fs::create_directories(dir);
  if (!SaveConfigFile(dir / "t251.dat", 251, SampleImage(251)).ok()) return 1;
  std::printf("lovar-cli batch over plans of growing length (ports that name no device)\n");
  std::printf("%8s  %9s  %10s  %12s  %14s\n", "rows", "wall, s", "CPU, s", "rows/s (CPU)",
              "peak RSS, MB");
  for (const int rows : {1000, 10000, 100000}) {
    const fs::path plan = dir / ("plan" + std::to_string(rows) + ".csv");
    {
      std::ofstream out(plan);
      out << "port,template,object_number,direction1.phone\n";
      for (int i = 0; i < rows; ++i) {
        const std::string n = std::to_string(i);
        out << (dir / ("port" + n)).string() << ",t251.dat," << 100000 + i << ",+7916"
            << std::string(7 - n.size(), '0') << n << "\n";
      }
    }
    const auto started = Clock::now();
    const pid_t cli = Spawn({LOVAR_CLI_PATH, "batch", plan.string(), "--no-record"}, -1,
                            /*mute_stderr=*/true);
    const ChildResult r = Wait(cli, started);
    const double cpu = r.CpuSeconds();
    std::printf("%8d  %9.2f  %10.2f  %12.0f  %14.1f%s\n", rows, r.seconds, cpu,
                cpu > 0 ? rows / cpu : 0.0, r.usage.ru_maxrss / 1024.0,
                WEXITSTATUS(r.status) == 13 ? "" : "  UNEXPECTED EXIT STATUS");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
