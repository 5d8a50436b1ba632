// Which site a device is: the match over keys, codes and telephone numbers, the question asked
// of a real registry file (who is asked, what comes first, how the work is bounded) and the
// answer filing the records.
#include <gtest/gtest.h>

#include "../store/records.h"
#include "recording/site_match.h"

namespace lovar {
namespace {

using testing::TempFolder;

ConfigImage Sample(int model) {
  return SampleImage(model);
}

// The image with the field set to text.
ConfigImage With(ConfigImage image, int model, const std::string& id, const std::string& text) {
  std::string why;
  const Field* field = FindFieldById(model, id);
  EXPECT_NE(field, nullptr) << id;
  if (field != nullptr) {
    EXPECT_TRUE(StoreFieldText(*field, image, text, why)) << id << ": " << why;
  }
  return image;
}

// Key n of the model set to its width in hexadecimal digits of one kind ("" for no key).
ConfigImage WithKey(const ConfigImage& image, int model, int n, char digit) {
  const std::string id = "key" + std::to_string(n) + ".code";
  const Field* field = FindFieldById(model, id);
  return With(image, model, id,
              digit == 0 || field == nullptr ? "" : std::string(field->width * 2, digit));
}

TEST(SiteMatchScore, CountsTheDevicesKeysCodesAndNumbersHeldAlike) {
  for (const int model : {250, 251, 252}) {
    const ConfigImage device = WithKey(Sample(model), model, 1, '1');
    const MatchScore self = SiteMatchScore(model, device, device);
    EXPECT_GT(self.of, 2) << model;
    EXPECT_EQ(self.same, self.of) << model;
    // Two other keys: two fields fewer alike, of as many.
    const ConfigImage other = WithKey(WithKey(device, model, 1, '2'), model, 2, '3');
    const MatchScore two_off = SiteMatchScore(model, device, other);
    EXPECT_EQ(two_off.of, self.of) << model;
    EXPECT_EQ(two_off.same, self.of - 2) << model;
    // A key the device does not hold says nothing: neither counted nor alike.
    const ConfigImage no_key = WithKey(device, model, 1, 0);
    EXPECT_EQ(SiteMatchScore(model, no_key, device).of, self.of - 1) << model;
  }
  // Model 251's telephone numbers count as its keys do.
  const ConfigImage device = With(Sample(251), 251, "direction1.phone", "+79161234567");
  const MatchScore self = SiteMatchScore(251, device, device);
  const ConfigImage other = With(device, 251, "direction1.phone", "+79160000000");
  EXPECT_EQ(SiteMatchScore(251, device, other).same, self.same - 1);
  EXPECT_EQ(SiteMatchScore(251, device, other).of, self.of);
}

class SiteQuestionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryOptions options;
    options.location = {false, Utf8Of(folder_.path() / "registry.sqlite")};
    StoreResult opened;
    registry_ = Registry::Open(options, opened);
    ASSERT_TRUE(registry_) << opened.message;
  }

  // A site named name whose newest record is a read of image.
  int64_t Site(const std::string& name, int model, const ConfigImage& image) {
    SiteCard card;
    card.name = name;
    int64_t id = 0;
    EXPECT_TRUE(registry_->NewSite(card, id).ok());
    SiteRecord r = Read(model, image);
    r.info.site = id;
    EXPECT_TRUE(registry_->Record(r).ok());
    return id;
  }
  SiteRecord Read(int model, const ConfigImage& image) {
    SiteRecord r;
    r.info.model = model;
    r.info.port = "/dev/ttyUSB0";
    r.info.object = ObjectNumber(model, image);
    r.image.assign(image.bytes().begin(), image.bytes().begin() + ImageLength(model));
    Registry::Stamp(r);
    return r;
  }
  // The device read and recorded, then asked about.
  SiteQuestion Ask(int model, const ConfigImage& device, SiteRecord* kept = nullptr,
                   SiteQuestionLimits limits = {}) {
    SiteRecord r = Read(model, device);
    EXPECT_TRUE(registry_->Record(r).ok());
    if (kept != nullptr) *kept = r;
    return AskSiteQuestion(*registry_, r.info, device, limits);
  }

  TempFolder folder_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(SiteQuestionTest, TheBestMatchOfTheModelComesFirstAndEverySiteIsOffered) {
  const ConfigImage lenina = WithKey(Sample(252), 252, 1, '1');
  const ConfigImage mira = WithKey(lenina, 252, 1, '2');
  const int64_t a = Site("Ленина, 5", 252, lenina);
  const int64_t b = Site("Мира, 1", 252, mira);
  const int64_t c = Site("Склад", 250, Sample(250));  // another model: offered, never scored
  const SiteQuestion q = Ask(252, WithKey(lenina, 252, 3, '4'));
  ASSERT_TRUE(q.result.ok()) << q.result.message;
  EXPECT_TRUE(q.ask);
  EXPECT_FALSE(q.bounded);
  ASSERT_EQ(q.best.size(), 2u);
  EXPECT_EQ(q.best[0].site, a);
  EXPECT_EQ(q.best[1].site, b);
  EXPECT_EQ(q.best[0].score.same, q.best[0].score.of - 1);  // a key changed since
  EXPECT_LT(q.best[1].score.same, q.best[0].score.same);
  ASSERT_EQ(q.sites.size(), 3u);  // by name
  EXPECT_EQ(q.sites[0].site, a);
  EXPECT_EQ(q.sites[1].site, b);
  EXPECT_EQ(q.sites[2].site, c);

  // Bounded: one image scored, the newest; the others still offered by name.
  SiteQuestionLimits one;
  one.candidates = 1;
  const SiteQuestion bounded = Ask(252, lenina, nullptr, one);
  EXPECT_TRUE(bounded.bounded);
  EXPECT_LE(bounded.best.size(), 1u);
  EXPECT_EQ(bounded.sites.size(), 3u);
}

TEST_F(SiteQuestionTest, AModel251IsAskedOnlyWhenItsNumberIsNew) {
  const ConfigImage known = Sample(251);  // object 1024
  ASSERT_TRUE(registry_->Record(Read(251, known)).ok());
  const SiteQuestion again = Ask(251, known);
  ASSERT_TRUE(again.result.ok());
  EXPECT_FALSE(again.ask);
  EXPECT_NE(again.site, 0);

  const ConfigImage fresh = With(known, 251, "object_number", "2048");
  SiteRecord read;
  const SiteQuestion q = Ask(251, fresh, &read);
  ASSERT_TRUE(q.result.ok());
  EXPECT_TRUE(q.ask);
  EXPECT_TRUE(q.own_site);
  for (const SiteChoice& s : q.sites) EXPECT_NE(s.site, q.site);  // its own is no choice

  // "Новый объект": the site its number made takes the card; no empty site is left behind.
  std::vector<SiteEntry> before;
  ASSERT_TRUE(registry_->SiteList(before).ok());
  SiteCard card;
  card.name = "Садовая, 3";
  int64_t site = 0;
  ASSERT_TRUE(FileUnderNewSite(*registry_, q, card, {read.info.id}, site).ok());
  EXPECT_EQ(site, q.site);
  std::vector<SiteEntry> after;
  ASSERT_TRUE(registry_->SiteList(after).ok());
  EXPECT_EQ(after.size(), before.size());
  SiteEntry entry;
  ASSERT_TRUE(registry_->Site(site, entry).ok());
  EXPECT_EQ(entry.card.name, "Садовая, 3");
}

TEST_F(SiteQuestionTest, TheAnswerPutsTheRecordsUnderTheSiteChosen) {
  const int64_t a = Site("Ленина, 5", 250, Sample(250));
  SiteRecord read;
  const SiteQuestion q = Ask(250, Sample(250), &read);
  ASSERT_TRUE(q.ask);
  SiteRecord write = Read(250, Sample(250));
  write.info.operation = RecordOperation::Write;
  ASSERT_TRUE(registry_->Record(write).ok());
  ASSERT_TRUE(FileUnderSite(*registry_, {read.info.id, write.info.id}, a, "Петров").ok());
  std::vector<RecordInfo> history;
  ASSERT_TRUE(registry_->SiteHistory(a, history).ok());
  EXPECT_EQ(history.size(), 3u);
  std::vector<RecordInfo> none;
  ASSERT_TRUE(registry_->SiteHistory(0, none).ok());
  EXPECT_TRUE(none.empty());
  // Asked again (a record under it already): nothing more is added.
  EXPECT_TRUE(FileUnderSite(*registry_, {read.info.id}, a, "Петров").ok());
  // A record the registry does not hold: the answer's failure, said.
  EXPECT_FALSE(FileUnderSite(*registry_, {"00000000000000000000000000000000"}, a, "").ok());
  // A read given a site already is no question.
  SiteRecord placed = Read(250, Sample(250));
  placed.info.site = a;
  ASSERT_TRUE(registry_->Record(placed).ok());
  EXPECT_FALSE(AskSiteQuestion(*registry_, placed.info, Sample(250)).ask);
}

}  // namespace
}  // namespace lovar
