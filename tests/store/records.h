// Records for the registry's tests: a device's image as the simulator holds it, with its own
// object number and a varied byte, and the record of a read of it.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "sim/device_sim.h"
#include "store/registry.h"

namespace lovar::testing {

inline std::vector<uint8_t> SiteImage(int model, const std::string& object, int version) {
  ConfigImage image = SampleImage(model);
  std::string why;
  if (const Field* f = FindFieldById(model, "object_number"))
    StoreFieldText(*f, image, object, why);
  image[model == 251 ? 13 : 117] = static_cast<uint8_t>(version);  // the sounder's time
  return {image.bytes().begin(), image.bytes().begin() + ImageLength(model)};
}

inline SiteRecord ReadRecord(int model, const std::string& object, int version,
                             StoreTime time = 0) {
  SiteRecord r;
  r.info.time = time;
  r.info.port = "/dev/ttyUSB0";
  r.info.model = model;
  r.info.device_line = std::string(ModelName(model)) + " Версия 2.2";
  r.info.object = object;
  r.info.operation = RecordOperation::Read;
  r.info.outcome = RecordOutcome::Holds;
  r.image = SiteImage(model, object, version);
  return r;
}

// The first column of the first row of sql on the SQLite file, read behind the store's back.
inline int64_t SqlNumber(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  int64_t value = -1;
  if (sqlite3_open_v2(Utf8Of(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      value = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return value;
}

inline bool SqlExec(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open(Utf8Of(file).c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

inline std::vector<uint8_t> FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of its own under the temporary folder, removed with the object.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("lovar-store-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::unique_ptr<Registry> OpenFile(
    const std::filesystem::path& file, StoreResult& result,
    std::chrono::milliseconds wait = std::chrono::seconds(5)) {
  RegistryOptions options;
  options.location = {false, Utf8Of(file)};
  options.local_file = file;
  options.store.busy_wait = wait;
  return Registry::Open(options, result);
}

}  // namespace lovar::testing
