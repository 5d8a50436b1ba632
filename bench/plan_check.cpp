// The check of a batch plan as it grows: 1 000, 10 000 and 100 000 rows, each with its own
// port (a path, looked at on the file system like a real one), object number, password and
// telephone number over one model 251 template. The check is linear: ten times the rows take
// about ten times as long. Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "files/batch_plan.h"
#include "files/config_file.h"
#include "sim/device_sim.h"

int main() {
  namespace fs = std::filesystem;
  using namespace lovar;
  const fs::path dir = fs::temp_directory_path() / "lovar-bench-plan";
  fs::create_directories(dir);
  if (!SaveConfigFile(dir / "t251.dat", 251, SampleImage(251)).ok()) return 1;
  std::printf("%8s  %10s  %s\n", "rows", "check, s", "faults");
  for (const int rows : {1000, 10000, 100000}) {
    std::string plan = "port,template,object_number,password,direction1.phone\n";
    for (int i = 0; i < rows; ++i) {
      const std::string n = std::to_string(i);
      plan += "/dev/ttyBENCH" + n + ",t251.dat," + std::to_string(1000 + i % 90000) + "," +
              std::to_string(i % 99999) + ",+7916" + std::string(7 - n.size(), '0') + n + "\n";
    }
    const auto start = std::chrono::steady_clock::now();
    const PlanCheck check = CheckBatchPlan(plan, dir / "plan.csv");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%8d  %10.3f  %zu\n", rows, took.count(), check.faults.size());
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
