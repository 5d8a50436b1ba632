# Writes build_date.h with the day of the build (UTC, or SOURCE_DATE_EPOCH's day when set, so a
# rebuild of the same sources can give the same bytes). Run at every build; the file changes,
# and what includes it is compiled again, only when the day does.
#   cmake -DOUT=<file> -P build_date.cmake
string(TIMESTAMP day "%Y-%m-%d" UTC)
file(CONFIGURE OUTPUT "${OUT}" CONTENT "// Generated at build time by src/version/build_date.cmake.
#pragma once

namespace lovar {

inline constexpr char kBuildDate[] = \"${day}\";  // YYYY-MM-DD

}  // namespace lovar
" @ONLY)
