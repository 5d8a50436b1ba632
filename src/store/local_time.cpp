#include "store/local_time.h"

#include <cstdio>
#include <ctime>

#include "store/store_os.h"

namespace lovar {
namespace {

bool Number(std::string_view text, size_t& at, size_t digits, int& value) {
  value = 0;
  for (size_t i = 0; i < digits; ++i, ++at) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

bool Char(std::string_view text, size_t& at, std::string_view allowed) {
  if (at >= text.size() || allowed.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

}  // namespace

std::string LocalTimeText(StoreTime time) {
  const auto seconds =
      static_cast<std::time_t>(time >= 0 ? time / 1'000'000 : (time + 1) / 1'000'000 - 1);
  std::tm t{};
  if (!LocalCalendar(seconds, t)) return "?";
  char text[40];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

namespace {

// start: the first microsecond of a date alone or of a minute, else the last.
bool Parse(std::string_view text, bool start, StoreTime& at) {
  int year = 0, month = 0, day = 0, hour = start ? 0 : 23, minute = start ? 0 : 59,
      second = start ? 0 : 59;
  size_t i = 0;
  if (text.size() >= 10 && text[4] == '-') {
    if (!Number(text, i, 4, year) || !Char(text, i, "-") || !Number(text, i, 2, month) ||
        !Char(text, i, "-") || !Number(text, i, 2, day))
      return false;
  } else if (!Number(text, i, 2, day) || !Char(text, i, ".") || !Number(text, i, 2, month) ||
             !Char(text, i, ".") || !Number(text, i, 4, year)) {
    return false;
  }
  const StoreTime end = start ? 0 : 999'999;  // the day's, or the minute's, last microsecond
  if (i < text.size()) {
    if (!Char(text, i, " T") || !Number(text, i, 2, hour) || !Char(text, i, ":") ||
        !Number(text, i, 2, minute))
      return false;
    second = start ? 0 : 59;
    if (i < text.size()) {
      if (!Char(text, i, ":") || !Number(text, i, 2, second)) return false;
    }
  }
  if (i != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59)
    return false;
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&t);
  // mktime moves 31.02 on to March: such a date is no date.
  if (seconds == static_cast<std::time_t>(-1) || t.tm_mday != day || t.tm_mon != month - 1)
    return false;
  at = static_cast<StoreTime>(seconds) * 1'000'000 + end;
  return true;
}

}  // namespace

bool ParseLocalTime(std::string_view text, StoreTime& at) {
  return Parse(text, false, at);
}
bool ParseLocalTimeStart(std::string_view text, StoreTime& at) {
  return Parse(text, true, at);
}

}  // namespace lovar
