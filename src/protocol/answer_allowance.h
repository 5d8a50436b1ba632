// How much longer than on a local line the device's answer may take: the port's round trip
// (PortInterface::RoundTrip, measured on a network port's connection), in whole 100 ms ticks of
// the no-answer watch. The one place where the watches learn of it: the engine's no-answer
// question and its give-up of a half-received frame, and the CLI's time-outs. For a local port
// it is zero, and every watch keeps its exact timing. Window thread, like the port.
#pragma once

#include <chrono>

#include "serial/port_interface.h"

namespace lovar {

inline constexpr std::chrono::milliseconds kWatchTick{100};

// The round trip rounded up to whole ticks; 0 for a local port.
int AllowanceTicks(const PortInterface& port);

// The same as a time: AllowanceTicks(port) ticks.
std::chrono::milliseconds Allowance(const PortInterface& port);

}  // namespace lovar
