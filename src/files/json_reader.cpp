#include "files/json_reader.h"

#include <nlohmann/json.hpp>

#include <set>
#include <vector>

namespace lovar {
namespace {

using Json = nlohmann::ordered_json;

// Line and column of a byte position (1-based), for a parse error.
std::string Where(std::string_view text, size_t byte) {
  int line = 1, column = 1;
  for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "строка " + std::to_string(line) + ", столбец " + std::to_string(column);
}

// Whether arrays and objects nest deeper than max_depth, counted over the text itself (outside
// strings), so that a parser that recurses never meets a document built to exhaust its stack.
bool NestedTooDeep(std::string_view text, int max_depth) {
  int depth = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Parses the text as JSON; a member named twice in one object is refused, not overwritten.
bool Parse(std::string_view text, const JsonFormat& format, Json& document, std::string& why) {
  const std::string noun(format.noun);
  if (NestedTooDeep(text, format.max_depth)) {
    why = noun + " вложен глубже " + std::to_string(format.max_depth) + " уровней: в формате «" +
          std::string(format.name) + "» так не бывает";
    return false;
  }
  std::vector<std::set<std::string>> open;
  std::string twice;
  auto callback = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) open.emplace_back();
    if (event == Json::parse_event_t::object_end && !open.empty()) open.pop_back();
    if (event == Json::parse_event_t::key && !open.empty() && twice.empty() &&
        !open.back().insert(parsed.get<std::string>()).second)
      twice = parsed.get<std::string>();
    return true;
  };
  try {
    document = Json::parse(text.begin(), text.end(), callback);
  } catch (const Json::parse_error& e) {
    why = noun + " — не JSON (ошибка: " + Where(text, e.byte) + ")";
    return false;
  } catch (const Json::exception&) {  // a number too large for anything, and the like
    why = noun + " — не JSON, который можно принять (число вне всяких пределов?)";
    return false;
  }
  if (!twice.empty()) {
    why = "член «" + twice + "» повторяется";
    return false;
  }
  return true;
}

}  // namespace

bool ReadJsonDocument(std::string_view text, const JsonFormat& format, Json& document,
                      std::string& why) {
  if (!Parse(text, format, document, why)) return false;
  if (!document.is_object()) {
    why = std::string(format.noun) + " должен быть объектом JSON";
    return false;
  }
  for (const auto& [name, value] : document.items()) {
    bool known = false;
    for (std::string_view member : format.members) known = known || member == name;
    if (!known) {
      why = "неизвестный член «" + name + "»";
      return false;
    }
  }
  if (!document.contains("format") || document["format"] != std::string(format.name)) {
    why = "член «format» должен быть \"" + std::string(format.name) + "\"";
    return false;
  }
  if (!document.contains("version") || document["version"] != format.version) {
    why = "версия формата (член «version») должна быть " + std::to_string(format.version);
    return false;
  }
  return true;
}

}  // namespace lovar
