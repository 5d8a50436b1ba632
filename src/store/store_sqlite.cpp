// The store in one SQLite file: a laptop's own registry, and the place where records wait for a
// shared server that cannot be reached. Several programs (the window, lovar-cli batch) write to
// it at once: the journal is a write-ahead log, so readers never wait for a writer, and writers
// wait for each other up to the busy time-out. Every commit reaches the disk before it returns.
#include <sqlite3.h>

#include <algorithm>
#include <span>
#include <utility>

#include "files/file_access.h"
#include "files/utf8_path.h"
#include "store/code_ranges.h"
#include "model/cp1251.h"
#include "store/image_pack.h"
#include "store/search_text.h"
#include "store/sha256.h"
#include "store/site_filter_sql.h"
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
    // 2: a site is a place with a card; records carry their model and object number, the
    // technician, the reason, the registry's time beside the station's; notes and assignments
    // are rows of their own. A model 251's object number becomes a site named after it; the
    // records of no number become records of no site.
    R"sql(
CREATE TABLE sites_v2 (
  id INTEGER PRIMARY KEY,
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '');
CREATE TABLE site_cards (
  id INTEGER PRIMARY KEY,
  site INTEGER NOT NULL REFERENCES sites_v2 (id),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  technician TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL CHECK (name <> ''),
  customer TEXT NOT NULL DEFAULT '',
  phones TEXT NOT NULL DEFAULT '',
  contract TEXT NOT NULL DEFAULT '',
  status TEXT NOT NULL DEFAULT 'active' CHECK (status IN ('active', 'suspended', 'removed')),
  installed TEXT NOT NULL DEFAULT '',
  remark TEXT NOT NULL DEFAULT '');
CREATE TABLE records_v2 (
  id INTEGER PRIMARY KEY,
  record_id TEXT NOT NULL UNIQUE,
  site INTEGER REFERENCES sites_v2 (id),
  model INTEGER NOT NULL,
  object TEXT NOT NULL DEFAULT '',
  prior_object TEXT NOT NULL DEFAULT '',
  at_us INTEGER NOT NULL,
  station_us INTEGER NOT NULL,
  late INTEGER NOT NULL DEFAULT 0 CHECK (late IN (0, 1)),
  time_us INTEGER NOT NULL,
  station TEXT NOT NULL,
  operator TEXT NOT NULL,
  technician TEXT NOT NULL DEFAULT '',
  role TEXT NOT NULL DEFAULT '',
  note TEXT NOT NULL DEFAULT '',
  supersedes TEXT NOT NULL DEFAULT '',
  port TEXT NOT NULL,
  device TEXT NOT NULL,
  operation TEXT NOT NULL,
  outcome TEXT NOT NULL,
  message TEXT NOT NULL,
  image INTEGER REFERENCES images (id),
  program TEXT NOT NULL,
  waiting_for TEXT,
  waiting_site INTEGER);
INSERT INTO sites_v2 (id, at_us)
  SELECT s.id, COALESCE((SELECT min(r.at_us) FROM records r WHERE r.site = s.id), 0)
  FROM sites s WHERE s.object <> '';
INSERT INTO site_cards (site, at_us, name)
  SELECT n.id, n.at_us, 'Объект ' || s.object FROM sites_v2 n JOIN sites s ON s.id = n.id;
INSERT INTO records_v2 (id, record_id, site, model, object, at_us, station_us, late, time_us,
    station, operator, port, device, operation, outcome, message, image, program, waiting_for)
  SELECT r.id, r.record_id, CASE WHEN s.object <> '' THEN s.id END, s.model, s.object, r.at_us,
    r.at_us, 1, r.at_us, r.station, r.operator, r.port, r.device, r.operation, r.outcome,
    r.message, r.image, r.program, r.waiting_for
  FROM records r JOIN sites s ON s.id = r.site;
DROP TABLE records;
DROP TABLE sites;
ALTER TABLE sites_v2 RENAME TO sites;
ALTER TABLE records_v2 RENAME TO records;
CREATE INDEX records_by_object ON records (object, model);
CREATE INDEX records_waiting ON records (waiting_for) WHERE waiting_for IS NOT NULL;
CREATE INDEX cards_by_site ON site_cards (site, id);
CREATE INDEX cards_by_name ON site_cards (name);
CREATE TABLE record_notes (
  id INTEGER PRIMARY KEY,
  record TEXT NOT NULL REFERENCES records (record_id),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL,
  technician TEXT NOT NULL DEFAULT '',
  text TEXT NOT NULL CHECK (text <> ''));
CREATE INDEX notes_by_record ON record_notes (record);
CREATE TABLE assignments (
  id INTEGER PRIMARY KEY,
  record TEXT NOT NULL REFERENCES records (record_id),
  site INTEGER NOT NULL REFERENCES sites (id),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL,
  technician TEXT NOT NULL DEFAULT '');
-- The effective site of each record, kept by the database: its newest assignment, else its own.
CREATE TABLE record_sites (
  record INTEGER PRIMARY KEY REFERENCES records (id),
  site INTEGER REFERENCES sites (id),
  time_us INTEGER NOT NULL);
CREATE INDEX record_sites_by_site ON record_sites (site, time_us);
INSERT INTO record_sites (record, site, time_us) SELECT id, site, time_us FROM records;
CREATE TRIGGER records_site AFTER INSERT ON records BEGIN
  INSERT INTO record_sites (record, site, time_us) VALUES (NEW.id, NEW.site, NEW.time_us);
END;
CREATE TRIGGER assignments_site AFTER INSERT ON assignments BEGIN
  UPDATE record_sites SET site = NEW.site
  WHERE record = (SELECT id FROM records WHERE record_id = NEW.record);
END;
)sql",
    // 3 (the guarded codes): every read of clear codes kept; a record corrected once; the
    // purge of a removed site's codes, refused by the database for any other site.
    R"sql(
CREATE TABLE access_log (
  id INTEGER PRIMARY KEY,
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL DEFAULT '',
  technician TEXT NOT NULL DEFAULT '',
  record TEXT NOT NULL,
  site INTEGER,
  why TEXT NOT NULL CHECK (why IN ('export', 'show', 'restore')));
CREATE INDEX access_by_time ON access_log (at_us);
CREATE UNIQUE INDEX records_superseded ON records (supersedes) WHERE supersedes <> '';
CREATE TABLE purges (
  id INTEGER PRIMARY KEY,
  site INTEGER NOT NULL REFERENCES sites (id),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL DEFAULT '',
  technician TEXT NOT NULL DEFAULT '',
  images INTEGER NOT NULL);
CREATE TRIGGER purges_of_removed_sites BEFORE INSERT ON purges
  WHEN COALESCE((SELECT status FROM site_cards WHERE site = NEW.site ORDER BY id DESC LIMIT 1),
                '') <> 'removed'
BEGIN
  SELECT RAISE(ABORT, 'the site is not removed');
END;
)sql",
    // -- Drift --
    // 4: the fields a read found other than the site's last proven record held (changed on the
    // device behind the registry's back), with the record it was compared with.
    R"sql(
CREATE TABLE record_drift (
  record TEXT PRIMARY KEY REFERENCES records (record_id),
  base TEXT NOT NULL DEFAULT '',
  fields TEXT NOT NULL CHECK (fields <> ''));
)sql",
    // ---- Changes for many sites ----
    // 5: a plan, its sites with what changes at each, the stations' claims and their outcomes,
    // the office's decisions; each a row of its own. A claim is taken only while the plan may
    // be applied and the site waits for it (the trigger), once per attempt (the unique key).
    R"sql(
CREATE TABLE change_plans (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE CHECK (name <> ''),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL,
  technician TEXT NOT NULL DEFAULT '',
  settings TEXT NOT NULL,
  selection TEXT NOT NULL DEFAULT '',
  approval INTEGER NOT NULL CHECK (approval IN (0, 1)),
  max_failures INTEGER NOT NULL DEFAULT 0 CHECK (max_failures >= 0));
CREATE TABLE plan_sites (
  plan INTEGER NOT NULL REFERENCES change_plans (id),
  site INTEGER NOT NULL REFERENCES sites (id),
  model INTEGER NOT NULL,
  object TEXT NOT NULL DEFAULT '',
  base_record TEXT NOT NULL DEFAULT '',
  base_hash TEXT NOT NULL DEFAULT '',
  state TEXT NOT NULL CHECK (state IN ('pending', 'skipped')),
  reason TEXT NOT NULL DEFAULT '',
  changes TEXT NOT NULL DEFAULT '',
  findings TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (plan, site));
CREATE TABLE plan_decisions (
  id INTEGER PRIMARY KEY,
  plan INTEGER NOT NULL REFERENCES change_plans (id),
  decision TEXT NOT NULL CHECK (decision IN ('approved', 'cancelled', 'resumed')),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL,
  technician TEXT NOT NULL DEFAULT '');
CREATE INDEX plan_decisions_by_plan ON plan_decisions (plan, decision);
CREATE TABLE plan_claims (
  id INTEGER PRIMARY KEY,
  plan INTEGER NOT NULL,
  site INTEGER NOT NULL,
  attempt INTEGER NOT NULL CHECK (attempt >= 1),
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '',
  station TEXT NOT NULL,
  FOREIGN KEY (plan, site) REFERENCES plan_sites (plan, site),
  UNIQUE (plan, site, attempt));
CREATE TABLE plan_outcomes (
  claim INTEGER PRIMARY KEY REFERENCES plan_claims (id),
  plan INTEGER NOT NULL,
  site INTEGER NOT NULL,
  state TEXT NOT NULL CHECK (state IN ('done', 'failed', 'conflict', 'skipped')),
  reason TEXT NOT NULL DEFAULT '',
  record TEXT NOT NULL DEFAULT '',
  at_us INTEGER NOT NULL,
  role TEXT NOT NULL DEFAULT '');
CREATE INDEX plan_outcomes_by_site ON plan_outcomes (plan, site, claim);
CREATE INDEX plan_outcomes_by_state ON plan_outcomes (plan, state, at_us);
CREATE TRIGGER plan_claim_allowed BEFORE INSERT ON plan_claims BEGIN
  SELECT RAISE(ABORT, 'lovar: plan closed') WHERE EXISTS (SELECT 1 FROM plan_decisions d
    WHERE d.plan = NEW.plan AND d.decision = 'cancelled');
  SELECT RAISE(ABORT, 'lovar: plan not approved') FROM change_plans p WHERE p.id = NEW.plan
    AND p.approval = 1 AND NOT EXISTS (SELECT 1 FROM plan_decisions d WHERE d.plan = p.id
    AND d.decision = 'approved');
  SELECT RAISE(ABORT, 'lovar: plan paused') FROM change_plans p WHERE p.id = NEW.plan
    AND p.max_failures > 0 AND (SELECT count(*) FROM plan_outcomes o WHERE o.plan = p.id
    AND o.state = 'failed' AND o.at_us > COALESCE((SELECT max(d.at_us) FROM plan_decisions d
    WHERE d.plan = p.id AND d.decision = 'resumed'), 0)) >= p.max_failures;
  SELECT RAISE(ABORT, 'lovar: site claimed') WHERE EXISTS (SELECT 1 FROM plan_claims c
    WHERE c.plan = NEW.plan AND c.site = NEW.site AND NOT EXISTS (SELECT 1 FROM plan_outcomes o
    WHERE o.claim = c.id));
  SELECT RAISE(ABORT, 'lovar: site not waiting') FROM plan_sites ps WHERE ps.plan = NEW.plan
    AND ps.site = NEW.site AND COALESCE((SELECT o.state FROM plan_outcomes o
    WHERE o.plan = NEW.plan AND o.site = NEW.site ORDER BY o.claim DESC LIMIT 1), ps.state)
    NOT IN ('pending', 'failed');
END;
)sql",
    // ---- search (sites list --search) ----
    // 6: the searchable text of each image, per model (an image's fields are its model's),
    // and of each version of a card, made by the program (search_text.h) and found through
    // FTS5's trigram index, so that a part of a word or a number is found. The migration's
    // own code fills them for what is kept (FillSearchTexts).
    R"sql(
CREATE TABLE image_texts (
  id INTEGER PRIMARY KEY,
  image INTEGER NOT NULL REFERENCES images (id),
  model INTEGER NOT NULL,
  UNIQUE (image, model));
CREATE VIRTUAL TABLE image_search USING fts5 (text, tokenize = 'trigram');
CREATE VIRTUAL TABLE card_search USING fts5 (text, tokenize = 'trigram');
CREATE INDEX records_by_image ON records (image, model);
)sql",
};
static_assert(std::size(kSteps) == kStoreSchemaVersion);
// The step that makes the search's tables; its texts are then filled by the program.
constexpr int kSearchStep = 6;

// A record's columns, as ReadInfo reads them; kRecordColumnCount of them.
constexpr const char* kRecordColumns =
    "r.record_id, r.time_us, r.station, r.operator, r.port, r.model, r.device, r.object, "
    "r.operation, r.outcome, r.message, r.program, i.hash, i.length, e.site, "
    "(SELECT c.name FROM site_cards c WHERE c.site = e.site ORDER BY c.id DESC LIMIT 1), "
    // s.supersedes <> '' as the partial index says: a scan of every record per row otherwise.
    "r.technician, r.note, r.station_us, r.at_us, r.role, r.supersedes, r.prior_object, r.late, "
    "(SELECT s.record_id FROM records s WHERE s.supersedes = r.record_id AND s.supersedes <> '' "
    "LIMIT 1), r.waiting_site, "
    "(SELECT d.fields FROM record_drift d WHERE d.record = r.record_id), "
    "(SELECT d.base FROM record_drift d WHERE d.record = r.record_id)";
constexpr int kRecordColumnCount = 28;
constexpr int kWaitingSiteColumn = 25;
static_assert(kWaitingSiteColumn == kRecordColumnCount - 3);  // the drift's two columns last
constexpr const char* kRecordJoins =
    " FROM records r JOIN record_sites e ON e.record = r.id LEFT JOIN images i ON i.id = r.image ";
// A card's columns, as ReadCard reads them; kCardColumnCount of them.
constexpr const char* kCardColumns =
    "c.site, c.at_us, c.role, c.technician, c.name, c.customer, c.phones, c.contract, c.status, "
    "c.installed, c.remark";
constexpr int kCardColumnCount = 11;
// Each site with its newest card and its newest record.
constexpr const char* kSiteQuery =
    " FROM sites s JOIN site_cards c ON c.id = (SELECT max(c2.id) FROM site_cards c2 "
    "WHERE c2.site = s.id) "
    "LEFT JOIN record_sites e ON e.record = (SELECT e2.record FROM record_sites e2 "
    "WHERE e2.site = s.id ORDER BY e2.time_us DESC, e2.record DESC LIMIT 1) "
    "LEFT JOIN records r ON r.id = e.record LEFT JOIN images i ON i.id = r.image ";

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
  r.site = st.Int(c + 14);
  r.site_name = st.Text(c + 15);
  r.technician = st.Text(c + 16);
  r.note = st.Text(c + 17);
  r.station_time = st.Int(c + 18);
  r.arrived = st.Int(c + 19);
  r.role = st.Text(c + 20);
  r.supersedes = st.Text(c + 21);
  r.prior_object = st.Text(c + 22);
  r.late = st.Int(c + 23) != 0;
  r.superseded_by = st.Text(c + 24);
  r.drift = st.Text(c + 26);
  r.drift_base = st.Text(c + 27);
  return r;
}

SiteCard ReadCard(const SqliteStatement& st, int c) {
  SiteCard card;
  card.site = st.Int(c);
  card.at = st.Int(c + 1);
  card.role = st.Text(c + 2);
  card.technician = st.Text(c + 3);
  card.name = st.Text(c + 4);
  card.customer = st.Text(c + 5);
  card.phones = st.Text(c + 6);
  card.contract = st.Text(c + 7);
  card.status = st.Text(c + 8);
  card.installed = st.Text(c + 9);
  card.remark = st.Text(c + 10);
  return card;
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
  StoreResult Add(const SiteRecord& record, std::string_view waiting_for,
                  AddedRecord& added) override;
  StoreResult Sites(std::string_view prefix, std::vector<SiteSummary>& out) override;
  StoreResult History(int model, std::string_view object, std::vector<RecordInfo>& out) override;
  StoreResult SiteList(std::vector<SiteEntry>& out) override;
  StoreResult SiteList(const SiteFilter& filter, std::vector<SiteEntry>& out) override;
  StoreResult Site(int64_t id, SiteEntry& out) override;
  StoreResult SitesNamed(std::string_view name, std::vector<int64_t>& out) override;
  StoreResult SiteHistory(int64_t site, std::vector<RecordInfo>& out) override;
  StoreResult DriftedSites(int64_t site, std::vector<SiteEntry>& out) override;
  StoreResult Record(std::string_view id, RecordInfo& out) override;
  StoreResult NewSite(const SiteCard& card, int64_t& id) override;
  StoreResult AddCard(const SiteCard& card) override;
  StoreResult Cards(int64_t site, std::vector<SiteCard>& out) override;
  StoreResult Assign(std::string_view record, int64_t site, std::string_view station,
                     std::string_view technician) override;
  StoreResult AddNote(const RecordNote& note) override;
  StoreResult SiteNotes(int64_t site, std::vector<RecordNote>& out) override;
  StoreResult Image(std::string_view hash, std::vector<uint8_t>& out) override;
  StoreResult Waiting(std::string_view target, int limit, std::vector<SiteRecord>& out) override;
  StoreResult WaitingCounts(std::vector<std::pair<std::string, int>>& out) override;
  StoreResult MarkSent(const std::vector<std::string>& ids) override;
  StoreResult Setting(std::string_view key, std::string& value, bool& found) override;
  StoreResult SetSetting(std::string_view key, std::string_view value) override;
  StoreResult ClearImage(std::string_view record, CodesAccess why, std::string_view station,
                         std::string_view technician, std::vector<uint8_t>& out) override;
  StoreResult AccessLog(StoreTime since, std::vector<AccessEntry>& out) override;
  StoreResult Supersede(std::string_view record, const RecordInfo& correction,
                        AddedRecord& added) override;
  StoreResult Purge(int64_t site, std::string_view station, std::string_view technician,
                    int& images) override;

  StoreResult LastProvenRecords(const std::vector<int64_t>& sites,
                                std::vector<SiteRecord>& out) override;
  StoreResult NewPlan(ChangePlan& plan, const std::vector<PlanSite>& sites) override;
  StoreResult FindPlan(std::string_view name, ChangePlan& out) override;
  StoreResult PlanSites(int64_t plan, std::vector<PlanSite>& out) override;
  StoreResult DecidePlan(int64_t plan, PlanDecision decision, std::string_view station,
                         std::string_view technician) override;
  StoreResult ClaimPlanSite(int64_t plan, int64_t site, std::string_view station,
                            PlanClaim& claim) override;
  StoreResult EndPlanSite(int64_t claim, PlanState state, std::string_view reason,
                          std::string_view record) override;

 private:
  StoreResult Exec(const char* sql) { return SqliteConnection{db_}.Exec(sql); }
  // Inside a transaction: the id of the image of these bytes, stored when it is not there.
  StoreResult StoreImage(const std::vector<uint8_t>& bytes, int64_t& id);
  // The plan of that name (by_name) or id; its sites (site 0: all of them).
  StoreResult ReadPlan(std::string_view name, int64_t id, ChangePlan& out);
  StoreResult ReadPlanSites(int64_t plan, int64_t site, std::vector<PlanSite>& out);
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
  StoreResult ReadSites(SqliteStatement& st, std::vector<SiteEntry>& out) {
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW)
      out.push_back({ReadCard(st, 0), ReadInfo(st, kCardColumnCount)});
    return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
  }
  // Inside a transaction: the site the record goes under (0 for none).
  StoreResult SiteOf(const RecordInfo& info, int64_t& site);
  StoreResult InsertCard(const SiteCard& card);
  // Inside a transaction: the image's searchable text as of model, unless it is there.
  StoreResult AddImageText(int64_t image, int model, std::span<const uint8_t> bytes);
  // Inside the migration's transaction: the searchable texts of every image and card kept.
  StoreResult FillSearchTexts();
  // Inside a transaction: the searchable text of the card of that row.
  StoreResult AddCardText(int64_t card_row, const SiteCard& card);

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
      // A build without FTS5 is the program's fault, said as such; the file stays as it was.
      if (!r.ok() && step == kSearchStep && r.message.find("fts5") != std::string::npos)
        return StoreFailure(StoreError::Failed,
                            "эта сборка программы без поиска по тексту SQLite (FTS5): реестр "
                            "не обновлён, он такой же, как был");
      if (r.ok() && step == kSearchStep) r = FillSearchTexts();
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

StoreResult SqliteStore::SiteOf(const RecordInfo& info, int64_t& site) {
  site = 0;
  if (info.site != 0) {
    SqliteStatement known(db_, "SELECT 1 FROM sites WHERE id = ?1");
    known.Bind(1, info.site);
    // A site gone by the time a waiting record arrives: the record is kept, of no site (the
    // caller sees it by AddedRecord::site), never lost nor stuck in the queue.
    const int rc = known.Step();
    if (rc == SQLITE_ROW) site = info.site;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
  }
  if (info.object.empty()) return {};
  // The site whose newest record of this model has the number (the number before a write
  // that changed it, first).
  for (const std::string& object : {info.prior_object, info.object}) {
    if (object.empty()) continue;
    SqliteStatement find(db_,
                         "SELECT e.site FROM records r JOIN record_sites e ON e.record = r.id "
                         "WHERE r.model = ?1 AND r.object = ?2 AND e.site IS NOT NULL "
                         "ORDER BY e.time_us DESC, r.id DESC LIMIT 1");
    find.Bind(1, int64_t{info.model}).Bind(2, object);
    const int rc = find.Step();
    if (rc == SQLITE_ROW) {
      site = find.Int(0);
      return {};
    }
    if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
  }
  // A number the registry does not know: a site of its own, named after it.
  SiteCard card;
  card.name = "Объект " + info.object;
  card.technician = info.technician;
  SqliteStatement made(db_, "INSERT INTO sites (at_us) VALUES (?1)");
  made.Bind(1, StoreTimeNow());
  StoreResult r = Done(made);
  if (!r.ok()) return r;
  card.site = sqlite3_last_insert_rowid(db_);
  r = InsertCard(card);
  if (r.ok()) site = card.site;
  return r;
}

StoreResult SqliteStore::InsertCard(const SiteCard& card) {
  SqliteStatement st(db_,
                     "INSERT INTO site_cards (site, at_us, technician, name, customer, phones, "
                     "contract, status, installed, remark) VALUES "
                     "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  st.Bind(1, card.site)
      .Bind(2, StoreTimeNow())
      .Bind(3, card.technician)
      .Bind(4, card.name)
      .Bind(5, card.customer)
      .Bind(6, card.phones)
      .Bind(7, card.contract)
      .Bind(8, card.status)
      .Bind(9, card.installed)
      .Bind(10, card.remark);
  const StoreResult r = Done(st);
  return r.ok() ? AddCardText(sqlite3_last_insert_rowid(db_), card) : r;
}

StoreResult SqliteStore::AddCardText(int64_t card_row, const SiteCard& card) {
  SqliteStatement st(db_, "INSERT INTO card_search (rowid, text) VALUES (?1, ?2)");
  st.Bind(1, card_row).Bind(2, CardSearchText(card));
  return Done(st);
}

StoreResult SqliteStore::AddImageText(int64_t image, int model, std::span<const uint8_t> bytes) {
  SqliteStatement known(db_, "INSERT OR IGNORE INTO image_texts (image, model) VALUES (?1, ?2)");
  known.Bind(1, image).Bind(2, int64_t{model});
  StoreResult r = Done(known);
  if (!r.ok() || sqlite3_changes(db_) == 0) return r;
  SqliteStatement st(db_, "INSERT INTO image_search (rowid, text) VALUES (?1, ?2)");
  st.Bind(1, sqlite3_last_insert_rowid(db_)).Bind(2, ImageSearchText(model, bytes));
  return Done(st);
}

StoreResult SqliteStore::FillSearchTexts() {
  SqliteStatement images(db_,
                         "SELECT DISTINCT r.image, r.model, i.codec, i.data, i.length "
                         "FROM records r JOIN images i ON i.id = r.image");
  int rc;
  while ((rc = images.Step()) == SQLITE_ROW) {
    std::vector<uint8_t> bytes;
    // An image that does not unpack has no text: it is refused whole when it is read.
    if (!UnpackImage(static_cast<int>(images.Int(2)), images.Blob(3),
                     static_cast<size_t>(images.Int(4)), bytes))
      continue;
    const StoreResult r = AddImageText(images.Int(0), static_cast<int>(images.Int(1)), bytes);
    if (!r.ok()) return r;
  }
  if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
  SqliteStatement cards(db_, std::string("SELECT c.id, ") + kCardColumns + " FROM site_cards c");
  while ((rc = cards.Step()) == SQLITE_ROW) {
    const StoreResult r = AddCardText(cards.Int(0), ReadCard(cards, 1));
    if (!r.ok()) return r;
  }
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::Add(const SiteRecord& record, std::string_view waiting_for,
                             AddedRecord& added) {
  added = {};
  std::string why;
  if (!ValidRecord(record, why)) return StoreFailure(StoreError::Failed, why);
  const RecordInfo& info = record.info;
  return Transaction([&]() -> StoreResult {
    SqliteStatement known(db_,
                          "SELECT r.at_us, e.site FROM records r JOIN record_sites e "
                          "ON e.record = r.id WHERE r.record_id = ?1");
    known.Bind(1, info.id);
    int rc = known.Step();
    if (rc == SQLITE_ROW) {
      added.arrived = known.Int(0);
      added.site = known.Int(1);
      return {};
    }
    if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
    // A record waiting for a server keeps the server's site aside: it is no site of this file.
    int64_t site = 0;
    StoreResult r = waiting_for.empty() ? SiteOf(info, site) : StoreResult{};
    if (!r.ok()) return r;
    int64_t image_id = 0;
    if (!record.image.empty()) {
      r = StoreImage(record.image, image_id);
      if (!r.ok()) return r;
      r = AddImageText(image_id, info.model, record.image);
      if (!r.ok()) return r;
    }
    // One machine: the registry's clock is the station's.
    const StoreTime now = StoreTimeNow();
    SqliteStatement add(
        db_,
        "INSERT INTO records (record_id, site, model, object, prior_object, at_us, station_us, "
        "late, time_us, station, operator, technician, note, supersedes, port, device, "
        "operation, outcome, message, image, program, waiting_for, waiting_site) VALUES "
        "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, "
        "?20, ?21, ?22, ?23)");
    add.Bind(1, info.id)
        .Bind(3, int64_t{info.model})
        .Bind(4, info.object)
        .Bind(5, info.prior_object)
        .Bind(6, now)
        .Bind(7, info.time)
        .Bind(8, int64_t{info.late ? 1 : 0})
        .Bind(9, info.late ? info.time : now)
        .Bind(10, info.station)
        .Bind(11, info.operator_name)
        .Bind(12, info.technician)
        .Bind(13, info.note)
        .Bind(14, info.supersedes)
        .Bind(15, info.port)
        .Bind(16, info.device_line)
        .Bind(17, OperationCode(info.operation))
        .Bind(18, OutcomeCode(info.outcome))
        .Bind(19, info.message)
        .Bind(21, info.program_version);
    if (site != 0)
      add.Bind(2, site);
    else
      add.BindNull(2);
    if (image_id != 0)
      add.Bind(20, image_id);
    else
      add.BindNull(20);
    if (waiting_for.empty()) {
      add.BindNull(22).BindNull(23);
    } else {
      add.Bind(22, waiting_for);
      if (info.site != 0)
        add.Bind(23, info.site);
      else
        add.BindNull(23);
    }
    r = Done(add);
    if (r.ok() && !info.drift.empty()) {
      SqliteStatement drift(db_,
                            "INSERT INTO record_drift (record, base, fields) VALUES (?1, ?2, ?3)");
      drift.Bind(1, info.id).Bind(2, info.drift_base).Bind(3, info.drift);
      r = Done(drift);
    }
    if (r.ok()) added = {true, now, site};
    return r;
  });
}

StoreResult SqliteStore::StoreImage(const std::vector<uint8_t>& bytes, int64_t& id) {
  const std::string hash = Sha256Hex(bytes);
  SqliteStatement find(db_, "SELECT id FROM images WHERE hash = ?1");
  find.Bind(1, hash);
  const int rc = find.Step();
  if (rc == SQLITE_ROW) {
    id = find.Int(0);
    return {};
  }
  if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
  const PackedImage packed = PackImage(bytes);
  SqliteStatement image(db_,
                        "INSERT INTO images (hash, length, codec, data) VALUES (?1, ?2, ?3, ?4)");
  image.Bind(1, hash)
      .Bind(2, static_cast<int64_t>(bytes.size()))
      .Bind(3, int64_t{packed.codec})
      .BindBlob(4, packed.data);
  const StoreResult r = Done(image);
  if (r.ok()) id = sqlite3_last_insert_rowid(db_);
  return r;
}

StoreResult SqliteStore::Sites(std::string_view prefix, std::vector<SiteSummary>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              "WHERE r.id IN (SELECT (SELECT r2.id FROM records r2 "
                              "WHERE r2.model = g.model AND r2.object = g.object "
                              "ORDER BY r2.time_us DESC, r2.id DESC LIMIT 1) "
                              "FROM (SELECT DISTINCT model, object FROM records "
                              "WHERE substr(object, 1, length(?1)) = ?1) g)");
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
                              "WHERE r.object = ?1 AND (?2 = 0 OR r.model = ?2) "
                              "ORDER BY r.time_us, r.id");
  st.Bind(1, object).Bind(2, int64_t{model});
  return ReadInfos(st, out);
}

StoreResult SqliteStore::SiteList(std::vector<SiteEntry>& out) {
  return SiteList(SiteFilter{}, out);
}

StoreResult SqliteStore::SiteList(const SiteFilter& filter, std::vector<SiteEntry>& out) {
  out.clear();
  FilterSql where = SiteFilterSql(filter, "", '?', 1);
  // The text: every word in the card's newest version, or in one image of the site's records.
  // A word of three characters or more through the trigram index (a quoted phrase: the word
  // as a part of the text), a shorter one by looking through what the index found.
  std::string match;
  std::vector<std::string> shorter;
  for (const std::string& word : SearchWords(filter.text)) {
    if (Utf8Length(word) < 3) {
      shorter.push_back(word);
      continue;
    }
    std::string quoted = "\"";
    for (const char c : word) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    match += (match.empty() ? "" : " AND ") + quoted + "\"";
  }
  if (!match.empty() || !shorter.empty()) {
    const auto param = [&](std::string value) {
      where.params.push_back({false, 0, std::move(value)});
      return "?" + std::to_string(where.params.size());
    };
    std::string holds[2];  // the conditions on card_search and on image_search
    const std::string match_param = match.empty() ? "" : param(match);
    for (int i = 0; i < 2; ++i) {
      const std::string table = i == 0 ? "card_search" : "image_search";
      holds[i] = match.empty() ? "1" : table + " MATCH " + match_param;
    }
    for (const std::string& word : shorter) {
      const std::string p = param(word);
      for (int i = 0; i < 2; ++i)
        holds[i] += std::string(" AND instr(") + (i == 0 ? "card_search" : "image_search") +
                    ".text, " + p + ") > 0";
    }
    where.where +=
        " AND s.id IN (SELECT c5.site FROM card_search JOIN site_cards c5 "
        "ON c5.id = card_search.rowid WHERE " +
        holds[0] +
        " AND c5.id = (SELECT max(c6.id) FROM site_cards c6 WHERE c6.site = c5.site) "
        "UNION SELECT e5.site FROM image_search JOIN image_texts t ON t.id = image_search.rowid "
        "JOIN records r5 ON r5.image = t.image AND r5.model = t.model "
        "JOIN record_sites e5 ON e5.record = r5.id WHERE " +
        holds[1] + ")";
  }
  SqliteStatement st(db_, std::string("SELECT ") + kCardColumns + ", " + kRecordColumns +
                              kSiteQuery + "WHERE 1" + where.where + " ORDER BY s.id");
  for (size_t i = 0; i < where.params.size(); ++i) {
    const FilterParam& p = where.params[i];
    if (p.is_number)
      st.Bind(static_cast<int>(i) + 1, p.number);
    else
      st.Bind(static_cast<int>(i) + 1, p.text);
  }
  return ReadSites(st, out);
}

StoreResult SqliteStore::Site(int64_t id, SiteEntry& out) {
  SqliteStatement st(db_, std::string("SELECT ") + kCardColumns + ", " + kRecordColumns +
                              kSiteQuery + "WHERE s.id = ?1");
  st.Bind(1, id);
  std::vector<SiteEntry> found;
  return TakeFound(ReadSites(st, found), found, out, "объекта " + std::to_string(id) + " нет");
}

StoreResult SqliteStore::SitesNamed(std::string_view name, std::vector<int64_t>& out) {
  out.clear();
  SqliteStatement st(db_,
                     "SELECT c.site FROM site_cards c WHERE c.name = ?1 AND c.id = "
                     "(SELECT max(c2.id) FROM site_cards c2 WHERE c2.site = c.site) "
                     "ORDER BY c.site");
  st.Bind(1, name);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) out.push_back(st.Int(0));
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::SiteHistory(int64_t site, std::vector<RecordInfo>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              (site == 0 ? "WHERE e.site IS NULL " : "WHERE e.site = ?1 ") +
                              "ORDER BY e.time_us, r.id");
  if (site != 0) st.Bind(1, site);
  return ReadInfos(st, out);
}

StoreResult SqliteStore::DriftedSites(int64_t site, std::vector<SiteEntry>& out) {
  out.clear();
  SqliteStatement st(
      db_, std::string("SELECT ") + kCardColumns + ", " + kRecordColumns +
               " FROM sites s JOIN site_cards c ON c.id = (SELECT max(c2.id) FROM site_cards c2 "
               "WHERE c2.site = s.id) "
               "JOIN record_sites e ON e.record = (SELECT e2.record FROM record_sites e2 "
               "JOIN records r2 ON r2.id = e2.record WHERE e2.site = s.id AND "
               "r2.outcome = 'holds' ORDER BY e2.time_us DESC, e2.record DESC LIMIT 1) "
               "JOIN records r ON r.id = e.record LEFT JOIN images i ON i.id = r.image "
               "JOIN record_drift d ON d.record = r.record_id "
               "WHERE r.operation = 'read' AND (?1 = 0 OR s.id = ?1) ORDER BY s.id");
  st.Bind(1, site);
  return ReadSites(st, out);
}

StoreResult SqliteStore::Record(std::string_view id, RecordInfo& out) {
  SqliteStatement st(
      db_, std::string("SELECT ") + kRecordColumns + kRecordJoins + "WHERE r.record_id = ?1");
  st.Bind(1, id);
  std::vector<RecordInfo> found;
  return TakeFound(ReadInfos(st, found), found, out, "записи " + std::string(id) + " нет");
}

StoreResult SqliteStore::NewSite(const SiteCard& card, int64_t& id) {
  id = 0;
  return Transaction([&]() -> StoreResult {
    SqliteStatement made(db_, "INSERT INTO sites (at_us) VALUES (?1)");
    made.Bind(1, StoreTimeNow());
    StoreResult r = Done(made);
    if (!r.ok()) return r;
    SiteCard first = card;
    first.site = sqlite3_last_insert_rowid(db_);
    r = InsertCard(first);
    if (r.ok()) id = first.site;
    return r;
  });
}

StoreResult SqliteStore::AddCard(const SiteCard& card) {
  return Transaction([&]() -> StoreResult {
    SiteEntry known;
    const StoreResult r = Site(card.site, known);
    return r.ok() ? InsertCard(card) : r;
  });
}

StoreResult SqliteStore::Cards(int64_t site, std::vector<SiteCard>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kCardColumns +
                              " FROM site_cards c WHERE c.site = ?1 ORDER BY c.id");
  st.Bind(1, site);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) out.push_back(ReadCard(st, 0));
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::Assign(std::string_view record, int64_t site, std::string_view station,
                                std::string_view technician) {
  return Transaction([&]() -> StoreResult {
    RecordInfo info;
    SiteEntry known;
    StoreResult r = Record(record, info);
    if (r.ok()) r = Site(site, known);
    if (!r.ok()) return r;
    SqliteStatement st(db_,
                       "INSERT INTO assignments (record, site, at_us, station, technician) "
                       "VALUES (?1, ?2, ?3, ?4, ?5)");
    st.Bind(1, record).Bind(2, site).Bind(3, StoreTimeNow()).Bind(4, station).Bind(5, technician);
    return Done(st);
  });
}

StoreResult SqliteStore::AddNote(const RecordNote& note) {
  return Transaction([&]() -> StoreResult {
    RecordInfo info;
    const StoreResult r = Record(note.record, info);
    if (!r.ok()) return r;
    SqliteStatement st(db_,
                       "INSERT INTO record_notes (record, at_us, station, technician, text) "
                       "VALUES (?1, ?2, ?3, ?4, ?5)");
    st.Bind(1, note.record)
        .Bind(2, StoreTimeNow())
        .Bind(3, note.station)
        .Bind(4, note.technician)
        .Bind(5, note.text);
    return Done(st);
  });
}

StoreResult SqliteStore::SiteNotes(int64_t site, std::vector<RecordNote>& out) {
  out.clear();
  SqliteStatement st(
      db_, std::string("SELECT n.record, n.at_us, n.role, n.station, n.technician, n.text "
                       "FROM record_notes n JOIN records r ON r.record_id = n.record "
                       "JOIN record_sites e ON e.record = r.id ") +
               (site == 0 ? "WHERE e.site IS NULL " : "WHERE e.site = ?1 ") + "ORDER BY n.id");
  if (site != 0) st.Bind(1, site);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW)
    out.push_back({st.Text(0), st.Int(1), st.Text(2), st.Text(3), st.Text(4), st.Text(5)});
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
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

StoreResult SqliteStore::ClearImage(std::string_view record, CodesAccess why,
                                    std::string_view station, std::string_view technician,
                                    std::vector<uint8_t>& out) {
  // The read and its entry in one transaction: no codes read without the entry.
  return Transaction([&]() -> StoreResult {
    SqliteStatement find(db_,
                         "SELECT i.hash, e.site FROM records r JOIN record_sites e "
                         "ON e.record = r.id JOIN images i ON i.id = r.image "
                         "WHERE r.record_id = ?1");
    find.Bind(1, record);
    const int rc = find.Step();
    if (rc == SQLITE_DONE)
      return StoreFailure(StoreError::NotFound,
                          "записи " + std::string(record) + " с конфигурацией нет");
    if (rc != SQLITE_ROW) return SqliteFailure(db_, rc);
    const std::string hash = find.Text(0);
    const int64_t site = find.Int(1);
    SqliteStatement log(db_,
                        "INSERT INTO access_log (at_us, station, technician, record, site, why) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    log.Bind(1, StoreTimeNow()).Bind(2, station).Bind(3, technician).Bind(4, record);
    if (site != 0)
      log.Bind(5, site);
    else
      log.BindNull(5);
    log.Bind(6, AccessCode(why));
    const StoreResult r = Done(log);
    return r.ok() ? Image(hash, out) : r;
  });
}

StoreResult SqliteStore::AccessLog(StoreTime since, std::vector<AccessEntry>& out) {
  out.clear();
  SqliteStatement st(db_,
                     "SELECT at_us, role, station, technician, record, COALESCE(site, 0), why "
                     "FROM access_log WHERE at_us >= ?1 ORDER BY id");
  st.Bind(1, since);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW)
    out.push_back(
        {st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), st.Int(5), st.Text(6)});
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::Supersede(std::string_view record, const RecordInfo& correction,
                                   AddedRecord& added) {
  added = {};
  return Transaction([&]() -> StoreResult {
    RecordInfo old;
    StoreResult r = Record(record, old);
    if (!r.ok()) return r;
    if (!old.superseded_by.empty())
      return {StoreError::Failed,
              "запись " + old.id + " уже заменена записью " + old.superseded_by + ": заменяйте ту"};
    const int64_t site = correction.site != 0 ? correction.site : old.site;
    if (site != 0) {
      SiteEntry known;
      r = Site(site, known);
      if (!r.ok()) return r;
    }
    const StoreTime now = StoreTimeNow();
    SqliteStatement add(
        db_,
        "INSERT INTO records (record_id, site, model, object, prior_object, at_us, station_us, "
        "late, time_us, station, operator, technician, note, supersedes, port, device, "
        "operation, outcome, message, image, program) "
        "SELECT ?1, ?2, model, object, prior_object, ?3, ?3, 0, ?3, ?4, ?5, ?6, ?7, record_id, "
        "port, device, operation, outcome, message, image, ?8 FROM records WHERE record_id = ?9");
    add.Bind(1, correction.id);
    if (site != 0)
      add.Bind(2, site);
    else
      add.BindNull(2);
    add.Bind(3, now)
        .Bind(4, correction.station)
        .Bind(5, correction.operator_name)
        .Bind(6, correction.technician)
        .Bind(7, correction.note)
        .Bind(8, correction.program_version)
        .Bind(9, record);
    r = Done(add);
    if (r.ok()) added = {true, now, site};
    return r;
  });
}

StoreResult SqliteStore::Purge(int64_t site, std::string_view station, std::string_view technician,
                               int& images) {
  images = 0;
  // The freed pages zeroed, and the log of the file's earlier versions emptied after: no copy
  // of the codes left in the file.
  StoreResult r = Exec("PRAGMA secure_delete = ON");
  if (!r.ok()) return r;
  r = Transaction([&]() -> StoreResult {
    SiteEntry entry;
    StoreResult r = Site(site, entry);
    if (!r.ok()) return r;
    if (entry.card.status != "removed") return NotRemoved(site, entry.card.status);
    struct Kept {
      int64_t record, image;
      int model;
      std::vector<uint8_t> bytes;
    };
    std::vector<Kept> kept;
    SqliteStatement find(db_,
                         "SELECT r.id, r.model, i.id, i.hash FROM records r JOIN record_sites e "
                         "ON e.record = r.id JOIN images i ON i.id = r.image WHERE e.site = ?1");
    find.Bind(1, site);
    int rc;
    while ((rc = find.Step()) == SQLITE_ROW) {
      Kept k{find.Int(0), find.Int(2), static_cast<int>(find.Int(1)), {}};
      r = Image(find.Text(3), k.bytes);
      if (!r.ok()) return r;
      kept.push_back(std::move(k));
    }
    if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
    std::vector<int64_t> replaced;
    for (Kept& k : kept) {
      BlankCodes(k.model, k.bytes);
      int64_t blank = 0;
      r = StoreImage(k.bytes, blank);
      if (!r.ok()) return r;
      if (blank == k.image) continue;  // nothing of it was a code
      r = AddImageText(blank, k.model, k.bytes);  // codes are never searched: the same text
      if (!r.ok()) return r;
      SqliteStatement point(db_, "UPDATE records SET image = ?1 WHERE id = ?2");
      point.Bind(1, blank).Bind(2, k.record);
      r = Done(point);
      if (!r.ok()) return r;
      if (std::find(replaced.begin(), replaced.end(), k.image) == replaced.end())
        replaced.push_back(k.image);
    }
    // An image that another site's record still holds stays for that record.
    for (int64_t image : replaced) {
      // Its search texts first: they name the image.
      for (const char* sql :
           {"DELETE FROM image_search WHERE rowid IN (SELECT id FROM image_texts WHERE image = ?1) "
            "AND NOT EXISTS (SELECT 1 FROM records WHERE image = ?1)",
            "DELETE FROM image_texts WHERE image = ?1 AND NOT EXISTS "
            "(SELECT 1 FROM records WHERE image = ?1)",
            "DELETE FROM images WHERE id = ?1 AND NOT EXISTS "
            "(SELECT 1 FROM records WHERE image = ?1)"}) {
        SqliteStatement drop(db_, sql);
        drop.Bind(1, image);
        r = Done(drop);
        if (!r.ok()) return r;
      }
    }
    SqliteStatement log(db_,
                        "INSERT INTO purges (site, at_us, station, technician, images) "
                        "VALUES (?1, ?2, ?3, ?4, ?5)");
    log.Bind(1, site)
        .Bind(2, StoreTimeNow())
        .Bind(3, station)
        .Bind(4, technician)
        .Bind(5, static_cast<int64_t>(replaced.size()));
    r = Done(log);
    if (r.ok()) images = static_cast<int>(replaced.size());
    return r;
  });
  if (r.ok()) Exec("PRAGMA wal_checkpoint(TRUNCATE)");  // a reader holding it leaves it later
  return r;
}

StoreResult SqliteStore::Waiting(std::string_view target, int limit, std::vector<SiteRecord>& out) {
  out.clear();
  SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                              "WHERE r.waiting_for = ?1 ORDER BY r.id LIMIT ?2");
  st.Bind(1, target).Bind(2, int64_t{limit});
  // As they were given: the station's clock, and the server's site kept aside.
  std::vector<RecordInfo> infos;
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    RecordInfo info = ReadInfo(st, 0);
    info.time = info.station_time;
    info.site = st.Int(kWaitingSiteColumn);
    info.site_name.clear();
    infos.push_back(std::move(info));
  }
  StoreResult r = rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
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

// ---- Changes for many sites ----

StoreResult SqliteStore::LastProvenRecords(const std::vector<int64_t>& sites,
                                           std::vector<SiteRecord>& out) {
  out.assign(sites.size(), {});
  for (size_t i = 0; i < sites.size(); ++i) {
    SqliteStatement st(db_, std::string("SELECT ") + kRecordColumns + kRecordJoins +
                                "WHERE e.site = ?1 AND r.outcome = 'holds' AND r.image IS NOT NULL "
                                "ORDER BY e.time_us DESC, r.id DESC LIMIT 1");
    st.Bind(1, sites[i]);
    std::vector<RecordInfo> found;
    StoreResult r = ReadInfos(st, found);
    if (r.ok() && !found.empty()) {
      out[i].info = std::move(found.front());
      r = Image(out[i].info.image_hash, out[i].image);
    }
    if (!r.ok()) return r;
  }
  return {};
}

StoreResult SqliteStore::NewPlan(ChangePlan& plan, const std::vector<PlanSite>& sites) {
  return Transaction([&]() -> StoreResult {
    SqliteStatement known(db_, "SELECT 1 FROM change_plans WHERE name = ?1");
    known.Bind(1, plan.name);
    int rc = known.Step();
    if (rc == SQLITE_ROW)
      return StoreFailure(StoreError::Failed, "изменение «" + plan.name + "» уже есть");
    if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
    SqliteStatement made(
        db_,
        "INSERT INTO change_plans (name, at_us, station, technician, settings, "
        "selection, approval, max_failures) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    made.Bind(1, plan.name)
        .Bind(2, StoreTimeNow())
        .Bind(3, plan.station)
        .Bind(4, plan.technician)
        .Bind(5, JoinSettings(plan.settings))
        .Bind(6, plan.selection)
        .Bind(7, int64_t{plan.approval_required ? 1 : 0})
        .Bind(8, int64_t{plan.max_failures});
    StoreResult r = Done(made);
    if (!r.ok()) return r;
    plan.id = sqlite3_last_insert_rowid(db_);
    for (const PlanSite& site : sites) {
      SqliteStatement add(db_,
                          "INSERT INTO plan_sites (plan, site, model, object, base_record, "
                          "base_hash, state, reason, changes, findings) VALUES "
                          "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
      add.Bind(1, plan.id)
          .Bind(2, site.site)
          .Bind(3, int64_t{site.model})
          .Bind(4, site.object)
          .Bind(5, site.base_record)
          .Bind(6, site.base_hash)
          .Bind(7, PlanStateCode(site.state))
          .Bind(8, site.reason)
          .Bind(9, JoinChanges(site.changes))
          .Bind(10, JoinLines(site.findings));
      r = Done(add);
      if (!r.ok()) return r;
    }
    return {};
  });
}

StoreResult SqliteStore::ReadPlan(std::string_view name, int64_t id, ChangePlan& out) {
  SqliteStatement st(
      db_,
      "SELECT p.id, p.name, p.at_us, p.role, p.station, p.technician, p.settings, p.selection, "
      "p.approval, p.max_failures, "
      "EXISTS (SELECT 1 FROM plan_decisions d WHERE d.plan = p.id AND d.decision = 'approved'), "
      "EXISTS (SELECT 1 FROM plan_decisions d WHERE d.plan = p.id AND d.decision = 'cancelled'), "
      "(SELECT count(*) FROM plan_outcomes o WHERE o.plan = p.id AND o.state = 'failed' AND "
      "o.at_us > COALESCE((SELECT max(d.at_us) FROM plan_decisions d WHERE d.plan = p.id AND "
      "d.decision = 'resumed'), 0)) "
      "FROM change_plans p WHERE p.name = ?1 OR p.id = ?2");
  st.Bind(1, name).Bind(2, id);
  const int rc = st.Step();
  if (rc == SQLITE_DONE)
    return StoreFailure(StoreError::NotFound, "изменения «" + std::string(name) + "» нет");
  if (rc != SQLITE_ROW) return SqliteFailure(db_, rc);
  out = {};
  out.id = st.Int(0);
  out.name = st.Text(1);
  out.at = st.Int(2);
  out.role = st.Text(3);
  out.station = st.Text(4);
  out.technician = st.Text(5);
  out.settings = SplitSettings(st.Text(6));
  out.selection = st.Text(7);
  out.approval_required = st.Int(8) != 0;
  out.max_failures = static_cast<int>(st.Int(9));
  out.approved = st.Int(10) != 0;
  out.cancelled = st.Int(11) != 0;
  out.failures = static_cast<int>(st.Int(12));
  return {};
}

StoreResult SqliteStore::FindPlan(std::string_view name, ChangePlan& out) {
  return ReadPlan(name, 0, out);
}

StoreResult SqliteStore::ReadPlanSites(int64_t plan, int64_t site, std::vector<PlanSite>& out) {
  out.clear();
  SqliteStatement st(
      db_, std::string(
               "SELECT ps.site, (SELECT c.name FROM site_cards c WHERE c.site = ps.site "
               "ORDER BY c.id DESC LIMIT 1), ps.model, ps.object, ps.base_record, ps.base_hash, "
               "ps.state, ps.reason, ps.changes, ps.findings, cl.station, cl.at_us, "
               "(cl.id IS NOT NULL AND NOT EXISTS (SELECT 1 FROM plan_outcomes o3 "
               "WHERE o3.claim = cl.id)), o.state, o.reason, o.record, o.at_us "
               "FROM plan_sites ps LEFT JOIN plan_claims cl ON cl.id = (SELECT max(c2.id) "
               "FROM plan_claims c2 WHERE c2.plan = ps.plan AND c2.site = ps.site) "
               "LEFT JOIN plan_outcomes o ON o.claim = (SELECT max(o2.claim) FROM plan_outcomes o2 "
               "WHERE o2.plan = ps.plan AND o2.site = ps.site) WHERE ps.plan = ?1 ") +
               (site != 0 ? "AND ps.site = ?2 " : "") + "ORDER BY ps.site");
  st.Bind(1, plan);
  if (site != 0) st.Bind(2, site);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    PlanSite s;
    s.site = st.Int(0);
    s.site_name = st.Text(1);
    s.model = static_cast<int>(st.Int(2));
    s.object = st.Text(3);
    s.base_record = st.Text(4);
    s.base_hash = st.Text(5);
    PlanStateOfCode(st.Text(6), s.state);
    s.reason = st.Text(7);
    s.changes = SplitChanges(st.Text(8));
    s.findings = SplitLines(st.Text(9));
    s.station = st.Text(10);
    s.at = st.Int(11);
    s.applying = st.Int(12) != 0;
    if (const std::string state = st.Text(13); !state.empty()) {
      PlanStateOfCode(state, s.state);
      s.reason = st.Text(14);
      s.record = st.Text(15);
      s.at = std::max(s.at, st.Int(16));
    }
    out.push_back(std::move(s));
  }
  return rc == SQLITE_DONE ? StoreResult{} : SqliteFailure(db_, rc);
}

StoreResult SqliteStore::PlanSites(int64_t plan, std::vector<PlanSite>& out) {
  return ReadPlanSites(plan, 0, out);
}

StoreResult SqliteStore::DecidePlan(int64_t plan, PlanDecision decision, std::string_view station,
                                    std::string_view technician) {
  return Transaction([&]() -> StoreResult {
    SqliteStatement st(db_,
                       "INSERT INTO plan_decisions (plan, decision, at_us, station, technician) "
                       "VALUES (?1, ?2, ?3, ?4, ?5)");
    st.Bind(1, plan)
        .Bind(2, PlanDecisionCode(decision))
        .Bind(3, StoreTimeNow())
        .Bind(4, station)
        .Bind(5, technician);
    return Done(st);
  });
}

StoreResult SqliteStore::ClaimPlanSite(int64_t plan, int64_t site, std::string_view station,
                                       PlanClaim& claim) {
  claim = {};
  return Transaction([&]() -> StoreResult {
    ChangePlan known;
    std::vector<PlanSite> sites;
    StoreResult r = ReadPlan({}, plan, known);
    if (r.ok()) r = ReadPlanSites(plan, site, sites);
    if (!r.ok()) return r;
    if (sites.empty())
      return StoreFailure(StoreError::NotFound, "объекта " + std::to_string(site) +
                                                    " нет в изменении «" + known.name + "»");
    claim.why = PlanClosedWhy(known);
    if (claim.why.empty()) claim.why = SiteClosedWhy(sites.front());
    if (!claim.why.empty()) return {};
    SqliteStatement st(db_,
                       "INSERT INTO plan_claims (plan, site, attempt, at_us, station) VALUES "
                       "(?1, ?2, (SELECT count(*) + 1 FROM plan_claims WHERE plan = ?1 AND "
                       "site = ?2), ?3, ?4)");
    st.Bind(1, plan).Bind(2, site).Bind(3, StoreTimeNow()).Bind(4, station);
    const int rc = st.Step();
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
      claim.why = "объект " + std::to_string(site) + ": изменение уже применяет другая станция";
      return {};
    }
    if (rc != SQLITE_DONE) return SqliteFailure(db_, rc);
    claim.claimed = true;
    claim.id = sqlite3_last_insert_rowid(db_);
    return {};
  });
}

StoreResult SqliteStore::EndPlanSite(int64_t claim, PlanState state, std::string_view reason,
                                     std::string_view record) {
  return Transaction([&]() -> StoreResult {
    SqliteStatement st(db_,
                       "INSERT INTO plan_outcomes (claim, plan, site, state, reason, record, "
                       "at_us) SELECT id, plan, site, ?2, ?3, ?4, ?5 FROM plan_claims "
                       "WHERE id = ?1");
    st.Bind(1, claim)
        .Bind(2, PlanStateCode(state))
        .Bind(3, reason)
        .Bind(4, record)
        .Bind(5, StoreTimeNow());
    StoreResult r = Done(st);
    if (r.ok() && sqlite3_changes(db_) != 1)
      r = StoreFailure(StoreError::NotFound, "заявки " + std::to_string(claim) + " нет");
    return r;
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
