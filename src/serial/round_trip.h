// The round trip of a network link, estimated as TCP estimates its own (a smoothed round trip
// and its mean deviation, RFC 6298), from samples taken on the connection: a request's first
// answering byte, or a COM Port Control command's answer. Not thread-safe; the link guards it.
#pragma once

#include <chrono>

namespace lovar {

class RoundTripEstimator {
 public:
  using Duration = std::chrono::microseconds;

  // Before any sample: a round trip is unknown, and this much is allowed for it.
  static constexpr std::chrono::milliseconds kUnmeasured{1000};
  // However slow the samples, no more is allowed: past it the link is taken as broken, and the
  // no-answer question says so.
  static constexpr std::chrono::milliseconds kMost{5000};

  void Add(Duration sample);
  bool Measured() const { return measured_; }
  // The time within which an answer is to be expected: smoothed round trip + 4 deviations,
  // rounded up to whole milliseconds, at most kMost; kUnmeasured before the first sample.
  std::chrono::milliseconds Bound() const;

 private:
  bool measured_ = false;
  double smoothed_ = 0;   // microseconds
  double deviation_ = 0;  // microseconds
};

}  // namespace lovar
