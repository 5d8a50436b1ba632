// The one reader of the tool's JSON documents (configuration documents, company rules): the
// text is refused before any parser sees it when it nests deeper than the format can, and after
// parsing when an object names a member twice; the head every format shares is checked
// (an object, only the format's own members, "format" and "version" as expected). Messages are
// Russian and name the fault.
//
// Only for the readers that link nlohmann/json themselves (privately): the document is theirs
// to read on.
//
// Threads: pure functions.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <span>
#include <string>
#include <string_view>

namespace lovar {

struct JsonFormat {
  std::string_view name;  // the "format" member's value, e.g. "lovar-config"
  int version = 1;        // the "version" member's value
  std::string_view noun;  // what the messages call the text: "документ", "файл правил"
  int max_depth = 1;  // arrays and objects nested, the document itself counted
  std::span<const std::string_view> members;  // every member the document may have
};

// Parses text as one document of format into document. False, why saying it, for: nesting
// beyond max_depth (counted over the text, outside strings), text that is not JSON (line and
// column of the fault), a member named twice in one object, a document that is no object, an
// unknown member, a wrong format or version.
bool ReadJsonDocument(std::string_view text, const JsonFormat& format,
                      nlohmann::ordered_json& document, std::string& why);

}  // namespace lovar
