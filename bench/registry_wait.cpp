// lovar-cli batch when what it waits for does not answer. Prints figures; asserts nothing.
//
//   silent: eight paced lovar-sim devices and two rows behind a network serial server of this
//     program's own that accepts and never answers, recorded into a PostgreSQL that does the
//     same; against the same eight devices alone, recorded into a real PostgreSQL started here
//     (a registry file when none can be had). Every healthy device is to be written and proven,
//     the batch to end within 1.15 x the baseline plus one connect time-out.
//   locked: the same eight devices recorded into a registry file that a child process holds
//     locked (BEGIN EXCLUSIVE) for 30 s. Every device is to be written, and every record kept
//     once the lock goes: in the file at the end of the batch, or beside it and taken in at the
//     next open; counted against the same batch into a free file.
//
// usage: bench_registry_wait [silent|locked] [--quick]   (--quick: model 250, a 10 s lock)
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_processes.h"
#include "files/config_file.h"
#include "sim/device_sim.h"
#include "store/registry.h"
#include "support/pg_server.h"

namespace {

namespace fs = std::filesystem;
using namespace lovar;
using namespace lovar::bench;

constexpr int kDevices = 8;
constexpr double kConnectTimeout = 5;  // the registry's and a network port's, in seconds

int g_model = 251;
int g_lock_seconds = 30;
std::string g_dir;

struct Run {
  double seconds = 0;
  int status = 0;
  int proven = 0;       // device rows said "записано, проверено"
  int written = 0;      // device rows said written at all ("записано")
  double device_s = 0;  // the longest device row's own time, as the table says it
  std::string out;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs lovar-cli batch over plan with args after it; the devices' rows counted by their ports.
Run Batch(const std::string& plan, const std::vector<std::string>& args,
          const std::vector<std::unique_ptr<Sim>>& sims) {
  std::vector<std::string> command = {LOVAR_CLI_PATH, "batch", plan};
  command.insert(command.end(), args.begin(), args.end());
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  const auto started = Clock::now();
  const std::string said = plan + ".err";
  const int err = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t cli = Spawn(command, out[1], false, err);
  close(out[1]);
  close(err);
  Run run;
  run.out = ReadAll(out[0]);
  close(out[0]);
  const ChildResult r = Wait(cli, started);
  run.seconds = r.seconds;
  run.status = WEXITSTATUS(r.status);
  if (run.status == 12 || run.status == 2) {  // the plan or the command refused: why
    std::ifstream in(said);
    for (std::string line; std::getline(in, line);) std::printf("  lovar-cli: %s\n", line.c_str());
  }
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    for (const auto& sim : sims)
      if (line.find(" " + sim->port() + " ") != std::string::npos) {
        run.proven += line.find("записано, проверено") != std::string::npos;
        run.written += line.find("записано") != std::string::npos &&
                       line.find("не записано") == std::string::npos;
        // The row's time, its last column: "2.0 с".
        const size_t unit = line.rfind(" с");
        const size_t begin = unit == std::string::npos ? unit : line.rfind(' ', unit - 1);
        if (begin != std::string::npos)
          run.device_s = std::max(run.device_s, std::atof(line.c_str() + begin + 1));
      }
  return run;
}

// A plan of the devices (and extra rows after them) that gives each device values it does not
// hold yet: model 251 an object number of this run, model 250 (which has none) the other of two
// templates that differ in every byte.
std::string Plan(const std::string& name, const std::vector<std::unique_ptr<Sim>>& sims, int run,
                 const std::vector<std::string>& extra_ports = {}) {
  const std::string path = g_dir + "/" + name;
  std::ofstream o(path);
  std::vector<std::string> ports;
  for (const auto& sim : sims) ports.push_back(sim->port());
  ports.insert(ports.end(), extra_ports.begin(), extra_ports.end());
  o << (g_model == 251 ? "port,template,object_number\n" : "port,template\n");
  int row = 0;
  for (const std::string& port : ports) {
    if (g_model == 251)
      o << port << ",template.dat," << 3000 + run * 20 + row++ << "\n";  // the template holds 1024
    else
      o << port << ",template" << run % 2 << ".dat\n";
  }
  return path;
}

std::vector<std::unique_ptr<Sim>> StartDevices() {
  std::vector<std::unique_ptr<Sim>> sims;
  for (int i = 0; i < kDevices; ++i)
    sims.push_back(std::make_unique<Sim>(
        std::vector<std::string>{"--model", std::to_string(g_model), "--pace", "--quiet"}));
  return sims;
}

void Silent() {
  const auto sims = StartDevices();
  std::string why;
  testing::PgServer* server = testing::PgServer::Shared(why);
  std::string free_db = server != nullptr ? server->Uri(server->NewDatabase()) : "";
  if (free_db.empty()) {
    std::printf("  (no PostgreSQL for the baseline: %s; a registry file instead)\n", why.c_str());
    free_db = g_dir + "/free.sqlite";
  }
  const Run base = Batch(Plan("free.csv", sims, 0), {"--db", free_db}, sims);

  SilentServer row1, row2, registry;
  const std::string silent_db =
      "postgresql://lovar@" + registry.Address() + "/lovar?sslmode=disable";
  const double load = LoadAverage();
  const Run held = Batch(
      Plan("silent.csv", sims, 1, {"rfc2217://" + row1.Address(), "socket://" + row2.Address()}),
      {"--db", silent_db}, sims);
  const double target = 1.15 * base.seconds + kConnectTimeout;
  std::printf("lovar-cli batch, %d paced model %d devices (load average %.1f)\n", kDevices, g_model,
              load);
  std::printf(
      "  free registry, no silent rows:  %.2f s, exit %d, %d of %d written and proven (longest "
      "device %.1f s)\n",
      base.seconds, base.status, base.proven, kDevices, base.device_s);
  std::printf(
      "  2 silent rows, silent registry: %.2f s, exit %d, %d of %d healthy devices written and "
      "proven (longest device %.1f s)\n",
      held.seconds, held.status, held.proven, kDevices, held.device_s);
  std::printf("  target <= 1.15 x %.2f + %.0f = %.2f s: %s\n", base.seconds, kConnectTimeout,
              target, held.seconds <= target && held.proven == kDevices ? "met" : "MISSED");
}

// A child that holds file locked for seconds (BEGIN EXCLUSIVE), from the moment this returns.
pid_t LockFor(const std::string& file, int seconds) {
  int ready[2];
  if (pipe(ready) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
      _exit(1);
    if (write(ready[1], "1", 1) != 1) _exit(1);
    sleep(static_cast<unsigned>(seconds));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  if (read(ready[0], &c, 1) != 1) std::puts("  the lock was not taken");
  close(ready[0]);
  return pid;
}

// Records in the file itself, not counting its side files.
int RecordsInFile(const std::string& file) {
  sqlite3* db = nullptr;
  int count = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      count = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return count;
}

int SideFiles(const std::string& file) {
  int n = 0;
  const std::string prefix = fs::path(file).filename().string() + ".kept-";
  for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path()))
    n += entry.path().filename().string().starts_with(prefix);
  return n;
}

// Records in the file once the registry is opened again (its side files taken in).
int RecordsAfterReopen(const std::string& file) {
  RegistryOptions options;
  options.location = {false, file};
  StoreResult opened;
  if (!Registry::Open(options, opened)) {
    std::printf("  registry not opened: %s\n", opened.message.c_str());
    return -1;
  }
  return RecordsInFile(file);
}

void Locked() {
  const auto sims = StartDevices();
  const std::string free_file = g_dir + "/free-file.sqlite";
  const Run base = Batch(Plan("free-file.csv", sims, 2), {"--db", free_file}, sims);
  const int expected = RecordsAfterReopen(free_file);

  const std::string file = g_dir + "/locked.sqlite";
  RecordsAfterReopen(file);  // made, with its schema, before it is locked
  const auto locked_at = Clock::now();
  const pid_t lock = LockFor(file, g_lock_seconds);
  const Run held = Batch(Plan("locked.csv", sims, 3), {"--db", file}, sims);
  const int in_file = RecordsInFile(file);
  const int side = SideFiles(file);
  waitpid(lock, nullptr, 0);
  const double lock_s = std::chrono::duration<double>(Clock::now() - locked_at).count();
  const int after = RecordsAfterReopen(file);
  std::printf("lovar-cli batch, %d paced model %d devices, registry file\n", kDevices, g_model);
  std::printf(
      "  free file:   %.2f s, exit %d, %d of %d written (longest device %.1f s), %d records\n",
      base.seconds, base.status, base.written, kDevices, base.device_s, expected);
  std::printf(
      "  locked for %d s (%.1f s measured): %.2f s, exit %d, %d of %d written (longest device "
      "%.1f s); in the file at the end %d, side files %d; after the lock, reopened: %d of %d "
      "records kept\n",
      g_lock_seconds, lock_s, held.seconds, held.status, held.written, kDevices, held.device_s,
      in_file, side, after, expected);
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      g_model = 250;
      g_lock_seconds = 10;
    } else if (a == "silent" || a == "locked") {
      only = a;
    } else {
      std::fprintf(stderr, "usage: bench_registry_wait [silent|locked] [--quick]\n");
      return 2;
    }
  }
  char dir[] = "/tmp/lovar-bench-wait-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  g_dir = dir;
  // lovar-cli keeps its station's files (the waiting room, the archive) in a folder of the
  // run's own, not the user's.
  setenv("XDG_DATA_HOME", dir, 1);
  const auto save = [](const std::string& name, const ConfigImage& image) {
    const std::vector<uint8_t> file = SerializeConfigFile(g_model, image);
    std::ofstream(g_dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  };
  save("template.dat", SampleImage(g_model));
  for (const int pattern : {0x21, 0x42}) {
    ConfigImage image = SampleImage(g_model);
    for (int i = 0; i < 256; ++i) image[i] = static_cast<uint8_t>(image[i] ^ pattern);
    save("template" + std::to_string(pattern / 0x42) + ".dat", image);
  }
  if (only.empty() || only == "silent") Silent();
  if (only.empty() || only == "locked") Locked();
  fs::remove_all(g_dir);
  return 0;
}
