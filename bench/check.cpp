// The check's cost: all rules over a model 251 image, as the window runs them at every edit
// (target: at most 1 ms). Three images: the simulator's sample (no finding), a zeroed one (the
// first rules fire), and random bytes (most rules fire, with their texts built), each alone and
// with a company's rules file of 20 rules. Prints the median, p99 and maximum of many runs;
// asserts nothing.
// The wall clock's p99 and maximum include the scheduler; the CPU time is the mean per run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "check/check.h"
#include "check/company_rules.h"
#include "sim/device_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

lovar::CompanyRules TwentyRules() {
  std::string rules;
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i + 1);
    rules += (i > 0 ? "," : "") + std::string("{\"id\": \"phone") + n +
             "\", \"field\": \"direction" + n +
             ".phone\", \"one_of\": [\"+74951234567\", \"\"]},"
             "{\"id\": \"loop" +
             n + "\", \"field\": \"direction" + n +
             ".loop1\", \"none_of\": [\"не передавать\"]},"
             "{\"id\": \"period" +
             n + "\", \"field\": \"direction" + n +
             ".period\", \"range\": {\"min\": 1, \"max\": 48}},"
             "{\"id\": \"name" +
             n + "\", \"field\": \"direction" + n + ".name\", \"not_empty\": true}";
  }
  const lovar::CompanyRulesLoad load = lovar::ParseCompanyRules(
      "{\"format\": \"lovar-checks\", \"version\": 1, \"rules\": [" + rules + "]}", "bench");
  if (!load.ok()) std::fprintf(stderr, "rules: %s\n", load.error.c_str());
  return load.rules;
}

void Measure(const char* name, const lovar::ConfigImage& image, const lovar::CompanyRules* rules) {
  lovar::CheckInput in;
  in.model = 251;
  in.image = &image;
  in.extent = lovar::ImageLength(251);
  in.company = rules;
  size_t findings = lovar::CheckConfiguration(in).size();  // the tables built, outside the timing
  constexpr int kRuns = 2000;
  std::vector<double> us;
  us.reserve(kRuns);
  // The process's CPU time too: on a loaded machine the wall clock's tail is other programs'.
  const std::clock_t cpu_start = std::clock();
  for (int i = 0; i < kRuns; ++i) {
    const Clock::time_point start = Clock::now();
    findings = lovar::CheckConfiguration(in).size();
    us.push_back(Micros(Clock::now() - start));
  }
  const double cpu_us =
      1e6 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC / kRuns;
  std::sort(us.begin(), us.end());
  std::printf("%-32s %3zu findings  median %6.1f µs  p99 %7.1f µs  max %7.1f µs  CPU %6.1f µs\n",
              name, findings, us[us.size() / 2], us[us.size() * 99 / 100], us.back(), cpu_us);
}

}  // namespace

int main() {
  const lovar::ConfigImage sample = lovar::SampleImage(251);
  const lovar::ConfigImage zeroed;
  lovar::ConfigImage random;
  std::mt19937 gen(251);
  for (uint8_t& b : random.bytes()) b = static_cast<uint8_t>(gen());
  const lovar::CompanyRules rules = TwentyRules();
  std::printf("All rules over a model 251 image (target ≤ 1000 µs), %zu built-in rules:\n",
              lovar::BuiltinRules().size());
  Measure("sample", sample, nullptr);
  Measure("zeroed", zeroed, nullptr);
  Measure("random bytes", random, nullptr);
  Measure("sample + 20 company rules", sample, &rules);
  Measure("random bytes + 20 company rules", random, &rules);
  return 0;
}
