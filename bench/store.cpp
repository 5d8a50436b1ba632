// The registry of sites: the time to record a model 251 read (SQLite file, and a PostgreSQL
// server on this machine started for the run), to list 10 000 sites by a prefix, to read a
// site's history of 1 000 versions, and the space 10 000 sites × 10 versions of model 251
// images take. The images are the simulator's sample, varied per site (object number,
// password, telephone numbers, names, address, keys) and per version (a field or two changed).
// Prints figures; asserts nothing.
//
//   bench_store [--sites N] [--versions N] [--no-postgres]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files/utf8_path.h"
#include "flushing_server.h"
#include "model/catalog.h"
#include "sim/device_sim.h"
#include "site_images.h"
#include "store/registry.h"
#include "support/pg_server.h"

namespace {

using namespace lovar;
using namespace lovar::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double record_median = 0, record_p95 = 0, record_max = 0;
  double list_prefix = 0, list_all = 0, history = 0;
  size_t prefix_sites = 0, all_sites = 0, history_records = 0;
};

// Fills a registry with sites × versions (not flushed record by record), then measures.
bool Measure(const RegistryOptions& base, int sites, int versions, Figures& f) {
  RegistryOptions fill = base;
  fill.store.durable = false;
  StoreResult opened;
  auto registry = Registry::Open(fill, opened);
  if (!registry) {
    std::printf("  not opened: %s\n", opened.message.c_str());
    return false;
  }
  const auto started = Clock::now();
  StoreTime time = 1'700'000'000'000'000;
  for (int s = 1; s <= sites; ++s) {
    const ConfigImage site = SiteImage(s);
    for (int v = 0; v < versions; ++v) {
      const RecordResult r = registry->Record(Record(s, v, VersionImage(site, s, v), time += 1000));
      if (r.kept != RecordResult::Kept::InRegistry) {
        std::printf("  fill failed: %s\n", r.message.c_str());
        return false;
      }
    }
    if (s % 1000 == 0)
      std::fprintf(stderr, "  %d sites, %.0f s\r", s, Ms(Clock::now() - started) / 1000);
  }
  // A site with a long history.
  const ConfigImage long_site = SiteImage(999999);
  for (int v = 0; v < 1000; ++v)
    registry->Record(Record(999999, v, VersionImage(long_site, 999999, v % 50), time += 1000));
  std::fprintf(stderr, "  filled in %.0f s\n", Ms(Clock::now() - started) / 1000);
  registry.reset();

  // Now as the program runs: every record on the disk before it returns.
  registry = Registry::Open(base, opened);
  if (!registry) return false;
  std::vector<double> ms;
  for (int i = 0; i < 100; ++i) {
    const ConfigImage image = VersionImage(SiteImage(500 + i), 500 + i, 50 + i);
    const auto t = Clock::now();
    registry->Record(Record(500 + i, 50 + i, image, 0));
    ms.push_back(Ms(Clock::now() - t));
  }
  std::sort(ms.begin(), ms.end());
  f.record_median = ms[ms.size() / 2];
  f.record_p95 = ms[ms.size() * 95 / 100];
  f.record_max = ms.back();

  auto best = [](auto&& run) {
    double b = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto t = Clock::now();
      run();
      b = std::min(b, Ms(Clock::now() - t));
    }
    return b;
  };
  std::vector<SiteSummary> list;
  f.list_prefix = best([&] { registry->Sites("10", list); });
  f.prefix_sites = list.size();
  f.list_all = best([&] { registry->Sites("", list); });
  f.all_sites = list.size();
  std::vector<RecordInfo> history;
  f.history = best([&] { registry->History(251, "999999", history); });
  f.history_records = history.size();
  return true;
}

void Print(const char* name, const Figures& f) {
  std::printf("%s\n", name);
  std::printf("  record a model 251 read: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              f.record_median, f.record_p95, f.record_max);
  std::printf("  list by prefix \"10\" (%zu of %zu sites): %.1f ms; all sites: %.1f ms\n",
              f.prefix_sites, f.all_sites, f.list_prefix, f.list_all);
  std::printf("  history of %zu records: %.1f ms\n", f.history_records, f.history);
}

}  // namespace

int main(int argc, char** argv) {
  int sites = 10000, versions = 10;
  bool postgres = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--sites") && i + 1 < argc)
      sites = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--versions") && i + 1 < argc)
      versions = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--no-postgres"))
      postgres = false;
  }
  std::printf("%d sites × %d versions of model 251 (+ one site of 1000 versions)\n", sites,
              versions);

  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("lovar-bench-" + std::to_string(random()));
  fs::create_directories(dir);
  RegistryOptions options;
  options.location = {false, Utf8Of(dir / "registry.sqlite")};
  options.local_file = dir / "local.sqlite";
  Figures f;
  if (Measure(options, sites, versions, f)) {
    Print("SQLite (a file, write-ahead log, every commit flushed)", f);
    std::error_code ec;
    uintmax_t bytes = fs::file_size(dir / "registry.sqlite", ec);
    const uintmax_t wal = fs::file_size(dir / "registry.sqlite-wal", ec);
    std::printf("  file: %.1f MB (+ %.1f MB write-ahead log)\n", bytes / 1e6, ec ? 0.0 : wal / 1e6);
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2((dir / "registry.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(
            db, "SELECT count(*), avg(length(data)), (SELECT count(*) FROM records) FROM images",
            -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      std::printf(
          "  %lld records, %lld images kept once each, packed to %.0f of 4096 bytes on average\n",
          sqlite3_column_int64(st, 2), sqlite3_column_int64(st, 0), sqlite3_column_double(st, 1));
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  if (postgres) {
    if (testing::PgServer* server = FlushingPgServer(); server != nullptr) {
      const std::string db = server->NewDatabase();
      options.location = {true, server->Uri(db)};
      Figures pg;
      if (Measure(options, sites, versions, pg)) {
        Print("PostgreSQL 15 on this machine (TCP, TLS, fsync on)", pg);
        std::string size, images;
        server->Sql(db, "SELECT pg_database_size(current_database())", &size);
        server->Sql(db, "SELECT pg_total_relation_size('lovar.images')", &images);
        std::printf("  database: %.1f MB (images %.1f MB)\n", std::stod(size) / 1e6,
                    std::stod(images) / 1e6);
      }
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
