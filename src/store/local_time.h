// A record's time as a person reads and types it: the station's local time.
//
// Threads: any.
#pragma once

#include <string>
#include <string_view>

#include "store/site_store.h"

namespace lovar {

// "01.05.2024 12:30:05"
std::string LocalTimeText(StoreTime time);

// "2024-05-01", "2024-05-01 12:30", "2024-05-01T12:30:05", "01.05.2024", "01.05.2024 12:30:05"
// in local time. A date alone, or a time without seconds, means its end (the last microsecond
// of that day or minute): the state "on 1 May" includes what was done that day.
bool ParseLocalTime(std::string_view text, StoreTime& at);
// The same texts, a date alone or a time without seconds meaning its start: "from 1 May".
bool ParseLocalTimeStart(std::string_view text, StoreTime& at);

}  // namespace lovar
