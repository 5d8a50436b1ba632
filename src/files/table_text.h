// A table as lovar-cli prints it, in three forms (--format):
//   table  padded columns for a person, the titles first;
//   csv    for a spreadsheet: UTF-8 with the byte-order mark, ";" between cells and CRLF
//          line ends, as a spreadsheet on a Russian Windows opens it directly (its list
//          separator is ";", since "," is its decimal mark); the titles first;
//   json   for programs: an array of objects, one per row, keyed by the columns' keys.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lovar {

enum class TableFormat { Table, Csv, Json };

// "table", "csv", "json"; false for another word.
bool TableFormatOf(std::string_view word, TableFormat& format);

struct TextTable {
  std::vector<std::string> keys;    // for json: "time", "site"...
  std::vector<std::string> titles;  // for a person and a spreadsheet: "Дата", "Объект"...
  std::vector<std::vector<std::string>> rows;
};

std::string TableText(const TextTable& table, TableFormat format);

}  // namespace lovar
