// The registry at a large company's size: sites × versions of model 251 images that differ per
// site (object number, password, telephone numbers, loop names, keys) and per version, each
// site with a card (address, customer, telephones, contract). Measures the text search (a
// telephone number's part inside the configurations, an address's part), `lovar-cli sites list
// --format csv` of all sites (the program, started as a user starts it), recording a read
// (every commit flushed) and the registry's size; on a SQLite file and on a PostgreSQL server
// on this machine that the program starts. Prints figures; asserts nothing.
//
//   bench_sites [--sites N] [--versions N] [--pg-sites N] [--no-postgres] [--quick]
//
// --quick: 2 000 sites, for a check that it runs; --pg-sites: the server's own count (its fill
// goes record by record through the network and takes far longer than the file's).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files/utf8_path.h"
#include "flushing_server.h"
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

const char* const kStreets[] = {
    "Ленина",   "Садовая", "Мира",        "Гагарина",    "Советская", "Пушкина",  "Молодёжная",
    "Школьная", "Лесная",  "Центральная", "Набережная",  "Полевая",   "Заречная", "Комсомольская",
    "Кирова",   "Победы",  "Строителей",  "Октябрьская", "Речная",    "Луговая"};
const char* const kSurnames[] = {"Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов",
                                 "Попов",  "Волков", "Соколов", "Лебедев",  "Козлов"};

SiteCard Card(int site) {
  std::mt19937 random(static_cast<unsigned>(site) * 104729u + 3);
  SiteCard card;
  card.name =
      "ул. " + std::string(kStreets[random() % 20]) + ", " + std::to_string(1 + random() % 150);
  if (random() % 3 == 0) card.name += ", кв. " + std::to_string(1 + random() % 200);
  card.customer = random() % 2
                      ? "ИП " + std::string(kSurnames[random() % 10]) + " " + std::to_string(site)
                      : "ООО «Торг-" + std::to_string(site) + "»";
  const std::string d = Digits(random, 10);
  card.phones =
      "+7 (" + d.substr(0, 3) + ") " + d.substr(3, 3) + "-" + d.substr(6, 2) + "-" + d.substr(8, 2);
  card.contract = "Д-" + std::to_string(2020 + random() % 5) + "/" + std::to_string(site);
  return card;
}

struct Figures {
  double fill_s = 0;
  double record_median = 0, record_p95 = 0;
  double phone_best = 0, phone_median = 0, address_best = 0, address_median = 0;
  size_t phone_found = 0, address_found = 0;
  bool phone_right = false, address_right = false;
  double csv_s = 0;
  long long csv_bytes = 0;
  int csv_status = -1;
  std::string phone, address;
};

// Best and median of seven runs.
template <typename Run>
void Timed(Run run, double& best, double& median) {
  std::vector<double> ms;
  for (int i = 0; i < 7; ++i) {
    const auto t = Clock::now();
    run();
    ms.push_back(Ms(Clock::now() - t));
  }
  std::sort(ms.begin(), ms.end());
  best = ms.front();
  median = ms[ms.size() / 2];
}

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
    int64_t id = 0;
    StoreResult r = registry->NewSite(Card(s), id);
    if (!r.ok()) {
      std::printf("  fill failed: %s\n", r.message.c_str());
      return false;
    }
    const ConfigImage site = SiteImage(s);
    for (int v = 0; v < versions; ++v) {
      SiteRecord record = Record(s, v, VersionImage(site, s, v), time += 1000);
      record.info.site = id;
      record.info.technician = kSurnames[(s + v) % 10];
      const RecordResult kept = registry->Record(record);
      if (kept.kept != RecordResult::Kept::InRegistry) {
        std::printf("  fill failed: %s\n", kept.message.c_str());
        return false;
      }
    }
    if (s % 1000 == 0)
      std::fprintf(stderr, "  %d sites, %.0f s\r", s, Ms(Clock::now() - started) / 1000);
  }
  f.fill_s = Ms(Clock::now() - started) / 1000;
  registry.reset();

  // As the program runs: every record on the disk before it returns.
  registry = Registry::Open(base, opened);
  if (!registry) return false;
  std::vector<double> ms;
  for (int i = 0; i < 100; ++i) {
    const int s = 1 + (i * 7919) % sites;
    const ConfigImage image = VersionImage(SiteImage(s), s, versions + i);
    const auto t = Clock::now();
    registry->Record(Record(s, versions + i, image, 0));
    ms.push_back(Ms(Clock::now() - t));
  }
  std::sort(ms.begin(), ms.end());
  f.record_median = ms[ms.size() / 2];
  f.record_p95 = ms[ms.size() * 95 / 100];

  // A part of one site's first telephone number (8 of its 11 digits), and a part of another's
  // address as a person types it ("Садовая 17").
  const int wanted = sites / 2 + 7;
  const std::string phone = FieldText(*FindFieldById(251, "direction1.phone"), SiteImage(wanted));
  f.phone = phone.substr(phone.size() - 9, 8);
  const SiteCard card = Card(wanted + 1);
  const size_t comma = card.name.find(',');
  f.address = card.name.substr(std::strlen("ул. "), comma - std::strlen("ул. ")) + " " +
              card.name.substr(comma + 2, card.name.find(',', comma + 1) - comma - 2);
  std::vector<SiteEntry> found;
  SiteFilter filter;
  const auto contains = [&](int site_number) {
    const std::string name = Card(site_number).name;
    return std::any_of(found.begin(), found.end(),
                       [&](const SiteEntry& e) { return e.card.name == name; });
  };
  filter.text = f.phone;
  Timed([&] { registry->SiteList(filter, found); }, f.phone_best, f.phone_median);
  f.phone_found = found.size();
  f.phone_right = contains(wanted);
  filter.text = f.address;
  Timed([&] { registry->SiteList(filter, found); }, f.address_best, f.address_median);
  f.address_found = found.size();
  f.address_right = contains(wanted + 1);
  registry.reset();

  // The command a user runs, its output to a file.
  const fs::path out =
      fs::temp_directory_path() / ("lovar-bench-sites-" + std::to_string(getpid()));
  const std::string command = std::string(LOVAR_CLI_PATH) + " sites list --format csv --db '" +
                              base.location.text + "' > '" + out.string() + "' 2>/dev/null";
  const auto t = Clock::now();
  const int status = std::system(command.c_str());
  f.csv_s = Ms(Clock::now() - t) / 1000;
  f.csv_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::error_code ec;
  f.csv_bytes = static_cast<long long>(fs::file_size(out, ec));
  fs::remove(out, ec);
  return true;
}

void Print(const char* name, int sites, int versions, const Figures& f) {
  std::printf("%s: %d sites × %d versions, filled in %.0f s\n", name, sites, versions, f.fill_s);
  std::printf("  record a model 251 read: median %.2f ms, p95 %.2f ms\n", f.record_median,
              f.record_p95);
  std::printf(
      "  search \"%s\" (a telephone number's part, in configurations): %zu sites%s, "
      "best %.1f ms, median %.1f ms\n",
      f.phone.c_str(), f.phone_found, f.phone_right ? "" : " (NOT the site wanted)", f.phone_best,
      f.phone_median);
  std::printf(
      "  search \"%s\" (an address's part, in cards): %zu sites%s, best %.1f ms, "
      "median %.1f ms\n",
      f.address.c_str(), f.address_found, f.address_right ? "" : " (NOT the site wanted)",
      f.address_best, f.address_median);
  std::printf("  lovar-cli sites list --format csv: %.2f s, %.1f MB, exit %d\n", f.csv_s,
              f.csv_bytes / 1e6, f.csv_status);
}

}  // namespace

int main(int argc, char** argv) {
  int sites = 100000, versions = 5, pg_sites = -1;
  bool postgres = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--sites") && i + 1 < argc)
      sites = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--versions") && i + 1 < argc)
      versions = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--pg-sites") && i + 1 < argc)
      pg_sites = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--no-postgres"))
      postgres = false;
    else if (!std::strcmp(argv[i], "--quick"))
      sites = 2000;
  }
  if (pg_sites < 0) pg_sites = sites;
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("lovar-bench-" + std::to_string(random()));
  fs::create_directories(dir);
  RegistryOptions options;
  options.location = {false, Utf8Of(dir / "registry.sqlite")};
  options.local_file = dir / "local.sqlite";
  Figures f;
  if (Measure(options, sites, versions, f)) {
    Print("SQLite (a file, write-ahead log, every commit flushed)", sites, versions, f);
    std::error_code ec;
    const uintmax_t bytes = fs::file_size(dir / "registry.sqlite", ec);
    const uintmax_t wal = fs::file_size(dir / "registry.sqlite-wal", ec);
    std::printf("  file: %.1f MB (+ %.1f MB write-ahead log)\n", bytes / 1e6, ec ? 0.0 : wal / 1e6);
  }
  if (postgres) {
    if (testing::PgServer* server = FlushingPgServer(); server != nullptr) {
      const std::string db = server->NewDatabase();
      options.location = {true, server->Uri(db)};
      Figures pg;
      if (Measure(options, pg_sites, versions, pg)) {
        Print("PostgreSQL 15 on this machine (TCP, TLS, fsync on)", pg_sites, versions, pg);
        std::string size;
        server->Sql(db, "SELECT pg_database_size(current_database())", &size);
        std::printf("  database: %.1f MB\n", std::stod(size) / 1e6);
      }
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
