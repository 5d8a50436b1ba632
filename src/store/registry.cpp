#include "store/registry.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "files/archive.h"
#include "files/config_file.h"
#include "files/environment.h"
#include "files/file_access.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "store/postgres_location.h"
#include "store/sha256.h"
#include "store/store_internal.h"
#include "store/store_os.h"
#include "version/version.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr int kSyncBatch = 100;
// A station's clock further than this from the server's is said.
constexpr StoreTime kClockSlack = 5LL * 60 * 1'000'000;
// A server out of reach, a file held locked: how long it rests untried after a failure, doubling
// with each failure in a row. A try costs a whole connection or busy time-out, which a record
// coming right behind would wait again.
constexpr std::chrono::seconds kFirstRest{10};
constexpr std::chrono::seconds kLongestRest{60};
constexpr std::string_view kSyncHint = "lovar-cli sites sync";
constexpr std::string_view kAssignHint = "lovar-cli sites assign ЗАПИСЬ ОБЪЕКТ";

// The archive's names carry the station's local time.
StoreTime FromLocalTime(const ArchiveTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  return static_cast<StoreTime>(std::mktime(&tm)) * 1'000'000;
}

// The user's data folder, made on first use: readable by the user only, as the file in it; one
// made looser by hand is made so again, another user's refused.
StoreResult PrepareFolder(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::error_code ec;
  if (folder.empty()) return {};
  if (fs::is_directory(folder, ec)) {
    StoreResult r = KeepOwnerOnly(folder);
    if (!r.ok()) r.message = "папка " + ShownPath(folder) + ": " + r.message;
    return r;
  }
  fs::create_directories(folder.parent_path(), ec);
  const FsResult made = CreateOwnerOnlyFolder(folder);
  if (made.ok) return {};
  return StoreFailure(StoreError::Failed,
                      "папка " + ShownPath(folder) + " не создана: " + made.message);
}

}  // namespace

fs::path DefaultRegistryFile() {
  const fs::path folder = DefaultDataFolder();
  return folder.empty() ? fs::path() : folder / "registry.sqlite";
}

bool ChooseLocation(std::string_view db_option, const char* env_db, RegistryLocation& out,
                    std::string& why) {
  std::string text(db_option);
  if (text.empty() && env_db != nullptr) text = env_db;
  if (text.empty()) {
    const fs::path file = DefaultRegistryFile();
    if (file.empty()) {
      why = "не найдена папка данных пользователя: укажите реестр (--db ФАЙЛ или LOVAR_DB)";
      return false;
    }
    out = {false, Utf8Of(file)};
    return true;
  }
  if (IsPostgresLocation(text)) {
    // Checked here, before any device is touched: a string that can never reach a server
    // would keep its records waiting for ever.
    PostgresLocation parsed;
    if (!ParsePostgresLocation(text, parsed, why)) return false;
    const auto set = [](const char* name) { return !EnvironmentUtf8(name).empty(); };
    if (!parsed.NamesServer() && !set("PGHOST") && !set("PGHOSTADDR") && !set("PGSERVICE")) {
      why = "в строке подключения не указан сервер: postgresql://пользователь@сервер/база";
      return false;
    }
    out = {true, text};
    return true;
  }
  // "host=server dbname=lovar" is a connection string, not a file to make.
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find(' ', start), text.size());
    const std::string_view word = std::string_view(text).substr(start, end - start);
    if (const size_t equals = word.find('=');
        equals != std::string_view::npos && IsPostgresKeyword(word.substr(0, equals))) {
      why = "строку подключения к PostgreSQL укажите в виде postgresql://пользователь@сервер/база";
      return false;
    }
    start = end + 1;
  }
  if (text.starts_with("postgres:") || text.starts_with("postgresql:")) {
    why = "строку подключения к PostgreSQL укажите в виде postgresql://пользователь@сервер/база";
    return false;
  }
  // SQLite's own names would keep nothing, or make a file of a strange name.
  if (text == ":memory:" || text.starts_with("file:")) {
    why = "реестр — это файл: укажите его путь (не «:memory:» и не «file:…»)";
    return false;
  }
  out = {false, text};
  return true;
}

Registry::Registry(RegistryOptions options) : options_(std::move(options)) {
  if (options_.local_file.empty()) options_.local_file = DefaultRegistryFile();
}

Registry::~Registry() {
  KeepPending();
}

std::unique_ptr<Registry> Registry::Open(const RegistryOptions& options, StoreResult& result) {
  std::unique_ptr<Registry> registry(new Registry(options));
  result = {};
  if (!registry->Shared()) {
    result = registry->OpenFile();
    // A file locked, full or read-only now still takes records later, or its side file does.
    const bool later = options.defer_file &&
                       (result.error == StoreError::Busy || result.error == StoreError::Full ||
                        result.error == StoreError::ReadOnly);
    if (!result.ok() && !later) {
      result = registry->Named(result);
      return nullptr;
    }
    if (!result.ok()) {
      registry->deferred_ = result;
      registry->file_failure_ = result;
      registry->Rest();
      registry->pending_why_ = registry->Named(result).message;
      registry->notes_.push_back("Реестр объектов сейчас недоступен: " + registry->pending_why_ +
                                 ". Записи будут сохранены, когда он освободится, или в конце "
                                 "работы");
      result = {};
    }
    return registry;
  }
  // A server out of reach, or busy for now, only makes records wait; a string, a database, a
  // user or a certificate that is wrong is refused before anything is done, as is a registry
  // that is not one, or is of a newer version.
  const StoreResult shared = registry->OpenShared();
  const bool passing = shared.error == StoreError::Unreachable ||
                       shared.error == StoreError::Busy || shared.error == StoreError::Full;
  if (!shared.ok() && !passing) {
    result = registry->Named(shared);
    return nullptr;
  }
  // What an earlier run left beside the station's file is taken in.
  if (!SideFilesOf(registry->options_.local_file).empty()) registry->OpenLocal();
  // Records left waiting by an earlier run are said.
  if (const int waiting = options.note_waiting ? registry->WaitingCount() : 0; waiting > 0)
    registry->notes_.push_back("На этой станции ждут отправки на сервер записей: " +
                               std::to_string(waiting) + " (" + std::string(kSyncHint) + ")");
  return registry;
}

std::string Registry::Where() const {
  return Shared() ? PostgresWhere(options_.location.text) : ShownUtf8Path(options_.location.text);
}

StoreResult Registry::Named(StoreResult result) const {
  if (!result.ok()) result.message = Where() + ": " + result.message;
  return result;
}

StoreResult Registry::ServerState() const {
  return Named(shared_failure_);
}

bool Registry::Resting() const {
  return std::chrono::steady_clock::now() < retry_at_;
}

void Registry::Rest() {
  rest_ = rest_.count() == 0 ? kFirstRest : std::min<std::chrono::seconds>(rest_ * 2, kLongestRest);
  retry_at_ = std::chrono::steady_clock::now() + rest_;
}

void Registry::Tried(const StoreResult& result) {
  if (result.ok()) {
    rest_ = {};
    retry_at_ = {};
  } else if (result.error == StoreError::Unreachable || result.error == StoreError::Busy) {
    Rest();  // only these cost a wait; a refusal comes at once
  }
}

StoreResult Registry::OpenShared() {
  if (main_ != nullptr) return {};
  OpenedStore opened = OpenPostgresStore(options_.location.text, options_.store);
  shared_failure_ = opened.result;
  Tried(opened.result);
  if (!opened.result.ok()) return opened.result;
  main_ = std::move(opened.store);
  for (const std::string& note : main_->Notes()) notes_.push_back(note);
  return {};
}

StoreResult Registry::OpenFile() {
  if (main_ != nullptr) return {};
  const fs::path file = PathFromUtf8(options_.location.text);
  StoreResult r = file == options_.local_file ? PrepareFolder(file) : StoreResult{};
  OpenedStore opened;
  if (r.ok()) {
    opened = OpenSqliteStore(options_.location.text, options_.store);
    r = opened.result;
  }
  if (!r.ok()) return r;
  main_ = std::move(opened.store);
  for (const std::string& note : main_->Notes()) notes_.push_back(note);
  // What an earlier run could not keep in it.
  int taken = 0;
  const StoreResult side = TakeInSideFiles(file, *main_, options_.store, taken);
  if (taken > 0)
    notes_.push_back("Взято в реестр записей, отложенных прежде: " + std::to_string(taken));
  if (!side.ok())
    notes_.push_back("Отложенные прежде записи ещё не взяты в реестр: " + side.message);
  return {};
}

StoreResult Registry::OpenLocal() {
  if (local_ != nullptr) return {};
  const fs::path file = options_.local_file;
  if (file.empty()) return StoreFailure(StoreError::Failed, "не найдена папка данных пользователя");
  StoreResult r = PrepareFolder(file);
  if (!r.ok()) return r;
  OpenedStore opened = OpenSqliteStore(Utf8Of(file), options_.store);
  if (!opened.result.ok()) {
    opened.result.message = ShownPath(file) + ": " + opened.result.message;
    return opened.result;
  }
  local_ = std::move(opened.store);
  int taken = 0;
  const StoreResult side = TakeInSideFiles(file, *local_, options_.store, taken);
  if (taken > 0)
    notes_.push_back("Взято в файл станции записей, отложенных прежде: " + std::to_string(taken));
  if (!side.ok())
    notes_.push_back("Отложенные прежде записи ещё не взяты в файл станции " + ShownPath(file) +
                     ": " + side.message);
  return {};
}

StoreResult Registry::ForQueries(SiteStore*& store) {
  store = nullptr;
  // A file that could not be opened for recording is not waited for again by a query (the
  // window's run on its thread): it is tried again for the records alone.
  if (main_ == nullptr && !deferred_.ok()) return Named(deferred_);
  // A server found out of reach is not waited for again by a query while it rests.
  if (Shared() && Resting()) return Named(shared_failure_);
  const StoreResult r = Shared() ? OpenShared() : OpenFile();
  if (!r.ok()) return Named(r);
  store = main_.get();
  return {};
}

fs::path Registry::SideFileOwner() const {
  return Shared() ? options_.local_file : PathFromUtf8(options_.location.text);
}

bool Registry::TryKeep(const SiteRecord& record, RecordResult& kept, std::string& why, bool force) {
  AddedRecord added;
  StoreResult r;
  if (Resting() && !force) {
    // Found out of reach (or locked) a moment ago: the record goes on without a new wait.
    r = Shared() ? shared_failure_ : file_failure_;
  } else {
    r = Shared() ? OpenShared() : OpenFile();
    if (r.ok()) r = main_->Add(record, {}, added);
    Tried(r);
    (Shared() ? shared_failure_ : file_failure_) = r;
  }
  if (r.ok()) {
    kept = {RecordResult::Kept::InRegistry, {}, !added.added, {}, added.site};
    const RecordInfo& info = record.info;
    if (added.added && info.site != 0 && added.site == 0)
      kept.note = "Объекта " + std::to_string(info.site) + " нет в реестре " + Where() +
                  ": запись сохранена как «объект не указан» (" + std::string(kAssignHint) + ")";
    const StoreTime skew = added.arrived - info.time;
    if (added.added && !info.late && (skew > kClockSlack || skew < -kClockSlack))
      kept.note = "Часы этой станции расходятся с часами реестра на " +
                  std::to_string((skew < 0 ? -skew : skew) / 60'000'000) +
                  " мин: время записи — по часам реестра";
    return true;
  }
  why = Named(r).message;
  if (!Shared()) return false;

  // The server is out of reach (or refused): the record waits on this station.
  StoreResult local = OpenLocal();
  if (local.ok()) local = local_->Add(record, Where(), added);
  if (!local.ok()) {
    why += "; на этой станции тоже: " + local.message;
    return false;
  }
  kept = {RecordResult::Kept::Waiting,
          "Запись не отправлена на сервер: " + why +
              ". Она сохранена на этой станции и ждёт отправки (" + std::string(kSyncHint) + ")",
          !added.added};
  return true;
}

void Registry::Stamp(SiteRecord& record) {
  RecordInfo& info = record.info;
  if (info.id.empty()) {
    info.id = NewRecordId();
    // Made with a time of its own (from an archive, an earlier moment): it comes late, and that
    // time is its own. One stamped before (queued for the registry's thread) is not late for it.
    if (info.time != 0) info.late = true;
  }
  if (info.time == 0) info.time = StoreTimeNow();
  if (info.station.empty()) info.station = StationName();
  if (info.operator_name.empty()) info.operator_name = OperatorName();
  if (info.program_version.empty()) info.program_version = kVersion;
}

RecordResult Registry::Record(SiteRecord record) {
  Stamp(record);
  // Once one is held, the next wait behind it, kept in order: no new wait for a registry that
  // just made the caller wait, until it has rested (a long-lived window's records would
  // otherwise wait for its end).
  if (!pending_.empty() && !Resting()) {
    const size_t before = pending_.size();
    std::string why;
    size_t next = 0;
    for (RecordResult kept; next < before && TryKeep(pending_[next], kept, why); ++next) {
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(next));
    if (!pending_.empty()) pending_why_ = why;
  }
  if (pending_.empty()) {
    RecordResult kept;
    std::string why;
    if (TryKeep(record, kept, why)) return kept;
    pending_why_ = why;
  }
  // Kept later than it happened: its time is the station's.
  record.info.late = true;
  pending_.push_back(std::move(record));
  // Said once, for the first held.
  return {RecordResult::Kept::Pending,
          pending_.size() > 1 ? std::string()
                              : "Запись в реестр пока не сохранена: " + pending_why_ +
                                    ". Программа сохранит её, когда закончит с приборами"};
}

PendingResult Registry::KeepPending() {
  PendingResult result;
  if (pending_.empty()) return result;
  std::vector<SiteRecord> records;
  records.swap(pending_);
  std::string why = pending_why_;
  pending_why_.clear();
  // Tried once more whatever the rest: the devices are done, and one wait is all it costs.
  size_t next = 0;
  for (RecordResult kept; next < records.size() && TryKeep(records[next], kept, why, true); ++next)
    ++result.kept;
  if (next == records.size()) {
    result.notes.push_back("Отложенные записи сохранены: " + std::to_string(result.kept));
    return result;
  }
  std::vector<SiteRecord> left(std::make_move_iterator(records.begin() + next),
                               std::make_move_iterator(records.end()));
  PendingResult aside = KeepAside(options_, std::move(left), why);
  aside.kept = result.kept;
  return aside;
}

PendingResult Registry::KeepAside(const RegistryOptions& options, std::vector<SiteRecord> records,
                                  const std::string& why) {
  PendingResult result;
  if (records.empty()) return result;
  for (SiteRecord& record : records) {
    Stamp(record);
    record.info.late = true;  // kept later than it happened: its time is the station's
  }
  const int count = static_cast<int>(records.size());
  const Registry place(options);  // names only: nothing is opened
  const fs::path owner = place.SideFileOwner();
  fs::path written;
  const StoreResult side =
      owner.empty() ? StoreFailure(StoreError::Failed, "не найдена папка данных пользователя")
                    : WriteSideFile(owner, records,
                                    place.Shared() ? place.Where() : std::string(kSideOwnFile),
                                    options.store, written);
  if (side.ok()) {
    result.side = count;
    result.side_files.push_back(ShownPath(written));
    result.notes.push_back("Записи не сохранены в реестр (" + why + ") и ждут в файле " +
                           ShownPath(written) + ": реестр возьмёт их при следующем запуске (" +
                           std::to_string(count) + ")");
  } else {
    result.lost = count;
    result.notes.push_back("Записи не сохранены ни в реестре (" + why + "), ни рядом с ним (" +
                           side.message + "): потеряно записей " + std::to_string(count));
  }
  return result;
}

StoreResult Registry::Sites(std::string_view prefix, std::vector<SiteSummary>& out) {
  SiteStore* store = nullptr;
  StoreResult r = ForQueries(store);
  return r.ok() ? Named(store->Sites(prefix, out)) : r;
}

StoreResult Registry::History(int model, std::string_view object, std::vector<RecordInfo>& out) {
  SiteStore* store = nullptr;
  StoreResult r = ForQueries(store);
  return r.ok() ? Named(store->History(model, object, out)) : r;
}

StoreResult Registry::Image(std::string_view hash, std::vector<uint8_t>& out) {
  SiteStore* store = nullptr;
  StoreResult r = ForQueries(store);
  return r.ok() ? Named(store->Image(hash, out)) : r;
}

StoreResult Registry::VersionAt(int model, std::string_view object, StoreTime at, RecordInfo& info,
                                std::vector<uint8_t>& image, CodesAccess why,
                                std::string_view technician) {
  std::vector<RecordInfo> history;
  StoreResult r = History(model, object, history);
  if (!r.ok()) return r;
  std::vector<int> models;
  for (const RecordInfo& h : history)
    if (std::find(models.begin(), models.end(), h.model) == models.end()) models.push_back(h.model);
  std::sort(models.begin(), models.end());
  if (models.empty())
    return StoreFailure(StoreError::NotFound, "объекта " + std::string(object) + " нет в реестре");
  if (models.size() > 1) {
    std::string list;
    for (int m : models) list += (list.empty() ? "" : ", ") + std::to_string(m);
    return StoreFailure(StoreError::NotFound, "объект " + std::string(object) +
                                                  " есть у нескольких моделей (" + list +
                                                  "): укажите модель");
  }
  const RecordInfo* chosen = nullptr;
  for (const RecordInfo& h : history)
    if (h.time <= at && !h.image_hash.empty()) chosen = &h;
  if (chosen == nullptr)
    return StoreFailure(StoreError::NotFound,
                        "у объекта " + std::string(object) + " нет конфигурации на это время");
  info = *chosen;
  return ClearImage(info.id, why, technician, image);
}

StoreResult Registry::SiteList(std::vector<SiteEntry>& out) {
  return Ask([&](SiteStore& store) { return store.SiteList(out); });
}
StoreResult Registry::SiteList(const SiteFilter& filter, std::vector<SiteEntry>& out) {
  return Ask([&](SiteStore& store) { return store.SiteList(filter, out); });
}
StoreResult Registry::Site(int64_t id, SiteEntry& out) {
  return Ask([&](SiteStore& store) { return store.Site(id, out); });
}
StoreResult Registry::SitesNamed(std::string_view name, std::vector<int64_t>& out) {
  return Ask([&](SiteStore& store) { return store.SitesNamed(name, out); });
}
StoreResult Registry::SiteHistory(int64_t site, std::vector<RecordInfo>& out) {
  return Ask([&](SiteStore& store) { return store.SiteHistory(site, out); });
}
StoreResult Registry::DriftedSites(int64_t site, std::vector<SiteEntry>& out) {
  return Ask([&](SiteStore& store) { return store.DriftedSites(site, out); });
}
StoreResult Registry::SiteNotes(int64_t site, std::vector<RecordNote>& out) {
  return Ask([&](SiteStore& store) { return store.SiteNotes(site, out); });
}
StoreResult Registry::FindRecord(std::string_view id, RecordInfo& out) {
  return Ask([&](SiteStore& store) { return store.Record(id, out); });
}
StoreResult Registry::Cards(int64_t site, std::vector<SiteCard>& out) {
  return Ask([&](SiteStore& store) { return store.Cards(site, out); });
}
StoreResult Registry::NewSite(const SiteCard& card, int64_t& id) {
  return Ask([&](SiteStore& store) { return store.NewSite(card, id); });
}
StoreResult Registry::AddCard(const SiteCard& card) {
  return Ask([&](SiteStore& store) { return store.AddCard(card); });
}
StoreResult Registry::Assign(std::string_view record, int64_t site, std::string_view technician) {
  return Ask(
      [&](SiteStore& store) { return store.Assign(record, site, StationName(), technician); });
}
StoreResult Registry::AddNote(std::string_view record, std::string_view text,
                              std::string_view technician) {
  return Ask([&](SiteStore& store) {
    return store.AddNote(
        {std::string(record), 0, {}, StationName(), std::string(technician), std::string(text)});
  });
}

StoreResult Registry::ClearImage(std::string_view record, CodesAccess why,
                                 std::string_view technician, std::vector<uint8_t>& out) {
  return Ask([&](SiteStore& store) {
    return store.ClearImage(record, why, StationName(), technician, out);
  });
}
StoreResult Registry::AccessLog(StoreTime since, std::vector<AccessEntry>& out) {
  return Ask([&](SiteStore& store) { return store.AccessLog(since, out); });
}
StoreResult Registry::Supersede(std::string_view record, int64_t site, std::string_view note,
                                std::string_view technician, std::string& id) {
  SiteRecord correction;
  correction.info.site = site;
  correction.info.note = note;
  correction.info.technician = technician;
  Stamp(correction);
  AddedRecord added;
  const StoreResult r =
      Ask([&](SiteStore& store) { return store.Supersede(record, correction.info, added); });
  if (r.ok()) id = correction.info.id;
  return r;
}
StoreResult Registry::Purge(int64_t site, std::string_view technician, int& images) {
  return Ask(
      [&](SiteStore& store) { return store.Purge(site, StationName(), technician, images); });
}

StoreResult Registry::FindSite(std::string_view wanted, int64_t& id) {
  id = 0;
  SiteStore* store = nullptr;
  StoreResult r = ForQueries(store);
  if (!r.ok()) return r;
  const bool digits =
      !wanted.empty() && wanted.size() < 19 &&
      std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) {
    SiteEntry entry;
    r = store->Site(std::stoll(std::string(wanted)), entry);
    if (r.ok()) id = entry.card.site;
    if (r.error != StoreError::NotFound) return Named(r);
  }
  std::vector<int64_t> named;
  r = store->SitesNamed(wanted, named);
  if (!r.ok()) return Named(r);
  if (named.size() == 1) {
    id = named.front();
    return {};
  }
  // The site's own words only: the store's generic "no such record" would say it twice.
  if (named.empty())
    return Named({StoreError::NotFound, "объекта «" + std::string(wanted) + "» в реестре нет"});
  std::string ids;
  for (int64_t n : named) ids += (ids.empty() ? "" : ", ") + std::to_string(n);
  return Named({StoreError::NotFound, "объектов с названием «" + std::string(wanted) +
                                          "» в реестре несколько (" + ids + "): укажите номер"});
}

int Registry::WaitingCount() {
  // No file yet, nothing waits: it is not made just to count.
  if (!Shared() || (local_ == nullptr && KindOf(options_.local_file) != PathKind::Regular) ||
      !OpenLocal().ok())
    return 0;
  std::vector<std::pair<std::string, int>> counts;
  if (!local_->WaitingCounts(counts).ok()) return 0;
  for (const auto& [target, count] : counts)
    if (target == Where()) return count;
  return 0;
}

SyncResult Registry::Sync() {
  SyncResult sync;
  const bool has_local = local_ != nullptr || KindOf(options_.local_file) == PathKind::Regular;
  if (has_local) {
    std::vector<std::pair<std::string, int>> counts;
    sync.result = OpenLocal();
    if (sync.result.ok()) sync.result = local_->WaitingCounts(counts);
    if (!sync.result.ok()) return sync;
    for (const auto& entry : counts) {
      if (Shared() && entry.first == Where())
        sync.left = entry.second;
      else
        sync.other_servers.push_back(entry);
    }
  }
  if (!Shared() || sync.left == 0) return sync;
  sync.result = OpenShared();
  if (!sync.result.ok()) {
    sync.result = Named(sync.result);
    return sync;
  }
  for (;;) {
    std::vector<SiteRecord> batch;
    sync.result = local_->Waiting(Where(), kSyncBatch, batch);
    if (!sync.result.ok() || batch.empty()) break;
    std::vector<std::string> sent;
    for (SiteRecord& record : batch) {
      // It waited: its time is the station's.
      record.info.late = true;
      AddedRecord added;
      const StoreResult r = main_->Add(record, {}, added);
      if (!r.ok()) {
        sync.result = Named(r);
        break;
      }
      ++(added.added ? sync.sent : sync.already);
      sent.push_back(record.info.id);
    }
    // Marked after the server took them: a sync cut short between the two sends them again,
    // and the server keeps each once.
    const StoreResult marked = local_->MarkSent(sent);
    sync.left -= static_cast<int>(sent.size());
    if (sync.result.ok()) sync.result = marked;
    if (!sync.result.ok()) break;
  }
  return sync;
}

ImportResult Registry::ImportArchive(const fs::path& folder, std::optional<ArchiveTime> before) {
  ImportResult import;
  std::error_code ec;
  const fs::path absolute = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  const std::string key = "archive:" + StationName() + ":" + Utf8Of(absolute);
  SiteStore* store = nullptr;
  import.result = ForQueries(store);
  if (import.result.ok()) {
    std::string value;
    import.result = Named(store->Setting(key, value, import.done_before));
  }
  if (!import.result.ok() || import.done_before) return import;

  for (const ArchiveEntry& entry : ListArchive(folder)) {
    if (before && !(entry.time < *before)) continue;
    ConfigImage image;
    int bytes = 0;
    if (!LoadWholeImage(entry.path, entry.model, image, bytes).ok()) {
      import.skipped.push_back(Utf8Of(entry.path.filename()));
      continue;
    }
    SiteRecord record;
    record.image.assign(image.bytes().begin(), image.bytes().begin() + bytes);
    RecordInfo& info = record.info;
    info.station = StationName();
    const std::string name = Utf8Of(entry.path.filename());
    // The same file taken in twice, or by two users of this station, is one record.
    const std::string seed =
        "archive\n" + info.station + "\n" + name + "\n" + Sha256Hex(record.image);
    info.id = "archive-" +
              Sha256Hex({reinterpret_cast<const uint8_t*>(seed.data()), seed.size()}).substr(0, 32);
    info.time = FromLocalTime(entry.time) + entry.sequence - 1;
    info.late = true;  // its time is the archive's
    info.model = entry.model;
    info.device_line = std::string(ModelName(entry.model));
    info.object = ObjectNumber(entry.model, image);
    info.operation = RecordOperation::Archive;
    info.outcome = RecordOutcome::Holds;
    info.message = "из архива: " + name;
    const RecordResult kept = Record(std::move(record));
    if (!kept.ok()) {
      import.result = {StoreError::Failed, kept.message};
      return import;
    }
    ++(kept.already ? import.already : import.taken);
    if (kept.kept == RecordResult::Kept::Waiting) ++import.waiting;
  }
  // Marked only when every file is in: a folder cut short is taken in again next time, and
  // what was recorded already is not recorded twice.
  if (import.waiting == 0) import.result = Named(main_->SetSetting(key, "1"));
  return import;
}

}  // namespace lovar
