#include "files/csv.h"

#include <algorithm>

#include "model/cp1251.h"

namespace lovar {
namespace {

bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}

// Past the line break at text[i] (CRLF counts as one).
size_t SkipBreak(std::string_view text, size_t i) {
  return (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? i + 2 : i + 1;
}

// The first line break outside quotes, or the end.
size_t FirstLineEnd(std::string_view text) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (!quoted && IsBreak(text[i])) return i;
  }
  return text.size();
}

char SeparatorOf(std::string_view first_line) {
  bool quoted = false, comma = false, semicolon = false;
  for (char c : first_line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    comma = comma || c == ',';
    semicolon = semicolon || c == ';';
  }
  return !comma && semicolon ? ';' : ',';
}

// The line of the first byte that is not UTF-8, or 0.
int FirstNonUtf8Line(std::string_view text) {
  int line = 1;
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsBreak(text[pos])) {
      pos = SkipBreak(text, pos);
      ++line;
      continue;
    }
    if (NextCodePoint(text, pos) == kNotACodePoint) return line;
  }
  return 0;
}

}  // namespace

bool CsvRecord::Blank() const {
  return std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); });
}

bool ParseCsv(std::string_view text, CsvTable& table, CsvFault& fault) {
  std::vector<CsvRecord> records;
  const bool ok = ForEachCsvRecord(text, 0, table, fault, [&records](CsvRecord& r, size_t, size_t) {
    records.push_back(std::move(r));
  });
  table.records = std::move(records);
  return ok;
}

bool ForEachCsvRecord(std::string_view text, char separator, CsvTable& table, CsvFault& fault,
                      const CsvRecordTaker& take) {
  table = CsvTable{};
  size_t base = 0;  // where text begins in what the caller gave
  if (text.starts_with(kUtf8Bom)) {
    table.bom = true;
    text.remove_prefix(kUtf8Bom.size());
    base = kUtf8Bom.size();
  }
  if (const int line = FirstNonUtf8Line(text); line != 0) {
    fault = {line, "текст не в кодировке UTF-8"};
    return false;
  }
  const char sep = table.separator =
      separator != 0 ? separator : SeparatorOf(text.substr(0, FirstLineEnd(text)));

  int line = 1;
  size_t i = 0;
  size_t begin = 0;
  CsvRecord record{line, {}};
  std::string cell;
  while (i < text.size() || !record.cells.empty() || !cell.empty()) {
    if (i < text.size() && text[i] == '"') {
      const int opened = line;
      ++i;
      for (;;) {
        if (i >= text.size()) {
          fault = {opened, "кавычка, открытая в этой строке, не закрыта до конца текста"};
          return false;
        }
        const char c = text[i];
        if (c == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (IsBreak(c)) {
          const size_t next = SkipBreak(text, i);
          cell.append(text.substr(i, next - i));
          i = next;
          ++line;
          continue;
        }
        cell += c;
        ++i;
      }
      if (i < text.size() && text[i] != sep && !IsBreak(text[i])) {
        fault = {line, std::string("после закрывающей кавычки должен идти разделитель «") + sep +
                           "» или конец строки"};
        return false;
      }
    } else {
      while (i < text.size() && text[i] != sep && !IsBreak(text[i])) {
        if (text[i] == '"') {
          fault = {line,
                   "кавычка внутри ячейки без кавычек (ячейку с кавычками берут в "
                   "кавычки целиком, а кавычку внутри удваивают)"};
          return false;
        }
        cell += text[i++];
      }
    }
    record.cells.push_back(std::move(cell));
    cell.clear();
    if (i < text.size() && text[i] == sep) {
      ++i;
      continue;  // another cell follows, even at the end of the text
    }
    if (i < text.size()) {
      i = SkipBreak(text, i);
      ++line;
    }
    take(record, base + begin, base + i);
    record = CsvRecord{line, {}};
    begin = i;
  }
  return true;
}

std::string CsvCell(std::string_view cell, char separator) {
  const bool quote =
      cell.find_first_of(std::string{separator, '"', '\r', '\n'}) != std::string_view::npos ||
      (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
  if (!quote) return std::string(cell);
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvLine(const std::vector<std::string>& cells, char separator) {
  std::string out;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) out += separator;
    out += CsvCell(cells[i], separator);
  }
  out += "\r\n";
  return out;
}

}  // namespace lovar
