#include "serial/round_trip.h"

#include <algorithm>
#include <cmath>

namespace lovar {

void RoundTripEstimator::Add(Duration sample) {
  const double r = static_cast<double>(std::max<Duration::rep>(sample.count(), 0));
  if (!measured_) {
    smoothed_ = r;
    deviation_ = r / 2;
    measured_ = true;
    return;
  }
  deviation_ = 0.75 * deviation_ + 0.25 * std::abs(smoothed_ - r);
  smoothed_ = 0.875 * smoothed_ + 0.125 * r;
}

std::chrono::milliseconds RoundTripEstimator::Bound() const {
  if (!measured_) return kUnmeasured;
  const double ms = std::ceil((smoothed_ + 4 * deviation_) / 1000.0);
  return std::min(std::chrono::milliseconds(static_cast<int64_t>(ms)), kMost);
}

}  // namespace lovar
