#include <windows.h>

#include "files/environment.h"

namespace lovar {

// The process's own block, in UTF-16: not the C library's copy, which was made in the ANSI
// code page at start-up (and from which _wgetenv's is converted back).
std::string EnvironmentUtf8(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD n =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};  // not set, or empty
    if (n < value.size()) {
      value.resize(n);
      break;
    }
    value.resize(n);  // n counts the terminator when the buffer was too small
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

}  // namespace lovar
