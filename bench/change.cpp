// One change for many sites: the time to plan a change over N sites (each site's last proven
// record and image read, the change computed and checked, the plan stored in one transaction)
// and to read the status of every site of that plan, on a SQLite file and on a PostgreSQL
// server on this machine started for the run. The sites are model 251 reads, each with its own
// object number and telephone numbers. Prints figures; asserts nothing.
//
//   bench_change [--sites N] [--no-postgres]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "change/change_plan.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "sim/device_sim.h"
#include "store/registry.h"
#include "support/pg_server.h"

namespace {

using namespace lovar;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

SiteRecord SiteRead(int site) {
  std::mt19937 random(static_cast<unsigned>(site) * 7919u + 1);
  ConfigImage image = SampleImage(251);
  std::string why;
  const auto set = [&](const char* id, const std::string& value) {
    if (const Field* f = FindFieldById(251, id)) StoreFieldText(*f, image, value, why);
  };
  set("object_number", std::to_string(site));
  set("direction1.phone", "+7916" + std::to_string(1000000 + random() % 9000000));
  SiteRecord r;
  r.info.port = "/dev/ttyUSB0";
  r.info.model = 251;
  r.info.device_line = "Ловар-М Версия 2.2";
  r.info.object = std::to_string(site);
  r.image.assign(image.bytes().begin(), image.bytes().begin() + ImageLength(251));
  return r;
}

void Run(const char* label, RegistryOptions options, int sites) {
  options.store.durable = false;
  StoreResult opened;
  auto registry = Registry::Open(options, opened);
  if (!registry) {
    std::printf("%s: %s\n", label, opened.message.c_str());
    return;
  }
  const auto filled = Clock::now();
  for (int i = 1; i <= sites; ++i) registry->Record(SiteRead(i));
  std::printf("%s: %d sites recorded in %.0f ms\n", label, sites, Ms(Clock::now() - filled));
  std::vector<SiteEntry> all;
  registry->SiteList(all);
  std::vector<int64_t> ids;
  for (const SiteEntry& e : all) ids.push_back(e.card.site);

  const auto planned = Clock::now();
  std::vector<PlanSite> parts;
  ChangePlan plan;
  plan.name = "bench";
  plan.settings = {{"direction1.phone", "+74950000000"}};
  StoreResult r = PlanFromRegistry(*registry, ids, plan.settings, CheckGate{}, parts);
  const auto computed = Clock::now();
  if (r.ok()) r = registry->WithStore([&](SiteStore& s) { return s.NewPlan(plan, parts); });
  const auto stored = Clock::now();
  if (!r.ok()) std::printf("%s: %s\n", label, r.message.c_str());
  std::printf("%s: plan over %zu sites: %.0f ms (computed and checked %.0f ms, stored %.0f ms)\n",
              label, parts.size(), Ms(stored - planned), Ms(computed - planned),
              Ms(stored - computed));

  std::vector<PlanSite> states;
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto asked = Clock::now();
    registry->WithStore([&](SiteStore& s) {
      ChangePlan found;
      StoreResult f = s.FindPlan("bench", found);
      return f.ok() ? s.PlanSites(found.id, states) : f;
    });
    best = std::min(best, Ms(Clock::now() - asked));
  }
  std::printf("%s: status of %zu sites: %.0f ms (best of 5)\n", label, states.size(), best);
}

}  // namespace

int main(int argc, char** argv) {
  int sites = 10000;
  bool postgres = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sites") == 0 && i + 1 < argc) sites = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--no-postgres") == 0) postgres = false;
  }
  const fs::path dir =
      fs::temp_directory_path() / ("lovar-bench-change-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  RegistryOptions options;
  options.location = {false, Utf8Of(dir / "registry.sqlite")};
  options.local_file = dir / "local.sqlite";
  Run("SQLite", options, sites);
  if (postgres) {
    std::string why;
    testing::PgServer* server = testing::PgServer::Shared(why);
    if (server == nullptr) {
      std::printf("PostgreSQL: %s\n", why.c_str());
    } else {
      options.location = {true, server->Uri(server->NewDatabase())};
      Run("PostgreSQL", options, sites);
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
