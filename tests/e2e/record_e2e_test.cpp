// End to end: lovar-cli read and write record into the registry of sites (a real SQLite file, a
// real PostgreSQL server), against the real lovar-sim on a pseudo-terminal.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../store/records.h"
#include "files/config_file.h"
#include "processes.h"
#include "sim/device_sim.h"
#include "store/registry.h"
#include "support/pg_server.h"

namespace lovar::e2e {
namespace {
using testing::TempFolder;

std::vector<RecordInfo> HistoryOf(const RegistryLocation& location, const std::string& object,
                                  int model = 251) {
  RegistryOptions options;
  options.location = location;
  StoreResult opened;
  const auto registry = Registry::Open(options, opened);
  std::vector<RecordInfo> history;
  if (registry == nullptr) {
    ADD_FAILURE() << opened.message;
    return history;
  }
  const StoreResult r = registry->History(model, object, history);
  EXPECT_TRUE(r.ok() || r.error == StoreError::NotFound) << r.message;
  return history;
}

std::vector<uint8_t> ImageOf(const RegistryLocation& location, const RecordInfo& info) {
  RegistryOptions options;
  options.location = location;
  StoreResult opened;
  const auto registry = Registry::Open(options, opened);
  std::vector<uint8_t> image;
  if (registry != nullptr) {
    EXPECT_TRUE(registry->Image(info.image_hash, image).ok());
  }
  return image;
}

// lovar-cli in a mount namespace of its own (a user namespace too when not root), after the
// shell commands setup: a library hidden or a disk filled without touching the machine's. The
// setup's "$0" is lovar-cli. Null where no such namespace can be had.
std::optional<RunResult> RunCliInOwnMounts(const std::string& setup,
                                           const std::vector<std::string>& args) {
  std::vector<std::string> command = {"--mount"};
  if (geteuid() != 0) command.push_back("--map-root-user");
  for (const std::string& a : {std::string("sh"), std::string("-c"),
                               setup + " && exec \"$0\" \"$@\"", std::string(LOVAR_CLI_PATH)})
    command.push_back(a);
  command.insert(command.end(), args.begin(), args.end());
  RunResult r = Run("/usr/bin/unshare", command);
  if (r.err.starts_with("unshare:")) return std::nullopt;
  return r;
}

TEST(RecordCli, ReadsAndWritesAreRecordedWithTheirOutcomes) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  const RegistryLocation file{false, db};
  SimProcess sim({"--model", "251"});
  const std::string object = ObjectNumber(251, SampleImage(251));

  RunResult r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "a.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<RecordInfo> history = HistoryOf(file, object);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].operation, RecordOperation::Read);
  EXPECT_EQ(history[0].outcome, RecordOutcome::Holds);
  EXPECT_EQ(history[0].port, sim.port());
  EXPECT_EQ(history[0].image_length, 4096);  // the keys too, not only what a file holds
  const std::vector<uint8_t> read = ImageOf(file, history[0]);
  const ConfigImage sample = SampleImage(251);
  EXPECT_TRUE(std::equal(read.begin(), read.end(), sample.bytes().begin()));

  // A changed file written: what the device now holds, proven, with its keys from the device.
  ConfigImage edited;
  int bytes = 0;
  ASSERT_TRUE(LoadWholeImage(dir / "a.dat", 251, edited, bytes).ok());
  edited[13] = static_cast<uint8_t>(edited[13] ^ 1);
  ASSERT_TRUE(SaveConfigFile(dir / "b.dat", 251, edited).ok());
  r = RunCli({"write", "-p", sim.port(), Utf8Of(dir / "b.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"write", "-p", sim.port(), Utf8Of(dir / "a.dat"), "--no-verify", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  history = HistoryOf(file, object);
  // read; read before the write, the write; read before the second, the second.
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[2].operation, RecordOperation::Write);
  EXPECT_EQ(history[2].outcome, RecordOutcome::Holds);
  std::vector<uint8_t> written = ImageOf(file, history[2]);
  ASSERT_EQ(written.size(), 4096u);
  EXPECT_EQ(written[13], edited[13]);
  EXPECT_TRUE(std::equal(written.begin() + 2048, written.end(), sample.bytes().begin() + 2048));
  EXPECT_EQ(history[3].outcome, RecordOutcome::Holds);  // the device held the edited image
  EXPECT_EQ(ImageOf(file, history[3]), written);
  EXPECT_EQ(history[4].outcome, RecordOutcome::Unproven);

  // --no-record: nothing more.
  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "c.dat"), "--db", db, "--no-record"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(HistoryOf(file, object).size(), 5u);
  // LOVAR_DB names the registry when --db does not; a connection string of the other form is
  // refused before the device is touched.
  setenv("LOVAR_DB", db.c_str(), 1);
  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "c.dat")});
  unsetenv("LOVAR_DB");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(HistoryOf(file, object).size(), 6u);
  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "d.dat"), "--db", "host=x"});
  EXPECT_EQ(r.exit_code, 16);
  EXPECT_NE(r.err.find("postgresql://"), std::string::npos) << r.err;
}

TEST(RecordCli, ModelsWithoutANumberAreRecordedUnderTheSiteNamed) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "r.sqlite");
  RunResult r = RunCli({"sites", "add", "ул. Ленина, 5", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"sites", "add", "пр. Мира, 3", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const auto& [model, site] : {std::pair{"250", "ул. Ленина, 5"}, std::pair{"252", "2"}}) {
    SimProcess sim({"--model", model});
    r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "a.dat"), "--db", db, "--site", site,
                "--operator", "Петров", "--note", "плановый осмотр"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  r = RunCli({"sites", "records", "ул. Ленина, 5", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Петров"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("плановый осмотр"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("250"), std::string::npos) << r.out;
  r = RunCli({"sites", "records", "пр. Мира, 3", "--db", db});
  EXPECT_NE(r.out.find("252"), std::string::npos) << r.out;
  // Two versions of a site by field; one version is no comparison.
  {
    ConfigImage changed = SampleImage(250);
    changed[117] = 9;  // the sounder's time
    const std::vector<uint8_t> bytes = SerializeConfigFile(250, changed);
    std::ofstream(dir / "changed.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    SimProcess again({"--model", "250", "--image", Utf8Of(dir / "changed.dat")});
    r = RunCli(
        {"read", "-p", again.port(), "-o", Utf8Of(dir / "c.dat"), "--db", db, "--site", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  r = RunCli({"sites", "diff", "ул. Ленина, 5", "--db", db});
  EXPECT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_NE(r.out.find("| sounder_time |"), std::string::npos) << r.out;
  r = RunCli({"sites", "diff", "2", "--db", db});
  EXPECT_EQ(r.exit_code, 17) << r.err;
  EXPECT_NE(r.err.find("меньше двух версий"), std::string::npos) << r.err;
  // For a spreadsheet and for programs.
  r = RunCli({"sites", "list", "--db", db, "--format", "csv"});
  EXPECT_TRUE(r.out.starts_with("\xEF\xBB\xBFОбъект;Модель;")) << r.out;
  EXPECT_NE(r.out.find(";Петров;2 пр. Мира, 3;обслуживается\r\n"), std::string::npos) << r.out;
  r = RunCli({"sites", "history", "--db", db, "--format", "json", ""});
  EXPECT_NE(r.out.find("\"note\": \"плановый осмотр\""), std::string::npos) << r.out;
  // A site the registry does not have: refused before the device is touched.
  SimProcess sim({"--model", "250"});
  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "b.dat"), "--db", db, "--site",
              "ул. Ленина, 7"});
  EXPECT_EQ(r.exit_code, 16) << r.err;
  EXPECT_NE(r.err.find("объекта «ул. Ленина, 7» в реестре нет"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("нет такой записи"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "b.dat"));
  // Without a site: "объект не указан", and put under one later.
  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "b.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  StoreResult opened;
  auto registry = testing::OpenFile(dir / "r.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  std::vector<RecordInfo> loose;
  ASSERT_TRUE(registry->SiteHistory(0, loose).ok());
  ASSERT_EQ(loose.size(), 1u);
  registry.reset();
  r = RunCli({"sites", "assign", loose[0].id, "2", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"sites", "note", loose[0].id, "ключ заменён", "--operator", "Сидоров", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"sites", "records", "2", "--db", db});
  EXPECT_NE(r.out.find("ключ заменён"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(loose[0].id), std::string::npos) << r.out;
  // The card: a new version per change; what is not given stays.
  r = RunCli({"sites", "set", "пр. Мира, 3", "--status", "removed", "--phones", "+7 900 1", "--db",
              db, "--operator", "Иванов"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"sites", "set", "2", "--status", "closed", "--db", db});
  EXPECT_NE(r.exit_code, 0);
  r = RunCli({"sites", "show", "2", "--card", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Объект: пр. Мира, 3\nЗаказчик: \nТелефоны: +7 900 1\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Состояние: снят"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Иванов"), std::string::npos) << r.out;
}

TEST(RecordCli, AWriteStoppedMidwayRecordsWhatTheDeviceMayHold) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  ConfigImage image = SampleImage(250);
  image[117] = static_cast<uint8_t>(image[117] ^ 1);
  ASSERT_TRUE(SaveConfigFile(dir / "a.dat", 250, image).ok());
  // The device stops answering in the middle of the write.
  SimProcess sim({"--model", "250", "--drop", "6/1"});
  const RunResult r =
      RunCli({"--retries", "0", "write", "-p", sim.port(), Utf8Of(dir / "a.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 6) << r.err;
  const std::vector<RecordInfo> history = HistoryOf({false, db}, "", 250);
  ASSERT_EQ(history.size(), 1u) << r.err;
  EXPECT_EQ(history[0].operation, RecordOperation::Write);
  EXPECT_EQ(history[0].outcome, RecordOutcome::Stopped);
  EXPECT_NE(history[0].message.find("Запись прервана"), std::string::npos) << history[0].message;
  EXPECT_EQ(history[0].image_length, 256);
}

TEST(RecordCli, AWriteThatNeverBeganIsRecordedForTheSiteOfItsFile) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  ConfigImage image = SampleImage(251);
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "object_number"), image, "4321", why));
  ASSERT_TRUE(SaveConfigFile(dir / "a.dat", 251, image).ok());
  // The device stops answering while it is read before the write.
  SimProcess sim({"--model", "251", "--drop", "20/1"});
  const RunResult r =
      RunCli({"--retries", "0", "write", "-p", sim.port(), Utf8Of(dir / "a.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 3) << r.err;
  const std::vector<RecordInfo> history = HistoryOf({false, db}, "4321");
  ASSERT_EQ(history.size(), 1u) << r.err;
  EXPECT_EQ(history[0].outcome, RecordOutcome::Failed);
}

TEST(RecordCli, ARecordKeptNowhereEndsWithItsOwnStatusAndTheReadStands) {
  SimProcess sim({"--model", "251"});
  const std::string folder = TempPath("full-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string db = folder + "/r.sqlite";
  // A registry made, then its disk filled by another file.
  const std::optional<RunResult> r = RunCliInOwnMounts(
      "mount -t tmpfs -o size=200k tmpfs " + folder + " && \"$0\" sites list --db " + db +
          " 2>/dev/null; dd if=/dev/zero of=" + folder + "/filler bs=4k 2>/dev/null; true",
      {"read", "-p", sim.port(), "-o", TempPath("full.dat"), "--db", db});
  std::filesystem::remove_all(folder);
  if (!r) GTEST_SKIP() << "no mount namespace of our own here";
  EXPECT_EQ(r->exit_code, 18) << r->err;
  EXPECT_NE(r->err.find("потеряно записей 1"), std::string::npos) << r->err;
  EXPECT_NE(r->out.find("Конфигурация сохранена"), std::string::npos) << r->out;
}

TEST(RecordCli, AServerStringThatCannotWorkIsRefusedBeforeTheDeviceAndNeverShown) {
  SimProcess sim({"--model", "250"}, /*log=*/true);
  TempFolder dir;
  // A raw "/" and "@" in the password: libpq would take "Zq" for a port and the rest for the
  // database, and the text naming the server would show it.
  for (const char* db : {"postgresql://lovar2:Zq/9xW@k@127.0.0.1/lovar",
                         "postgresql://lovar2@127.0.0.1/lovar?sslmode=verify",
                         "postgresql:///lovar", ":memory:", "service=office"}) {
    const RunResult r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "a.dat"), "--db", db});
    EXPECT_EQ(r.exit_code, 16) << db << ": " << r.err;
    EXPECT_EQ((r.out + r.err).find("9xW"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--no-record"), std::string::npos) << r.err;
  }
  const std::string log = sim.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;  // its start: never asked
  const RunResult r = RunCli({"sites", "sync", "--db", "postgresql://lovar2:Zq/9xW@k@h/lovar"});
  EXPECT_EQ(r.exit_code, 16);
  EXPECT_NE(r.err.find("%2F, %40 и %3F"), std::string::npos) << r.err;
  EXPECT_EQ((r.out + r.err).find("9xW"), std::string::npos) << r.err;

  // Without PostgreSQL's client library a server is said to need it; the file registry works.
  Dl_info library{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&PQlibVersion), &library), 0);
  const std::optional<RunResult> missing =
      RunCliInOwnMounts(std::string("mount --bind /dev/null ") + library.dli_fname,
                        {"sites", "list", "--db", "postgresql://lovar@127.0.0.1:1/lovar"});
  if (!missing) GTEST_SKIP() << "no mount namespace of our own here";
  EXPECT_EQ(missing->exit_code, 16) << missing->err;
  EXPECT_NE(missing->err.find("установите пакет libpq5"), std::string::npos) << missing->err;
}

TEST(RecordCli, ARecordForADeadServerWaitsOnTheStationAndGoesWhenItIsBack) {
  std::string why;
  testing::PgServer* server = testing::PgServer::Shared(why);
  if (server == nullptr) GTEST_SKIP() << why;
  if (!server->Controlled()) GTEST_SKIP() << "the server is not this program's to stop";
  const std::string uri = server->Uri(server->NewDatabase());
  SimProcess sim({"--model", "251"});
  TempFolder dir;
  const std::string object = ObjectNumber(251, SampleImage(251));

  ASSERT_TRUE(server->Stop());
  RunResult r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "a.dat"), "--db", uri});
  ASSERT_TRUE(server->Start());
  ASSERT_EQ(r.exit_code, 0) << r.err;  // the read is done; its record waits
  EXPECT_NE(r.err.find("ждёт отправки"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(server->password()), std::string::npos);

  r = RunCli({"read", "-p", sim.port(), "-o", Utf8Of(dir / "a.dat"), "--db", uri});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Отправлено на сервер записей, ждавших на этой станции: 1"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(HistoryOf({true, uri}, object).size(), 2u);
}

}  // namespace
}  // namespace lovar::e2e
