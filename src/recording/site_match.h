// Which site a device is, when the registry cannot tell by itself: models 250 and 252 have no
// object number, and a model 251 whose number the registry has never seen made a site of its
// own. The window asks after the read; this is what it shows and what its answer does: the
// sites ranked by how well the device's configuration matches each one's newest recorded image
// (its keys, user codes and telephone numbers), every site by name for a search, and the read's
// records put under the site chosen (an assignment each, never a record changed).
//
// The work is bounded on a large registry: one list of the sites (one query), then at most
// SiteQuestionLimits::candidates newest images of the same model are scored, each image read
// once however many sites hold it, and the scoring stops at its time budget; the rest are still
// offered by name.
//
// Threads: SiteMatchScore is pure. AskSiteQuestion and the answers run on the registry's own
// thread (recording/record_worker.h), after the read's record was given to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "model/config_image.h"
#include "store/registry.h"

namespace lovar {

// How well two images of a model match over its keys, user codes and telephone numbers: of the
// device's fields that hold something, how many hold the same in the site's image.
struct MatchScore {
  int same = 0;
  int of = 0;
};
MatchScore SiteMatchScore(int model, const ConfigImage& device, const ConfigImage& site);

// A site offered: its id, its card's name, the match (of 0: not scored), its newest record's time.
struct SiteChoice {
  int64_t site = 0;
  std::string name;
  MatchScore score;
  StoreTime last = 0;
};

struct SiteQuestionLimits {
  size_t candidates = 400;  // images scored at most
  std::chrono::milliseconds budget{1500};
  size_t shown = 10;  // best matches offered first
};

struct SiteQuestion {
  // Failed: the registry did not answer (or does not hold the read yet): nothing is asked, the
  // record stays of no site until it is put under one later.
  StoreResult result;
  bool ask = false;              // false: the registry found the site itself (a model 251's number)
  int64_t site = 0;              // the site the read is under now (0: none)
  bool own_site = false;         // that site was made for this read (a model 251's new number)
  std::vector<SiteChoice> best;  // matching at least one field, best first
  std::vector<SiteChoice> sites;  // every site (the read's own one left out), by name
  bool bounded = false;           // not every site of the model was scored
};

// read: the read's record as given to the registry (its id stamped); image: what was read.
SiteQuestion AskSiteQuestion(Registry& registry, const RecordInfo& read, const ConfigImage& image,
                             const SiteQuestionLimits& limits = {});

// The answer: records (the read's, and those made since) put under site; the first failure.
// A record already under it is left as it is.
StoreResult FileUnderSite(Registry& registry, const std::vector<std::string>& records, int64_t site,
                          const std::string& technician);
// "Новый объект": a site with card made for the device (the site a model 251's new number made
// for its read takes the card as its next version instead, so that no empty site is left), and
// records put under it; site: its id.
StoreResult FileUnderNewSite(Registry& registry, const SiteQuestion& question, SiteCard card,
                             const std::vector<std::string>& records, int64_t& site);

}  // namespace lovar
