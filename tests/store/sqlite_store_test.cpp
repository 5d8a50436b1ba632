// The registry in an SQLite file: what a record keeps, and a file it must not touch.
#include <gtest/gtest.h>

#include "files/utf8_path.h"
#include "records.h"
#include "store/store_os.h"

namespace lovar {
namespace {
using namespace testing;

constexpr StoreTime kDay = 86'400'000'000;

TEST(SqliteRegistry, RecordsKeepTheirSitesHistoryAndEachImageOnce) {
  TempFolder dir;
  const auto file = dir / "data" / "registry.sqlite";  // the folder is made on first use
  StoreResult opened;
  auto registry = OpenFile(file, opened);
  ASSERT_TRUE(registry) << opened.message;
  ASSERT_TRUE(registry->Record(ReadRecord(251, "1024", 1, 1 * kDay)).ok());
  SiteRecord write = ReadRecord(251, "1024", 2, 2 * kDay);
  write.info.operation = RecordOperation::Write;
  write.info.message = "Конфигурация записана в УО";
  ASSERT_TRUE(registry->Record(write).ok());
  // The same image again (a read after the write): kept once.
  ASSERT_TRUE(registry->Record(ReadRecord(251, "1024", 2, 3 * kDay)).ok());
  ASSERT_TRUE(registry->Record(ReadRecord(250, "", 1, 4 * kDay)).ok());
  ASSERT_TRUE(registry->Record(ReadRecord(251, "987", 1, 5 * kDay)).ok());

  std::vector<SiteSummary> sites;
  ASSERT_TRUE(registry->Sites("", sites).ok());
  ASSERT_EQ(sites.size(), 3u);
  EXPECT_EQ(sites[0].object, "");
  EXPECT_EQ(sites[1].object, "987");  // digits as numbers
  EXPECT_EQ(sites[2].object, "1024");
  EXPECT_EQ(sites[2].last.time, 3 * kDay);
  EXPECT_EQ(sites[2].last.station, StationName());
  EXPECT_EQ(sites[2].last.operator_name, OperatorName());
  ASSERT_TRUE(registry->Sites("10", sites).ok());
  ASSERT_EQ(sites.size(), 1u);

  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->History(251, "1024", history).ok());
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[1].operation, RecordOperation::Write);
  EXPECT_EQ(history[1].message, "Конфигурация записана в УО");
  EXPECT_EQ(history[1].image_hash, history[2].image_hash);
  EXPECT_EQ(history[1].image_length, 4096);
  std::vector<uint8_t> image;
  ASSERT_TRUE(registry->Image(history[1].image_hash, image).ok());
  EXPECT_EQ(image, SiteImage(251, "1024", 2));
  registry.reset();

  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM images"), 4);
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM sites"), 2);  // model 250: no site
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records WHERE site IS NULL"), 1);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Utf8Of(file).c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST(SqliteRegistry, TheVersionAtATimeIsTheNewestImageRecordedBeforeIt) {
  TempFolder dir;
  StoreResult opened;
  auto registry = OpenFile(dir / "r.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  ASSERT_TRUE(registry->Record(ReadRecord(252, "", 1, 10 * kDay)).ok());
  ASSERT_TRUE(registry->Record(ReadRecord(251, "77", 1, 10 * kDay)).ok());
  ASSERT_TRUE(registry->Record(ReadRecord(251, "77", 2, 20 * kDay)).ok());
  SiteRecord failed = ReadRecord(251, "77", 3, 25 * kDay);
  failed.info.outcome = RecordOutcome::Failed;
  failed.image.clear();
  ASSERT_TRUE(registry->Record(failed).ok());

  RecordInfo info;
  std::vector<uint8_t> image;
  ASSERT_TRUE(registry->VersionAt(0, "77", 15 * kDay, info, image).ok());
  EXPECT_EQ(image, SiteImage(251, "77", 1));
  // The failed step has no image: what was known before it stands.
  ASSERT_TRUE(registry->VersionAt(251, "77", 30 * kDay, info, image).ok());
  EXPECT_EQ(image, SiteImage(251, "77", 2));
  EXPECT_EQ(registry->VersionAt(251, "77", 5 * kDay, info, image).error, StoreError::NotFound);
  EXPECT_EQ(registry->VersionAt(251, "78", 30 * kDay, info, image).error, StoreError::NotFound);
  ASSERT_TRUE(registry->Record(ReadRecord(250, "77", 1, 10 * kDay)).ok());
  const StoreResult two = registry->VersionAt(0, "77", 30 * kDay, info, image);
  EXPECT_EQ(two.error, StoreError::NotFound);
  EXPECT_NE(two.message.find("250, 251"), std::string::npos) << two.message;
}

TEST(SqliteRegistry, ARegistryOfANewerVersionIsRefusedAndLeftAsItWas) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  {
    StoreResult opened;
    auto registry = OpenFile(file, opened);
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->Record(ReadRecord(251, "1", 1)).ok());
  }
  ASSERT_TRUE(SqlExec(file, "UPDATE lovar_schema SET version = 99"));
  const std::vector<uint8_t> before = FileBytes(file);
  StoreResult opened;
  EXPECT_FALSE(OpenFile(file, opened));
  EXPECT_EQ(opened.error, StoreError::NewerSchema);
  EXPECT_NE(opened.message.find("реестр создан более новой версией программы"), std::string::npos);
  EXPECT_NE(opened.message.find("обновите программу"), std::string::npos);
  EXPECT_EQ(FileBytes(file), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "r.sqlite-wal"));
}

TEST(SqliteRegistry, AFileThatIsNoRegistryIsRefusedAndLeftAsItWas) {
  TempFolder dir;
  const auto text = dir / "notes.txt";
  std::ofstream(text) << "not a database, but someone's notes\n";
  const auto other = dir / "other.sqlite";
  ASSERT_TRUE(SqlExec(other, "CREATE TABLE accounts (id INTEGER)"));
  for (const auto& file : {text, other}) {
    const std::vector<uint8_t> before = FileBytes(file);
    StoreResult opened;
    EXPECT_FALSE(OpenFile(file, opened));
    EXPECT_EQ(opened.error, StoreError::NotRegistry) << opened.message;
    EXPECT_EQ(FileBytes(file), before);
  }
}

}  // namespace
}  // namespace lovar
