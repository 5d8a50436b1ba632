// A count with its noun in Russian: "1 поле", "2 поля", "5 полей", "11 полей", "21 поле".
// Pure; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lovar {

// The form of the noun after n: `one` after 1, 21, 101… (not 11, 111), `few` after 2 to 4,
// 22 to 24… (not 12 to 14), `many` otherwise.
inline std::string_view PluralForm(uint64_t n, std::string_view one, std::string_view few,
                                   std::string_view many) {
  const uint64_t tens = n % 100, units = n % 10;
  if (tens >= 11 && tens <= 14) return many;
  if (units == 1) return one;
  if (units >= 2 && units <= 4) return few;
  return many;
}

// n and its noun: CountText(21, "поле", "поля", "полей") is "21 поле".
inline std::string CountText(uint64_t n, std::string_view one, std::string_view few,
                             std::string_view many) {
  return std::to_string(n) + " " + std::string(PluralForm(n, one, few, many));
}

}  // namespace lovar
