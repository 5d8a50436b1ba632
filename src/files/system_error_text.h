// The operating system's errors in the program's language. Every message that names a failure
// of the system (a file, a folder, a pseudo-terminal) takes its words from here, so the errors a
// user meets (no access, busy, not found, no space, read-only) read in Russian on every system
// and in every locale. The system's own codes are mapped in one source file per OS.
#pragma once

#include <string>
#include <system_error>

namespace lovar {

// The text of an error code of the system: errno on POSIX, GetLastError() on Windows. Lower
// case, to follow a colon: "нет доступа". A code without a text of its own gives its number
// and the system's own words.
std::string SystemErrorText(int code);

// The same for a std::error_code: errno values (generic category) or the system's codes.
std::string SystemErrorText(const std::error_code& error);

// The text of an errno value (the C library's codes, which Windows has as well).
std::string ErrnoText(int value);

}  // namespace lovar
