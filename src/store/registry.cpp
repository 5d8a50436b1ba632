#include "store/registry.h"

#include <algorithm>
#include <ctime>
#include <system_error>

#include "files/archive.h"
#include "files/config_file.h"
#include "files/file_access.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "store/postgres_location.h"
#include "store/sha256.h"
#include "store/store_os.h"
#include "version/version.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr int kSyncBatch = 100;
constexpr std::string_view kSyncHint = "lovar-cli sites sync";

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

// The user's data folder, made on first use: readable by the user only, as the file in it.
StoreResult PrepareFolder(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::error_code ec;
  if (folder.empty() || fs::is_directory(folder, ec)) return {};
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
    out = {true, text};
    return true;
  }
  // "host=server dbname=lovar" is a connection string, not a file to make.
  for (const char* key : {"host=", "dbname=", "user=", "password="})
    if (text.find(key) != std::string::npos) {
      why = "строку подключения к PostgreSQL укажите в виде postgresql://пользователь@сервер/база";
      return false;
    }
  out = {false, text};
  return true;
}

Registry::Registry(RegistryOptions options) : options_(std::move(options)) {
  if (options_.local_file.empty()) options_.local_file = DefaultRegistryFile();
}

Registry::~Registry() = default;

std::unique_ptr<Registry> Registry::Open(const RegistryOptions& options, StoreResult& result) {
  std::unique_ptr<Registry> registry(new Registry(options));
  result = {};
  if (!registry->Shared()) {
    const fs::path file = PathFromUtf8(options.location.text);
    if (file == registry->options_.local_file) result = PrepareFolder(file);
    OpenedStore opened;
    if (result.ok()) {
      opened = OpenSqliteStore(options.location.text, options.store);
      result = opened.result;
    }
    if (!result.ok()) {
      result = registry->Named(result);
      return nullptr;
    }
    registry->main_ = std::move(opened.store);
    registry->notes_ = registry->main_->Notes();
    return registry;
  }
  // A server out of reach, or refusing for now, only makes records wait; a registry that is
  // not one, or is of a newer version, is refused.
  const StoreResult shared = registry->OpenShared();
  const bool passing = shared.error == StoreError::Unreachable ||
                       shared.error == StoreError::Denied || shared.error == StoreError::Busy ||
                       shared.error == StoreError::ReadOnly || shared.error == StoreError::Full;
  if (!shared.ok() && !passing) {
    result = registry->Named(shared);
    return nullptr;
  }
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

StoreResult Registry::OpenShared() {
  if (main_ != nullptr) return {};
  OpenedStore opened = OpenPostgresStore(options_.location.text, options_.store);
  shared_failure_ = opened.result;
  if (!opened.result.ok()) return opened.result;
  main_ = std::move(opened.store);
  for (const std::string& note : main_->Notes()) notes_.push_back(note);
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
  return {};
}

StoreResult Registry::ForQueries(SiteStore*& store) {
  store = nullptr;
  if (Shared()) {
    const StoreResult r = OpenShared();
    if (!r.ok()) return Named(r);
  }
  store = main_.get();
  return {};
}

RecordResult Registry::Record(SiteRecord record) {
  RecordInfo& info = record.info;
  if (info.id.empty()) info.id = NewRecordId();
  if (info.time == 0) info.time = StoreTimeNow();
  if (info.station.empty()) info.station = StationName();
  if (info.operator_name.empty()) info.operator_name = OperatorName();
  if (info.program_version.empty()) info.program_version = kVersion;

  bool added = false;
  StoreResult r = Shared() ? OpenShared() : StoreResult{};
  if (r.ok()) r = main_->Add(record, {}, added);
  if (Shared()) shared_failure_ = r;
  if (r.ok()) return {RecordResult::Kept::InRegistry, {}, !added};
  const std::string why = Named(r).message;
  if (!Shared()) return {RecordResult::Kept::Nowhere, "Запись в реестр не сохранена: " + why};

  // The server is out of reach (or refused): the record waits on this station.
  StoreResult kept = OpenLocal();
  if (kept.ok()) kept = local_->Add(record, Where(), added);
  if (!kept.ok())
    return {RecordResult::Kept::Nowhere,
            "Запись в реестр не сохранена: " + why + "; на этой станции тоже: " + kept.message};
  return {RecordResult::Kept::Waiting,
          "Запись не отправлена на сервер: " + why +
              ". Она сохранена на этой станции и ждёт отправки (" + std::string(kSyncHint) + ")",
          !added};
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
                                std::vector<uint8_t>& image) {
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
  return Image(info.image_hash, image);
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
    for (const SiteRecord& record : batch) {
      bool added = false;
      const StoreResult r = main_->Add(record, {}, added);
      if (!r.ok()) {
        sync.result = Named(r);
        break;
      }
      ++(added ? sync.sent : sync.already);
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

ImportResult Registry::ImportArchive(const fs::path& folder) {
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
