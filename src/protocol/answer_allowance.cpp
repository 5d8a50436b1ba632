#include "protocol/answer_allowance.h"

namespace lovar {

int AllowanceTicks(const PortInterface& port) {
  const std::chrono::milliseconds round_trip = port.RoundTrip();
  if (round_trip.count() <= 0) return 0;
  return static_cast<int>((round_trip.count() + kWatchTick.count() - 1) / kWatchTick.count());
}

std::chrono::milliseconds Allowance(const PortInterface& port) {
  return kWatchTick * AllowanceTicks(port);
}

}  // namespace lovar
