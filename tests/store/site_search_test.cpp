// The sites' search and filters on both databases (a real SQLite file and a real PostgreSQL
// server): a telephone number inside a configuration, an address fragment, loop names, the
// conditions combined, no code or key ever found, and the texts made for what a registry of
// the previous schema kept.
#include <gtest/gtest.h>

#include "records.h"
#include "store/search_text.h"
#include "support/pg_server.h"

namespace lovar {
namespace {
using namespace testing;

// An image of a model 251 site with a telephone number, a loop name and a user code.
std::vector<uint8_t> Configured(const std::string& object, const std::string& phone,
                                const std::string& loop, const std::string& code) {
  std::vector<uint8_t> bytes = SiteImage(251, object, 1);
  ConfigImage image;
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin());
  std::string why;
  EXPECT_TRUE(StoreFieldText(*FindFieldById(251, "direction1.phone"), image, phone, why)) << why;
  EXPECT_TRUE(StoreFieldText(*FindFieldById(251, "loop1.name"), image, loop, why)) << why;
  for (const Field& f : Fields(251))
    if (f.kind == FieldKind::CodeDigits) {
      EXPECT_TRUE(StoreFieldText(f, image, code, why)) << why;
      break;
    }
  return {image.bytes().begin(), image.bytes().begin() + static_cast<long>(bytes.size())};
}

enum class Db { Sqlite, Postgres };

class SiteSearch : public ::testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    if (GetParam() == Db::Sqlite) {
      options_.location = {false, Utf8Of(dir_ / "registry.sqlite")};
    } else {
      std::string why;
      server_ = PgServer::Shared(why);
      if (server_ == nullptr) {
        if (why.starts_with("no PostgreSQL") || why.starts_with("LOVAR_TEST_PG"))
          GTEST_SKIP() << why;
        FAIL() << why;
      }
      db_ = server_->NewDatabase();
      options_.location = {true, server_->Uri(db_)};
      options_.local_file = dir_ / "local.sqlite";
    }
    Reopen();
  }
  void Reopen() {
    registry_.reset();
    StoreResult opened;
    registry_ = Registry::Open(options_, opened);
    ASSERT_TRUE(registry_) << opened.message;
  }
  int64_t NewSite(const std::string& name, const std::string& phones = "",
                  const std::string& status = "active") {
    SiteCard card;
    card.name = name;
    card.phones = phones;
    card.status = status;
    int64_t id = 0;
    EXPECT_TRUE(registry_->NewSite(card, id).ok());
    return id;
  }
  void Read(int64_t site, const std::string& object, std::vector<uint8_t> image,
            const std::string& station = "pc-1", const std::string& technician = "",
            RecordOutcome outcome = RecordOutcome::Holds) {
    SiteRecord r = ReadRecord(251, object, 1);
    r.image = std::move(image);
    r.info.site = site;
    r.info.station = station;
    r.info.technician = technician;
    r.info.outcome = outcome;
    r.info.operation =
        outcome == RecordOutcome::Holds ? RecordOperation::Read : RecordOperation::Write;
    ASSERT_EQ(registry_->Record(r).kept, RecordResult::Kept::InRegistry);
  }
  // The names of the sites the filter chooses, in order.
  std::vector<std::string> Found(const SiteFilter& filter) {
    std::vector<SiteEntry> sites;
    const StoreResult r = registry_->SiteList(filter, sites);
    EXPECT_TRUE(r.ok()) << r.message;
    std::vector<std::string> names;
    for (const SiteEntry& s : sites) names.push_back(s.card.name);
    return names;
  }
  std::vector<std::string> Searched(const std::string& text) {
    SiteFilter filter;
    filter.text = text;
    return Found(filter);
  }
  using Names = std::vector<std::string>;

  // Three sites: one with two configurations, one suspended whose write was not proven, one
  // never visited.
  void Fill() {
    const int64_t lenina = NewSite("ул. Ленина, 5", "+7 (912) 345-67-89");
    const int64_t mira = NewSite("пр. Мира, 3", "", "suspended");
    NewSite("ул. Ленина, 7");
    Read(lenina, "1024", Configured("1024", "+79160001122", "ГАРАЖ", "4321"));
    Read(lenina, "1024", Configured("1024", "+79160001133", "Гараж 2", "4321"), "pc-2", "Петров");
    Read(mira, "77", Configured("77", "84950001122", "Касса", "8765"), "pc-2", "Сидоров",
         RecordOutcome::Unproven);
  }

  TempFolder dir_;
  PgServer* server_ = nullptr;
  std::string db_;
  RegistryOptions options_;
  std::unique_ptr<Registry> registry_;
};

TEST_P(SiteSearch, FindsNumbersInsideConfigurationsAndPartsOfCards) {
  Fill();
  // A part of a number inside a configuration; a number only an older one held still names
  // its site.
  EXPECT_EQ(Searched("916000113"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("9160001122"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("0001122"), (Names{"ул. Ленина, 5", "пр. Мира, 3"}));
  // An address as typed, whatever the case, a short word among the longer; a loop name.
  EXPECT_EQ(Searched("ЛЕНИНА 5"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("ленина"), (Names{"ул. Ленина, 5", "ул. Ленина, 7"}));
  EXPECT_EQ(Searched("гараж"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("касса"), Names{"пр. Мира, 3"});
  // A card's telephone as typed any way, and the words in one text only.
  EXPECT_EQ(Searched("912-345"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("(912) 345 67 89"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("мира гараж"), Names{});
  EXPECT_EQ(Searched("5"), (Names{"ул. Ленина, 5", "пр. Мира, 3"}));
  // Never a code: a search must not tell who holds one.
  EXPECT_EQ(Searched("4321"), Names{});
  EXPECT_EQ(Searched("8765"), Names{});
  // Text that no SQL may misread.
  EXPECT_EQ(Searched("%"), Names{});
  EXPECT_EQ(Searched("\"'_ AND"), Names{});
}

TEST_P(SiteSearch, FiltersCombine) {
  Fill();
  SiteFilter f;
  f.status = "suspended";
  EXPECT_EQ(Found(f), Names{"пр. Мира, 3"});
  f = {};
  f.outcome = "unproven";
  EXPECT_EQ(Found(f), Names{"пр. Мира, 3"});
  f = {};
  f.technician = "Петров";
  EXPECT_EQ(Found(f), Names{"ул. Ленина, 5"});
  // Station and technician of one record: Petrov worked from pc-2, Sidorov too, but not
  // Petrov on pc-1.
  f.station = "pc-2";
  EXPECT_EQ(Found(f), Names{"ул. Ленина, 5"});
  f.station = "pc-1";
  EXPECT_EQ(Found(f), Names{});
  f = {};
  f.station = "pc-2";
  EXPECT_EQ(Found(f), (Names{"ул. Ленина, 5", "пр. Мира, 3"}));
  f.text = "ленина";
  EXPECT_EQ(Found(f), Names{"ул. Ленина, 5"});
  f.from = StoreTimeNow() + 3'600'000'000;  // nothing recorded an hour from now
  EXPECT_EQ(Found(f), Names{});
  f = {};
  f.from = StoreTimeNow() - 3'600'000'000;
  f.to = StoreTimeNow() + 3'600'000'000;
  EXPECT_EQ(Found(f), (Names{"ул. Ленина, 5", "пр. Мира, 3"}));
  // Not touched since: the site never visited; all of them, since a time to come.
  f = {};
  f.untouched_since = StoreTimeNow() - 3'600'000'000;
  EXPECT_EQ(Found(f), Names{"ул. Ленина, 7"});
  f.untouched_since = StoreTimeNow() + 3'600'000'000;
  f.model = 251;
  f.object_prefix = "10";
  EXPECT_EQ(Found(f), Names{"ул. Ленина, 5"});
}

// A registry of the previous schema: its images and cards get their texts as it is taken in.
TEST_P(SiteSearch, TheMigrationMakesTheTextsOfWhatIsKept) {
  Fill();
  registry_.reset();
  const std::string back =
      "DROP TABLE {p}image_texts; DROP TABLE {p}{c}; DROP INDEX {p}records_by_image; "
      "UPDATE {p}{s} SET version = " +
      std::to_string(kStoreSchemaVersion - 1) + ";";
  std::string sql = back;
  const bool pg = GetParam() == Db::Postgres;
  for (const auto& [key, value] : std::initializer_list<std::pair<std::string, std::string>>{
           {"{p}", pg ? "lovar." : ""},
           {"{c}", pg ? "card_texts" : "card_search; DROP TABLE image_search"},
           {"{s}", pg ? "schema_info" : "lovar_schema"}})
    for (size_t at; (at = sql.find(key)) != std::string::npos;) sql.replace(at, key.size(), value);
  if (pg)
    ASSERT_TRUE(server_->Sql(db_, sql));
  else
    ASSERT_TRUE(SqlExec(dir_ / "registry.sqlite", sql));
  Reopen();
  EXPECT_EQ(Searched("9160001122"), Names{"ул. Ленина, 5"});
  EXPECT_EQ(Searched("касса"), Names{"пр. Мира, 3"});
  EXPECT_EQ(Searched("ленина"), (Names{"ул. Ленина, 5", "ул. Ленина, 7"}));
  EXPECT_EQ(Searched("912345"), Names{"ул. Ленина, 5"});
  // Each image once, each card version once; on the server, through its trigram indexes.
  if (pg) {
    std::string indexes;
    ASSERT_TRUE(server_->Sql(db_,
                             "SELECT count(*) FROM pg_indexes WHERE schemaname = 'lovar' AND "
                             "indexname LIKE '%_trgm'",
                             &indexes));
    EXPECT_EQ(indexes, "2");
    for (const std::string& note : registry_->Notes())
      EXPECT_EQ(note.find("pg_trgm"), std::string::npos) << note;
  } else {
    EXPECT_EQ(SqlNumber(dir_ / "registry.sqlite", "SELECT count(*) FROM image_texts"), 3);
    EXPECT_EQ(SqlNumber(dir_ / "registry.sqlite", "SELECT count(*) FROM card_search"), 3);
  }
}

INSTANTIATE_TEST_SUITE_P(BothStores, SiteSearch, ::testing::Values(Db::Sqlite, Db::Postgres),
                         [](const auto& info) {
                           return info.param == Db::Sqlite ? "Sqlite" : "Postgres";
                         });

// What the texts hold and how what is typed is read.
TEST(SearchText, WordsAndTextsAreFoldedAlike) {
  EXPECT_EQ(SearchWords("  Ул.  ЛЕНИНА,\t5 ёлка "),
            (std::vector<std::string>{"ул.", "ленина,", "5", "елка"}));
  EXPECT_EQ(SearchWords("+7(912)345-67-89 12.5 -"),
            (std::vector<std::string>{"79123456789", "125", "-"}));
  SiteCard card;
  card.name = "ул. Ленина, 5";
  card.phones = "+7 (912) 345-67-89, 8-800-100";
  EXPECT_EQ(CardSearchText(card),
            "ул. ленина, 5\n+7 (912) 345-67-89, 8-800-100\n79123456789\n8800100");
  const std::string text = ImageSearchText(251, Configured("1024", "+79160001122", "Вход", "4321"));
  EXPECT_NE(text.find("79160001122"), std::string::npos) << text;
  EXPECT_NE(text.find("вход"), std::string::npos) << text;
  EXPECT_NE(text.find("1024"), std::string::npos) << text;
  EXPECT_EQ(text.find("4321"), std::string::npos) << text;
}

}  // namespace
}  // namespace lovar
