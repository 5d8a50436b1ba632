#include <algorithm>
#include <system_error>

#include "files/utf8_path.h"
#include "store/store_internal.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kSideMark = ".kept-";
constexpr std::string_view kSideEnd = ".sqlite";
constexpr int kBatch = 100;

void RemoveStoreFiles(const fs::path& file) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    fs::remove(fs::path(file).concat(suffix), ec);
}

}  // namespace

std::vector<fs::path> SideFilesOf(const fs::path& file) {
  std::vector<fs::path> found;
  const std::string prefix = Utf8Of(file.filename()) + std::string(kSideMark);
  std::error_code ec;
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8Of(it->path().filename());
    if (name.starts_with(prefix) && name.ends_with(kSideEnd)) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

StoreResult WriteSideFile(const fs::path& file, const std::vector<SiteRecord>& records,
                          std::string_view target, const StoreOptions& options, fs::path& written) {
  const std::string base = Utf8Of(file) + std::string(kSideMark) + NewRecordId().substr(0, 16);
  const fs::path temporary = PathFromUtf8(base + ".tmp");
  written = PathFromUtf8(base + std::string(kSideEnd));
  StoreResult r;
  {
    OpenedStore side = OpenSqliteStore(Utf8Of(temporary), options);
    r = side.result;
    for (size_t i = 0; r.ok() && i < records.size(); ++i) {
      AddedRecord added;
      r = side.store->Add(records[i], target, added);
    }
  }  // closed: its write-ahead log is in the file
  std::error_code ec;
  if (r.ok()) fs::rename(temporary, written, ec);
  if (r.ok() && ec) r = StoreFailure(StoreError::Failed, ec.message());
  if (!r.ok()) RemoveStoreFiles(temporary);
  return r;
}

StoreResult TakeInSideFiles(const fs::path& file, SiteStore& store, const StoreOptions& options,
                            int& taken) {
  taken = 0;
  StoreOptions existing = options;
  existing.create = false;
  for (const fs::path& side_file : SideFilesOf(file)) {
    bool all_in = false;
    {
      OpenedStore side = OpenSqliteStore(Utf8Of(side_file), existing);
      // Another program took it in meanwhile.
      if (side.result.error == StoreError::NotFound) continue;
      StoreResult r = side.result;
      std::vector<std::pair<std::string, int>> counts;
      if (r.ok()) r = side.store->WaitingCounts(counts);
      for (const auto& [target, count] : counts) {
        for (std::vector<SiteRecord> batch;
             r.ok() && (r = side.store->Waiting(target, kBatch, batch)).ok() && !batch.empty();) {
          std::vector<std::string> ids;
          for (SiteRecord& record : batch) {
            // It arrives after the step: its time is the station's.
            record.info.late = true;
            AddedRecord added;
            r = store.Add(record, target == kSideOwnFile ? std::string_view() : target, added);
            if (!r.ok()) break;
            taken += added.added ? 1 : 0;
            ids.push_back(record.info.id);
          }
          // Marked after the store took them: a cut between the two takes them again, once.
          const StoreResult marked = side.store->MarkSent(ids);
          if (r.ok()) r = marked;
        }
      }
      if (!r.ok()) return StoreFailure(r.error, Utf8Of(side_file.filename()) + ": " + r.message);
      all_in = true;
    }
    if (all_in) RemoveStoreFiles(side_file);
  }
  return {};
}

}  // namespace lovar
