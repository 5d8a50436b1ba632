// Sites as places: a registry of the first version taken in whole, each model's records under
// their own site, a write that changes the object number kept in one history, cards, notes and
// assignments as rows of their own.
#include <gtest/gtest.h>

#include "files/utf8_path.h"
#include "records.h"
#include "schema_v1.h"

namespace lovar {
namespace {
using namespace testing;

std::vector<std::string> Ids(const std::vector<RecordInfo>& records) {
  std::vector<std::string> ids;
  for (const RecordInfo& r : records) ids.push_back(r.id);
  return ids;
}

TEST(SitesV2, AFirstVersionRegistryIsTakenInWithoutLoss) {
  TempFolder dir;
  const auto file = dir / "r.sqlite";
  ASSERT_TRUE(SqlExec(file, SchemaV1("", false)));
  StoreResult opened;
  auto registry = OpenFile(file, opened);
  ASSERT_TRUE(registry) << opened.message;
  EXPECT_EQ(SqlNumber(file, "SELECT version FROM lovar_schema"), kStoreSchemaVersion);
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records"), 5);
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM sqlite_master WHERE sql LIKE '%_v2%'"), 0);

  // Each model 251 number a site named after it; the records of no number, of no site.
  std::vector<SiteEntry> sites;
  ASSERT_TRUE(registry->SiteList(sites).ok());
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_EQ(sites[0].card.name, "Объект 1024");
  EXPECT_EQ(sites[0].card.status, "active");
  EXPECT_EQ(sites[0].card.at, 1000);  // made when its first record was
  EXPECT_EQ(sites[0].last.id, "r2");
  EXPECT_EQ(sites[1].card.name, "Объект 77");
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->SiteHistory(sites[0].card.site, history).ok());
  EXPECT_EQ(Ids(history), (std::vector<std::string>{"r1", "r2"}));
  EXPECT_EQ(history[1].time, 2000);  // the station's clock: all the first version knew
  EXPECT_EQ(history[1].operation, RecordOperation::Write);
  EXPECT_EQ(history[1].object, "1024");
  EXPECT_EQ(history[1].site_name, "Объект 1024");
  EXPECT_EQ(history[1].operator_name, "ivan");
  ASSERT_TRUE(registry->SiteHistory(0, history).ok());
  EXPECT_EQ(Ids(history), (std::vector<std::string>{"r3", "r4"}));
  EXPECT_EQ(history[0].model, 250);
  EXPECT_EQ(history[1].model, 252);
  EXPECT_TRUE(history[1].image_hash.empty());
  // A record waiting for its server still does, and the old queries still answer.
  EXPECT_EQ(SqlNumber(file, "SELECT count(*) FROM records WHERE waiting_for IS NOT NULL"), 1);
  std::vector<SiteSummary> numbers;
  ASSERT_TRUE(registry->Sites("", numbers).ok());
  EXPECT_EQ(numbers.size(), 4u);

  // New records find their site by number; a number the registry does not know makes one.
  RecordResult kept = registry->Record(ReadRecord(251, "1024", 3));
  ASSERT_TRUE(kept.ok()) << kept.message;
  EXPECT_EQ(kept.site, sites[0].card.site);
  EXPECT_TRUE(kept.note.empty()) << kept.note;
  kept = registry->Record(ReadRecord(251, "555", 1));
  ASSERT_TRUE(kept.ok());
  SiteEntry made;
  ASSERT_TRUE(registry->Site(kept.site, made).ok());
  EXPECT_EQ(made.card.name, "Объект 555");
}

TEST(SitesV2, EveryModelHasItsSiteAndAChangedNumberKeepsOneHistory) {
  TempFolder dir;
  StoreResult opened;
  auto registry = OpenFile(dir / "r.sqlite", opened);
  ASSERT_TRUE(registry) << opened.message;
  SiteCard card;
  card.name = "ул. Ленина, 5";
  card.customer = "ООО «Ромашка»";
  int64_t lenina = 0, mira = 0;
  ASSERT_TRUE(registry->NewSite(card, lenina).ok());
  card.name = "пр. Мира, 3";
  ASSERT_TRUE(registry->NewSite(card, mira).ok());

  // Models 250 and 252 under the site named; one not named is of no site.
  SiteRecord r250 = ReadRecord(250, "", 1);
  r250.info.site = lenina;
  r250.info.technician = "Петров";
  r250.info.note = "новый ключ";
  ASSERT_EQ(registry->Record(r250).site, lenina);
  SiteRecord r252 = ReadRecord(252, "", 1);
  r252.info.site = mira;
  ASSERT_EQ(registry->Record(r252).site, mira);
  SiteRecord loose = ReadRecord(252, "", 2);
  const RecordResult unnamed = registry->Record(loose);
  EXPECT_EQ(unnamed.site, 0);
  // A site the registry does not have: kept all the same, of no site, and said.
  SiteRecord wrong = ReadRecord(250, "", 3);
  wrong.info.site = 999;
  const RecordResult missing = registry->Record(wrong);
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(missing.site, 0);
  EXPECT_NE(missing.note.find("Объекта 999 нет в реестре"), std::string::npos) << missing.note;

  // A model 251 whose write changes its number: the write and the reads after it stay one site.
  ASSERT_TRUE(registry->Record(ReadRecord(251, "1024", 1)).ok());
  SiteRecord write = ReadRecord(251, "2048", 2);
  write.info.operation = RecordOperation::Write;
  write.info.prior_object = "1024";
  const int64_t site = registry->Record(write).site;
  ASSERT_NE(site, 0);
  EXPECT_EQ(registry->Record(ReadRecord(251, "2048", 2)).site, site);
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry->SiteHistory(site, history).ok());
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[1].object, "2048");
  EXPECT_EQ(history[1].prior_object, "1024");

  ASSERT_TRUE(registry->SiteHistory(lenina, history).ok());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].technician, "Петров");
  EXPECT_EQ(history[0].note, "новый ключ");
  EXPECT_EQ(history[0].site_name, "ул. Ленина, 5");
  EXPECT_FALSE(history[0].late);

  // Assigned later, and noted later: rows of their own; the record itself is as it was.
  std::vector<RecordInfo> loose_records;
  ASSERT_TRUE(registry->SiteHistory(0, loose_records).ok());
  ASSERT_EQ(loose_records.size(), 2u);
  ASSERT_TRUE(registry->Assign(loose_records[0].id, lenina, "Сидоров").ok());
  ASSERT_TRUE(registry->AddNote(loose_records[0].id, "прибор в подвале", "Сидоров").ok());
  EXPECT_EQ(registry->Assign(loose_records[0].id, 999, "").error, StoreError::NotFound);
  EXPECT_EQ(registry->AddNote("нет-такой", "текст", "").error, StoreError::NotFound);
  ASSERT_TRUE(registry->SiteHistory(lenina, history).ok());
  EXPECT_EQ(history.size(), 2u);
  std::vector<RecordNote> notes;
  ASSERT_TRUE(registry->SiteNotes(lenina, notes).ok());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].text, "прибор в подвале");
  EXPECT_EQ(notes[0].technician, "Сидоров");
  ASSERT_TRUE(registry->SiteHistory(0, history).ok());
  EXPECT_EQ(history.size(), 1u);

  // The card is a series of versions; a name on two cards is ambiguous.
  card.site = mira;
  card.name = "ул. Ленина, 5";
  card.status = "suspended";
  ASSERT_TRUE(registry->AddCard(card).ok());
  card.status = "closed";
  EXPECT_FALSE(registry->AddCard(card).ok());  // the database's own check
  std::vector<SiteCard> cards;
  ASSERT_TRUE(registry->Cards(mira, cards).ok());
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].name, "пр. Мира, 3");
  int64_t found = 0;
  const StoreResult two = registry->FindSite("ул. Ленина, 5", found);
  EXPECT_EQ(two.error, StoreError::NotFound);
  EXPECT_NE(two.message.find("несколько"), std::string::npos) << two.message;
  ASSERT_TRUE(registry->FindSite(std::to_string(mira), found).ok());
  EXPECT_EQ(found, mira);
  EXPECT_EQ(registry->FindSite("пр. Мира, 3", found).error, StoreError::NotFound);
}

TEST(SitesV2, ARecordWaitingForAServerKeepsTheServersSiteAsideAndLandsUnderIt) {
  TempFolder dir;
  StoreOptions options;
  OpenedStore station = OpenSqliteStore(Utf8Of(dir / "station.sqlite"), options);
  OpenedStore server = OpenSqliteStore(Utf8Of(dir / "server.sqlite"), options);
  ASSERT_TRUE(station.store && server.store);
  // The server's site 2: on the station, a site 1 of its own means something else.
  SiteCard card;
  int64_t id = 0;
  card.name = "Склад";
  ASSERT_TRUE(station.store->NewSite(card, id).ok());
  card.name = "ул. Ленина, 5";
  ASSERT_TRUE(server.store->NewSite(card, id).ok());
  ASSERT_TRUE(server.store->NewSite(card, id).ok());
  ASSERT_EQ(id, 2);

  SiteRecord record = ReadRecord(250, "", 1, 1'000);
  record.info.id = NewRecordId();
  record.info.site = 2;
  record.info.station = "pc-7";
  AddedRecord added;
  ASSERT_TRUE(station.store->Add(record, "postgresql://h/db", added).ok());
  EXPECT_EQ(added.site, 0);  // none of the station's sites
  std::vector<SiteEntry> sites;
  ASSERT_TRUE(station.store->SiteList(sites).ok());
  ASSERT_EQ(sites.size(), 1u);
  EXPECT_TRUE(sites[0].last.id.empty());

  std::vector<SiteRecord> waiting;
  ASSERT_TRUE(station.store->Waiting("postgresql://h/db", 10, waiting).ok());
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].info.site, 2);
  EXPECT_EQ(waiting[0].info.time, 1'000);  // the station's clock, as given
  waiting[0].info.late = true;
  ASSERT_TRUE(server.store->Add(waiting[0], {}, added).ok());
  EXPECT_EQ(added.site, 2);
  std::vector<RecordInfo> history;
  ASSERT_TRUE(server.store->SiteHistory(2, history).ok());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].time, 1'000);  // it came late: its time is the station's
  EXPECT_TRUE(history[0].late);
  EXPECT_GT(history[0].arrived, 1'000);
  EXPECT_EQ(history[0].site_name, "ул. Ленина, 5");
}

}  // namespace
}  // namespace lovar
