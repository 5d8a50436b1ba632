// The registry of sites as the program uses it: every complete read, every write (its outcome,
// and for a write that stopped what the device may hold) and every batch row is recorded here,
// and the window's "Объекты…" and lovar-cli's "sites" commands read it.
//
// Where it is: --db (lovar-cli) or the window's setting, else $LOVAR_DB, else one SQLite file in
// the user's data folder (DefaultRegistryFile), made on first use. A postgresql:// string names
// a server that the stations of an office share; when it cannot be reached, a record goes to
// this station's own file instead, marked as waiting for that server, and Sync sends what waits
// (a record sent twice is kept once: its id is made here, at the station).
//
// Nothing recorded is dropped: a record the registry cannot take now (a file locked by another
// program, full, read-only; a server and the station's own file both failing) is held, tried
// again by KeepPending (the fronts call it when their devices are done; the destructor does
// when they do not), and failing that kept in a side file beside the registry's file
// ("registry.sqlite.kept-….sqlite"), which the next open takes in.
//
// A server found out of reach (or a file found locked) rests: for a while after the failure it
// is not tried again (10 s, doubling with each failure in a row up to a minute; a success ends
// it): a record goes straight to the station's waiting room (or is held), and a query says the
// failure at once, so that one wait is not waited again by every record behind it.
//
// Threads: one thread at a time. Open, Record and Sync may wait up to the connection time-out
// (StoreOptions) for a server that does not answer; the programs call them on the registry's
// own thread (recording/registry_worker.h), never on the devices' loop or the window's.
// A thread that used a server must call ReleaseThreadTls (store_os.h) before it ends.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/archive.h"
#include "store/site_store.h"

namespace lovar {

struct RegistryLocation {
  bool shared = false;  // a PostgreSQL server
  std::string text;     // the file's path in UTF-8, or the connection string
};

// The SQLite file in DefaultDataFolder() (store_os.h): "registry.sqlite". Empty when the system
// names no data folder.
std::filesystem::path DefaultRegistryFile();

// The location chosen: db_option (--db, or the window's setting) when not empty, else env_db
// ($LOVAR_DB) when not null and not empty, else the default file. Refused, with why: a
// "key=value" connection string (write it as postgresql://…), a postgresql:// string that does
// not parse cleanly (postgres_location.h) or names no server, SQLite's names that are no file
// (":memory:", "file:…" URIs), and no location at all.
bool ChooseLocation(std::string_view db_option, const char* env_db, RegistryLocation& out,
                    std::string& why);

struct RegistryOptions {
  RegistryLocation location;
  // Where records wait for a server that cannot be reached; empty: DefaultRegistryFile().
  std::filesystem::path local_file;
  StoreOptions store;
  // Notes() says how many records of this station wait for the server; off for a run that
  // sends them (sync) and says what it sent.
  bool note_waiting = true;
  // For recording: a file that cannot be opened now (locked, full, read-only) is no failure of
  // Open; records are held as Pending, and KeepPending tries it again. Queries then fail at
  // once, with why.
  bool defer_file = false;
};

// How one record went.
struct RecordResult {
  enum class Kept {
    InRegistry,  // in the registry
    Waiting,     // on this station, waiting for the server
    Pending,     // held by the registry object: KeepPending keeps it, else a side file does
    Nowhere,     // lost (only KeepPending says so)
  };
  Kept kept = Kept::Nowhere;
  // InRegistry: empty. Waiting: that the server was not reached and the record waits on this
  // station. Pending: why the registry could not take it now, and that it is held (empty for
  // the records held behind the first). The caller says so; the device is as the step left it
  // whatever the registry says.
  std::string message;
  bool already = false;  // a record of the same id was kept before (sent twice)
  // InRegistry: to be said beside it, or empty: the station's clock far from the registry's,
  // a site asked for that the registry does not have (the record is then of no site).
  std::string note;
  int64_t site = 0;  // InRegistry: the site it went under, 0 for none
  bool ok() const { return kept == Kept::InRegistry || kept == Kept::Waiting; }
};

// What became of the records held (KeepPending).
struct PendingResult {
  int kept = 0;  // the registry (or the station's waiting room) took them now
  int side = 0;  // kept in a side file beside the registry's file: the next open takes them in
  int lost = 0;  // kept nowhere
  std::vector<std::string> notes;       // each a line in Russian
  std::vector<std::string> side_files;  // the side files written, shown as messages show paths
  bool ok() const { return lost == 0; }
};

struct SyncResult {
  StoreResult result;  // the first failure; what was sent before it stays sent
  int sent = 0;        // records the server took
  int already = 0;     // records the server had already (a sync cut short before)
  int left = 0;        // records still waiting for this server
  std::vector<std::pair<std::string, int>> other_servers;  // records waiting for other servers
};

struct ImportResult {
  StoreResult result;
  bool done_before = false;          // the folder was taken in before: nothing was read
  int taken = 0;                     // files recorded now
  int already = 0;                   // files the registry had already
  int waiting = 0;                   // of taken, those waiting for the server
  std::vector<std::string> skipped;  // files named as the archive names them but not loadable
};

class Registry {
 public:
  // Opens the registry. Fails (result says why, in Russian, without a password) when it cannot
  // be used at all: a file that cannot be made or opened, a database that is no registry, a
  // registry made by a newer version (refused, nothing changed). A server that cannot be
  // reached, or refuses the user, is no failure: records then wait on this station, and
  // ServerState() says why.
  static std::unique_ptr<Registry> Open(const RegistryOptions& options, StoreResult& result);
  // Keeps what is still held (KeepPending), saying nothing: a front that says what became of
  // its records calls KeepPending itself.
  ~Registry();

  // The registry as messages name it: the file's path or the server, never a password.
  std::string Where() const;
  bool Shared() const { return options_.location.shared; }
  // To be said once after the open: an unencrypted connection, records of this station
  // waiting to be sent.
  std::vector<std::string> Notes() const { return notes_; }
  // A shared registry: why its server was not reached the last time it was tried (ok when it
  // was, or not tried yet). Records then wait on this station; a caller that records says so.
  StoreResult ServerState() const;

  // Fills what record leaves empty: the id, the time (now), the station, the operator and the
  // program's version; a time given means the record comes late (from an archive), and is its
  // time. Any thread: a record stamped when it is made keeps its time and id wherever it is
  // kept later.
  static void Stamp(SiteRecord& record);
  // Records one step, stamped first unless it was. Each record is one transaction: kept whole
  // or not at all. A record the registry cannot take now is held (Pending); once one is held,
  // the next join it in order, without a new wait while the registry rests; then the held ones
  // are tried again.
  RecordResult Record(SiteRecord record);
  // The records held: tried again, whatever the rest (a failure stops the tries), and what the
  // registry still cannot take goes to a side file beside its file. May wait up to the busy or
  // connection time-out once.
  PendingResult KeepPending();
  int PendingCount() const { return static_cast<int>(pending_.size()); }
  // The records held, handed over and no longer held (for KeepAside, by a program that cannot
  // wait for the registry any longer).
  std::vector<SiteRecord> TakePending() { return std::exchange(pending_, {}); }
  // Records that the registry at options' place did not take (why: its failure), kept in a side
  // file beside its file without opening it: for a program that cannot wait for the registry
  // any longer. Any thread, also while another uses a Registry of that place. A record kept
  // twice (here, and by a try that was still under way) is one record: its id is its own.
  static PendingResult KeepAside(const RegistryOptions& options, std::vector<SiteRecord> records,
                                 const std::string& why);

  // The sites whose object number begins with prefix, with their newest record.
  StoreResult Sites(std::string_view prefix, std::vector<SiteSummary>& out);
  // Every record of the site, oldest first. model 0: the object number of any model.
  StoreResult History(int model, std::string_view object, std::vector<RecordInfo>& out);
  StoreResult Image(std::string_view hash, std::vector<uint8_t>& out);
  // The newest record of the site at or before `at` that has an image, with the image: what
  // the device held then (or may have held: see its outcome). model 0 when the object number
  // names one site only; otherwise the failure names the models.
  // The image is read in clear as ClearImage reads it, for why, by technician.
  StoreResult VersionAt(int model, std::string_view object, StoreTime at, RecordInfo& info,
                        std::vector<uint8_t>& image, CodesAccess why = CodesAccess::Show,
                        std::string_view technician = {});

  // Sites as places (site_store.h).
  StoreResult SiteList(std::vector<SiteEntry>& out);
  StoreResult SiteList(const SiteFilter& filter, std::vector<SiteEntry>& out);
  StoreResult Site(int64_t id, SiteEntry& out);
  // The site that wanted names: its id (digits), else the name of its card; NotFound, with the
  // ids, when a name is on several cards.
  StoreResult FindSite(std::string_view wanted, int64_t& id);
  StoreResult SitesNamed(std::string_view name, std::vector<int64_t>& out);
  StoreResult SiteHistory(int64_t site, std::vector<RecordInfo>& out);
  StoreResult DriftedSites(int64_t site, std::vector<SiteEntry>& out);
  StoreResult SiteNotes(int64_t site, std::vector<RecordNote>& out);
  StoreResult FindRecord(std::string_view id, RecordInfo& out);
  StoreResult Cards(int64_t site, std::vector<SiteCard>& out);
  StoreResult NewSite(const SiteCard& card, int64_t& id);
  StoreResult AddCard(const SiteCard& card);
  // The station is this one's.
  StoreResult Assign(std::string_view record, int64_t site, std::string_view technician);
  StoreResult AddNote(std::string_view record, std::string_view text, std::string_view technician);

  // The guarded codes (site_store.h), with this station's name. The record's image in clear,
  // the read kept in the access log; an image by its hash (Image) is for this program's own
  // checks, and a server's roles give it to none but the admin.
  StoreResult ClearImage(std::string_view record, CodesAccess why, std::string_view technician,
                         std::vector<uint8_t>& out);
  StoreResult AccessLog(StoreTime since, std::vector<AccessEntry>& out);
  // A new record that corrects record (site 0: the old one's site); id: the new record's.
  StoreResult Supersede(std::string_view record, int64_t site, std::string_view note,
                        std::string_view technician, std::string& id);
  // A removed site's codes and keys blanked in every image of it; images: how many.
  StoreResult Purge(int64_t site, std::string_view technician, int& images);
  // call(store) on the registry's store for queries (a server when shared, never the station's
  // waiting room), its failure named: for the changes for many sites (change_plans.h).
  StoreResult WithStore(const std::function<StoreResult(SiteStore&)>& call) { return Ask(call); }

  // Records of this station waiting for the registry's server.
  int WaitingCount();
  // Sends the records waiting for the registry's server, oldest first. Nothing to do for a
  // registry that is a file (other_servers still says what waits elsewhere).
  SyncResult Sync();

  // Takes in the configurations of an archive folder ("Архив", files/archive.h) once: each file
  // named as the archive names it becomes a record of its read (station and operator: this
  // one's); the files stay where they are, and anything else in the folder is left alone.
  // Taken in again, a file is not recorded twice. before: only the files of reads before that
  // time; a program's own reads since are recorded as they are made, never taken in again.
  ImportResult ImportArchive(const std::filesystem::path& folder,
                             std::optional<ArchiveTime> before = std::nullopt);

 private:
  explicit Registry(RegistryOptions options);
  StoreResult OpenShared();
  StoreResult OpenFile();
  StoreResult OpenLocal();
  StoreResult ForQueries(SiteStore*& store);
  // call(store) on the store for queries, its failure named.
  template <typename Call>
  StoreResult Ask(Call call) {
    SiteStore* store = nullptr;
    const StoreResult r = ForQueries(store);
    return r.ok() ? Named(call(*store)) : r;
  }
  // Into the registry, or (a server out of reach) into the station's waiting room; why says
  // what failed otherwise. force: tried even while the registry rests.
  bool TryKeep(const SiteRecord& record, RecordResult& kept, std::string& why, bool force = false);
  // The rest after a failure (see the top): whether it lasts, one more, and a try's result.
  bool Resting() const;
  void Rest();
  void Tried(const StoreResult& result);
  // The file whose side files hold what it could not take: the registry's, or the station's.
  std::filesystem::path SideFileOwner() const;
  // "<where>: <message>"
  StoreResult Named(StoreResult result) const;

  RegistryOptions options_;
  std::unique_ptr<SiteStore> main_;   // the file, or the server once reached
  std::unique_ptr<SiteStore> local_;  // a shared registry's waiting room on this station
  StoreResult shared_failure_;        // why the server was not reached, the last time
  StoreResult deferred_;              // why the file could not be opened (defer_file)
  std::vector<std::string> notes_;
  StoreResult file_failure_;                          // the file's last try, when it failed
  std::vector<SiteRecord> pending_;                   // records not taken yet, oldest first
  std::string pending_why_;                           // why the first of them was not
  std::chrono::steady_clock::time_point retry_at_{};  // resting until then
  std::chrono::seconds rest_{0};                      // the last rest; 0 after a success
};

}  // namespace lovar
