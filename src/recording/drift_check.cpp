#include "recording/drift_check.h"

#include <algorithm>

#include "model/image_diff.h"
#include "store/local_time.h"

namespace lovar {
namespace {

bool ImageOf(Registry& registry, const RecordInfo& record, ConfigImage& image, int& extent,
             StoreResult& result) {
  std::vector<uint8_t> bytes;
  result = registry.Image(record.image_hash, bytes);
  if (!result.ok()) return false;
  extent = static_cast<int>(std::min(bytes.size(), image.bytes().size()));
  std::copy(bytes.begin(), bytes.begin() + extent, image.bytes().begin());
  return true;
}

DriftFound Failed(DriftFound found, const StoreResult& result) {
  found.state = DriftFound::State::NotCompared;
  found.why = result.message;
  return found;
}

}  // namespace

std::vector<std::string> DriftFound::ids() const {
  std::vector<std::string> out;
  for (const DriftedField& d : fields) out.push_back(d.field->id);
  return out;
}

DriftFound NotCompared(const SiteRecord& read, std::string why) {
  DriftFound found;
  found.port = read.info.port;
  found.model = read.info.model;
  found.why = std::move(why);
  return found;
}

DriftFound CompareWithSite(Registry& registry, const SiteRecord& read) {
  DriftFound found = NotCompared(read, {});
  const RecordInfo& info = read.info;
  found.site = info.site;
  StoreResult r;
  if (found.site == 0 && !info.object.empty()) {
    // A model 251 is its site's by its number: the site of the newest record of it.
    std::vector<RecordInfo> numbered;
    r = registry.History(info.model, info.object, numbered);
    if (!r.ok()) return Failed(std::move(found), r);
    for (const RecordInfo& h : numbered)
      if (h.site != 0 && h.model == info.model) found.site = h.site;
  }
  if (found.site == 0) {
    found.state = DriftFound::State::NoSite;
    return found;
  }
  std::vector<RecordInfo> history;
  r = registry.SiteHistory(found.site, history);
  if (!r.ok()) return Failed(std::move(found), r);
  // A read that found drift is no base: the drift stands, and is said, until a write of ours
  // is proven over it (or the device is put back).
  const auto base = std::find_if(history.rbegin(), history.rend(), [&](const RecordInfo& h) {
    return h.model == info.model && ProvesHeld(h) && h.drift.empty();
  });
  if (base == history.rend()) {
    found.state = DriftFound::State::NoRecord;
    return found;
  }
  // Matched by its number, a device is that site's only while the site's device still has the
  // number: a number given up by a write is no longer the site's.
  if (info.site == 0 && base->object != info.object) {
    found.state = DriftFound::State::NoRecord;
    return found;
  }
  found.base = *base;
  found.site_name = base->site_name;
  ConfigImage recorded;
  int extent = 0;
  if (!ImageOf(registry, *base, recorded, extent, r)) return Failed(std::move(found), r);
  ConfigImage now;
  const int read_extent = static_cast<int>(std::min(read.image.size(), now.bytes().size()));
  std::copy(read.image.begin(), read.image.begin() + read_extent, now.bytes().begin());
  found.fields = CompareWithRecord(info.model, recorded, extent, now, read_extent);
  // A later write of ours that was not proven explains the values it put there.
  for (auto later = base.base(); later != history.end() && !found.fields.empty(); ++later) {
    if (later->model != info.model || later->image_hash.empty() ||
        later->operation == RecordOperation::Read || later->operation == RecordOperation::Archive)
      continue;
    ConfigImage written;
    int written_extent = 0;
    if (!ImageOf(registry, *later, written, written_extent, r)) return Failed(std::move(found), r);
    std::erase_if(found.fields, [&](const DriftedField& d) {
      return InExtent(*d.field, written_extent) && FieldText(*d.field, written) == d.now;
    });
  }
  found.state = DriftFound::State::Compared;
  return found;
}

void MarkDrift(const DriftFound& found, SiteRecord& read) {
  if (!found.drifted()) return;
  read.info.drift = DriftIdsText(found.fields);
  read.info.drift_base = found.base.id;
}

std::string OverwrittenDrift(const DriftFound& found, const ConfigImage& device_now,
                             const ConfigImage& to_write) {
  if (!found.drifted()) return {};
  return FieldNames(DriftOverwritten(found.model, found.ids(), device_now, to_write));
}

std::string DriftFoundText(const DriftFound& found) {
  switch (found.state) {
    case DriftFound::State::NotCompared:
      return "Не сравнено с реестром объектов: " +
             (found.why.empty() ? std::string("реестр не ответил") : found.why);
    case DriftFound::State::Compared:
      if (!found.drifted()) return {};
      return DriftText(found.fields) + " (сравнено с записью реестра от " +
             LocalTimeText(found.base.time) + ")";
    case DriftFound::State::NoSite:
    case DriftFound::State::NoRecord:
      break;
  }
  return {};
}

}  // namespace lovar
