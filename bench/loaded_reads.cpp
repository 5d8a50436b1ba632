// Paced model 251 reads by lovar-cli on a loaded machine: two processes per core that only spin,
// started here, while each read runs against its own lovar-sim at 9600 baud. Counts the reads
// that were asked the no-answer question ("Прибор не отвечает, повтор …") though the device
// answered every request (target 0), and the reads that did not end whole. The window's half of
// this figure is `ui_bench loaded`. Prints figures; asserts nothing.
//
// usage: bench_loaded_reads [--quick] [--reads N]   (--quick: 3 reads; default 20)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_processes.h"

namespace {

using namespace lovar::bench;

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int reads = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick")
      reads = 3;
    else if (a == "--reads" && i + 1 < argc)
      reads = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "usage: bench_loaded_reads [--quick] [--reads N]\n");
      return 2;
    }
  }
  char dir[] = "/tmp/lovar-bench-loaded-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  setenv("XDG_DATA_HOME", dir, 1);  // the reads' registry and archive: the run's own

  const double load_before = LoadAverage();
  const BusyLoad load(2);
  int questions = 0, asked_reads = 0, failed = 0;
  double longest = 0, total = 0;
  for (int i = 0; i < reads; ++i) {
    const Sim sim({"--model", "251", "--pace", "--quiet"});
    int err[2];
    if (pipe(err) != 0) return 1;
    const auto started = Clock::now();
    const pid_t cli = Spawn(
        {LOVAR_CLI_PATH, "read", "--port", sim.port(), "--out", std::string(dir) + "/read.dat"}, -1,
        false, err[1]);
    close(err[1]);
    const std::string said = ReadAll(err[0]);
    close(err[0]);
    const ChildResult r = Wait(cli, started);
    const int asked =
        Count(said, "Прибор не отвечает") + Count(said, "Прибор отвечает не на запрос");
    questions += asked;
    asked_reads += asked > 0;
    failed += WEXITSTATUS(r.status) != 0;
    longest = std::max(longest, r.seconds);
    total += r.seconds;
    std::printf("  read %d: %.2f s, exit %d, no-answer questions %d\n", i + 1, r.seconds,
                WEXITSTATUS(r.status), asked);
    std::fflush(stdout);
  }
  std::printf(
      "lovar-cli read, model 251 paced at 9600 baud, %d busy processes (load average %.1f "
      "before, %.1f at the end)\n",
      load.count(), load_before, LoadAverage());
  std::printf(
      "  %d reads: %d not whole, %d asked the no-answer question (%d questions; target 0)\n", reads,
      failed, asked_reads, questions);
  std::printf("  per read: mean %.2f s, longest %.2f s (wire time 14.93 s)\n",
              reads > 0 ? total / reads : 0.0, longest);
  std::filesystem::remove_all(dir);
  return 0;
}
