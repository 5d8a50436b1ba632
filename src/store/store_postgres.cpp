// The store on a PostgreSQL server that the stations of an office share. Its tables live in the
// schema "lovar"; the program makes and updates them itself, under an advisory lock, so that
// stations that start at once do it once. Each record is one transaction; two stations
// recording the same site at once both get their record, and the site and an image of the same
// hash are kept once. A record sent again (a sync after a lost answer) is kept once, by its id.
//
// The connection is encrypted where the server offers TLS (libpq's sslmode "prefer" unless the
// string says otherwise); when it is not, Notes() says so. Passwords never leave this file in a
// message. Each failure is said in its own words: only a server that cannot be reached (or is
// starting, stopping, out of connections) is Unreachable or Busy, for which records wait; a
// wrong string, database, password or certificate is refused as such.
//
// libpq is reached through its table (pq_api.h): on Linux it is loaded here, on first use.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <utility>

#include "store/image_pack.h"
#include "store/postgres_location.h"
#include "store/pq_api.h"
#include "store/sha256.h"
#include "store/site_store.h"
#include "store/store_internal.h"
#include "store/store_os.h"
#include "store/store_transaction.h"
#include "version/version.h"

namespace lovar {
namespace {

constexpr const char* kSteps[] = {
    // 1: as the SQLite file's first step, in the schema lovar.
    R"sql(
CREATE SCHEMA IF NOT EXISTS lovar;
CREATE TABLE lovar.schema_info (
  id integer PRIMARY KEY CHECK (id = 1),
  version integer NOT NULL,
  program text NOT NULL);
CREATE TABLE lovar.sites (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  model integer NOT NULL,
  object text NOT NULL,
  UNIQUE (model, object));
CREATE TABLE lovar.images (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  hash text NOT NULL UNIQUE,
  length integer NOT NULL,
  codec integer NOT NULL,
  data bytea NOT NULL);
CREATE TABLE lovar.records (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  record_id text NOT NULL UNIQUE,
  site bigint NOT NULL REFERENCES lovar.sites (id),
  at_us bigint NOT NULL,
  station text NOT NULL,
  operator text NOT NULL,
  port text NOT NULL,
  device text NOT NULL,
  operation text NOT NULL,
  outcome text NOT NULL,
  message text NOT NULL,
  image bigint REFERENCES lovar.images (id),
  program text NOT NULL,
  waiting_for text);
CREATE INDEX sites_by_object ON lovar.sites (object);
CREATE INDEX records_by_site ON lovar.records (site, at_us);
CREATE INDEX records_waiting ON lovar.records (waiting_for) WHERE waiting_for IS NOT NULL;
CREATE TABLE lovar.settings (
  key text PRIMARY KEY,
  value text NOT NULL);
INSERT INTO lovar.schema_info (id, version, program) VALUES (1, 0, '');
)sql",
};
static_assert(std::size(kSteps) == kStoreSchemaVersion);

// pg_advisory_xact_lock's key for the schema's changes: "lovar" in ASCII.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(465558626674)";

constexpr const char* kRecordColumns =
    "r.record_id, r.at_us, r.station, r.operator, r.port, s.model, r.device, s.object, "
    "r.operation, r.outcome, r.message, r.program, i.hash, i.length";
constexpr const char* kRecordJoins =
    " FROM lovar.records r JOIN lovar.sites s ON s.id = r.site "
    "LEFT JOIN lovar.images i ON i.id = r.image ";

// The first line of a libpq message, without its trailing break and without any password.
std::string OneLine(const char* text, const std::string& conninfo) {
  std::string line = text != nullptr ? text : "";
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return WithoutPassword(line, conninfo);
}

bool Contains(std::string_view text, std::initializer_list<std::string_view> any) {
  return std::any_of(any.begin(), any.end(),
                     [&](std::string_view word) { return text.find(word) != text.npos; });
}

// The SQLSTATE in a message of the server that libpq made verbose ("FATAL:  3D000: database
// …"); "" when the message is libpq's own.
std::string_view SqlState(std::string_view text) {
  for (size_t at = text.find(":  "); at != text.npos; at = text.find(":  ", at + 1)) {
    const std::string_view code = text.substr(at + 3, 6);
    if (code.size() == 6 && code[5] == ':' && std::all_of(code.begin(), code.end() - 1, [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
        }))
      return code.substr(0, 5);
  }
  return {};
}

// The server's refusal as the store's error, in the program's words; detail: the server's own
// text, kept only where the code says nothing more.
StoreResult ServerFailure(std::string_view code, const std::string& detail,
                          const std::string& dbname) {
  const auto is = [&](std::string_view prefix) { return code.starts_with(prefix); };
  if (code == "57P03")
    return StoreFailure(StoreError::Unreachable, "сервер запускается или останавливается");
  if (is("08") || is("57P0"))
    return StoreFailure(StoreError::Unreachable, "соединение с сервером потеряно");
  if (code == "28P01")
    return StoreFailure(StoreError::Denied, "неверное имя пользователя или пароль");
  if (is("28"))
    return StoreFailure(StoreError::Denied,
                        "вход не разрешён: нет такого пользователя или разрешения для этого адреса "
                        "в pg_hba.conf");
  if (code == "42501")
    return StoreFailure(StoreError::Denied, "у пользователя нет прав на это (" + detail + ")");
  if (code == "3D000")
    return StoreFailure(StoreError::NoDatabase, "базы данных «" + dbname + "» на сервере нет");
  if (code == "25006") return StoreFailure(StoreError::ReadOnly, "сервер принимает только чтение");
  if (code == "53100") return StoreFailure(StoreError::Full, "на сервере нет места на диске");
  if (code == "53300") return StoreFailure(StoreError::Busy, "на сервере нет свободных соединений");
  if (code == "55P03")
    return StoreFailure(StoreError::Busy, "запись другой станции держит реестр дольше ожидания");
  if (code == "57014") return StoreFailure(StoreError::Busy, "запрос не выполнен вовремя");
  if (code == "40001" || code == "40P01")
    return StoreFailure(StoreError::Busy, "столкновение с записью другой станции");
  return StoreFailure(StoreError::Failed, detail);
}

class Result {
 public:
  explicit Result(const PqApi& pq, PGresult* result = nullptr) : pq_(&pq), result_(result) {}
  ~Result() { pq_->PQclear(result_); }
  Result(Result&& other) noexcept
      : pq_(other.pq_), result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&& other) noexcept {
    std::swap(pq_, other.pq_);
    std::swap(result_, other.result_);
    return *this;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  PGresult* get() const { return result_; }
  bool ok() const {
    const ExecStatusType status = pq_->PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  int rows() const { return pq_->PQntuples(result_); }
  std::string Text(int row, int column) const {
    return std::string(pq_->PQgetvalue(result_, row, column),
                       static_cast<size_t>(pq_->PQgetlength(result_, row, column)));
  }
  bool Null(int row, int column) const { return pq_->PQgetisnull(result_, row, column) == 1; }
  int64_t Int(int row, int column) const {
    int64_t value = 0;
    const char* text = pq_->PQgetvalue(result_, row, column);
    std::from_chars(text, text + pq_->PQgetlength(result_, row, column), value);
    return value;
  }
  std::span<const uint8_t> Bytes(int row, int column) const {
    return {reinterpret_cast<const uint8_t*>(pq_->PQgetvalue(result_, row, column)),
            static_cast<size_t>(pq_->PQgetlength(result_, row, column))};
  }

 private:
  const PqApi* pq_;
  PGresult* result_;
};

// Parameters of one statement: text, except blobs, which go as binary.
class Params {
 public:
  Params& Add(std::string_view text) {
    texts_.emplace_back(text);
    blobs_.push_back(nullptr);
    return *this;
  }
  Params& Add(int64_t value) { return Add(std::to_string(value)); }
  Params& AddNull() {
    texts_.emplace_back();
    blobs_.push_back(nullptr);
    nulls_.push_back(texts_.size() - 1);
    return *this;
  }
  Params& AddBlob(const std::vector<uint8_t>& bytes) {
    texts_.emplace_back();
    blobs_.push_back(&bytes);
    return *this;
  }
  PGresult* Exec(const PqApi& pq, PGconn* conn, const char* sql, int result_format = 0) const {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (size_t i = 0; i < texts_.size(); ++i) {
      const bool null = std::find(nulls_.begin(), nulls_.end(), i) != nulls_.end();
      if (blobs_[i] != nullptr) {
        values.push_back(reinterpret_cast<const char*>(blobs_[i]->data()));
        lengths.push_back(static_cast<int>(blobs_[i]->size()));
        formats.push_back(1);
      } else {
        values.push_back(null ? nullptr : texts_[i].c_str());
        lengths.push_back(0);
        formats.push_back(0);
      }
    }
    return pq.PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                           lengths.data(), formats.data(), result_format);
  }

 private:
  std::vector<std::string> texts_;
  std::vector<const std::vector<uint8_t>*> blobs_;
  std::vector<size_t> nulls_;
};

RecordInfo ReadInfo(const Result& r, int row) {
  RecordInfo info;
  info.id = r.Text(row, 0);
  info.time = r.Int(row, 1);
  info.station = r.Text(row, 2);
  info.operator_name = r.Text(row, 3);
  info.port = r.Text(row, 4);
  info.model = static_cast<int>(r.Int(row, 5));
  info.device_line = r.Text(row, 6);
  info.object = r.Text(row, 7);
  OperationOfCode(r.Text(row, 8), info.operation);
  OutcomeOfCode(r.Text(row, 9), info.outcome);
  info.message = r.Text(row, 10);
  info.program_version = r.Text(row, 11);
  info.image_hash = r.Text(row, 12);
  info.image_length = static_cast<int>(r.Int(row, 13));
  return info;
}

uint32_t BigEndian32(const uint8_t* b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

class PostgresStore final : public SiteStore {
 public:
  PostgresStore(const PqApi& pq, std::string conninfo, PostgresLocation location,
                const StoreOptions& options)
      : pq_(pq),
        conninfo_(std::move(conninfo)),
        location_(std::move(location)),
        where_(PostgresWhere(conninfo_)),
        options_(options) {}
  ~PostgresStore() override { pq_.PQfinish(conn_); }

  StoreResult Open();

  std::string Where() const override { return where_; }
  std::vector<std::string> Notes() const override { return notes_; }
  StoreResult Add(const SiteRecord& record, std::string_view waiting_for, bool& added) override;
  StoreResult Sites(std::string_view prefix, std::vector<SiteSummary>& out) override;
  StoreResult History(int model, std::string_view object, std::vector<RecordInfo>& out) override;
  StoreResult Image(std::string_view hash, std::vector<uint8_t>& out) override;
  StoreResult Waiting(std::string_view target, int limit, std::vector<SiteRecord>& out) override;
  StoreResult WaitingCounts(std::vector<std::pair<std::string, int>>& out) override;
  StoreResult MarkSent(const std::vector<std::string>& ids) override;
  StoreResult Setting(std::string_view key, std::string& value, bool& found) override;
  StoreResult SetSetting(std::string_view key, std::string_view value) override;

 private:
  StoreResult Connect();
  // Why the connection could not be made, as the store's error.
  StoreResult ConnectFailure(bool timed_out, int seconds) const;
  // A lost connection is made again once (the server restarted, an idle link dropped).
  StoreResult EnsureConnected() {
    if (conn_ != nullptr && pq_.PQstatus(conn_) == CONNECTION_OK) return {};
    return Connect();
  }
  // The server's codes, and a lost connection, as the store's errors.
  StoreResult Failure(const PGresult* result) const;
  StoreResult Exec(const char* sql) {
    Result r(pq_, pq_.PQexec(conn_, sql));
    return r.ok() ? StoreResult{} : Failure(r.get());
  }
  // One statement on the connection as it is (inside a transaction: never made again).
  StoreResult Query(const char* sql, const Params& params, Result& out, int format = 0) {
    out = Result(pq_, params.Exec(pq_, conn_, sql, format));
    return out.ok() ? StoreResult{} : Failure(out.get());
  }
  // One statement of its own: the connection made again first when it was lost.
  StoreResult Ask(const char* sql, const Params& params, Result& out, int format = 0) {
    const StoreResult r = EnsureConnected();
    return r.ok() ? Query(sql, params, out, format) : r;
  }
  StoreResult Ask(const std::string& sql, const Params& params, Result& out) {
    return Ask(sql.c_str(), params, out);
  }
  StoreResult ReadVersion(int& version);
  StoreResult Migrate();
  // The connection made again first when it was lost, then body inside BEGIN ... COMMIT,
  // rolled back when body fails or throws (StoreTransaction).
  template <typename Body>
  StoreResult Transaction(Body body) {
    const StoreResult r = EnsureConnected();
    return r.ok() ? InTransaction(*this, "BEGIN", body) : r;
  }
  friend class StoreTransaction<PostgresStore>;
  void RollBack() noexcept {
    if (pq_.PQstatus(conn_) == CONNECTION_OK) Result(pq_, pq_.PQexec(conn_, "ROLLBACK"));
  }
  StoreResult AddOnce(const SiteRecord& record, std::string_view waiting_for, bool& added);
  StoreResult ReadInfos(const std::string& sql, const Params& params,
                        std::vector<RecordInfo>& out) {
    Result r(pq_);
    StoreResult result = Ask(sql, params, r);
    if (!result.ok()) return result;
    for (int row = 0; row < r.rows(); ++row) out.push_back(ReadInfo(r, row));
    return {};
  }
  // The database libpq connects to: the string's, else the user's name.
  std::string Database() const {
    for (const std::string& name : {location_.Parameter("dbname"), location_.dbname,
                                    location_.Parameter("user"), location_.user})
      if (!name.empty()) return name;
    return {};
  }

  const PqApi& pq_;
  std::string conninfo_;
  PostgresLocation location_;
  std::string where_;
  StoreOptions options_;
  PGconn* conn_ = nullptr;
  std::vector<std::string> notes_;
};

StoreResult PostgresStore::Failure(const PGresult* result) const {
  if (conn_ == nullptr || pq_.PQstatus(conn_) != CONNECTION_OK)
    return StoreFailure(StoreError::Unreachable, "соединение с сервером потеряно");
  const std::string detail =
      OneLine(result != nullptr ? pq_.PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr,
              conninfo_);
  const char* state =
      result != nullptr ? pq_.PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return ServerFailure(state != nullptr ? state : "",
                       detail.empty() ? OneLine(pq_.PQerrorMessage(conn_), conninfo_) : detail,
                       Database());
}

StoreResult PostgresStore::ConnectFailure(bool timed_out, int seconds) const {
  const std::string text = pq_.PQerrorMessage(conn_) != nullptr ? pq_.PQerrorMessage(conn_) : "";
  // The server's own refusal carries its code (the connection's messages are verbose).
  if (const std::string_view code = SqlState(text); !code.empty())
    return ServerFailure(code, OneLine(text.c_str(), conninfo_), Database());
  if (pq_.PQconnectionNeedsPassword(conn_) == 1)
    return StoreFailure(StoreError::Denied,
                        "сервер требует пароль: храните его в ~/.pgpass (Windows: "
                        "%APPDATA%\\postgresql\\pgpass.conf)");
  // libpq's own words, in English or in the user's language (its translations).
  const std::string sslmode = location_.Parameter("sslmode");
  if (Contains(text, {"does not support SSL", "не поддерживает SSL"}))
    return StoreFailure(StoreError::Tls,
                        "сервер не предлагает TLS, а строка подключения требует "
                        "его (sslmode=" +
                            sslmode + ")");
  if (Contains(text, {"root certificate file", "корневого сертификата"}))
    return StoreFailure(StoreError::Tls,
                        "нет файла корневого сертификата, которым проверять сервер (sslrootcert)");
  if (Contains(text, {"does not match host name", "не соответствует имени"}))
    return StoreFailure(StoreError::Tls, "сертификат сервера выдан другому имени");
  if (Contains(text, {"certificate", "сертификат"}))
    return StoreFailure(StoreError::Tls,
                        "сертификат сервера не прошёл проверку (sslmode=" + sslmode + ")");
  if (timed_out)
    return StoreFailure(StoreError::Unreachable,
                        "сервер не ответил за " + std::to_string(seconds) + " с");
  if (Contains(text, {"could not translate host name", "не удалось сопоставить имя"}))
    return StoreFailure(StoreError::Unreachable, "имя сервера не найдено");
  if (Contains(text, {"Connection refused", "отказано в соединении", "Отказано в соединении"}))
    return StoreFailure(StoreError::Unreachable,
                        "сервер отказал в соединении: он не запущен или порт закрыт");
  if (Contains(text, {"timeout expired", "тайм-аут"}))
    return StoreFailure(StoreError::Unreachable,
                        "сервер не ответил за " + std::to_string(seconds) + " с");
  return StoreFailure(StoreError::Unreachable, OneLine(text.c_str(), conninfo_));
}

StoreResult PostgresStore::Connect() {
  pq_.PQfinish(conn_);
  conn_ = nullptr;
  // libpq keeps to connect_timeout only when it waits itself: here the wait is ours, so that
  // its refusals come with the server's codes. The string's own time-out wins over ours.
  int seconds = static_cast<int>(options_.connect_timeout.count());
  if (const std::string own = location_.Parameter("connect_timeout"); !own.empty())
    seconds = own == "0" ? 0 : std::max(2, std::stoi(own));
  const std::string timeout = std::to_string(seconds);
  // Ours first: whatever the string itself says wins over them, except the encoding.
  const char* keywords[] = {
      "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
      "tcp_user_timeout", "dbname",           "client_encoding", nullptr};
  const char* values[] = {timeout.c_str(), "lovar",           "15",   "5",
                          "30000",         conninfo_.c_str(), "UTF8", nullptr};
  conn_ = pq_.PQconnectStartParams(keywords, values, /*expand_dbname=*/1);
  if (conn_ == nullptr) return StoreFailure(StoreError::Failed, "нет памяти для соединения");
  pq_.PQsetErrorVerbosity(conn_, PQERRORS_VERBOSE);
  // Signed: an unsigned count would make the time left after the deadline a huge one, and
  // the wait below endless.
  const auto hosts = static_cast<std::int64_t>(std::max<size_t>(1, location_.hosts.size()));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) * hosts;
  bool timed_out = false;
  for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;
       pq_.PQstatus(conn_) != CONNECTION_BAD && state != PGRES_POLLING_OK &&
       state != PGRES_POLLING_FAILED;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (seconds > 0 && left.count() <= 0) {
      timed_out = true;
      break;
    }
    if (WaitForSocket(pq_.PQsocket(conn_), state == PGRES_POLLING_WRITING,
                      seconds > 0 ? static_cast<int>(left.count()) : -1) == 0)
      continue;  // the deadline says whether to go on
    state = pq_.PQconnectPoll(conn_);
  }
  if (timed_out || pq_.PQstatus(conn_) != CONNECTION_OK) return ConnectFailure(timed_out, seconds);
  pq_.PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
  // The server's notices (of CREATE ... IF NOT EXISTS) are no concern of the user's.
  pq_.PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  const std::string settings = "SET lock_timeout = '" + std::to_string(options_.busy_wait.count()) +
                               "ms'; SET statement_timeout = '120s'" +
                               (options_.durable ? "" : "; SET synchronous_commit = off");
  return Exec(settings.c_str());
}

StoreResult PostgresStore::ReadVersion(int& version) {
  version = 0;
  Result tables(pq_);
  StoreResult r = Query(
      "SELECT count(*), count(*) FILTER (WHERE tablename = 'schema_info') FROM pg_tables "
      "WHERE schemaname = 'lovar'",
      Params(), tables);
  if (!r.ok()) return r;
  if (tables.Int(0, 0) == 0) return {};
  if (tables.Int(0, 1) != 1) return StoreFailure(StoreError::NotRegistry, "схема lovar");
  Result row(pq_);
  r = Query("SELECT version FROM lovar.schema_info WHERE id = 1", Params(), row);
  if (!r.ok()) return r;
  if (row.rows() != 1) return StoreFailure(StoreError::NotRegistry, "схема lovar");
  version = static_cast<int>(row.Int(0, 0));
  return {};
}

StoreResult PostgresStore::Migrate() {
  return Transaction([&]() -> StoreResult {
    StoreResult r = Exec(kSchemaLock);
    int version = 0;
    if (r.ok()) r = ReadVersion(version);
    for (int step = version + 1; r.ok() && step <= kStoreSchemaVersion; ++step)
      r = Exec(kSteps[step - 1]);
    if (!r.ok() || version >= kStoreSchemaVersion) return r;
    Result done(pq_);
    return Query("UPDATE lovar.schema_info SET version = $1, program = $2 WHERE id = 1",
                 Params().Add(int64_t{kStoreSchemaVersion}).Add(kVersion), done);
  });
}

StoreResult PostgresStore::Open() {
  // libpq's own reading of the string, beside ours (ParsePostgresLocation).
  char* error = nullptr;
  PQconninfoOption* options = pq_.PQconninfoParse(conninfo_.c_str(), &error);
  const std::string why = OneLine(error, conninfo_);
  pq_.PQfreemem(error);
  if (options == nullptr)
    return StoreFailure(StoreError::BadLocation, "libpq не принимает её: " + why);
  pq_.PQconninfoFree(options);
  StoreResult r = Connect();
  if (!r.ok()) return r;
  if (pq_.PQserverVersion(conn_) < 100000)
    return StoreFailure(StoreError::Failed, "нужен сервер PostgreSQL 10 или новее");
  int version = 0;
  r = ReadVersion(version);
  if (!r.ok()) return r;
  if (version > kStoreSchemaVersion)
    return StoreFailure(StoreError::NewerSchema,
                        "схема " + std::to_string(version) + ", эта программа знает схему " +
                            std::to_string(kStoreSchemaVersion) + "; обновите программу");
  if (version < kStoreSchemaVersion) r = Migrate();
  if (!r.ok()) return r;
  const char* host = pq_.PQhost(conn_);
  const bool socket = host == nullptr || host[0] == '/' || host[0] == '\0';
  if (!socket && pq_.PQsslInUse(conn_) == 0)
    notes_.push_back("соединение с сервером " + where_ + " не зашифровано" +
                     (location_.Parameter("sslmode") == "disable" ? " (sslmode=disable)"
                                                                  : ": сервер не предлагает TLS"));
  return {};
}

StoreResult PostgresStore::AddOnce(const SiteRecord& record, std::string_view waiting_for,
                                   bool& added) {
  const RecordInfo& info = record.info;
  return Transaction([&]() -> StoreResult {
    // A record sent again is kept once, and brings nothing of its own along (the insert below
    // still guards against a station sending it at this very moment).
    Result known(pq_);
    StoreResult r =
        Query("SELECT 1 FROM lovar.records WHERE record_id = $1", Params().Add(info.id), known);
    if (!r.ok() || known.rows() > 0) return r;
    Result site(pq_);
    r = Query(
        "INSERT INTO lovar.sites (model, object) VALUES ($1, $2) ON CONFLICT (model, object) "
        "DO NOTHING",
        Params().Add(int64_t{info.model}).Add(info.object), site);
    if (r.ok())
      r = Query("SELECT id FROM lovar.sites WHERE model = $1 AND object = $2",
                Params().Add(int64_t{info.model}).Add(info.object), site);
    if (!r.ok()) return r;
    Params add;
    add.Add(info.id)
        .Add(site.Int(0, 0))
        .Add(info.time)
        .Add(info.station)
        .Add(info.operator_name)
        .Add(info.port)
        .Add(info.device_line)
        .Add(OperationCode(info.operation))
        .Add(OutcomeCode(info.outcome))
        .Add(info.message)
        .Add(info.program_version);
    if (!record.image.empty()) {
      const std::string hash = Sha256Hex(record.image);
      const PackedImage packed = PackImage(record.image);
      Result image(pq_);
      r = Query(
          "INSERT INTO lovar.images (hash, length, codec, data) VALUES ($1, $2, $3, $4) "
          "ON CONFLICT (hash) DO NOTHING",
          Params()
              .Add(hash)
              .Add(static_cast<int64_t>(record.image.size()))
              .Add(int64_t{packed.codec})
              .AddBlob(packed.data),
          image);
      if (r.ok())
        r = Query("SELECT id FROM lovar.images WHERE hash = $1", Params().Add(hash), image);
      if (!r.ok()) return r;
      add.Add(image.Int(0, 0));
    } else {
      add.AddNull();
    }
    if (waiting_for.empty())
      add.AddNull();
    else
      add.Add(waiting_for);
    Result inserted(pq_);
    r = Query(
        "INSERT INTO lovar.records (record_id, site, at_us, station, operator, port, device, "
        "operation, outcome, message, program, image, waiting_for) VALUES "
        "($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) "
        "ON CONFLICT (record_id) DO NOTHING",
        add, inserted);
    added = r.ok() && std::strcmp(pq_.PQcmdTuples(inserted.get()), "1") == 0;
    return r;
  });
}

StoreResult PostgresStore::Add(const SiteRecord& record, std::string_view waiting_for,
                               bool& added) {
  added = false;
  std::string why;
  if (!ValidRecord(record, why)) return StoreFailure(StoreError::Failed, why);
  StoreResult r = AddOnce(record, waiting_for, added);
  // A connection lost before or inside the transaction: once more on a new one. Even if the
  // first commit did reach the server, the record is kept once, by its id.
  if (r.error == StoreError::Unreachable && Connect().ok()) r = AddOnce(record, waiting_for, added);
  return r;
}

StoreResult PostgresStore::Sites(std::string_view prefix, std::vector<SiteSummary>& out) {
  out.clear();
  Result rows(pq_);
  const StoreResult r =
      Ask(std::string("SELECT ") + kRecordColumns +
              " FROM lovar.sites s CROSS JOIN LATERAL (SELECT * FROM lovar.records r2 "
              "WHERE r2.site = s.id ORDER BY r2.at_us DESC, r2.id DESC LIMIT 1) r "
              "LEFT JOIN lovar.images i ON i.id = r.image "
              "WHERE left(s.object, length($1)) = $1",
          Params().Add(prefix), rows);
  if (!r.ok()) return r;
  for (int row = 0; row < rows.rows(); ++row) {
    SiteSummary site;
    site.last = ReadInfo(rows, row);
    site.model = site.last.model;
    site.object = site.last.object;
    out.push_back(std::move(site));
  }
  SortSites(out);
  return {};
}

StoreResult PostgresStore::History(int model, std::string_view object,
                                   std::vector<RecordInfo>& out) {
  out.clear();
  return ReadInfos(std::string("SELECT ") + kRecordColumns + kRecordJoins +
                       "WHERE s.object = $1 AND ($2 = 0 OR s.model = $2) ORDER BY r.at_us, r.id",
                   Params().Add(object).Add(int64_t{model}), out);
}

StoreResult PostgresStore::Image(std::string_view hash, std::vector<uint8_t>& out) {
  Result row(pq_);
  const StoreResult r = Ask("SELECT length, codec, data FROM lovar.images WHERE hash = $1",
                            Params().Add(hash), row, /*binary=*/1);
  if (!r.ok()) return r;
  if (row.rows() != 1) return StoreFailure(StoreError::NotFound, "образ " + std::string(hash));
  const std::span<const uint8_t> packed = row.Bytes(0, 2);
  if (row.Bytes(0, 0).size() != 4 || row.Bytes(0, 1).size() != 4)
    return StoreFailure(StoreError::NotRegistry, "образ " + std::string(hash) + " повреждён");
  const size_t length = BigEndian32(row.Bytes(0, 0).data());
  const int codec = static_cast<int>(BigEndian32(row.Bytes(0, 1).data()));
  if (!UnpackImage(codec, packed, length, out) || Sha256Hex(out) != hash)
    return StoreFailure(StoreError::NotRegistry, "образ " + std::string(hash) + " повреждён");
  return {};
}

StoreResult PostgresStore::Waiting(std::string_view target, int limit,
                                   std::vector<SiteRecord>& out) {
  out.clear();
  std::vector<RecordInfo> infos;
  StoreResult r = ReadInfos(std::string("SELECT ") + kRecordColumns + kRecordJoins +
                                "WHERE r.waiting_for = $1 ORDER BY r.at_us, r.id LIMIT $2",
                            Params().Add(target).Add(int64_t{limit}), infos);
  for (RecordInfo& info : infos) {
    if (!r.ok()) break;
    SiteRecord record;
    if (!info.image_hash.empty()) r = Image(info.image_hash, record.image);
    record.info = std::move(info);
    out.push_back(std::move(record));
  }
  return r;
}

StoreResult PostgresStore::WaitingCounts(std::vector<std::pair<std::string, int>>& out) {
  out.clear();
  Result rows(pq_);
  const StoreResult r =
      Ask("SELECT waiting_for, count(*) FROM lovar.records WHERE waiting_for IS NOT NULL "
          "GROUP BY waiting_for ORDER BY waiting_for",
          Params(), rows);
  for (int row = 0; r.ok() && row < rows.rows(); ++row)
    out.emplace_back(rows.Text(row, 0), static_cast<int>(rows.Int(row, 1)));
  return r;
}

StoreResult PostgresStore::MarkSent(const std::vector<std::string>& ids) {
  if (ids.empty()) return EnsureConnected();
  return Transaction([&]() -> StoreResult {
    for (const std::string& id : ids) {
      Result done(pq_);
      const StoreResult step =
          Query("UPDATE lovar.records SET waiting_for = NULL WHERE record_id = $1",
                Params().Add(id), done);
      if (!step.ok()) return step;
    }
    return {};
  });
}

StoreResult PostgresStore::Setting(std::string_view key, std::string& value, bool& found) {
  found = false;
  Result row(pq_);
  const StoreResult r =
      Ask("SELECT value FROM lovar.settings WHERE key = $1", Params().Add(key), row);
  if (r.ok() && row.rows() == 1) {
    found = true;
    value = row.Text(0, 0);
  }
  return r;
}

StoreResult PostgresStore::SetSetting(std::string_view key, std::string_view value) {
  Result done(pq_);
  return Ask(
      "INSERT INTO lovar.settings (key, value) VALUES ($1, $2) "
      "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
      Params().Add(key).Add(value), done);
}

}  // namespace

OpenedStore OpenPostgresStore(const std::string& conninfo, const StoreOptions& options) {
  OpenedStore opened;
  PostgresLocation location;
  std::string why;
  if (!ParsePostgresLocation(conninfo, location, why)) {
    opened.result = StoreFailure(StoreError::BadLocation, why);
    return opened;
  }
  const PqApi* pq = LoadPq(why);
  if (pq == nullptr) {
    opened.result = StoreFailure(StoreError::NoClient, why);
    return opened;
  }
  auto store = std::make_unique<PostgresStore>(*pq, conninfo, std::move(location), options);
  opened.result = store->Open();
  if (opened.result.ok()) opened.store = std::move(store);
  return opened;
}

}  // namespace lovar
