// The store on a PostgreSQL server that the stations of an office share. Its tables live in the
// schema "lovar"; the program makes and updates them itself, under an advisory lock, so that
// stations that start at once do it once. Each record is one transaction; two stations
// recording the same site at once both get their record, and the site and an image of the same
// hash are kept once. A record sent again (a sync after a lost answer) is kept once, by its id.
//
// The connection is encrypted where the server offers TLS (libpq's sslmode "prefer" unless the
// string says otherwise); when it is not, Notes() says so. Passwords never leave this file in a
// message.
#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

#include "store/image_pack.h"
#include "store/postgres_location.h"
#include "store/sha256.h"
#include "store/site_store.h"
#include "store/store_internal.h"
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

struct Conninfo {
  PQconninfoOption* options = nullptr;
  explicit Conninfo(const std::string& text) {
    char* error = nullptr;
    options = PQconninfoParse(text.c_str(), &error);
    PQfreemem(error);
  }
  ~Conninfo() { PQconninfoFree(options); }
  std::string Value(std::string_view key) const {
    for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o)
      if (key == o->keyword && o->val != nullptr) return o->val;
    return {};
  }
};

// The first line of a libpq message, without its trailing break and without any password.
std::string OneLine(const char* text, const std::string& conninfo) {
  std::string line = text != nullptr ? text : "";
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return WithoutPassword(line, conninfo);
}

class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&& other) noexcept {
    std::swap(result_, other.result_);
    return *this;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  PGresult* get() const { return result_; }
  bool ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  int rows() const { return PQntuples(result_); }
  std::string Text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<size_t>(PQgetlength(result_, row, column)));
  }
  bool Null(int row, int column) const { return PQgetisnull(result_, row, column) == 1; }
  int64_t Int(int row, int column) const {
    int64_t value = 0;
    const char* text = PQgetvalue(result_, row, column);
    std::from_chars(text, text + PQgetlength(result_, row, column), value);
    return value;
  }

 private:
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
  PGresult* Exec(PGconn* conn, const char* sql, int result_format = 0) const {
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
    return PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
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

uint32_t BigEndian32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

class PostgresStore final : public SiteStore {
 public:
  PostgresStore(std::string conninfo, const StoreOptions& options)
      : conninfo_(std::move(conninfo)), where_(PostgresWhere(conninfo_)), options_(options) {}
  ~PostgresStore() override { PQfinish(conn_); }

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
  // A lost connection is made again once (the server restarted, an idle link dropped).
  StoreResult EnsureConnected() {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return {};
    return Connect();
  }
  // The server's codes, and a lost connection, as the store's errors.
  StoreResult Failure(const PGresult* result) const;
  StoreResult Exec(const char* sql) {
    Result r(PQexec(conn_, sql));
    return r.ok() ? StoreResult{} : Failure(r.get());
  }
  StoreResult Query(const char* sql, const Params& params, Result& out, int format = 0) {
    out = Result(params.Exec(conn_, sql, format));
    return out.ok() ? StoreResult{} : Failure(out.get());
  }
  StoreResult ReadVersion(int& version);
  StoreResult Migrate();
  // BEGIN ... COMMIT around body; rolled back when body fails.
  template <typename Body>
  StoreResult Transaction(Body body) {
    StoreResult r = Exec("BEGIN");
    if (!r.ok()) return r;
    r = body();
    if (r.ok()) r = Exec("COMMIT");
    if (!r.ok() && PQstatus(conn_) == CONNECTION_OK) Result(PQexec(conn_, "ROLLBACK"));
    return r;
  }
  StoreResult AddOnce(const SiteRecord& record, std::string_view waiting_for, bool& added);
  StoreResult ReadInfos(const char* sql, const Params& params, std::vector<RecordInfo>& out) {
    Result r(nullptr);
    StoreResult result = Query(sql, params, r);
    if (!result.ok()) return result;
    for (int row = 0; row < r.rows(); ++row) out.push_back(ReadInfo(r, row));
    return {};
  }

  std::string conninfo_;
  std::string where_;
  StoreOptions options_;
  PGconn* conn_ = nullptr;
  std::vector<std::string> notes_;
};

StoreResult PostgresStore::Failure(const PGresult* result) const {
  const std::string detail = OneLine(
      result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr, conninfo_);
  const std::string connection = OneLine(PQerrorMessage(conn_), conninfo_);
  if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK)
    return StoreFailure(StoreError::Unreachable, connection);
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string_view code = state != nullptr ? state : "";
  const auto is = [&](std::string_view prefix) { return code.starts_with(prefix); };
  StoreError error = StoreError::Failed;
  if (is("08") || is("57P0"))
    error = StoreError::Unreachable;
  else if (is("28") || code == "42501")
    error = StoreError::Denied;
  else if (code == "25006")
    error = StoreError::ReadOnly;
  else if (code == "53100")
    error = StoreError::Full;
  else if (code == "40001" || code == "40P01" || code == "55P03" || code == "57014")
    error = StoreError::Busy;
  return StoreFailure(error, detail.empty() ? connection : detail);
}

StoreResult PostgresStore::Connect() {
  PQfinish(conn_);
  // Ours first: whatever the string itself says wins over them, except the encoding.
  const std::string timeout = std::to_string(options_.connect_timeout.count());
  const char* keywords[] = {
      "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
      "tcp_user_timeout", "dbname",           "client_encoding", nullptr};
  const char* values[] = {timeout.c_str(), "lovar",           "15",   "5",
                          "30000",         conninfo_.c_str(), "UTF8", nullptr};
  conn_ = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = OneLine(PQerrorMessage(conn_), conninfo_);
    const bool refused = why.find("password") != std::string::npos ||
                         why.find("authentication") != std::string::npos ||
                         why.find("pg_hba.conf") != std::string::npos;
    return StoreFailure(refused ? StoreError::Denied : StoreError::Unreachable, why);
  }
  // The server's notices (of CREATE ... IF NOT EXISTS) are no concern of the user's.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  const std::string settings = "SET lock_timeout = '" + std::to_string(options_.busy_wait.count()) +
                               "ms'; SET statement_timeout = '120s'" +
                               (options_.durable ? "" : "; SET synchronous_commit = off");
  return Exec(settings.c_str());
}

StoreResult PostgresStore::ReadVersion(int& version) {
  version = 0;
  Result tables(nullptr);
  StoreResult r = Query(
      "SELECT count(*), count(*) FILTER (WHERE tablename = 'schema_info') FROM pg_tables "
      "WHERE schemaname = 'lovar'",
      Params(), tables);
  if (!r.ok()) return r;
  if (tables.Int(0, 0) == 0) return {};
  if (tables.Int(0, 1) != 1) return StoreFailure(StoreError::NotRegistry, "схема lovar");
  Result row(nullptr);
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
    Result done(nullptr);
    return Query("UPDATE lovar.schema_info SET version = $1, program = $2 WHERE id = 1",
                 Params().Add(int64_t{kStoreSchemaVersion}).Add(kVersion), done);
  });
}

StoreResult PostgresStore::Open() {
  Conninfo parsed(conninfo_);
  if (parsed.options == nullptr)
    return StoreFailure(StoreError::Failed, "неверная строка подключения " + where_);
  StoreResult r = Connect();
  if (!r.ok()) return r;
  if (PQserverVersion(conn_) < 100000)
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
  const char* host = PQhost(conn_);
  const bool socket = host == nullptr || host[0] == '/' || host[0] == '\0';
  if (!socket && PQsslInUse(conn_) == 0)
    notes_.push_back("соединение с сервером " + where_ + " не зашифровано" +
                     (parsed.Value("sslmode") == "disable" ? " (sslmode=disable)"
                                                           : ": сервер не предлагает TLS"));
  return {};
}

StoreResult PostgresStore::AddOnce(const SiteRecord& record, std::string_view waiting_for,
                                   bool& added) {
  const RecordInfo& info = record.info;
  return Transaction([&]() -> StoreResult {
    // A record sent again is kept once, and brings nothing of its own along (the insert below
    // still guards against a station sending it at this very moment).
    Result known(nullptr);
    StoreResult r =
        Query("SELECT 1 FROM lovar.records WHERE record_id = $1", Params().Add(info.id), known);
    if (!r.ok() || known.rows() > 0) return r;
    Result site(nullptr);
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
      Result image(nullptr);
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
    Result inserted(nullptr);
    r = Query(
        "INSERT INTO lovar.records (record_id, site, at_us, station, operator, port, device, "
        "operation, outcome, message, program, image, waiting_for) VALUES "
        "($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) "
        "ON CONFLICT (record_id) DO NOTHING",
        add, inserted);
    added = r.ok() && std::strcmp(PQcmdTuples(inserted.get()), "1") == 0;
    return r;
  });
}

StoreResult PostgresStore::Add(const SiteRecord& record, std::string_view waiting_for,
                               bool& added) {
  added = false;
  std::string why;
  if (!ValidRecord(record, why)) return StoreFailure(StoreError::Failed, why);
  StoreResult r = EnsureConnected();
  if (r.ok()) r = AddOnce(record, waiting_for, added);
  // A connection lost before or inside the transaction: once more on a new one. Even if the
  // first commit did reach the server, the record is kept once, by its id.
  if (r.error == StoreError::Unreachable && Connect().ok()) r = AddOnce(record, waiting_for, added);
  return r;
}

StoreResult PostgresStore::Sites(std::string_view prefix, std::vector<SiteSummary>& out) {
  out.clear();
  StoreResult r = EnsureConnected();
  Result rows(nullptr);
  if (r.ok())
    r = Query((std::string("SELECT ") + kRecordColumns +
               " FROM lovar.sites s CROSS JOIN LATERAL (SELECT * FROM lovar.records r2 "
               "WHERE r2.site = s.id ORDER BY r2.at_us DESC, r2.id DESC LIMIT 1) r "
               "LEFT JOIN lovar.images i ON i.id = r.image "
               "WHERE left(s.object, length($1)) = $1")
                  .c_str(),
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
  const StoreResult r = EnsureConnected();
  if (!r.ok()) return r;
  return ReadInfos((std::string("SELECT ") + kRecordColumns + kRecordJoins +
                    "WHERE s.object = $1 AND ($2 = 0 OR s.model = $2) ORDER BY r.at_us, r.id")
                       .c_str(),
                   Params().Add(object).Add(int64_t{model}), out);
}

StoreResult PostgresStore::Image(std::string_view hash, std::vector<uint8_t>& out) {
  StoreResult r = EnsureConnected();
  Result row(nullptr);
  if (r.ok())
    r = Query("SELECT length, codec, data FROM lovar.images WHERE hash = $1", Params().Add(hash),
              row, /*binary=*/1);
  if (!r.ok()) return r;
  if (row.rows() != 1) return StoreFailure(StoreError::NotFound, "образ " + std::string(hash));
  const auto* data = reinterpret_cast<const uint8_t*>(PQgetvalue(row.get(), 0, 2));
  const std::span<const uint8_t> packed(data, static_cast<size_t>(PQgetlength(row.get(), 0, 2)));
  const size_t length = BigEndian32(PQgetvalue(row.get(), 0, 0));
  const int codec = static_cast<int>(BigEndian32(PQgetvalue(row.get(), 0, 1)));
  if (!UnpackImage(codec, packed, length, out) || Sha256Hex(out) != hash)
    return StoreFailure(StoreError::NotRegistry, "образ " + std::string(hash) + " повреждён");
  return {};
}

StoreResult PostgresStore::Waiting(std::string_view target, int limit,
                                   std::vector<SiteRecord>& out) {
  out.clear();
  std::vector<RecordInfo> infos;
  StoreResult r = EnsureConnected();
  if (r.ok())
    r = ReadInfos((std::string("SELECT ") + kRecordColumns + kRecordJoins +
                   "WHERE r.waiting_for = $1 ORDER BY r.at_us, r.id LIMIT $2")
                      .c_str(),
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
  StoreResult r = EnsureConnected();
  Result rows(nullptr);
  if (r.ok())
    r = Query(
        "SELECT waiting_for, count(*) FROM lovar.records WHERE waiting_for IS NOT NULL "
        "GROUP BY waiting_for ORDER BY waiting_for",
        Params(), rows);
  for (int row = 0; r.ok() && row < rows.rows(); ++row)
    out.emplace_back(rows.Text(row, 0), static_cast<int>(rows.Int(row, 1)));
  return r;
}

StoreResult PostgresStore::MarkSent(const std::vector<std::string>& ids) {
  StoreResult r = EnsureConnected();
  if (!r.ok() || ids.empty()) return r;
  return Transaction([&]() -> StoreResult {
    for (const std::string& id : ids) {
      Result done(nullptr);
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
  StoreResult r = EnsureConnected();
  Result row(nullptr);
  if (r.ok()) r = Query("SELECT value FROM lovar.settings WHERE key = $1", Params().Add(key), row);
  if (r.ok() && row.rows() == 1) {
    found = true;
    value = row.Text(0, 0);
  }
  return r;
}

StoreResult PostgresStore::SetSetting(std::string_view key, std::string_view value) {
  StoreResult r = EnsureConnected();
  Result done(nullptr);
  if (r.ok())
    r = Query(
        "INSERT INTO lovar.settings (key, value) VALUES ($1, $2) "
        "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
        Params().Add(key).Add(value), done);
  return r;
}

// "%41" → "A"; a malformed escape stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int value = 0;
    if (text[i] == '%' && i + 2 < text.size() &&
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
            text.data() + i + 3) {
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

// Masks the value after each "password=" up to the next separator.
void MaskPasswordParameters(std::string& text) {
  static constexpr std::string_view kKey = "password=";
  for (size_t at = text.find(kKey); at != std::string::npos; at = text.find(kKey, at + 1)) {
    const size_t start = at + kKey.size();
    size_t end = start;
    if (end < text.size() && text[end] == '\'') {
      for (++end; end < text.size() && text[end] != '\''; ++end)
        if (text[end] == '\\') ++end;
      end = std::min(end + 1, text.size());
    } else {
      while (end < text.size() && text[end] != '&' && text[end] != ' ' && text[end] != '"') ++end;
    }
    text.replace(start, end - start, "***");
  }
}

}  // namespace

bool IsPostgresLocation(std::string_view text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

std::string PostgresWhere(const std::string& conninfo) {
  Conninfo parsed(conninfo);
  if (parsed.options == nullptr) return "postgresql://…";
  std::string where = "postgresql://";
  const std::string user = parsed.Value("user");
  if (!user.empty()) where += user + "@";
  where += parsed.Value("host");
  const std::string port = parsed.Value("port");
  if (!port.empty()) where += ":" + port;
  const std::string dbname = parsed.Value("dbname");
  if (!dbname.empty()) where += "/" + dbname;
  return where;
}

std::string WithoutPassword(std::string text, const std::string& conninfo) {
  // user:password@ of a URI, as written: between the scheme's "//" and the "@".
  const size_t scheme = conninfo.find("://");
  if (scheme != std::string::npos) {
    const size_t start = scheme + 3;
    const size_t at = conninfo.find('@', start);
    const size_t colon = conninfo.find(':', start);
    if (at != std::string::npos && colon != std::string::npos && colon < at &&
        conninfo.find('/', start) > at) {
      const std::string written = conninfo.substr(colon + 1, at - colon - 1);
      ReplaceAll(text, written, "***");
      ReplaceAll(text, PercentDecoded(written), "***");
    }
  }
  Conninfo parsed(conninfo);
  if (parsed.options != nullptr) ReplaceAll(text, parsed.Value("password"), "***");
  MaskPasswordParameters(text);
  return text;
}

OpenedStore OpenPostgresStore(const std::string& conninfo, const StoreOptions& options) {
  auto store = std::make_unique<PostgresStore>(conninfo, options);
  OpenedStore opened;
  opened.result = store->Open();
  if (opened.result.ok()) opened.store = std::move(store);
  return opened;
}

}  // namespace lovar
