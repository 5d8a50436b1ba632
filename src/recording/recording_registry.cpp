#include "recording/recording_registry.h"

#include "files/utf8_path.h"

namespace lovar {

bool RecordingPlace(std::string_view location, const char* env_db, RegistryOptions& options,
                    std::string& why) {
  if (!ChooseLocation(location, env_db, options.location, why)) return false;
  options.local_file = DefaultRegistryFile();
  // A file locked, full or read-only now: the records are kept later, or beside it.
  options.defer_file = true;
  return true;
}

OpenedRegistry OpenRecordingRegistry(std::string_view location, const char* env_db,
                                     const std::filesystem::path& archive,
                                     std::optional<ArchiveTime> before) {
  OpenedRegistry opened;
  RegistryOptions options;
  if (!RecordingPlace(location, env_db, options, opened.failure)) return opened;
  StoreResult result;
  opened.registry = Registry::Open(options, result);
  if (opened.registry == nullptr) {
    opened.failure = result.message;
    return opened;
  }
  opened.notes = opened.registry->Notes();
  // A folder not made yet is taken in as empty: the reads kept there from now on are recorded
  // as they are made, never taken in again.
  if (archive.empty()) return opened;
  // The archive's files are taken in once; a folder taken in before is not read again.
  const ImportResult import = opened.registry->ImportArchive(archive, before);
  if (!import.result.ok())
    opened.notes.push_back("Архив " + ShownPath(archive) +
                           " не перенесён в реестр: " + import.result.message);
  else if (import.taken > 0)
    opened.notes.push_back("Перенесено в реестр из архива " + ShownPath(archive) + ": " +
                           std::to_string(import.taken));
  return opened;
}

}  // namespace lovar
