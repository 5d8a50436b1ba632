// The registry on a real PostgreSQL server shared by stations: its schema made once when they
// start at once, records of one site from two stations at once, the server stopped in the middle
// of a record, records waiting on the station and sent once, TLS, passwords never said.
#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <barrier>
#include <thread>

#include "records.h"
#include "schema_v1.h"
#include "store/postgres_roles.h"
#include "store/store_os.h"
#include "support/pg_server.h"

namespace lovar {
namespace {
using namespace testing;

class PostgresRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = PgServer::Shared(why);
    if (server_ == nullptr) {
      // Only a machine without PostgreSQL 15 (or, on Windows, without a server named) skips.
      if (why.starts_with("no PostgreSQL") || why.starts_with("LOVAR_TEST_PG")) GTEST_SKIP() << why;
      FAIL() << why;
    }
    db_ = server_->NewDatabase();
    ASSERT_FALSE(db_.empty());
  }

  RegistryOptions Options(const std::string& uri) const {
    RegistryOptions options;
    options.location = {true, uri};
    options.local_file = local_ / "local.sqlite";
    options.store.connect_timeout = std::chrono::seconds(3);
    return options;
  }
  std::unique_ptr<Registry> Open(const std::string& uri, StoreResult& result) const {
    return Registry::Open(Options(uri), result);
  }
  std::string Value(const std::string& sql) const {
    std::string value;
    EXPECT_TRUE(server_->Sql(db_, sql, &value)) << sql;
    return value;
  }

  PgServer* server_ = nullptr;
  std::string db_;
  TempFolder local_;
};

TEST_F(PostgresRegistry, TheSchemaIsMadeOnceWhenStationsStartAtOnce) {
  constexpr int kStations = 4;
  std::barrier start(kStations);
  std::vector<StoreResult> results(kStations);
  std::vector<std::thread> stations;
  for (int i = 0; i < kStations; ++i)
    stations.emplace_back([&, i] {
      start.arrive_and_wait();
      auto registry = Open(server_->Uri(db_), results[static_cast<size_t>(i)]);
      ReleaseThreadTls();
    });
  for (std::thread& t : stations) t.join();
  for (const StoreResult& r : results) EXPECT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(Value("SELECT count(*) || ' ' || max(version) FROM lovar.schema_info"),
            "1 " + std::to_string(kStoreSchemaVersion));
}

TEST_F(PostgresRegistry, RecordsAreSharedWithTheirHistoryAndImages) {
  StoreResult opened;
  auto registry = Open(server_->Uri(db_), opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_TRUE(registry->Notes().empty()) << registry->Notes()[0];  // TLS offered and used
  EXPECT_EQ(registry->Where(), server_->Uri(db_, "", /*with_password=*/false));
  ASSERT_EQ(registry->Record(ReadRecord(251, "1024", 1, 1'000)).kept,
            RecordResult::Kept::InRegistry);
  ASSERT_TRUE(registry->Record(ReadRecord(251, "1024", 2, 2'000)).ok());
  ASSERT_TRUE(registry->Record(ReadRecord(252, "", 1, 3'000)).ok());

  // Another station sees them.
  StoreResult other_opened;
  auto other = Open(server_->Uri(db_), other_opened);
  ASSERT_TRUE(other);
  std::vector<SiteSummary> sites;
  ASSERT_TRUE(other->Sites("1", sites).ok());
  ASSERT_EQ(sites.size(), 1u);
  EXPECT_EQ(sites[0].last.time, 2'000);
  std::vector<RecordInfo> history;
  ASSERT_TRUE(other->History(0, "1024", history).ok());
  ASSERT_EQ(history.size(), 2u);
  std::vector<uint8_t> image;
  ASSERT_TRUE(other->Image(history[0].image_hash, image).ok());
  EXPECT_EQ(image, SiteImage(251, "1024", 1));

  // A connection the user keeps unencrypted, and a server that offers no TLS, are said.
  auto plain = Open(server_->Uri(db_, "sslmode=disable"), other_opened);
  ASSERT_TRUE(plain);
  ASSERT_EQ(plain->Notes().size(), 1u);
  EXPECT_NE(plain->Notes()[0].find("не зашифровано (sslmode=disable)"), std::string::npos);
  ASSERT_TRUE(server_->Sql("postgres", "ALTER SYSTEM SET ssl = off"));
  ASSERT_TRUE(server_->Sql("postgres", "SELECT pg_reload_conf()"));
  // The server reloads its settings when it gets to it: a new session shows when it has.
  while (Value("SHOW ssl") != "off") {
  }
  auto no_tls = Open(server_->Uri(db_), other_opened);
  server_->Sql("postgres", "ALTER SYSTEM RESET ssl");
  server_->Sql("postgres", "SELECT pg_reload_conf()");
  while (Value("SHOW ssl") != "on") {
  }
  ASSERT_TRUE(no_tls);
  ASSERT_EQ(no_tls->Notes().size(), 1u);
  EXPECT_NE(no_tls->Notes()[0].find("сервер не предлагает TLS"), std::string::npos);
}

TEST_F(PostgresRegistry, TwoStationsRecordTheSameSiteAtOnce) {
  constexpr int kEach = 40;
  std::barrier start(2);
  std::vector<int> failures(2);
  std::vector<std::thread> stations;
  for (int s = 0; s < 2; ++s)
    stations.emplace_back([&, s] {
      StoreResult opened;
      auto registry = Open(server_->Uri(db_), opened);
      start.arrive_and_wait();
      for (int i = 0; i < kEach; ++i)
        if (!registry ||
            registry->Record(ReadRecord(251, "555", i % 10)).kept != RecordResult::Kept::InRegistry)
          ++failures[static_cast<size_t>(s)];
      registry.reset();
      ReleaseThreadTls();
    });
  for (std::thread& t : stations) t.join();
  EXPECT_EQ(failures, std::vector<int>({0, 0}));
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.records"), std::to_string(2 * kEach));
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.sites"), "1");
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.images"), "10");
}

TEST_F(PostgresRegistry, ARecordCutByTheServersStopWaitsOnTheStationAndIsSentOnce) {
  if (!server_->Controlled()) GTEST_SKIP() << "the server is not this program's to stop";
  RegistryOptions options = Options(server_->Uri(db_));
  options.store.busy_wait = std::chrono::minutes(2);  // the record waits for the lock below
  StoreResult opened;
  auto registry = Registry::Open(options, opened);
  ASSERT_TRUE(registry) << opened.message;
  ASSERT_TRUE(registry->Record(ReadRecord(251, "42", 1)).ok());

  // Another session holds the records table: the record's site and image are in, its row
  // waits. Then the server stops on the spot (a fast shutdown would end the other session
  // first, and the record might slip in before its own session ends).
  PGconn* holder = PQconnectdb(server_->Uri(db_, "sslmode=disable").c_str());
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE lovar.records IN EXCLUSIVE MODE"));
  RecordResult cut;
  std::thread station([&] { cut = registry->Record(ReadRecord(251, "42", 2)); });
  for (std::string waiting = "0"; waiting == "0";)
    waiting = Value("SELECT count(*) FROM pg_locks WHERE NOT granted");
  ASSERT_TRUE(server_->Stop(/*immediately=*/true));
  station.join();
  PQfinish(holder);
  EXPECT_EQ(cut.kept, RecordResult::Kept::Waiting) << cut.message;
  EXPECT_NE(cut.message.find("ждёт отправки"), std::string::npos) << cut.message;
  EXPECT_EQ(cut.message.find(server_->password()), std::string::npos);
  EXPECT_EQ(registry->WaitingCount(), 1);
  EXPECT_EQ(registry->ServerState().error, StoreError::Unreachable);
  EXPECT_EQ(registry->Sync().result.error, StoreError::Unreachable);

  ASSERT_TRUE(server_->Start());
  // Nothing of the cut record reached the server: not its row, not its image.
  EXPECT_EQ(
      Value("SELECT count(*) || ' ' || (SELECT count(*) FROM lovar.images) FROM lovar.records"),
      "1 1");
  SyncResult sync = registry->Sync();
  EXPECT_TRUE(sync.result.ok()) << sync.result.message;
  EXPECT_EQ(sync.sent, 1);
  EXPECT_EQ(sync.left, 0);
  EXPECT_EQ(
      Value("SELECT count(*) || ' ' || (SELECT count(*) FROM lovar.images) FROM lovar.records"),
      "2 2");
  // A sync cut short after the server took a record sends it again: it is kept once.
  ASSERT_TRUE(SqlExec(local_ / "local.sqlite",
                      "UPDATE records SET waiting_for = '" + registry->Where() + "'"));
  sync = registry->Sync();
  EXPECT_EQ(sync.sent, 0);
  EXPECT_EQ(sync.already, 1);
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.records"), "2");
  EXPECT_EQ(registry->WaitingCount(), 0);
}

TEST_F(PostgresRegistry, AServerOutOfReachOrRefusingNeverHearsOrShowsThePassword) {
  // Nothing listens on port 1: refused at once.
  const std::string unreachable =
      "postgresql://lovar_admin:" + std::string("s3cr%40t") + "@127.0.0.1:1/" + db_;
  StoreResult opened;
  auto registry = Open(unreachable, opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_EQ(registry->ServerState().error, StoreError::Unreachable);
  EXPECT_NE(registry->ServerState().message.find("сервер реестра недоступен"), std::string::npos);
  const RecordResult waiting = registry->Record(ReadRecord(250, "", 1));
  EXPECT_EQ(waiting.kept, RecordResult::Kept::Waiting);
  EXPECT_EQ(registry->WaitingCount(), 1);
  for (const std::string& text :
       {registry->Where(), registry->ServerState().message, waiting.message}) {
    EXPECT_EQ(text.find("s3cr"), std::string::npos) << text;
    EXPECT_NE(text.find("lovar_admin@127.0.0.1:1"), std::string::npos) << text;
  }

  const std::string wrong = server_->Uri(db_, "", false);
  const std::string with_wrong =
      wrong.substr(0, wrong.find('@')) + ":N0tIt@" + wrong.substr(wrong.find('@') + 1);
  // A wrong password would keep records waiting for ever: refused before anything is done.
  EXPECT_FALSE(Open(with_wrong, opened));
  EXPECT_EQ(opened.error, StoreError::Denied);
  EXPECT_NE(opened.message.find("неверное имя пользователя или пароль"), std::string::npos)
      << opened.message;
  EXPECT_EQ(opened.message.find("N0tIt"), std::string::npos);
}

TEST_F(PostgresRegistry, EachWrongAnswerHasItsOwnWordsAndOnlyAServerOutOfReachQueues) {
  const std::string certificate = server_->CertificateFile();
  if (certificate.empty()) GTEST_SKIP() << "the server's certificate is not this program's";
  struct Case {
    std::string uri;
    StoreError error;
    const char* said;
  };
  std::string localhost = server_->Uri(db_, "sslmode=verify-full&sslrootcert=" + certificate);
  localhost.replace(localhost.find("127.0.0.1"), 9, "localhost");
  for (const Case& c : {
           Case{server_->Uri("no_such_db"), StoreError::NoDatabase, "«no_such_db» на сервере нет"},
           Case{server_->Uri(db_, "passfile=/nonexistent", false), StoreError::Denied,
                "сервер требует пароль"},
           Case{server_->Uri(db_,
                             "sslmode=verify-full&sslrootcert=/etc/ssl/certs/"
                             "ca-certificates.crt"),
                StoreError::Tls, "сертификат сервера не прошёл проверку"},
           Case{server_->Uri(db_, "sslmode=verify-full&sslrootcert=/nonexistent.crt"),
                StoreError::Tls, "нет файла корневого сертификата"},
           Case{localhost, StoreError::Tls, "выдан другому имени"},
       }) {
    StoreResult opened;
    EXPECT_FALSE(Open(c.uri, opened)) << c.uri;
    EXPECT_EQ(opened.error, c.error) << opened.message;
    EXPECT_NE(opened.message.find(c.said), std::string::npos) << opened.message;
    EXPECT_EQ(opened.message.find(server_->password()), std::string::npos);
  }
  StoreResult opened;
  EXPECT_TRUE(Open(server_->Uri(db_, "sslmode=verify-full&sslrootcert=" + certificate), opened))
      << opened.message;

  // A record that meets another station's lock for longer than the wait is said so, and waits.
  RegistryOptions options = Options(server_->Uri(db_));
  options.store.busy_wait = std::chrono::milliseconds(300);
  auto registry = Registry::Open(options, opened);
  ASSERT_TRUE(registry) << opened.message;
  PGconn* holder = PQconnectdb(server_->Uri(db_, "sslmode=disable").c_str());
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE lovar.sites IN EXCLUSIVE MODE"));
  const RecordResult locked = registry->Record(ReadRecord(251, "77", 1));
  PQfinish(holder);
  EXPECT_EQ(locked.kept, RecordResult::Kept::Waiting);
  EXPECT_NE(locked.message.find("держит реестр дольше ожидания"), std::string::npos)
      << locked.message;
}

TEST_F(PostgresRegistry, AStationWithTheRightsReadmeGrantsRecordsAndReads) {
  StoreResult opened;
  ASSERT_TRUE(Open(server_->Uri(db_), opened));  // the owner makes the tables
  const std::string role = "station_" + db_;
  ASSERT_TRUE(server_->Sql(db_, "CREATE ROLE " + role +
                                    " LOGIN PASSWORD 'st'; GRANT CONNECT ON DATABASE " + db_ +
                                    " TO " + role + "; GRANT USAGE ON SCHEMA lovar TO " + role +
                                    "; GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA lovar TO " +
                                    role + "; GRANT UPDATE ON lovar.settings TO " + role));
  std::string uri = server_->Uri(db_, "", false);
  uri.replace(uri.find("lovar_admin"), 11, role + ":st");
  auto station = Open(uri, opened);
  ASSERT_TRUE(station) << opened.message;
  EXPECT_EQ(station->Record(ReadRecord(251, "8", 1)).kept, RecordResult::Kept::InRegistry);
  std::vector<SiteSummary> sites;
  EXPECT_TRUE(station->Sites("", sites).ok());
  EXPECT_EQ(sites.size(), 1u);
}

TEST_F(PostgresRegistry, ARegistryOfANewerVersionIsRefusedAndLeftAsItWas) {
  StoreResult opened;
  ASSERT_TRUE(Open(server_->Uri(db_), opened));
  ASSERT_TRUE(server_->Sql(db_, "UPDATE lovar.schema_info SET version = 7, program = '9.0'"));
  auto refused = Open(server_->Uri(db_), opened);
  EXPECT_FALSE(refused);
  EXPECT_EQ(opened.error, StoreError::NewerSchema);
  EXPECT_NE(opened.message.find("реестр создан более новой версией программы"), std::string::npos);
  EXPECT_EQ(Value("SELECT version || ' ' || program FROM lovar.schema_info"), "7 9.0");
  EXPECT_EQ(Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'lovar'"), "19");
}

TEST_F(PostgresRegistry, AFirstVersionSchemaIsTakenInWithoutLoss) {
  ASSERT_TRUE(server_->Sql(db_, SchemaV1("lovar.", true)));
  StoreResult opened;
  auto registry = Open(server_->Uri(db_), opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_EQ(Value("SELECT version FROM lovar.schema_info"), std::to_string(kStoreSchemaVersion));
  std::vector<SiteEntry> sites;
  ASSERT_TRUE(registry->SiteList(sites).ok());
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_EQ(sites[0].card.name, "Объект 1024");
  EXPECT_EQ(sites[1].card.name, "Объект 77");
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->SiteHistory(sites[0].card.site, history).ok());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].time, 2000);
  ASSERT_TRUE(registry->SiteHistory(0, history).ok());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].model, 250);
  EXPECT_EQ(history[1].model, 252);
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.records"), "5");
  // New sites are numbered after the ones taken in.
  const RecordResult kept = registry->Record(ReadRecord(251, "555", 1));
  ASSERT_TRUE(kept.ok()) << kept.message;
  EXPECT_GT(kept.site, sites[1].card.site);
}

TEST_F(PostgresRegistry, TheServerStampsTimeAndLoginWhateverTheStationSends) {
  StoreResult opened;
  auto registry = Open(server_->Uri(db_), opened);
  ASSERT_TRUE(registry) << opened.message;
  // A station whose clock is an hour behind (its store, as the registry fills the record): the
  // record's time is the server's, the station's beside it.
  SiteRecord record = ReadRecord(251, "1024", 1);
  const StoreTime hour = 3'600'000'000;
  const StoreTime before = StoreTimeNow();
  record.info.id = NewRecordId();
  record.info.station = "pc-7";
  record.info.operator_name = "ivan";
  record.info.program_version = "test";
  record.info.time = before - hour;
  record.info.late = false;
  OpenedStore store = OpenPostgresStore(server_->Uri(db_), {});
  ASSERT_TRUE(store.store) << store.result.message;
  AddedRecord added;
  ASSERT_TRUE(store.store->Add(record, {}, added).ok());
  EXPECT_GE(added.arrived, before - 60'000'000);  // the server's clock is this machine's
  RecordInfo info;
  ASSERT_TRUE(registry->FindRecord(record.info.id, info).ok());
  EXPECT_EQ(info.time, info.arrived);
  EXPECT_EQ(info.station_time, before - hour);
  EXPECT_EQ(info.role, Value("SELECT session_user"));
  // The client cannot set them: the trigger has the last word.
  ASSERT_TRUE(
      server_->Sql(db_,
                   "INSERT INTO lovar.records (record_id, model, station_us, at_us, time_us, "
                   "role, station, operator, port, device, operation, outcome, message, "
                   "program) VALUES ('forged', 251, 1, 1, 1, 'admin', '', '', '', '', "
                   "'read', 'holds', '', '')"));
  EXPECT_EQ(Value("SELECT (at_us > 1 AND time_us = at_us AND role = session_user)::text FROM "
                  "lovar.records WHERE record_id = 'forged'"),
            "true");
}

// A login of the role given, on this test's database; its connection string.
std::string LoginOf(PgServer& server, const std::string& db, const std::string& role,
                    const std::string& login) {
  EXPECT_TRUE(server.Sql(db, "DROP ROLE IF EXISTS " + login + "; CREATE ROLE " + login +
                                 " LOGIN PASSWORD 'pw' IN ROLE " + role +
                                 "; GRANT CONNECT ON DATABASE " + db + " TO " + login));
  std::string uri = server.Uri(db, "", false);
  uri.replace(uri.find("lovar_admin"), 11, login + ":pw");
  return uri;
}

// The first column of the first row of sql as login, or the server's SQLSTATE when refused.
std::string AsLogin(const std::string& uri, const std::string& sql) {
  PGconn* conn = PQconnectdb(uri.c_str());
  PGresult* r = PQexec(conn, sql.c_str());
  std::string out;
  if (PQresultStatus(r) == PGRES_TUPLES_OK)
    out = PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
  else if (PQresultStatus(r) == PGRES_COMMAND_OK)
    out = std::string("ok ") + PQcmdTuples(r);
  else if (const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE))
    out = state;
  PQclear(r);
  PQfinish(conn);
  return out;
}

TEST_F(PostgresRegistry, TheRolesKeepStationsToAddingAndTheOfficeFromClearCodes) {
  ASSERT_TRUE(ApplyPostgresRoles(server_->Uri(db_), {}).ok());
  ASSERT_TRUE(ApplyPostgresRoles(server_->Uri(db_), {}).ok());  // run again: the same
  const std::string station = LoginOf(*server_, db_, "lovar_station", "st_" + db_);
  const std::string office = LoginOf(*server_, db_, "lovar_office", "of_" + db_);

  // A station records (a new site, its card, the image), reads, takes in an archive mark twice.
  StoreResult opened;
  auto registry = Open(station, opened);
  ASSERT_TRUE(registry) << opened.message;
  SiteRecord record = ReadRecord(251, "1024", 1);
  const RecordResult kept = registry->Record(record);
  ASSERT_EQ(kept.kept, RecordResult::Kept::InRegistry) << kept.message;
  ASSERT_TRUE(
      registry->AddNote(Value("SELECT record_id FROM lovar.records"), "осмотр", "Петров").ok());
  // A read that found the device changed behind the registry's back keeps the fields, and the
  // site is listed as drifted until a newer proven record.
  SiteRecord drifted = ReadRecord(251, "1024", 2);
  drifted.info.drift = "password,direction1.phone";
  drifted.info.drift_base = "base-id";
  ASSERT_EQ(registry->Record(drifted).kept, RecordResult::Kept::InRegistry);
  std::vector<SiteEntry> sites;
  ASSERT_TRUE(registry->DriftedSites(0, sites).ok());
  ASSERT_EQ(sites.size(), 1u);
  EXPECT_EQ(sites[0].last.drift, "password,direction1.phone");
  EXPECT_EQ(sites[0].last.drift_base, "base-id");
  EXPECT_EQ(AsLogin(office, "SELECT fields FROM lovar.record_drift"), "password,direction1.phone");
  ASSERT_EQ(registry->Record(ReadRecord(251, "1024", 3)).kept, RecordResult::Kept::InRegistry);
  ASSERT_TRUE(registry->DriftedSites(0, sites).ok());
  EXPECT_TRUE(sites.empty());
  // ...but the server refuses it any change or removal.
  for (const char* sql :
       {"UPDATE lovar.records SET message = 'x'", "DELETE FROM lovar.records",
        "DELETE FROM lovar.record_drift", "UPDATE lovar.record_drift SET fields = 'x'",
        "UPDATE lovar.site_cards SET name = 'x'", "DELETE FROM lovar.record_notes",
        "UPDATE lovar.record_sites SET site = NULL", "DELETE FROM lovar.images",
        "UPDATE lovar.settings SET value = 'x'", "TRUNCATE lovar.sites CASCADE"})
    EXPECT_EQ(AsLogin(station, sql), "42501") << sql;
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.records"), "3");

  // The office sees the history, no image in clear, the masked ones with the codes blanked.
  EXPECT_EQ(AsLogin(office, "SELECT count(*) FROM lovar.records"), "3");
  EXPECT_EQ(AsLogin(office, "SELECT count(*) FROM lovar.images WHERE data IS NOT NULL"), "42501");
  const Field* key = FindFieldById(251, "key1.code");
  ASSERT_NE(key, nullptr);
  const std::string at = std::to_string(key->offset);
  EXPECT_EQ(AsLogin(office, "SELECT get_byte(image, " + at +
                                ")::text || ' ' || length(image) FROM lovar.record_images_masked"),
            "0 4096");
  EXPECT_EQ(Value("SELECT get_byte(image, " + at + ")::text FROM lovar.record_images_masked"), "0");
  EXPECT_EQ(std::to_string(record.image[static_cast<size_t>(key->offset)]) + " " +
                std::to_string(record.image.size()),
            AsLogin(server_->Uri(db_),
                    "SELECT get_byte(lovar.unpacked(codec, data), " + at +
                        ")::text || ' ' || length(lovar.unpacked(codec, data)) FROM lovar.images"));
  // Everything else of the image is as kept.
  const Field* phone = FindFieldById(251, "direction1.phone");
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(AsLogin(office, "SELECT get_byte(image, " + std::to_string(phone->offset) +
                                ")::text FROM lovar.record_images_masked"),
            std::to_string(record.image[static_cast<size_t>(phone->offset)]));

  // An admin's change is kept in the log.
  ASSERT_TRUE(server_->Sql(db_, "UPDATE lovar.records SET message = 'исправлено'"));
  EXPECT_EQ(Value("SELECT operation || ' ' || table_name || ' ' || (new_row->>'message') || ' ' || "
                  "(role = session_user) FROM lovar.admin_log WHERE table_name <> 'code_ranges'"),
            "UPDATE records исправлено true");
}

TEST_F(PostgresRegistry, ClearCodesOnlyThroughTheLoggedFunctionAndOnlyTheAdminPurges) {
  ASSERT_TRUE(ApplyPostgresRoles(server_->Uri(db_), {}).ok());
  const std::string station = LoginOf(*server_, db_, "lovar_station", "st_" + db_);
  const std::string office = LoginOf(*server_, db_, "lovar_office", "of_" + db_);
  const std::string codes = LoginOf(*server_, db_, "lovar_office", "cd_" + db_);
  ASSERT_TRUE(server_->Sql(db_, "GRANT lovar_codes TO cd_" + db_));
  StoreResult opened;
  auto at_station = Open(station, opened);
  ASSERT_TRUE(at_station) << opened.message;
  SiteRecord record = ReadRecord(251, "1024", 1);
  Registry::Stamp(record);
  ASSERT_EQ(at_station->Record(record).kept, RecordResult::Kept::InRegistry);

  // A station restores a device from an image: through the function, logged.
  std::vector<uint8_t> image;
  ASSERT_TRUE(at_station->ClearImage(record.info.id, CodesAccess::Restore, "Петров", image).ok());
  EXPECT_EQ(image, record.image);
  // The office: neither the function nor the bytes; with lovar_codes, the function only.
  auto at_office = Open(office, opened);
  ASSERT_TRUE(at_office) << opened.message;
  EXPECT_EQ(at_office->ClearImage(record.info.id, CodesAccess::Show, "", image).error,
            StoreError::Denied);
  for (const std::string* login : {&office, &codes, &station})
    EXPECT_EQ(AsLogin(*login, "SELECT count(*) FROM lovar.images WHERE data IS NOT NULL"), "42501");
  auto with_codes = Open(codes, opened);
  ASSERT_TRUE(with_codes) << opened.message;
  ASSERT_TRUE(with_codes->ClearImage(record.info.id, CodesAccess::Show, "Анна", image).ok());
  EXPECT_EQ(image, record.image);
  // Each read in the log, by its login; the office reads the log, nobody but the admin writes it.
  EXPECT_EQ(Value("SELECT string_agg(role || ' ' || why || ' ' || technician, ', ' ORDER BY id) "
                  "FROM lovar.access_log"),
            "st_" + db_ + " restore Петров, cd_" + db_ + " show Анна");
  std::vector<AccessEntry> log;
  ASSERT_TRUE(at_office->AccessLog(0, log).ok());
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(AsLogin(station, "INSERT INTO lovar.access_log (record, why) VALUES ('x', 'show')"),
            "42501");
  EXPECT_EQ(AsLogin(station, "SELECT count(*) FROM lovar.access_log"), "42501");

  // A station corrects a record with a new one; the old one is shown as such.
  std::string correction;
  ASSERT_TRUE(at_station->Supersede(record.info.id, 0, "не тот техник", "Петров", correction).ok());
  RecordInfo old;
  ASSERT_TRUE(at_office->FindRecord(record.info.id, old).ok());
  EXPECT_EQ(old.superseded_by, correction);

  // A removed site: the station may not purge it, the server refuses the admin's rows to it.
  const int64_t site = old.site;
  SiteEntry entry;
  ASSERT_TRUE(at_station->Site(site, entry).ok());
  entry.card.status = "removed";
  ASSERT_TRUE(at_station->AddCard(entry.card).ok());
  int images = 0;
  EXPECT_EQ(at_station->Purge(site, "", images).error, StoreError::Denied);
  EXPECT_EQ(AsLogin(station, "INSERT INTO lovar.purges (site, images) VALUES (" +
                                 std::to_string(site) + ", 0)"),
            "42501");
  auto admin = Open(server_->Uri(db_), opened);
  ASSERT_TRUE(admin) << opened.message;
  ASSERT_TRUE(admin->Purge(site, "Иванов", images).ok());
  EXPECT_EQ(images, 1);
  ASSERT_TRUE(admin->ClearImage(correction, CodesAccess::Show, "", image).ok());
  const Field* key = FindFieldById(251, "key1.code");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(image[static_cast<size_t>(key->offset)], 0);
  EXPECT_NE(record.image[static_cast<size_t>(key->offset)], 0);
  EXPECT_EQ(Value("SELECT images || ' ' || technician || ' ' || (role = session_user) "
                  "FROM lovar.purges"),
            "1 Иванов true");
  // No copy of the codes left behind: not the old image, not in the admin's log.
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.images"), "1");
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.admin_log WHERE old_row ? 'data'"), "0");
  EXPECT_EQ(Value("SELECT count(*) FROM lovar.admin_log WHERE table_name = 'records'"), "2");
  // A site still served is refused by the server itself, whoever asks.
  SiteCard served;
  served.name = "пр. Мира, 3";
  int64_t other = 0;
  ASSERT_TRUE(admin->NewSite(served, other).ok());
  EXPECT_FALSE(server_->Sql(
      db_, "INSERT INTO lovar.purges (site, images) VALUES (" + std::to_string(other) + ", 0)"));
  EXPECT_FALSE(admin->Purge(other, "", images).ok());
}

}  // namespace
}  // namespace lovar
