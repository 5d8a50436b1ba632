// Tables as CSV text (RFC 4180): the programming plans lovar-cli batch reads, and the reports
// and plans it writes. UTF-8, cells separated by a comma (or, where a spreadsheet set for
// Russian wrote one, by a semicolon); a cell holding the separator, a quote or a line break is
// quoted, its quotes doubled. Independent of files and of what the cells mean.
//
// Threads: pure functions.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lovar {

struct CsvRecord {
  int line = 0;  // the line of the text the record starts on, from 1
  std::vector<std::string> cells;
  // Every cell is empty (a blank line, or a row a spreadsheet emptied: ",,,").
  bool Blank() const;
};

struct CsvTable {
  char separator = ',';
  bool bom = false;  // the text began with a UTF-8 byte-order mark (dropped from the cells)
  std::vector<CsvRecord> records;
};

struct CsvFault {
  int line = 0;  // the line of the text at fault, from 1
  std::string what;  // in Russian, without the line: "кавычка внутри ячейки без кавычек"
};

// Reads text as CSV. Lines end with CRLF, LF or CR; a line break at the end of the text ends
// the last record (no empty record follows). A quoted cell may hold separators, line breaks
// and doubled quotes. The separator is the comma, unless the first line has no comma outside
// quotes but a semicolon. Refused, with the line: a quote inside an unquoted cell, anything
// but a separator or a line break after a closing quote, a quote that is never closed, text
// that is not UTF-8. Returns false and fills fault when refused.
bool ParseCsv(std::string_view text, CsvTable& table, CsvFault& fault);

// The same, one record at a time, so that a long table is never held whole: each record is
// handed to take with where it lies in text (its first byte, and the byte after its line
// break). separator: the table's (0: found as above). table gets the separator and the mark,
// not the records.
using CsvRecordTaker = std::function<void(CsvRecord& record, size_t begin, size_t end)>;
bool ForEachCsvRecord(std::string_view text, char separator, CsvTable& table, CsvFault& fault,
                      const CsvRecordTaker& take);

// One cell as it goes into the text: quoted when it holds the separator, a quote, a line
// break, or begins or ends with a blank; quotes doubled.
std::string CsvCell(std::string_view cell, char separator);
// One record: the cells joined by the separator, ended by CRLF.
std::string CsvLine(const std::vector<std::string>& cells, char separator);
// The UTF-8 byte-order mark, which lets spreadsheets on Windows take the text as UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace lovar
