// End to end: one change for many sites with lovar-cli and lovar-sim devices, on a registry file
// and on a real PostgreSQL server shared by two stations.
#include <gtest/gtest.h>

#include "../store/records.h"
#include "files/config_file.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
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
  // The sites chosen as sites list chooses them, by the database.
  r = RunCli(
      {"change", "new", "Склад 25", "--set", "sounder_time=25", "--model", "250", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("объектов 1,"), std::string::npos) << r.out;
  r = RunCli({"change", "show", "Склад 25", "--db", db});
  EXPECT_NE(r.out.find("Объекты: --model 250"), std::string::npos) << r.out;
  r = RunCli({"change", "new", "y", "--set", "sounder_time=25", "--model", "250", "--site", "Склад",
              "--db", db});
  EXPECT_EQ(r.exit_code, 16) << r.err;

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

namespace lovar::e2e {
namespace {

// A model 251 configuration file with its own object number and sounder time, for --image.
std::string ImageFile(const TempFolder& dir, const std::string& object, int sounder) {
  ConfigImage image;
  const std::vector<uint8_t> bytes = testing::SiteImage(251, object, 1);
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin());
  std::string why;
  EXPECT_TRUE(
      StoreFieldText(*FindFieldById(251, "sounder_time"), image, std::to_string(sounder), why));
  const std::string path = Utf8Of(dir / ("o" + object + "-" + std::to_string(sounder) + ".dat"));
  EXPECT_TRUE(SaveConfigFile(PathFromUtf8(path), 251, image).ok());
  return path;
}

// The device's sounder time as read now.
std::string SounderTime(const std::string& port) {
  const RunResult r = RunCli({"show", "--port", port, "--json"});
  const size_t at = r.out.find("\"sounder_time\"");
  const size_t value = r.out.find("\"value\": ", at);
  return at == std::string::npos
             ? "?"
             : r.out.substr(value + 9, r.out.find_first_of(",\n", value) - value - 9);
}

class ChangeOnServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = testing::PgServer::Shared(why);
    if (server_ == nullptr) {
      if (why.starts_with("no PostgreSQL") || why.starts_with("LOVAR_TEST_PG")) GTEST_SKIP() << why;
      FAIL() << why;
    }
    db_ = server_->Uri(server_->NewDatabase());
  }
  // lovar-cli change apply as a station of its own, started now.
  std::unique_ptr<CliProcess> Apply(const std::string& plan, const std::string& port) const {
    return std::make_unique<CliProcess>(
        std::vector<std::string>{"change", "apply", plan, "--port", port, "--db", db_});
  }

  testing::PgServer* server_ = nullptr;
  std::string db_;
  TempFolder dir_;
};

TEST_F(ChangeOnServer, TwoStationsApplyAPlanOverThreeModelsNoSiteTwiceAndADriftedOneNotAtAll) {
  // The sites as the registry knows them; the device of 2048 changed since behind its back.
  SimProcess first({"--model", "251"}), twin({"--model", "251"}), m250({"--model", "250"}),
      m252({"--model", "252"});
  SimProcess recorded({"--model", "251", "--image", ImageFile(dir_, "2048", 15)});
  ReadInto(db_, first.port(), "");
  ReadInto(db_, m250.port(), NewSite(db_, "Склад"));
  ReadInto(db_, m252.port(), NewSite(db_, "Касса"));
  ReadInto(db_, recorded.port(), "");
  recorded.Stop();
  SimProcess drifted({"--model", "251", "--image", ImageFile(dir_, "2048", 40)});

  ASSERT_EQ(RunCli({"change", "approval", "on", "--db", db_}).exit_code, 0);
  RunResult r = RunCli({"change", "new", "Сирена", "--set", "sounder_time=20", "--db", db_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("к применению 4"), std::string::npos) << r.out;
  r = RunCli({"change", "apply", "Сирена", "--port", first.port(), "--db", db_});
  EXPECT_EQ(r.exit_code, 20);
  EXPECT_NE(r.err.find("ждёт утверждения"), std::string::npos) << r.err;
  EXPECT_EQ(SounderTime(first.port()), "15");
  ASSERT_EQ(RunCli({"change", "approve", "Сирена", "--db", db_}).exit_code, 0);

  // Two stations at two devices of one site at once: one applies it, the other is refused.
  auto a = Apply("Сирена", first.port());
  auto b = Apply("Сирена", twin.port());
  const RunResult ra = a->Wait(std::chrono::seconds(90));
  const RunResult rb = b->Wait(std::chrono::seconds(90));
  EXPECT_EQ((ra.exit_code == 0) + (rb.exit_code == 0), 1) << ra.err << rb.err;
  EXPECT_EQ((ra.exit_code == 20) + (rb.exit_code == 20), 1) << ra.err << rb.err;
  EXPECT_NE((ra.exit_code == 20 ? ra : rb).err.find("В УО ничего не записано"), std::string::npos);
  EXPECT_EQ(SounderTime(first.port()) + SounderTime(twin.port()),
            ra.exit_code == 0 ? "2015" : "1520");
  // Models 250 and 252 found by their configuration, at once.
  a = Apply("Сирена", m250.port());
  b = Apply("Сирена", m252.port());
  EXPECT_EQ(a->Wait(std::chrono::seconds(90)).exit_code, 0);
  EXPECT_EQ(b->Wait(std::chrono::seconds(90)).exit_code, 0);
  EXPECT_EQ(SounderTime(m250.port()), "20");

  // The drifted planned field: a conflict with both values, nothing written.
  r = RunCli({"change", "apply", "Сирена", "--port", drifted.port(), "--db", db_});
  EXPECT_EQ(r.exit_code, 20);
  EXPECT_NE(r.err.find("sounder_time: в реестре 15, в приборе 40"), std::string::npos) << r.err;
  EXPECT_EQ(SounderTime(drifted.port()), "40");

  r = RunCli({"change", "status", "Сирена", "--format", "json", "--db", db_});
  EXPECT_EQ(Count(r.out, "\"state\": \"done\""), 3) << r.out;
  EXPECT_EQ(Count(r.out, "\"state\": \"conflict\""), 1) << r.out;
  EXPECT_NE(r.out.find("изменено не через Ловар"), std::string::npos) << r.out;
  // The write's record names the plan.
  r = RunCli({"sites", "history", "1024", "--db", db_});
  EXPECT_NE(r.out.find("изменение «Сирена»"), std::string::npos) << r.out;
}

TEST_F(ChangeOnServer, FailuresPauseThePlanForEveryStationUntilResumed) {
  SimProcess good({"--model", "251"});
  SimProcess failing(
      {"--model", "251", "--image", ImageFile(dir_, "3000", 15), "--no-store", "1/1"});
  ReadInto(db_, good.port(), "");
  ReadInto(db_, failing.port(), "");
  RunResult r = RunCli(
      {"change", "new", "Порог", "--set", "sounder_time=25", "--max-failures", "1", "--db", db_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"change", "apply", "Порог", "--port", failing.port(), "--db", db_});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.exit_code, 20) << r.err;
  r = RunCli({"change", "apply", "Порог", "--port", good.port(), "--db", db_});
  EXPECT_EQ(r.exit_code, 20);
  EXPECT_NE(r.err.find("приостановлено"), std::string::npos) << r.err;
  EXPECT_EQ(SounderTime(good.port()), "15");
  ASSERT_EQ(RunCli({"change", "resume", "Порог", "--db", db_}).exit_code, 0);
  r = RunCli({"change", "apply", "Порог", "--port", good.port(), "--db", db_});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(SounderTime(good.port()), "25");
  r = RunCli({"change", "status", "Порог", "--format", "json", "--db", db_});
  EXPECT_EQ(Count(r.out, "\"state\": \"failed\""), 1) << r.out;
  EXPECT_EQ(Count(r.out, "\"state\": \"done\""), 1) << r.out;
}

}  // namespace
}  // namespace lovar::e2e

namespace lovar::e2e {
namespace {

TEST(ChangeCli, ABatchAppliesThePlanAtEachPortsDeviceFoundByItsRead) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  SimProcess a({"--model", "251"}), b({"--model", "251", "--image", ImageFile(dir, "2048", 15)}),
      stranger({"--model", "251", "--image", ImageFile(dir, "4096", 15)});
  ReadInto(db, a.port(), "");
  ReadInto(db, b.port(), "");
  ASSERT_EQ(RunCli({"change", "new", "Партия", "--set", "sounder_time=30", "--db", db}).exit_code,
            0);
  RunResult r = RunCli({"batch", "--change", "Партия", "--port", a.port(), "--port", b.port(),
                        "--port", stranger.port(), "--db", db});
  EXPECT_EQ(r.exit_code, 13) << r.err;
  EXPECT_NE(r.out.find("применено: 2 из 3"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("не найден среди объектов"), std::string::npos) << r.err;
  EXPECT_EQ(SounderTime(a.port()) + SounderTime(b.port()) + SounderTime(stranger.port()), "303015");
  r = RunCli({"change", "status", "Партия", "--format", "json", "--db", db});
  EXPECT_EQ(Count(r.out, "\"state\": \"done\""), 2) << r.out;
}

}  // namespace
}  // namespace lovar::e2e
