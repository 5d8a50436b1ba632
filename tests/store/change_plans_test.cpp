// Changes for many sites in the registry, on a SQLite file and on a real PostgreSQL server: a
// plan kept whole with its sites, a site claimed once however many stations ask, outcomes as
// rows of their own, a plan that waits for approval, pauses after its failures and is
// cancelled; on the server only the office approves.
#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <barrier>
#include <thread>

#include "records.h"
#include "store/postgres_roles.h"
#include "store/store_os.h"
#include "support/pg_server.h"

namespace lovar {
namespace {
using namespace testing;

StoreResult Plans(Registry& registry, const std::function<StoreResult(SiteStore&)>& call) {
  return registry.WithStore(call);
}

// Three sites recorded, and a plan over them: two pending, one skipped.
ChangePlan MakePlan(Registry& registry, const std::string& name, bool approval, int max_failures,
                    std::vector<int64_t>& sites) {
  sites.clear();
  for (const char* object : {"101", "102", "103"}) {
    const RecordResult kept = registry.Record(ReadRecord(251, object, 1));
    EXPECT_TRUE(kept.ok()) << kept.message;
    sites.push_back(kept.site);
  }
  ChangePlan plan;
  plan.name = name;
  plan.settings = {{"direction1.phone", "+74950000000"}, {"loop1.name", "Склад, 2"}};
  plan.selection = "все объекты";
  plan.approval_required = approval;
  plan.max_failures = max_failures;
  plan.station = "office-1";
  plan.technician = "Иванова";
  std::vector<PlanSite> rows(3);
  for (size_t i = 0; i < 3; ++i) {
    rows[i].site = sites[i];
    rows[i].model = 251;
    rows[i].object = std::to_string(101 + i);
    rows[i].base_record = "r" + std::to_string(i);
    rows[i].changes = {{"direction1.phone", "+79161234567", "+74950000000"}};
    rows[i].findings = {"предупреждение [x] одно", "предупреждение [y] другое"};
  }
  rows[2].state = PlanState::Skipped;
  rows[2].reason = "проверка: ошибка";
  const StoreResult r = Plans(registry, [&](SiteStore& s) { return s.NewPlan(plan, rows); });
  EXPECT_TRUE(r.ok()) << r.message;
  return plan;
}

PlanClaim Claim(Registry& registry, int64_t plan, int64_t site, const std::string& station) {
  PlanClaim claim;
  const StoreResult r =
      Plans(registry, [&](SiteStore& s) { return s.ClaimPlanSite(plan, site, station, claim); });
  EXPECT_TRUE(r.ok()) << r.message;
  return claim;
}

std::vector<PlanSite> SitesOf(Registry& registry, int64_t plan) {
  std::vector<PlanSite> out;
  const StoreResult r = Plans(registry, [&](SiteStore& s) { return s.PlanSites(plan, out); });
  EXPECT_TRUE(r.ok()) << r.message;
  return out;
}

ChangePlan Find(Registry& registry, const std::string& name) {
  ChangePlan plan;
  const StoreResult r = Plans(registry, [&](SiteStore& s) { return s.FindPlan(name, plan); });
  EXPECT_TRUE(r.ok()) << r.message;
  return plan;
}

void Decide(Registry& registry, int64_t plan, PlanDecision decision) {
  const StoreResult r = Plans(
      registry, [&](SiteStore& s) { return s.DecidePlan(plan, decision, "office-1", "Иванова"); });
  EXPECT_TRUE(r.ok()) << r.message;
}

void End(Registry& registry, int64_t claim, PlanState state, const std::string& reason) {
  const StoreResult r =
      Plans(registry, [&](SiteStore& s) { return s.EndPlanSite(claim, state, reason, "rec-1"); });
  EXPECT_TRUE(r.ok()) << r.message;
}

// What both databases promise.
void ExercisePlans(Registry& registry) {
  std::vector<int64_t> ids;
  const ChangePlan made = MakePlan(registry, "Новый номер ПЦН", false, 2, ids);
  ASSERT_NE(made.id, 0);
  ChangePlan again = made;
  EXPECT_EQ(Plans(registry, [&](SiteStore& s) { return s.NewPlan(again, {}); }).error,
            StoreError::Failed);
  ChangePlan none;
  EXPECT_EQ(Plans(registry, [&](SiteStore& s) { return s.FindPlan("нет такого", none); }).error,
            StoreError::NotFound);

  ChangePlan plan = Find(registry, "Новый номер ПЦН");
  EXPECT_EQ(plan.settings.size(), 2u);
  EXPECT_EQ(plan.settings[1].value, "Склад, 2");
  EXPECT_EQ(plan.technician, "Иванова");
  EXPECT_EQ(plan.max_failures, 2);
  EXPECT_TRUE(PlanClosedWhy(plan).empty());
  std::vector<PlanSite> sites = SitesOf(registry, plan.id);
  ASSERT_EQ(sites.size(), 3u);
  EXPECT_EQ(sites[0].site_name, "Объект 101");
  EXPECT_EQ(sites[0].findings.size(), 2u);
  EXPECT_EQ(sites[0].changes.at(0).after, "+74950000000");
  EXPECT_EQ(sites[2].state, PlanState::Skipped);

  // One claim at a time per site; a skipped site is never claimed.
  const PlanClaim first = Claim(registry, plan.id, ids[0], "pc-1");
  ASSERT_TRUE(first.claimed) << first.why;
  const PlanClaim second = Claim(registry, plan.id, ids[0], "pc-2");
  EXPECT_FALSE(second.claimed);
  EXPECT_NE(second.why.find("pc-1"), std::string::npos) << second.why;
  EXPECT_FALSE(Claim(registry, plan.id, ids[2], "pc-2").claimed);
  sites = SitesOf(registry, plan.id);
  EXPECT_TRUE(sites[0].applying);
  EXPECT_EQ(sites[0].station, "pc-1");

  // A failure frees the site for another try; two failures pause the plan for everyone.
  End(registry, first.id, PlanState::Failed, "Прибор не отвечает");
  const PlanClaim retry = Claim(registry, plan.id, ids[0], "pc-2");
  ASSERT_TRUE(retry.claimed) << retry.why;
  End(registry, retry.id, PlanState::Failed, "Прибор не отвечает");
  plan = Find(registry, plan.name);
  EXPECT_TRUE(plan.paused());
  const PlanClaim paused = Claim(registry, plan.id, ids[1], "pc-1");
  EXPECT_FALSE(paused.claimed);
  EXPECT_NE(paused.why.find("приостановлено"), std::string::npos) << paused.why;
  Decide(registry, plan.id, PlanDecision::Resumed);
  EXPECT_FALSE(Find(registry, plan.name).paused());
  const PlanClaim done = Claim(registry, plan.id, ids[1], "pc-1");
  ASSERT_TRUE(done.claimed) << done.why;
  End(registry, done.id, PlanState::Done, "");
  sites = SitesOf(registry, plan.id);
  EXPECT_EQ(sites[0].state, PlanState::Failed);
  EXPECT_EQ(sites[1].state, PlanState::Done);
  EXPECT_EQ(sites[1].record, "rec-1");
  EXPECT_FALSE(sites[1].applying);
  EXPECT_FALSE(Claim(registry, plan.id, ids[1], "pc-2").claimed);  // done is done
  const PlanCounts counts = CountPlanSites(sites);
  EXPECT_EQ(counts.failed + counts.done + counts.skipped, 3);

  // Approval: nobody applies before it; cancelled: nobody after.
  std::vector<int64_t> more;
  ChangePlan waiting = MakePlan(registry, "С утверждением", true, 0, more);
  EXPECT_NE(Claim(registry, waiting.id, more[0], "pc-1").why.find("утверждения"),
            std::string::npos);
  Decide(registry, waiting.id, PlanDecision::Approved);
  EXPECT_TRUE(Claim(registry, waiting.id, more[0], "pc-1").claimed);
  Decide(registry, waiting.id, PlanDecision::Cancelled);
  EXPECT_NE(Claim(registry, waiting.id, more[1], "pc-1").why.find("отменено"), std::string::npos);
}

TEST(ChangePlans, OnAFile) {
  TempFolder dir;
  StoreResult opened;
  auto registry = OpenFile(dir / "r.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  ExercisePlans(*registry);
}

class ChangePlansOnServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = PgServer::Shared(why);
    if (server_ == nullptr) {
      if (why.starts_with("no PostgreSQL") || why.starts_with("LOVAR_TEST_PG")) GTEST_SKIP() << why;
      FAIL() << why;
    }
    db_ = server_->NewDatabase();
    ASSERT_FALSE(db_.empty());
  }
  std::unique_ptr<Registry> Open(const std::string& uri) {
    RegistryOptions options;
    options.location = {true, uri};
    options.local_file = local_ / "local.sqlite";
    StoreResult opened;
    auto registry = Registry::Open(options, opened);
    EXPECT_TRUE(registry) << opened.message;
    return registry;
  }
  // A login of role on this test's database: its connection string.
  std::string LoginOf(const std::string& role, const std::string& login) {
    EXPECT_TRUE(server_->Sql(db_, "DROP ROLE IF EXISTS " + login + "; CREATE ROLE " + login +
                                      " LOGIN PASSWORD 'pw' IN ROLE " + role +
                                      "; GRANT CONNECT ON DATABASE " + db_ + " TO " + login));
    std::string uri = server_->Uri(db_, "", false);
    uri.replace(uri.find("lovar_admin"), 11, login + ":pw");
    return uri;
  }

  PgServer* server_ = nullptr;
  std::string db_;
  TempFolder local_;
};

TEST_F(ChangePlansOnServer, KeepsWhatTheFileKeeps) {
  auto registry = Open(server_->Uri(db_));
  ASSERT_TRUE(registry);
  ExercisePlans(*registry);
}

TEST_F(ChangePlansOnServer, ManyStationsClaimingOneSiteAtOnceGetItOnce) {
  auto office = Open(server_->Uri(db_));
  ASSERT_TRUE(office);
  std::vector<int64_t> ids;
  const ChangePlan plan = MakePlan(*office, "Гонка", false, 0, ids);
  constexpr int kStations = 6;
  std::barrier start(kStations);
  std::atomic<int> claimed{0};
  std::vector<std::thread> stations;
  for (int i = 0; i < kStations; ++i)
    stations.emplace_back([&, i] {
      auto registry = Open(server_->Uri(db_));
      start.arrive_and_wait();
      if (registry && Claim(*registry, plan.id, ids[0], "pc-" + std::to_string(i)).claimed)
        ++claimed;
      ReleaseThreadTls();
    });
  for (std::thread& t : stations) t.join();
  EXPECT_EQ(claimed.load(), 1);
  EXPECT_EQ(SitesOf(*office, plan.id)[0].applying, true);
}

TEST_F(ChangePlansOnServer, OnlyTheOfficeApprovesAndPlans) {
  ASSERT_TRUE(ApplyPostgresRoles(server_->Uri(db_), {}).ok());
  auto admin = Open(server_->Uri(db_));
  ASSERT_TRUE(admin);
  std::vector<int64_t> ids;
  const ChangePlan plan = MakePlan(*admin, "Утверждение", true, 0, ids);
  auto station = Open(LoginOf("lovar_station", "st_" + db_));
  auto office = Open(LoginOf("lovar_office", "of_" + db_));
  ASSERT_TRUE(station && office);
  // The server refuses the station's approval, and its claim before the office's.
  const StoreResult refused = Plans(*station, [&](SiteStore& s) {
    return s.DecidePlan(plan.id, PlanDecision::Approved, "pc-1", "");
  });
  EXPECT_EQ(refused.error, StoreError::Denied) << refused.message;
  EXPECT_FALSE(Claim(*station, plan.id, ids[0], "pc-1").claimed);
  ChangePlan forged = plan;
  forged.name = "Своё";
  EXPECT_EQ(Plans(*station, [&](SiteStore& s) { return s.NewPlan(forged, {}); }).error,
            StoreError::Denied);
  Decide(*office, plan.id, PlanDecision::Approved);
  const PlanClaim claim = Claim(*station, plan.id, ids[0], "pc-1");
  ASSERT_TRUE(claim.claimed) << claim.why;
  End(*station, claim.id, PlanState::Done, "");
  EXPECT_EQ(SitesOf(*office, plan.id)[0].state, PlanState::Done);
  // Rows of their own: the station changes none.
  std::string value;
  PGconn* conn = PQconnectdb(LoginOf("lovar_station", "st2_" + db_).c_str());
  PGresult* r = PQexec(conn, "UPDATE lovar.plan_outcomes SET state = 'failed'");
  EXPECT_STREQ(PQresultErrorField(r, PG_DIAG_SQLSTATE), "42501");
  PQclear(r);
  PQfinish(conn);
}

}  // namespace
}  // namespace lovar
