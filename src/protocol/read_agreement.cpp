#include "protocol/read_agreement.h"

#include <algorithm>

namespace lovar {

bool ReadAgreement::Offer(std::span<const uint8_t> bytes) {
  ++tries_;
  if (Agreed()) return true;
  std::vector<uint8_t> read(bytes.begin(), bytes.end());
  for (const std::vector<uint8_t>& before : reads_)
    if (before == read) {
      agreed_ = std::move(read);
      return true;
    }
  reads_.push_back(std::move(read));
  return false;
}

void SuspectReads::Mark(ReadPlace place, std::span<const uint8_t> stored) {
  if (place.end <= place.from) return;
  for (const Entry& e : places_)
    if (e.place == place) return;
  std::vector<std::vector<uint8_t>> reads;
  reads.emplace_back(stored.begin(), stored.end());
  // In the order of the image, so that a read stopped among them is whole up to the first.
  const auto at = std::find_if(places_.begin(), places_.end(),
                               [&](const Entry& e) { return e.place.from > place.from; });
  places_.insert(at, {place, ReadAgreement(std::move(reads))});
}

int SuspectReads::Earliest() const {
  int earliest = places_.front().place.from;
  for (const Entry& e : places_) earliest = std::min(earliest, e.place.from);
  return earliest;
}

SuspectReads::Verdict SuspectReads::Reply(std::span<const uint8_t> bytes, bool doubtful) {
  Entry& e = places_.front();
  const size_t length = e.reads.length();
  if (doubtful || bytes.size() < length)
    e.reads.Try();
  else if (e.reads.Offer(bytes.first(length))) {
    agreed_ = e.reads.Bytes();
    places_.erase(places_.begin());
    return Verdict::Settled;
  }
  return e.reads.Exhausted() ? Verdict::Disagree : Verdict::Again;
}

}  // namespace lovar
