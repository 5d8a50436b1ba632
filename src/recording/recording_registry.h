// The registry as the fronts open it to record into: the place chosen (--db or the window's
// setting, $LOVAR_DB, the default file), opened, and the archive folder taken in on first use.
//
// Threads: any one thread at a time; it may wait for a server up to its connection time-out
// (the window opens it on its worker).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/registry.h"

namespace lovar {

struct OpenedRegistry {
  std::unique_ptr<Registry> registry;  // null when it cannot be used; failure says why
  std::string failure;                 // Russian, one line, no password
  std::vector<std::string> notes;      // to be said once: waiting records, no TLS, the archive
};

// Where the records go (location and env_db as below), without opening anything: false, with
// why, when no place can be chosen.
bool RecordingPlace(std::string_view location, const char* env_db, RegistryOptions& options,
                    std::string& why);

// location: --db or the window's setting ("" for none); env_db: $LOVAR_DB (may be null).
// archive: the archive folder to take in once ("" for none), its reads before `before` only
// (Registry::ImportArchive). A file locked, full or read-only now is opened all the same: its
// records are held and kept later (Registry::KeepPending).
OpenedRegistry OpenRecordingRegistry(std::string_view location, const char* env_db,
                                     const std::filesystem::path& archive,
                                     std::optional<ArchiveTime> before = std::nullopt);

}  // namespace lovar
