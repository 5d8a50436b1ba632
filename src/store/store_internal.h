// What the backends share and nobody else needs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/site_store.h"

namespace lovar {

// The order Sites promises: object numbers with digits as numbers, then the model.
void SortSites(std::vector<SiteSummary>& sites);
// A record a store may take; why says what is wrong otherwise.
bool ValidRecord(const SiteRecord& record, std::string& why);

// A purge asked of a site whose card does not say removed (status: what it says).
StoreResult NotRemoved(int64_t site, std::string_view status);

// Side files (side_files.cpp): what a registry's SQLite file could not take, kept beside it as
// "<file name>.kept-<id>.sqlite", each a store of its own whose records wait for their target:
// kSideOwnFile for the file itself, else the server they wait for.
inline constexpr std::string_view kSideOwnFile = "file";
// The side files of file, oldest name first.
std::vector<std::filesystem::path> SideFilesOf(const std::filesystem::path& file);
// A new side file of file holding records, each waiting for target; made whole under a
// temporary name before it takes its own, so that no open takes in a half-made one.
StoreResult WriteSideFile(const std::filesystem::path& file, const std::vector<SiteRecord>& records,
                          std::string_view target, const StoreOptions& options,
                          std::filesystem::path& written);
// Takes the records of file's side files into store, the file's own as its own, the others as
// waiting for their server; each side file goes once all of it is in. taken: records taken
// (kept once each: a side file taken in twice adds nothing).
StoreResult TakeInSideFiles(const std::filesystem::path& file, SiteStore& store,
                            const StoreOptions& options, int& taken);

}  // namespace lovar
