// The process's environment variables in UTF-8, one source file per OS (environment_posix.cpp,
// environment_win.cpp). Every variable the programs read goes through here: on Windows the C
// library's getenv gives the ANSI code page (a path "C:\users\Иван\…" is then no UTF-8, and a
// letter the code page cannot spell is lost), so there the value is taken as UTF-16 from the
// system and converted once; on POSIX it is the bytes as they are.
#pragma once

#include <string>

namespace lovar {

// The value of the variable name (ASCII); "" when it is not set or empty.
std::string EnvironmentUtf8(const char* name);

}  // namespace lovar
