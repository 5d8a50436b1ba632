// The store in one SQLite file: a laptop's own registry, and the place where records wait for a
// shared server that cannot be reached. Several programs (the window, lovar-cli batch) write to
// it at once: the journal is a write-ahead log, so readers never wait for a writer, and writers
// wait for each other up to the busy time-out. Every commit reaches the disk before it returns.
#include <sqlite3.h>

#include <utility>

#include "files/file_access.h"
#include "files/utf8_path.h"
#include "store/image_pack.h"
#include "store/sha256.h"
#include "store/site_store.h"
#include "store/sqlite_statement.h"
#include "store/store_internal.h"
#include "store/store_os.h"
#include "store/store_transaction.h"
#include "version/version.h"

namespace lovar {
namespace {

// The schema, step by step: step n brings a store of version n - 1 to version n. A new
// version appends a step; steps already shipped never change.
constexpr const char* kSteps[] = {
    // 1: sites, images kept once by their hash, records, the store's own settings.
    R"sql(
CREATE TABLE lovar_schema (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  version INTEGER NOT NULL,
  program TEXT NOT NULL);
CREATE TABLE sites (
  id INTEGER PRIMARY KEY,
  model INTEGER NOT NULL,
  object TEXT NOT NULL,
  UNIQUE (model, object));
CREATE TABLE images (
  id INTEGER PRIMARY KEY,
  hash TEXT NOT NULL UNIQUE,
  length INTEGER NOT NULL,
  codec INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE TABLE records (
  id INTEGER PRIMARY KEY,
  record_id TEXT NOT NULL UNIQUE,
  site INTEGER NOT NULL REFERENCES sites (id),
  at_us INTEGER NOT NULL,
  station TEXT NOT NULL,
  operator TEXT NOT NULL,
  port TEXT NOT NULL,
  device TEXT NOT NULL,
  operation TEXT NOT NULL,
  outcome TEXT NOT NULL,
  message TEXT NOT NULL,
  image INTEGER REFERENCES images (id),
  program TEXT NOT NULL,
  waiting_for TEXT);
CREATE INDEX sites_by_object ON sites (object);
CREATE INDEX records_by_site ON records (site, at_us);
CREATE INDEX records_waiting ON records (waiting_for) WHERE waiting_for IS NOT NULL;
CREATE TABLE settings (
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL);
INSERT INTO lovar_schema (id, version, program) VALUES (1, 0, '');
)sql",
};
static_assert(std::size(kSteps) == kStoreSchemaVersion);

constexpr const char* kRecordColumns =
    "r.record_id, r.at_us, r.station, r.operator, r.port, s.model, r.device, s.object, "
    "r.operation, r.outcome, r.message, r.program, i.hash, i.length";
constexpr const char* kRecordJoins =
    " FROM records r JOIN sites s ON s.id = r.site LEFT JOIN images i ON i.id = r.image ";

RecordInfo ReadInfo(const SqliteStatement& st, int c) {
  RecordInfo r;
  r.id = st.Text(c);
  r.time = st.Int(c + 1);
  r.station = st.Text(c + 2);
  r.operator_name = st.Text(c + 3);
  r.port = st.Text(c + 4);
  r.model = static_cast<int>(st.Int(c + 5));
  r.device_line = st.Text(c + 6);
  r.object = st.Text(c + 7);
  OperationOfCode(st.Text(c + 8), r.operation);
  OutcomeOfCode(st.Text(c + 9), r.outcome);
  r.message = st.Text(c + 10);
  r.program_version = st.Text(c + 11);
  r.image_hash = st.Text(c + 12);
  r.image_length = static_cast<int>(st.Int(c + 13));
  return r;
}

// sqlite3_open_v2 takes a URI for the read-only fallback: every byte that could mean
// something in one is escaped, and Windows' separators become slashes.
std::string FileUri(const std::string& path) {
  std::string uri = "file:";
  if (path.size() > 1 && path[1] == ':') uri += "///";
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      uri += '/';
    } else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
               c == '/' || c == '-' || c == '_' || c == '.' || c == ':') {
      uri += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[u >> 4];
      uri += kHex[u & 0xF];
    }
  }
  return uri;
}

class SqliteStore final : public SiteStore {
 public:
  SqliteStore(std::string path, const StoreOptions& options)
      : path_(std::move(path)), options_(options) {}
  ~SqliteStore() override { sqlite3_close_v2(db_); }

  StoreResult Open();

  std::string Where() const override { return path_; }
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
  StoreResult Exec(const char* sql) { return SqliteConnection{db_}.Exec(sql); }
  StoreResult OpenAs(int flags, const std::string& name);
  // The schema's version (0 for an empty file); NotRegistry for another program's database.
  StoreResult ReadVersion(int& version);
  StoreResult Migrate();
  // Runs body inside BEGIN IMMEDIATE ... COMMIT; rolled back when body fails or throws.
  template <typename Body>
  StoreResult Transaction(Body body) {
    if (read_only_) return StoreFailure(write_refusal_);
    SqliteConnection connection{db_};
    return InTransaction(connection, "BEGIN IMMEDIATE", body);
  }
  StoreResult Done(SqliteStatement& st) {
    const int rc = st.Step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? StoreResult{} : SqliteFailure(db_, rc);
  }
  StoreResult ReadInfos(SqliteStatement& st, std::vector<RecordInfo>& out) {
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) out.push_back(ReadInfo(st, 0));
    return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
  }

  std::string path_;
  StoreOptions options_;
  sqlite3* db_ = nullptr;
  bool read_only_ = false;
  StoreError write_refusal_ = StoreError::ReadOnly;  // why a read-only store takes no record
  std::vector<std::string> notes_;
};

StoreResult SqliteStore::OpenAs(int flags, const std::string& name) {
  sqlite3_close_v2(db_);
  db_ = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return SqliteFailure(db_, rc);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, static_cast<int>(options_.busy_wait.count()));
  read_only_ = sqlite3_db_readonly(db_, "main") == 1;
  return {};
}

StoreResult SqliteStore::ReadVersion(int& version) {
  version = 0;
  SqliteStatement tables(db_, "SELECT count(*), sum(name = 'lovar_schema') FROM sqlite_master");
  int rc = tables.Step();
  if (rc != SQLITE_ROW) return SqliteFailure(db_, rc);
  if (tables.Int(0) == 0) return {};
  if (tables.Int(1) != 1) return StoreFailure(StoreError::NotRegistry);
  SqliteStatement st(db_, "SELECT version FROM lovar_schema WHERE id = 1");
  rc = st.Step();
  if (rc == SQLITE_ROW)
    version = static_cast<int>(st.Int(0));
  else if (rc != SQLITE_DONE)
    return SqliteFailure(db_, rc);
  else
    return StoreFailure(StoreError::NotRegistry);
  return {};
}

StoreResult SqliteStore::Migrate() {
  return Transaction([&]() -> StoreResult {
    // Read again under the write lock: another program may have done it meanwhile.
    int version = 0;
    StoreResult r = ReadVersion(version);
    if (!r.ok()) return r;
    for (int step = version + 1; step <= kStoreSchemaVersion; ++step) {
      r = Exec(kSteps[step - 1]);
      if (!r.ok()) return r;
    }
    SqliteStatement st(db_, "UPDATE lovar_schema SET version = ?1, program = ?2 WHERE id = 1");
    st.Bind(1, int64_t{kStoreSchemaVersion}).Bind(2, std::string_view(kVersion));
    return Done(st);
  });
}

StoreResult SqliteStore::Open() {
  const std::filesystem::path file = PathFromUtf8(path_);
  const PathKind kind = KindOf(file);
  if (kind != PathKind::Regular && kind != PathKind::Missing)
    return StoreFailure(StoreError::NotRegistry, "это не обычный файл");
  if (kind == PathKind::Missing && !options_.create)
    return StoreFailure(StoreError::NotFound, "файла нет");
  if (kind == PathKind::Regular) {
    // User codes and key codes: an existing file, and its journal, stay the owner's alone.
    for (const char* suffix : {"", "-wal", "-shm"}) {
      StoreResult own = KeepOwnerOnly(std::filesystem::path(file).concat(suffix));
      if (!own.ok()) return own;
    }
  }
  if (kind == PathKind::Missing) {
    // Made here so that it is the owner's only from its first byte; SQLite's own would follow
    // the umask. Another program making it at the same moment is no failure.
    const CreateResult made = CreateFlushed(file, {}, nullptr);
    if (!made.result.ok && KindOf(file) != PathKind::Regular)
      return StoreFailure(StoreError::Failed, "файл реестра не создан: " + made.result.message);
  }
  StoreResult r = OpenAs(SQLITE_OPEN_READWRITE, path_);
  if (!r.ok() && r.error == StoreError::ReadOnly) r = OpenAs(SQLITE_OPEN_READONLY, path_);
  if (!r.ok()) return r;
  int version = 0;
  r = ReadVersion(version);
  if (!r.ok() && read_only_ && r.error != StoreError::NotRegistry && r.error != StoreError::Busy) {
    // A read-only file in write-ahead mode whose shared-memory file cannot be made: nobody
    // writes it, so it is read as it stands.
    r = OpenAs(SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, FileUri(path_) + "?immutable=1");
    if (r.ok()) r = ReadVersion(version);
  }
  if (!r.ok() && r.error == StoreError::Full) {
    // A full disk: the write-ahead log's shared-memory file cannot be made. It is read with the
    // log's index in this program's memory instead (exclusive locking, which a file opened for
    // reading alone cannot take; other programs wait meanwhile), and nothing is written.
    r = OpenAs(SQLITE_OPEN_READWRITE, path_);
    if (r.ok()) r = Exec("PRAGMA locking_mode = EXCLUSIVE");
    if (r.ok()) r = ReadVersion(version);
    read_only_ = true;
    write_refusal_ = StoreError::Full;
  }
  if (!r.ok()) return r;
  if (version > kStoreSchemaVersion)
    return StoreFailure(StoreError::NewerSchema,
                        "схема " + std::to_string(version) + ", эта программа знает схему " +
                            std::to_string(kStoreSchemaVersion) + "; обновите программу");
  if (read_only_) {
    if (version < kStoreSchemaVersion)
      return StoreFailure(write_refusal_, "реестр старой версии нельзя обновить");
    return {};
  }
  // The write-ahead log first (it needs no transaction open), then the schema. A file system
  // that cannot share memory keeps the rollback journal: slower, as safe.
  {
    SqliteStatement wal(db_, "PRAGMA journal_mode = WAL");
    if (wal.Step() == SQLITE_ROW && wal.Text(0) != "wal")
      notes_.push_back("реестр " + path_ +
                       " работает без журнала WAL: программы пишут в него по очереди");
  }
  r = Exec(options_.durable ? "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON"
                            : "PRAGMA synchronous = OFF; PRAGMA foreign_keys = ON");
  if (r.ok() && version < kStoreSchemaVersion) r = Migrate();
  return r;
}

StoreResult SqliteStore::Add(const SiteRecord& record, std::string_view waiting_for, bool& added) {
  added = false;
  std::string why;
  if (!ValidRecord(record, why)) return StoreFailure(StoreError::Failed, why);
  const RecordInfo& info = record.info;
  return Transaction([&]() -> StoreResult {
    SqliteStatement site(db_,
                         "INSERT INTO sites (model, object) VALUES (?1, ?2) "
                         "ON CONFLICT (model, object) DO NOTHING");
    site.Bind(1, int64_t{info.model}).Bind(2, info.object);
    StoreResult r = Done(site);
    if (!r.ok()) return r;
    SqliteStatement site_id(db_, "SELECT id FROM sites WHERE model = ?1 AND object = ?2");
    site_id.Bind(1, int64_t{info.model}).Bind(2, info.object);
    int rc = site_id.Step();
    if (rc != SQLITE_ROW) return SqliteFailure(db_, rc);
    int64_t image_id = 0;
    if (!record.image.empty()) {
      const std::string hash = Sha256Hex(record.image);
      SqliteStatement find(db_, "SELECT id FROM images WHERE hash = ?1");
      find.Bind(1, hash);
      rc = find.Step();
      if (rc == SQLITE_ROW) {
        image_id = find.Int(0);
      } else if (rc == SQLITE_DONE) {
        const PackedImage packed = PackImage(record.image);
        SqliteStatement image(
            db_, "INSERT INTO images (hash, length, codec, data) VALUES (?1, ?2, ?3, ?4)");
        image.Bind(1, hash)
            .Bind(2, static_cast<int64_t>(record.image.size()))
            .Bind(3, int64_t{packed.codec})
            .BindBlob(4, packed.data);
        r = Done(image);
        if (!r.ok()) return r;
        image_id = sqlite3_last_insert_rowid(db_);
      } else {
        return SqliteFailure(db_, rc);
      }
    }
    SqliteStatement add(
        db_,
        "INSERT INTO records (record_id, site, at_us, station, operator, port, device, "
        "operation, outcome, message, image, program, waiting_for) VALUES "
        "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13) "
        "ON CONFLICT (record_id) DO NOTHING");
    add.Bind(1, info.id)
        .Bind(2, site_id.Int(0))
        .Bind(3, info.time)
        .Bind(4, info.station)
        .Bind(5, info.operator_name)
        .Bind(6, info.port)
        .Bind(7, info.device_line)
        .Bind(8, OperationCode(info.operation))
        .Bind(9, OutcomeCode(info.outcome))
        .Bind(10, info.message)
        .Bind(12, info.program_version);
    if (image_id != 0)
      add.Bind(11, image_id);
    else
      add.BindNull(11);
    if (waiting_for.empty())
      add.BindNull(13);
    else
      add.Bind(13, waiting_for);
    r = Done(add);
    added = r.ok() && sqlite3_changes(db_) == 1;
    return r;
  });
}

StoreResult SqliteStore::Sites(std::string_view prefix, std::vector<SiteSummary>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              "WHERE r.id = (SELECT r2.id FROM records r2 WHERE r2.site = s.id "
                              "ORDER BY r2.at_us DESC, r2.id DESC LIMIT 1) "
                              "AND substr(s.object, 1, length(?1)) = ?1");
  st.Bind(1, prefix);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    SiteSummary site;
    site.last = ReadInfo(st, 0);
    site.model = site.last.model;
    site.object = site.last.object;
    out.push_back(std::move(site));
  }
  if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
  SortSites(out);
  return {};
}

StoreResult SqliteStore::History(int model, std::string_view object, std::vector<RecordInfo>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              "WHERE s.object = ?1 AND (?2 = 0 OR s.model = ?2) "
                              "ORDER BY r.at_us, r.id");
  st.Bind(1, object).Bind(2, int64_t{model});
  return ReadInfos(st, out);
}

StoreResult SqliteStore::Image(std::string_view hash, std::vector<uint8_t>& out) {
  SqliteStatement st(db_, "SELECT length, codec, data FROM images WHERE hash = ?1");
  st.Bind(1, hash);
  const int rc = st.Step();
  if (rc == SQLITE_DONE) return StoreFailure(StoreError::NotFound, "образ " + std::string(hash));
  if (rc != SQLITE_ROW) return SqliteFailure(db_, rc);
  if (!UnpackImage(static_cast<int>(st.Int(1)), st.Blob(2), static_cast<size_t>(st.Int(0)), out) ||
      Sha256Hex(out) != hash)
    return StoreFailure(StoreError::NotRegistry, "образ " + std::string(hash) + " повреждён");
  return {};
}

StoreResult SqliteStore::Waiting(std::string_view target, int limit, std::vector<SiteRecord>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              "WHERE r.waiting_for = ?1 ORDER BY r.at_us, r.id LIMIT ?2");
  st.Bind(1, target).Bind(2, int64_t{limit});
  std::vector<RecordInfo> infos;
  StoreResult r = ReadInfos(st, infos);
  for (RecordInfo& info : infos) {
    if (!r.ok()) break;
    SiteRecord record;
    if (!info.image_hash.empty()) r = Image(info.image_hash, record.image);
    record.info = std::move(info);
    out.push_back(std::move(record));
  }
  return r;
}

StoreResult SqliteStore::WaitingCounts(std::vector<std::pair<std::string, int>>& out) {
  out.clear();
  SqliteStatement st(db_,
                     "SELECT waiting_for, count(*) FROM records WHERE waiting_for IS NOT NULL "
                     "GROUP BY waiting_for ORDER BY waiting_for");
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) out.emplace_back(st.Text(0), static_cast<int>(st.Int(1)));
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::MarkSent(const std::vector<std::string>& ids) {
  if (ids.empty()) return {};
  return Transaction([&]() -> StoreResult {
    for (const std::string& id : ids) {
      SqliteStatement st(db_, "UPDATE records SET waiting_for = NULL WHERE record_id = ?1");
      st.Bind(1, id);
      const StoreResult r = Done(st);
      if (!r.ok()) return r;
    }
    return {};
  });
}

StoreResult SqliteStore::Setting(std::string_view key, std::string& value, bool& found) {
  SqliteStatement st(db_, "SELECT value FROM settings WHERE key = ?1");
  st.Bind(1, key);
  const int rc = st.Step();
  found = rc == SQLITE_ROW;
  if (found) value = st.Text(0);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::SetSetting(std::string_view key, std::string_view value) {
  return Transaction([&] {
    SqliteStatement st(db_,
                       "INSERT INTO settings (key, value) VALUES (?1, ?2) "
                       "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
    st.Bind(1, key).Bind(2, value);
    return Done(st);
  });
}

}  // namespace

OpenedStore OpenSqliteStore(const std::string& utf8_path, const StoreOptions& options) {
  auto store = std::make_unique<SqliteStore>(utf8_path, options);
  OpenedStore opened;
  opened.result = store->Open();
  if (opened.result.ok()) opened.store = std::move(store);
  return opened;
}

}  // namespace lovar
