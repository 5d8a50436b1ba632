// End to end: one change for many sites with lovar-cli and lovar-sim devices, on a registry file
// and on a real PostgreSQL server shared by two stations.
#include <gtest/gtest.h>

#include "../store/records.h"
#include "files/utf8_path.h"
#include "processes.h"
#include "support/pg_server.h"

namespace lovar::e2e {
namespace {
using testing::TempFolder;

// The number of the site a read of port recorded (a model 250 or 252 under a site of its own).
std::string ReadInto(const std::string& db, const std::string& port, const std::string& site) {
  std::vector<std::string> args = {"read", "--port", port, "--out", TempPath("read.dat"),
                                   "--db", db};
  if (!site.empty()) args.insert(args.end(), {"--site", site});
  const RunResult r = RunCli(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return site;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string NewSite(const std::string& db, const std::string& name) {
  const RunResult r = RunCli({"sites", "add", name, "--db", db});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // "Объект 3 добавлен: …"
  const size_t at = r.out.find("Объект ") + std::string("Объект ").size();
  return r.out.substr(at, r.out.find(' ', at) - at);
}

TEST(ChangeCli, APlanOverSitesOfThreeModelsWaitsForTheOfficesApproval) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  SimProcess m251({"--model", "251"}), m250({"--model", "250"}), m252({"--model", "252"});
  ReadInto(db, m251.port(), "");
  ReadInto(db, m250.port(), NewSite(db, "Склад"));
  ReadInto(db, m252.port(), NewSite(db, "Касса"));
  const std::string never = NewSite(db, "Новый, ещё не прочитан");

  ASSERT_EQ(RunCli({"change", "approval", "on", "--db", db}).exit_code, 0);
  RunResult r = RunCli({"change", "new", "Сирена 20", "--set", "sounder_time=20", "--db", db,
                        "--operator", "Иванова"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("sounder_time: 15 -> 20"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("объектов 4, к применению 3, пропущено 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("change approve"), std::string::npos) << r.out;
  // The name is the plan's: a second plan of it is refused, the first kept.
  r = RunCli({"change", "new", "Сирена 20", "--set", "sounder_time=30", "--db", db});
  EXPECT_EQ(r.exit_code, 16);
  EXPECT_NE(r.err.find("уже есть"), std::string::npos) << r.err;
  r = RunCli({"change", "new", "x", "--set", "no_such_field=1", "--db", db});
  EXPECT_EQ(r.exit_code, 16);
  EXPECT_NE(r.err.find("no_such_field"), std::string::npos) << r.err;

  r = RunCli({"change", "status", "Сирена 20", "--format", "json", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\"state\": \"pending\""), 3) << r.out;
  EXPECT_NE(r.out.find("\"state\": \"skipped\""), std::string::npos) << r.out;
  r = RunCli({"change", "status", "Сирена 20", "--db", db});
  EXPECT_NE(r.out.find("ждёт утверждения"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Новый, ещё не прочитан"), std::string::npos) << r.out;

  ASSERT_EQ(RunCli({"change", "approve", "Сирена 20", "--db", db}).exit_code, 0);
  r = RunCli({"change", "show", "Сирена 20", "--db", db});
  EXPECT_NE(r.out.find("Состояние: применяется"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Объект " + never), std::string::npos) << r.out;
  EXPECT_EQ(RunCli({"change", "status", "нет такого", "--db", db}).exit_code, 17);
}

}  // namespace
}  // namespace lovar::e2e
