// End to end: lovar-cli sites on a real registry file, and sync to a real PostgreSQL server.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "../store/records.h"
#include "files/config_file.h"
#include "processes.h"
#include "store/local_time.h"
#include "store/registry.h"
#include "support/pg_server.h"

namespace lovar::e2e {
namespace {
using testing::ReadRecord;
using testing::SiteImage;
using testing::TempFolder;

StoreTime At(const char* local) {
  StoreTime at = 0;
  EXPECT_TRUE(ParseLocalTime(local, at)) << local;
  return at - 999'999 - 59'000'000;  // the minute's start
}

// The line of out that holds text ("" when none).
std::string LineWith(const std::string& out, const std::string& text) {
  const size_t at = out.find(text);
  if (at == std::string::npos) return "";
  const size_t start = out.rfind('\n', at) + 1;
  return out.substr(start, out.find('\n', at) - start);
}

class SitesCli : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = Utf8Of(dir_ / "registry.sqlite");
    StoreResult opened;
    auto registry = testing::OpenFile(dir_ / "registry.sqlite", opened);
    ASSERT_TRUE(registry) << opened.message;
    ASSERT_TRUE(registry->Record(ReadRecord(251, "1024", 1, At("2024-03-01 10:00"))).ok());
    SiteRecord write = ReadRecord(251, "1024", 2, At("2024-03-15 12:00"));
    write.info.operation = RecordOperation::Write;
    write.info.message = "Конфигурация записана в УО";
    ASSERT_TRUE(registry->Record(write).ok());
    SiteRecord stopped = ReadRecord(251, "1024", 3, At("2024-04-02 09:30"));
    stopped.info.operation = RecordOperation::Write;
    stopped.info.outcome = RecordOutcome::Stopped;
    stopped.info.message = "Запись прервана на смещении 2048 из 4096";
    ASSERT_TRUE(registry->Record(stopped).ok());
    ASSERT_TRUE(registry->Record(ReadRecord(251, "987", 1, At("2024-03-02 10:00"))).ok());
    ASSERT_TRUE(registry->Record(ReadRecord(250, "", 1, At("2024-03-03 10:00"))).ok());
  }

  TempFolder dir_;
  std::string file_;
};

TEST_F(SitesCli, ListHistoryShowAndExportReadTheRegistry) {
  RunResult r = RunCli({"sites", "list", "--db", file_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const size_t none = r.out.find("(без номера)  Ловар-Т (250)");
  const size_t second = r.out.find("987           Ловар-М (251)  02.03.2024 10:00:00  считано");
  const size_t third =
      r.out.find("1024          Ловар-М (251)  02.04.2024 09:30:00  запись не завершена");
  EXPECT_TRUE(none != std::string::npos && second > none && third > second &&
              third != std::string::npos)
      << r.out;
  r = RunCli({"sites", "list", "10", "--db", file_});
  EXPECT_EQ(r.out.find("987"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1024"), std::string::npos) << r.out;

  r = RunCli({"sites", "history", "1024", "--db", file_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("15.03.2024 12:00:00  Ловар-М (251)  запись    записано, проверено"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Запись прервана на смещении 2048 из 4096"), std::string::npos);

  // What the device held on 10 March, and what it may hold now.
  r = RunCli({"sites", "show", "1024", "--at", "2024-03-10", "--db", file_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Запись от 01.03.2024 10:00:00: чтение, считано"), std::string::npos)
      << r.out;
  EXPECT_TRUE(LineWith(r.out, "Внутренний звуковой сигн.").ends_with(" 1")) << r.out;
  r = RunCli({"sites", "show", "1024", "--db", file_});
  EXPECT_TRUE(LineWith(r.out, "Внутренний звуковой сигн.").ends_with(" 3")) << r.out;
  EXPECT_NE(r.err.find("запись не завершена — прибор мог хранить смесь"), std::string::npos)
      << r.err;

  const std::string out = Utf8Of(dir_ / "march.dat");
  r = RunCli({"sites", "export", "1024", "--out", out, "--at", "15.03.2024", "--db", file_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ConfigImage image;
  const std::vector<uint8_t> v2 = SiteImage(251, "1024", 2);
  std::copy(v2.begin(), v2.end(), image.bytes().begin());
  EXPECT_EQ(testing::FileBytes(dir_ / "march.dat"), SerializeWholeImage(251, image));
  struct stat st {};
  stat(out.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // LOVAR_DB names the registry when --db does not.
  setenv("LOVAR_DB", file_.c_str(), 1);
  r = RunCli({"sites", "history", "987"});
  unsetenv("LOVAR_DB");
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(SitesCli, WhatTheRegistryDoesNotHoldIsSaid) {
  RunResult r = RunCli({"sites"});
  EXPECT_NE(r.err.find("не указана команда sites: list, history, show, export, sync, add, set, "
                       "records, assign, diff, roles или note"),
            std::string::npos)
      << r.err;
  r = RunCli({"sites", "show", "5555", "--db", file_});
  EXPECT_EQ(r.exit_code, 17);
  EXPECT_NE(r.err.find("объекта 5555 нет в реестре"), std::string::npos) << r.err;
  r = RunCli({"sites", "show", "1024", "--at", "2024-02-01", "--db", file_});
  EXPECT_EQ(r.exit_code, 17);
  // A time that is no time is a mistake of the command line.
  r = RunCli({"sites", "export", "1024", "--at", "2024-13-01", "--out", "x.dat", "--db", file_});
  EXPECT_GT(r.exit_code, 100);
  EXPECT_NE(r.err.find("нужна дата"), std::string::npos) << r.err;
  ASSERT_TRUE(testing::SqlExec(dir_ / "registry.sqlite", "UPDATE lovar_schema SET version = 99"));
  r = RunCli({"sites", "list", "--db", file_});
  EXPECT_EQ(r.exit_code, 16);
  EXPECT_NE(r.err.find("реестр создан более новой версией программы"), std::string::npos) << r.err;
}

TEST(SitesSync, RecordsWaitingOnTheStationReachTheServerOnce) {
  std::string why;
  testing::PgServer* server = testing::PgServer::Shared(why);
  if (server == nullptr) GTEST_SKIP() << why;
  if (!server->Controlled()) GTEST_SKIP() << "the server is not this program's to stop";
  TempFolder data;
  // This station's own file, for the test and the programs it starts; unset however it ends.
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  const std::unique_ptr<void, void (*)(void*)> unset(&data,
                                                     [](void*) { unsetenv("XDG_DATA_HOME"); });
  const std::string uri = server->Uri(server->NewDatabase());
  RegistryOptions options;
  options.location = {true, uri};
  StoreResult opened;
  {
    auto registry = Registry::Open(options, opened);
    ASSERT_TRUE(registry) << opened.message;
    ASSERT_TRUE(server->Stop());
    const RecordResult kept = registry->Record(ReadRecord(251, "31", 1));
    ASSERT_TRUE(server->Start());
    ASSERT_EQ(kept.kept, RecordResult::Kept::Waiting) << kept.message;
  }
  RunResult r = RunCli({"sites", "list", "--db", uri});
  EXPECT_NE(r.err.find("ждут отправки на сервер записей: 1"), std::string::npos) << r.err;
  r = RunCli({"sites", "sync", "--db", uri});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Отправлено на " + server->Uri("", "", false)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": 1, уже были там: 0, ждут отправки: 0"), std::string::npos) << r.out;
  // The run that sent everything does not ask for another.
  EXPECT_EQ(r.err.find("sites sync"), std::string::npos) << r.err;
  r = RunCli({"sites", "sync", "--db", uri});
  EXPECT_NE(r.out.find(": 0, уже были там: 0, ждут отправки: 0"), std::string::npos) << r.out;
  r = RunCli({"sites", "list", "--db", uri});
  EXPECT_NE(r.out.find("31 "), std::string::npos) << r.out;
  EXPECT_EQ((r.out + r.err).find(server->password()), std::string::npos);
  // A record an older version kept for a string it misread, password and all: never shown.
  ASSERT_TRUE(
      testing::SqlExec(data / "lovar" / "registry.sqlite",
                       "UPDATE records SET waiting_for = 'postgresql://lovar2@Zq/9xW@k@h/db'"));
  r = RunCli({"sites", "sync", "--db", uri});
  EXPECT_NE(r.out.find("неверной строкой подключения: 1"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("9xW"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace lovar::e2e
