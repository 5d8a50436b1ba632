// An old archive folder, with files of other programs and people in it, taken into the registry
// once and left as it was.
#include <gtest/gtest.h>

#include <map>

#include "files/archive.h"
#include "files/config_file.h"
#include "records.h"

namespace lovar {
namespace {
using namespace testing;
namespace fs = std::filesystem;

std::map<std::string, std::vector<uint8_t>> Listing(const fs::path& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    files[Utf8Of(entry.path())] =
        entry.is_regular_file() ? FileBytes(entry.path()) : std::vector<uint8_t>{};
  return files;
}

TEST(ArchiveImport, TheArchiveIsTakenInOnceAndLeftAsItWas) {
  TempFolder dir;
  const fs::path archive = dir / "Архив";
  ConfigImage m;
  const std::vector<uint8_t> bytes = SiteImage(251, "1024", 4);
  std::copy(bytes.begin(), bytes.end(), m.bytes().begin());
  ASSERT_TRUE(SaveToArchive(archive, 251, m, {2024, 3, 1, 10, 0, 0}).ok);
  ASSERT_TRUE(SaveToArchive(archive, 251, m, {2024, 3, 1, 10, 0, 0}).ok);  // the same second
  ASSERT_TRUE(SaveToArchive(archive, 250, SampleImage(250), {2024, 3, 2, 9, 15, 0}).ok);
  // An archive file of an older program: the image ends with the file's 2048 bytes.
  ConfigImage old;
  const std::vector<uint8_t> old_bytes = SiteImage(251, "77", 1);
  std::copy(old_bytes.begin(), old_bytes.end(), old.bytes().begin());
  ASSERT_TRUE(SaveConfigFile(archive / "2023-12-31_23-59-59_LovarM_77.dat", 251, old).ok());
  // What else people keep there: left alone, and named only when it pretends to be ours.
  std::ofstream(archive / "readme.txt") << "не трогать";
  std::ofstream(archive / "2024-03-05_08-00-00_LovarM_5.dat") << "broken";
  fs::create_directory(archive / "2024-03-06_08-00-00_LovarT.dat");
  ASSERT_TRUE(SaveConfigFile(archive / "LovarM.dat", 251, m).ok());
  const auto before = Listing(archive);

  StoreResult opened;
  auto registry = OpenFile(dir / "r.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  ImportResult import = registry->ImportArchive(archive);
  ASSERT_TRUE(import.result.ok()) << import.result.message;
  EXPECT_EQ(import.taken, 4);
  EXPECT_EQ(import.skipped, std::vector<std::string>{"2024-03-05_08-00-00_LovarM_5.dat"});
  EXPECT_EQ(Listing(archive), before);

  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(251, "1024", history).ok());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].operation, RecordOperation::Archive);
  EXPECT_EQ(history[0].image_length, 4096);  // the keys came with it
  EXPECT_EQ(history[0].image_hash, history[1].image_hash);
  EXPECT_EQ(history[1].time - history[0].time, 1);  // the second read of that second after it
  ASSERT_TRUE(registry->History(251, "77", history).ok());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].image_length, 2048);

  // Once per folder; and a folder taken in again (its mark lost) gives no second record.
  import = registry->ImportArchive(archive);
  EXPECT_TRUE(import.done_before);
  ASSERT_TRUE(SqlExec(dir / "r.sqlite", "DELETE FROM settings"));
  import = registry->ImportArchive(archive);
  EXPECT_EQ(import.taken, 0);
  EXPECT_EQ(import.already, 4);
  EXPECT_EQ(SqlNumber(dir / "r.sqlite", "SELECT count(*) FROM records"), 4);
}

}  // namespace
}  // namespace lovar
