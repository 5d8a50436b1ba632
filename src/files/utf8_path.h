// Paths to and from UTF-8 text, the same on every system: a narrow path (string(), or a path
// made from a std::string) goes through the ANSI code page on Windows, which loses the letters
// it cannot spell (Cyrillic on a Western system) or throws for them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lovar {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// A path as a message names it: in UTF-8, with the system's own separators (backslashes on
// Windows, also for a path typed with slashes).
inline std::string ShownPath(std::filesystem::path path) {
  return Utf8Of(path.make_preferred());
}
// The same for a path given in UTF-8 (a command line's).
inline std::string ShownUtf8Path(std::string_view utf8) {
  return ShownPath(PathFromUtf8(utf8));
}

}  // namespace lovar
