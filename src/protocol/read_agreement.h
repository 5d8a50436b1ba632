// One read is evidence, not truth: a place whose read is in doubt is read again until two reads
// agree, and the bytes both gave are taken; when they never agree within kMaxReads, nothing is.
//
// ReadAgreement is one place's reads. SuspectReads is a read step's places in doubt (replies
// the reply ledger suspects, reply_ledger.h), each read again in turn by the exchange engine
// at the end of the step; a read again under a number that is itself in doubt counts as a try
// but not as a read that can agree.
//
// Threads: one owner (window thread). Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/reply_ledger.h"

namespace lovar {

class ReadAgreement {
 public:
  // Reads again, beyond the ones it starts with, before the place is given up.
  static constexpr int kMaxReads = 4;

  ReadAgreement() = default;
  // The reads (or the bytes assumed) the place starts with; all of one length.
  explicit ReadAgreement(std::vector<std::vector<uint8_t>> reads) : reads_(std::move(reads)) {}

  // Another read of the place. True when it equals one before: Agreed() holds the bytes.
  bool Offer(std::span<const uint8_t> bytes);
  // A read again that cannot count (a short reply, a doubtful number): a try all the same.
  void Try() { ++tries_; }
  bool Agreed() const { return agreed_.has_value(); }
  const std::vector<uint8_t>& Bytes() const { return *agreed_; }
  // No more reads are worth making.
  bool Exhausted() const { return !Agreed() && tries_ >= kMaxReads; }
  size_t length() const { return reads_.empty() ? 0 : reads_.front().size(); }

 private:
  std::vector<std::vector<uint8_t>> reads_;
  std::optional<std::vector<uint8_t>> agreed_;
  int tries_ = 0;
};

class SuspectReads {
 public:
  enum class Verdict { Again, Settled, Disagree };

  void Clear() { places_.clear(); }
  // A place of the step whose bytes (as stored) are in doubt; a place already in doubt stays
  // as it is. Places are read again in the image's order.
  void Mark(ReadPlace place, std::span<const uint8_t> stored);
  bool Pending() const { return !places_.empty(); }
  // The place to read next.
  ReadPlace Next() const { return places_.front().place; }
  // Where the first place in doubt begins (Pending() only).
  int Earliest() const;
  // A read of Next(): its reply's bytes (from the place's start), and whether it was taken
  // under a number in doubt. Settled: the place is done, Agreed() holds its bytes (until the
  // next call), and the next place (if any) is Next(). Disagree: its reads never agreed.
  Verdict Reply(std::span<const uint8_t> bytes, bool doubtful);
  const std::vector<uint8_t>& Agreed() const { return agreed_; }

 private:
  struct Entry {
    ReadPlace place;
    ReadAgreement reads;
  };
  std::vector<Entry> places_;
  std::vector<uint8_t> agreed_;
};

}  // namespace lovar
