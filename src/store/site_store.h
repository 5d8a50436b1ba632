// The store of sites: every read and write of a device, kept in a database. A site is a place
// (an id of the registry's own, and a card: its name, usually the address, the customer...); its
// history is every record that belongs to it. A record keeps its times (the registry's own
// time of arrival beside the station's clock), the station (host name), the operator (system
// user), the technician and the reason, the port, the device's identification line, its model
// and object number, the operation and its outcome with the message, the program's version and
// the image (the whole image: model 251's 4096 bytes). Images are kept once each, by their
// SHA-256.
//
// Nothing is changed in place: a card is a series of versions (the newest is the card), a record
// put under another site later is an assignment row of its own, a note added later is a row of
// its own, a mistaken record is superseded by a new one that names it. The effective site of a
// record (its newest assignment, else its own) is kept by the database itself.
//
// One interface, one source file per database: store_sqlite.cpp (a file, one laptop),
// store_postgres.cpp (a server shared by an office). Both keep the same schema, versioned: a
// store made by a newer program is refused and left exactly as it was; an older one is brought
// up to date in one transaction.
//
// Threads: a store object is used by one thread at a time. Several programs (and several
// stations, for a server) may use one database at once: each record is one transaction.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/change_plans.h"

namespace lovar {

// The schema this program writes. Raised with every change of the tables, with a step in each
// backend's migration list.
inline constexpr int kStoreSchemaVersion = 6;

// What went wrong, at the store's boundary; the databases' own codes are mapped in one function
// per backend.
enum class StoreError {
  None,
  Unreachable,  // the server cannot be reached (now), or the connection was lost
  Busy,         // another program holds the registry locked for longer than the wait
  ReadOnly,     // the registry may only be read (the file, its folder, the server's role)
  Full,         // no space on the disk, or the file may not grow
  NewerSchema,  // made by a newer version of the program: refused, nothing changed
  NotRegistry,  // not a registry of this program (another database, a damaged file)
  Denied,       // the server refused the user: password, pg_hba.conf, rights
  NotFound,     // no such site, record or image
  BadLocation,  // the place named is no registry's place: a malformed connection string
  NoClient,     // PostgreSQL's client library is missing
  NoDatabase,   // the server has no such database
  Tls,          // no secure connection as the string asks: the server's certificate, no TLS
  Foreign,      // the file or its folder belongs to another user
  Failed,       // anything else
};

struct StoreResult {
  StoreError error = StoreError::None;
  std::string message;  // Russian, one line, never with a password; empty when ok
  bool ok() const { return error == StoreError::None; }
};

// The one text of each error, e.g. "реестр занят другой программой".
std::string_view StoreErrorText(StoreError error);
// A failure: the error's text, then the detail in parentheses when there is one.
StoreResult StoreFailure(StoreError error, std::string_view detail = {});
// The one row a query by id found, or NotFound saying missing ("записи … нет"); a failed
// query's result as it is.
template <typename Row>
StoreResult TakeFound(const StoreResult& read, std::vector<Row>& found, Row& out,
                      const std::string& missing) {
  if (!read.ok()) return read;
  if (found.empty()) return StoreFailure(StoreError::NotFound, missing);
  out = std::move(found.front());
  return {};
}

enum class RecordOperation : uint8_t { Read, Write, Batch, Archive };
enum class RecordOutcome : uint8_t {
  Holds,       // the device holds the image: a complete read, a proven write
  NotWritten,  // nothing was written: the device keeps what it held (the image, when read)
  Unproven,    // written to its end but not proven: the image is what was sent
  Stopped,     // the write stopped midway: the device may hold a mix (the image: what it may hold)
  Failed,      // the step failed before the device's image was known; no image
};
// Codes as the database keeps them: "read", "holds"...
std::string_view OperationCode(RecordOperation op);
std::string_view OutcomeCode(RecordOutcome outcome);
bool OperationOfCode(std::string_view code, RecordOperation& op);
bool OutcomeOfCode(std::string_view code, RecordOutcome& outcome);
// As a person reads them: "чтение", "записано, проверено"...
std::string_view OperationText(RecordOperation op);
std::string_view OutcomeText(RecordOperation op, RecordOutcome outcome);

// Microseconds since 1970-01-01 00:00 UTC.
using StoreTime = int64_t;
StoreTime StoreTimeNow();

// What a record says, without its image.
struct RecordInfo {
  std::string id;  // made at the station (NewRecordId): the same record sent twice is kept once
  // Given: the station's clock at the step. Read back: the record's time, which is the
  // registry's time of arrival, or the station's clock for a record that arrived late.
  StoreTime time = 0;
  // Given: the record arrives after the step (it waited on the station, or comes from an
  // archive), so the station's clock is its time. Read back: as kept.
  bool late = false;
  StoreTime station_time = 0;  // read back: the station's clock at the step
  StoreTime arrived = 0;       // read back: the registry's time of arrival
  std::string role;            // read back: the server's login that sent it ("" for a file)
  // The site: the registry's id, 0 for none ("объект не указан"). Given 0, a device with an
  // object number is matched by it (by prior_object when given), and a number the registry
  // does not know makes a site of its own.
  int64_t site = 0;
  std::string site_name;      // read back: the site's card name
  std::string prior_object;   // the device's object number before this write, when it differs
  std::string technician;     // who did the work (--operator, LOVAR_OPERATOR); may be empty
  std::string note;           // why (--note); may be empty
  std::string supersedes;     // the id of the record this one corrects, or empty
  std::string superseded_by;  // read back: the id of the record that corrects this one, or empty
  std::string station;
  std::string operator_name;
  std::string port;
  int model = 0;
  std::string device_line;  // "Ловар-М Версия 2.2"
  std::string object;       // "" for a model that has no object number, or none set
  RecordOperation operation = RecordOperation::Read;
  RecordOutcome outcome = RecordOutcome::Holds;
  std::string message;
  std::string program_version;
  std::string image_hash;  // SHA-256 in hex, "" when the record has no image
  int image_length = 0;    // the image's bytes from offset 0: 256, 2048 or 4096
  // A read: the fields (ids, comma-separated: model/drift.h) whose values differed from the
  // site's last proven record, which drift_base names; "" when none or not compared.
  std::string drift;
  std::string drift_base;
};

// Whether the record proves what the device held: a complete read, or a write proven whole.
inline bool ProvesHeld(const RecordInfo& record) {
  return record.outcome == RecordOutcome::Holds && !record.image_hash.empty();
}

struct SiteRecord {
  RecordInfo info;             // image_hash and image_length follow from image
  std::vector<uint8_t> image;  // from offset 0; empty when none
};

// A model and object number with its newest record (the registry's sites before they were
// places; the window's list still shows them so).
struct SiteSummary {
  int model = 0;
  std::string object;
  RecordInfo last;
};

inline constexpr std::string_view kSiteStatuses[] = {"active", "suspended", "removed"};

// One version of a site's card.
struct SiteCard {
  int64_t site = 0;
  StoreTime at = 0;  // read back: the registry's time of the version
  std::string role;  // read back: the server's login that made it
  std::string technician;
  std::string name;  // usually the address
  std::string customer;
  std::string phones;
  std::string contract;  // the contract or account number
  std::string status = "active";
  std::string installed;  // a date, as typed, or empty
  std::string remark;
};

// A site: its card and its newest record (last.id empty when it has none).
struct SiteEntry {
  SiteCard card;
  RecordInfo last;
};

// Which sites a list shows: every condition given holds (an empty field, a zero time: no
// condition). The stores answer it in SQL, the text through each database's own text index.
struct SiteFilter {
  // Words found in the site's card (name, customer, telephones, contract, remark) or in one
  // configuration recorded for it (its telephone numbers, loop names, object number...): every
  // word in the same one, as a part of it, whatever the case ("Ленина 5", "912345").
  std::string text;
  std::string object_prefix;  // the newest record's object number begins so
  int model = 0;              // the newest record's model; 0: any
  std::string status;         // the card's: "active", "suspended", "removed"
  std::string outcome;        // the newest record's (OutcomeCode): "unproven"...
  // A record of the site made by that station and that technician between from and to (both
  // included): the conditions given, all of one record.
  StoreTime from = 0;
  StoreTime to = 0;
  std::string station;
  std::string technician;
  // No record at or after this time ("not touched since"): sites without records too.
  StoreTime untouched_since = 0;
  bool Empty() const {
    return text.empty() && object_prefix.empty() && model == 0 && status.empty() &&
           outcome.empty() && from == 0 && to == 0 && station.empty() && technician.empty() &&
           untouched_since == 0;
  }
};

// A note added to a record later.
struct RecordNote {
  std::string record;
  StoreTime at = 0;  // the registry's time
  std::string role;
  std::string station;
  std::string technician;
  std::string text;
};

// What Add did.
struct AddedRecord {
  bool added = false;     // false: a record of the same id was there already (no failure)
  StoreTime arrived = 0;  // the registry's time of arrival (of the one kept before, if so)
  int64_t site = 0;       // the site it was kept under, 0 for none
};

// Why an image was read with its codes in clear, as the access log keeps it.
enum class CodesAccess : uint8_t {
  Export,   // saved into a file (sites export)
  Show,     // shown or compared (sites show, sites diff, the window's comparison)
  Restore,  // loaded to be written to a device again (the window's "Загрузить в окно")
};
std::string_view AccessCode(CodesAccess why);  // "export", "show", "restore"
std::string_view AccessText(std::string_view code);  // "выгрузка", "просмотр", "восстановление"

// One read of clear codes, as the access log keeps it.
struct AccessEntry {
  StoreTime at = 0;  // the registry's time
  std::string role;  // the server's login ("" for a file)
  std::string station;
  std::string technician;
  std::string record;
  int64_t site = 0;  // the record's site then, 0 for none
  std::string why;   // AccessCode's
};

// 32 random hexadecimal digits.
std::string NewRecordId();

class SiteStore {
 public:
  virtual ~SiteStore() = default;

  // Where the store is, for messages: the file's path, or the server without any password.
  virtual std::string Where() const = 0;
  // Said once after the open, e.g. that the connection is not encrypted; may be empty.
  virtual std::vector<std::string> Notes() const { return {}; }

  // Keeps the record in one transaction, its site made when new and its image stored unless
  // an image of the same hash is there: all of it or nothing. waiting_for non-empty marks it
  // as waiting for that server (the local store of a station that could not reach it).
  // A record of the same id there already is no failure (added.added false). Its site: as
  // RecordInfo::site says; a site that is not in the registry leaves it of no site (kept all
  // the same: added.site says 0). A record waiting for
  // a server keeps the server's site id aside, never as one of this store's sites.
  virtual StoreResult Add(const SiteRecord& record, std::string_view waiting_for,
                          AddedRecord& added) = 0;

  // The sites whose object number begins with prefix ("" for all), each with its newest
  // record, ordered by object number (digits as numbers) and model.
  virtual StoreResult Sites(std::string_view prefix, std::vector<SiteSummary>& out) = 0;
  // Every record of the site, oldest first; model 0: the sites of that object number of any
  // model.
  virtual StoreResult History(int model, std::string_view object, std::vector<RecordInfo>& out) = 0;
  // Every site with its newest card and newest record, by id.
  virtual StoreResult SiteList(std::vector<SiteEntry>& out) = 0;
  // The sites the filter chooses, as SiteList, by id.
  virtual StoreResult SiteList(const SiteFilter& filter, std::vector<SiteEntry>& out) = 0;
  // The site of that id; NotFound when there is none.
  virtual StoreResult Site(int64_t id, SiteEntry& out) = 0;
  // The sites whose card (its newest version) is named exactly name, by id.
  virtual StoreResult SitesNamed(std::string_view name, std::vector<int64_t>& out) = 0;
  // Every record of the site, oldest first; site 0: the records of no site.
  virtual StoreResult SiteHistory(int64_t site, std::vector<RecordInfo>& out) = 0;
  // The sites (site 0: every site, else that one) whose newest record that proves what the
  // device held is a read that found drift, by id; last: that read.
  virtual StoreResult DriftedSites(int64_t site, std::vector<SiteEntry>& out) = 0;
  // The record of that id; NotFound when there is none.
  virtual StoreResult Record(std::string_view id, RecordInfo& out) = 0;
  // A new site with its first card; id: the site's.
  virtual StoreResult NewSite(const SiteCard& card, int64_t& id) = 0;
  // A new version of card.site's card.
  virtual StoreResult AddCard(const SiteCard& card) = 0;
  // Every version of the site's card, oldest first.
  virtual StoreResult Cards(int64_t site, std::vector<SiteCard>& out) = 0;
  // The record put under site from now on (an assignment row of its own).
  virtual StoreResult Assign(std::string_view record, int64_t site, std::string_view station,
                             std::string_view technician) = 0;
  // A note added to the record.
  virtual StoreResult AddNote(const RecordNote& note) = 0;
  // The notes added to the records of the site (site 0: of no site), oldest first.
  virtual StoreResult SiteNotes(int64_t site, std::vector<RecordNote>& out) = 0;

  // The image of that hash, checked against it (a damaged image is refused, never shown).
  virtual StoreResult Image(std::string_view hash, std::vector<uint8_t>& out) = 0;

  // Records that wait for the server target, oldest first, with their images, at most limit.
  virtual StoreResult Waiting(std::string_view target, int limit, std::vector<SiteRecord>& out) = 0;
  // Records waiting, per server: (target, count).
  virtual StoreResult WaitingCounts(std::vector<std::pair<std::string, int>>& out) = 0;
  // The records sent: no longer waiting.
  virtual StoreResult MarkSent(const std::vector<std::string>& ids) = 0;

  // The image of the record with its codes in clear, the read kept in the access log (who, when,
  // which record and site, why) in the same transaction: no read without its entry. On a server
  // only through the function the roles grant (lovar_codes, lovar_station); NotFound when the
  // record has no image.
  virtual StoreResult ClearImage(std::string_view record, CodesAccess why, std::string_view station,
                                 std::string_view technician, std::vector<uint8_t>& out);
  // The access log from since on, oldest first.
  virtual StoreResult AccessLog(StoreTime since, std::vector<AccessEntry>& out);
  // A new record that corrects record (never edited): its image and fields as the old one's,
  // with correction's id, station, operator, technician, note and program; correction.site, or
  // the old one's site when 0. A record corrected once is corrected again through its
  // correction (the database refuses a second).
  virtual StoreResult Supersede(std::string_view record, const RecordInfo& correction,
                                AddedRecord& added);
  // The code and key bytes of every image of a removed site set to 0 for good, each record then
  // pointing at its blanked image, and a purge row left (who, when, how many images). The
  // database refuses a site whose card does not say removed, and a role that is not the admin.
  virtual StoreResult Purge(int64_t site, std::string_view station, std::string_view technician,
                            int& images);

  // The store's own small settings (e.g. which archive folders were taken in).
  virtual StoreResult Setting(std::string_view key, std::string& value, bool& found) = 0;
  virtual StoreResult SetSetting(std::string_view key, std::string_view value) = 0;

  // Each site's last proven record (its newest whose outcome is Holds, with an image) with the
  // image, in the order of sites; a site without one: info.id empty. Few statements for many
  // sites (a plan over thousands of them).
  virtual StoreResult LastProvenRecords(const std::vector<int64_t>& sites,
                                        std::vector<SiteRecord>& out) = 0;

  // Changes for many sites (change_plans.h). A new plan with its sites, in one transaction;
  // plan.id is its id. A name taken already is refused (Failed, saying so), nothing kept.
  virtual StoreResult NewPlan(ChangePlan& plan, const std::vector<PlanSite>& sites) = 0;
  // The plan of that name with its decisions and failures; NotFound when there is none.
  virtual StoreResult FindPlan(std::string_view name, ChangePlan& out) = 0;
  // The plan's sites with their states, by site.
  virtual StoreResult PlanSites(int64_t plan, std::vector<PlanSite>& out) = 0;
  // The office's decision, a row of its own (on a server only the office and admin roles may).
  virtual StoreResult DecidePlan(int64_t plan, PlanDecision decision, std::string_view station,
                                 std::string_view technician) = 0;
  // Claims the site for this station before the change is applied at its device; not claimed
  // (claim.why) when the plan may not be applied now or the site is not waiting for it, or
  // another station claimed it first.
  virtual StoreResult ClaimPlanSite(int64_t plan, int64_t site, std::string_view station,
                                    PlanClaim& claim) = 0;
  // The claim's outcome (done, failed, conflict, skipped), why, and the write's record id.
  virtual StoreResult EndPlanSite(int64_t claim, PlanState state, std::string_view reason,
                                  std::string_view record) = 0;
};

struct StoreOptions {
  // How long to wait for a registry that another program holds locked (SQLite), or for a row
  // another station holds (PostgreSQL), before giving up with Busy.
  std::chrono::milliseconds busy_wait{5000};
  // How long to wait for a server to answer before counting it unreachable (PostgreSQL),
  // unless the connection string says otherwise.
  std::chrono::seconds connect_timeout{5};
  // A missing file is made (SQLite); otherwise it is NotFound.
  bool create = true;
  // Every record on the disk before Add returns. Off only for loading many records at once
  // (a benchmark's fill): a crash may then lose the last of them, never break the store.
  bool durable = true;
};

struct OpenedStore {
  std::unique_ptr<SiteStore> store;  // null when result is not ok
  StoreResult result;
};

// The backends. A file is made on first use (readable by its owner only; its folder must
// exist); a database of another program's making, damaged or of a newer schema is refused and
// left as it was.
OpenedStore OpenSqliteStore(const std::string& utf8_path, const StoreOptions& options);
// conninfo: a postgresql:// or postgres:// connection string. The schema (lovar.*) is made or
// brought up to date under a lock, so that stations starting at once do it once.
OpenedStore OpenPostgresStore(const std::string& conninfo, const StoreOptions& options);

}  // namespace lovar
