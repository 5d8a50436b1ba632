// Manual pages (troff, section 1) generated from a program's CLI11 definition: the name and
// description, a synopsis, every option and command with its help text, type and default,
// and the help's footer. So the page says exactly what --help says.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace lovar {

struct ManPageInfo {
  std::string date;                   // YYYY-MM-DD, for the page's header
  std::string source;                 // e.g. "lovar 0.1.0"
  std::vector<std::string> see_also;  // other pages, e.g. "lovar-sim(1)"
};

// The page for app. The footer's lines become sections: a line ending in ':' is a heading,
// an indented line "  TERM  text" an item, any other line a paragraph.
std::string ManPage(CLI::App& app, const ManPageInfo& info);

// Troff-safe text: backslashes, hyphens and leading control characters escaped.
std::string TroffEscape(const std::string& text);

// Upper case for ASCII and Russian letters in UTF-8, for section headings.
std::string UpperUtf8(const std::string& text);

}  // namespace lovar
