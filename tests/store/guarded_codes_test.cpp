// The registry's guarded codes in a file (its one user is every role): each read of clear codes
// kept in the access log, a mistaken record superseded and never edited, a removed site's codes
// and keys purged for good with a record of the purge.
#include <gtest/gtest.h>

#include "records.h"
#include "store/code_ranges.h"

namespace lovar {
namespace {
using namespace testing;

struct Filled {
  TempFolder dir;
  std::unique_ptr<Registry> registry;
  int64_t site = 0, other = 0;
  std::string read, copy;  // a read of site, and a read of other with the same image

  Filled() {
    StoreResult opened;
    registry = OpenFile(dir / "r.sqlite", opened);
    EXPECT_TRUE(registry) << opened.message;
    SiteCard card;
    card.name = "ул. Ленина, 5";
    EXPECT_TRUE(registry->NewSite(card, site).ok());
    card.name = "пр. Мира, 3";
    EXPECT_TRUE(registry->NewSite(card, other).ok());
    read = Add(site);
    copy = Add(other);
  }
  std::string Add(int64_t to) {
    SiteRecord r = ReadRecord(250, "", 1);
    r.info.site = to;
    Registry::Stamp(r);
    EXPECT_EQ(registry->Record(r).kept, RecordResult::Kept::InRegistry);
    return r.info.id;
  }
  std::vector<RecordInfo> History(int64_t of) {
    std::vector<RecordInfo> history;
    EXPECT_TRUE(registry->SiteHistory(of, history).ok());
    return history;
  }
};

bool CodesBlank(int model, const std::vector<uint8_t>& image) {
  for (const CodeRange& r : CodeRanges(model))
    for (int b = r.start; b < r.start + r.length; ++b)
      if (image[static_cast<size_t>(b)] != 0) return false;
  return true;
}

TEST(GuardedCodes, EachReadInClearIsLoggedWithWhoWhatAndWhy) {
  Filled f;
  std::vector<uint8_t> image;
  ASSERT_TRUE(f.registry->ClearImage(f.read, CodesAccess::Export, "Петров", image).ok());
  EXPECT_EQ(image, SiteImage(250, "", 1));
  EXPECT_FALSE(CodesBlank(250, image));
  const StoreTime between = StoreTimeNow();
  ASSERT_TRUE(f.registry->ClearImage(f.copy, CodesAccess::Restore, "", image).ok());
  std::vector<AccessEntry> log;
  ASSERT_TRUE(f.registry->AccessLog(0, log).ok());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].record, f.read);
  EXPECT_EQ(log[0].site, f.site);
  EXPECT_EQ(log[0].why, "export");
  EXPECT_EQ(log[0].technician, "Петров");
  EXPECT_FALSE(log[0].station.empty());
  EXPECT_EQ(log[1].why, "restore");
  ASSERT_TRUE(f.registry->AccessLog(between, log).ok());
  EXPECT_EQ(log.size(), 1u);
  // A record without an image gives nothing, and nothing is logged.
  EXPECT_EQ(f.registry->ClearImage("no-such", CodesAccess::Show, "", image).error,
            StoreError::NotFound);
  ASSERT_TRUE(f.registry->AccessLog(0, log).ok());
  EXPECT_EQ(log.size(), 2u);
}

TEST(GuardedCodes, AMistakenRecordIsSupersededOnceAndKeptAsItWas) {
  Filled f;
  std::string id;
  ASSERT_TRUE(f.registry->Supersede(f.read, f.other, "не тот объект", "Петров", id).ok());
  const std::vector<RecordInfo> old_site = f.History(f.site);
  ASSERT_EQ(old_site.size(), 1u);
  EXPECT_EQ(old_site[0].superseded_by, id);  // kept, shown as superseded
  const std::vector<RecordInfo> new_site = f.History(f.other);
  ASSERT_EQ(new_site.size(), 2u);
  const RecordInfo& correction = new_site[1];
  EXPECT_EQ(correction.id, id);
  EXPECT_EQ(correction.supersedes, f.read);
  EXPECT_EQ(correction.note, "не тот объект");
  EXPECT_EQ(correction.technician, "Петров");
  EXPECT_EQ(correction.image_hash, old_site[0].image_hash);
  EXPECT_EQ(correction.outcome, old_site[0].outcome);
  EXPECT_EQ(correction.device_line, old_site[0].device_line);
  // Corrected once: a second correction of it is refused, by the database too.
  const StoreResult again = f.registry->Supersede(f.read, 0, "ещё раз", "", id);
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message.find("уже заменена записью " + correction.id), std::string::npos);
  EXPECT_FALSE(SqlExec(f.dir / "r.sqlite",
                       "INSERT INTO records (record_id, model, at_us, station_us, time_us, "
                       "station, operator, supersedes, port, device, operation, outcome, message, "
                       "program) SELECT 'x', model, 1, 1, 1, '', '', '" +
                           f.read + "', '', '', 'read', 'holds', '', '' FROM records LIMIT 1"));
  EXPECT_EQ(f.registry->Supersede("no-such", 0, "x", "", id).error, StoreError::NotFound);
}

TEST(GuardedCodes, OnlyARemovedSitesCodesArePurgedAndTheImagesItSharesStay) {
  Filled f;
  const std::vector<uint8_t> before = SiteImage(250, "", 1);
  int images = -1;
  const StoreResult refused = f.registry->Purge(f.site, "Петров", images);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.message.find("не снят"), std::string::npos) << refused.message;
  // The database itself refuses a purge row of a site that is not removed.
  EXPECT_FALSE(SqlExec(f.dir / "r.sqlite", "INSERT INTO purges (site, at_us, images) VALUES (" +
                                               std::to_string(f.site) + ", 1, 0)"));

  SiteEntry entry;
  ASSERT_TRUE(f.registry->Site(f.site, entry).ok());
  entry.card.status = "removed";
  ASSERT_TRUE(f.registry->AddCard(entry.card).ok());
  ASSERT_TRUE(f.registry->Purge(f.site, "Петров", images).ok());
  EXPECT_EQ(images, 1);
  std::vector<uint8_t> image;
  ASSERT_TRUE(f.registry->ClearImage(f.read, CodesAccess::Show, "", image).ok());
  EXPECT_TRUE(CodesBlank(250, image));
  std::vector<uint8_t> expected = before;
  BlankCodes(250, expected);
  EXPECT_EQ(image, expected);  // everything else as it was
  // The other site's record of the same image keeps its codes.
  ASSERT_TRUE(f.registry->ClearImage(f.copy, CodesAccess::Show, "", image).ok());
  EXPECT_EQ(image, before);
  EXPECT_EQ(SqlNumber(f.dir / "r.sqlite", "SELECT images FROM purges WHERE technician = 'Петров'"),
            1);
}

TEST(GuardedCodes, ARegistryOfTheSecondVersionTakesTheGuardsIn) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  {
    StoreResult opened;
    auto registry = OpenFile(file, opened);
    ASSERT_TRUE(registry) << opened.message;
    ASSERT_EQ(registry->Record(ReadRecord(251, "1024", 1)).kept, RecordResult::Kept::InRegistry);
  }
  // As the second version left it: without what every later step made.
  ASSERT_TRUE(SqlExec(file,
                      "DROP TABLE access_log; DROP TABLE purges; DROP INDEX records_superseded; "
                      "DROP TABLE record_drift; DROP TABLE plan_outcomes; DROP TABLE plan_claims; "
                      "DROP TABLE plan_decisions; DROP TABLE plan_sites; DROP TABLE change_plans; "
                      "DROP TABLE image_search; DROP TABLE card_search; DROP TABLE image_texts; "
                      "DROP INDEX records_by_image; UPDATE lovar_schema SET version = 2"));
  StoreResult opened;
  auto registry = OpenFile(file, opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_EQ(SqlNumber(file, "SELECT version FROM lovar_schema"), kStoreSchemaVersion);
  std::vector<SiteEntry> sites;
  ASSERT_TRUE(registry->SiteList(sites).ok());
  ASSERT_EQ(sites.size(), 1u);
  std::vector<uint8_t> image;
  EXPECT_TRUE(registry->ClearImage(sites[0].last.id, CodesAccess::Show, "", image).ok());
}

}  // namespace
}  // namespace lovar
