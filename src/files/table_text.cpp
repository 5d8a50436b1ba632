#include "files/table_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "files/csv.h"
#include "model/cp1251.h"

namespace lovar {

bool TableFormatOf(std::string_view word, TableFormat& format) {
  if (word == "table")
    format = TableFormat::Table;
  else if (word == "csv")
    format = TableFormat::Csv;
  else if (word == "json")
    format = TableFormat::Json;
  else
    return false;
  return true;
}

std::string TableText(const TextTable& table, TableFormat format) {
  std::string out;
  switch (format) {
    case TableFormat::Table: {
      std::vector<size_t> widths(table.titles.size(), 0);
      const auto measure = [&](const std::vector<std::string>& row) {
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c)
          widths[c] = std::max(widths[c], Utf8Length(row[c]));
      };
      measure(table.titles);
      for (const auto& row : table.rows) measure(row);
      const auto line = [&](const std::vector<std::string>& row) {
        std::string text;
        for (size_t c = 0; c < row.size(); ++c)
          text += c + 1 < row.size() ? Utf8Padded(row[c], widths[c]) + "  " : row[c];
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
      };
      line(table.titles);
      for (const auto& row : table.rows) line(row);
      return out;
    }
    case TableFormat::Csv:
      out = std::string(kUtf8Bom) + CsvLine(table.titles, ';');
      for (const auto& row : table.rows) out += CsvLine(row, ';');
      return out;
    case TableFormat::Json: {
      nlohmann::ordered_json rows = nlohmann::ordered_json::array();
      for (const auto& row : table.rows) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (size_t c = 0; c < row.size() && c < table.keys.size(); ++c)
          object[table.keys[c]] = row[c];
        rows.push_back(std::move(object));
      }
      return rows.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
  }
  return out;
}

}  // namespace lovar
