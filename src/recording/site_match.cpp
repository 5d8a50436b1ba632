#include "recording/site_match.h"

#include <algorithm>
#include <map>

#include "model/catalog.h"

namespace lovar {
namespace {

// What tells one site's device from another's: what the installer set for that site alone.
bool Telling(FieldKind kind) {
  return kind == FieldKind::KeyCode || kind == FieldKind::CodeDigits || kind == FieldKind::Phone;
}

ConfigImage ImageOf(const std::vector<uint8_t>& bytes) {
  ConfigImage image;
  std::copy(bytes.begin(),
            bytes.begin() + static_cast<long>(std::min(bytes.size(), image.bytes().size())),
            image.bytes().begin());
  return image;
}

}  // namespace

MatchScore SiteMatchScore(int model, const ConfigImage& device, const ConfigImage& site) {
  MatchScore score;
  for (const Field& field : Fields(model)) {
    if (!Telling(field.kind)) continue;
    const std::string value = FieldText(field, device);
    if (value.empty()) continue;  // no key, no code, no number: says nothing of the site
    ++score.of;
    if (FieldText(field, site) == value) ++score.same;
  }
  return score;
}

SiteQuestion AskSiteQuestion(Registry& registry, const RecordInfo& read, const ConfigImage& image,
                             const SiteQuestionLimits& limits) {
  SiteQuestion q;
  RecordInfo kept;
  q.result = registry.FindRecord(read.id, kept);
  if (!q.result.ok()) return q;
  q.site = kept.site;
  if (read.model == 251 && !read.object.empty()) {
    // Found by its number: asked only when the number made a site for this read alone.
    std::vector<RecordInfo> history;
    q.result = registry.SiteHistory(kept.site, history);
    if (!q.result.ok()) return q;
    q.own_site = kept.site != 0 && history.size() == 1 && history.front().id == read.id;
    q.ask = kept.site == 0 || q.own_site;
  } else {
    q.ask = kept.site == 0;  // a site given with the read is the installer's answer already
  }
  if (!q.ask) return q;

  std::vector<SiteEntry> entries;
  q.result = registry.SiteList(entries);
  if (!q.result.ok()) return q;
  std::vector<SiteChoice> choices;
  std::vector<std::pair<size_t, std::string>> candidates;  // choice, its newest image's hash
  for (const SiteEntry& entry : entries) {
    if (q.own_site && entry.card.site == q.site) continue;
    choices.push_back({entry.card.site, entry.card.name, {}, entry.last.time});
    if (entry.last.model == read.model && !entry.last.image_hash.empty())
      candidates.emplace_back(choices.size() - 1, entry.last.image_hash);
  }
  // The newest first: a device read again is mostly one recorded lately.
  std::stable_sort(candidates.begin(), candidates.end(), [&](const auto& a, const auto& b) {
    return choices[a.first].last > choices[b.first].last;
  });
  if (candidates.size() > limits.candidates) {
    candidates.resize(limits.candidates);
    q.bounded = true;
  }
  const auto deadline = std::chrono::steady_clock::now() + limits.budget;
  std::map<std::string, MatchScore> scored;  // per image: sites often share one
  for (const auto& [index, hash] : candidates) {
    if (std::chrono::steady_clock::now() > deadline) {
      q.bounded = true;
      break;
    }
    auto found = scored.find(hash);
    if (found == scored.end()) {
      std::vector<uint8_t> bytes;
      MatchScore score;
      if (registry.Image(hash, bytes).ok())
        score = SiteMatchScore(read.model, image, ImageOf(bytes));
      found = scored.emplace(hash, score).first;
    }
    choices[index].score = found->second;
  }
  for (const SiteChoice& choice : choices)
    if (choice.score.same > 0) q.best.push_back(choice);
  std::stable_sort(q.best.begin(), q.best.end(), [](const SiteChoice& a, const SiteChoice& b) {
    // More fields alike first; of two alike, the one recorded last.
    if (a.score.same != b.score.same) return a.score.same > b.score.same;
    return a.last > b.last;
  });
  if (q.best.size() > limits.shown) q.best.resize(limits.shown);
  std::stable_sort(choices.begin(), choices.end(), [](const SiteChoice& a, const SiteChoice& b) {
    return a.name != b.name ? a.name < b.name : a.site < b.site;
  });
  q.sites = std::move(choices);
  return q;
}

StoreResult FileUnderSite(Registry& registry, const std::vector<std::string>& records, int64_t site,
                          const std::string& technician) {
  for (const std::string& id : records) {
    RecordInfo kept;
    StoreResult r = registry.FindRecord(id, kept);
    if (r.ok() && kept.site == site) continue;
    if (r.ok()) r = registry.Assign(id, site, technician);
    if (!r.ok()) return r;
  }
  return {};
}

StoreResult FileUnderNewSite(Registry& registry, const SiteQuestion& question, SiteCard card,
                             const std::vector<std::string>& records, int64_t& site) {
  StoreResult r;
  if (question.own_site) {
    card.site = question.site;
    r = registry.AddCard(card);
    site = question.site;
  } else {
    r = registry.NewSite(card, site);
  }
  if (!r.ok()) return r;
  return FileUnderSite(registry, records, site, card.technician);
}

}  // namespace lovar
