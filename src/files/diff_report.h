// The printable report of a comparison (lovar-cli diff --html, the window's "Сравнить с
// файлом…"): the two sources, the model, the object numbers, the date and the table of
// differing fields, as one self-contained HTML page. Every text put into it is escaped.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>

#include "model/image_diff.h"

namespace lovar {

struct DiffReport {
  std::string label_a = "A";  // the heading of each side's column: "A", "В окне"...
  std::string label_b = "B";
  std::string source_a;       // what each side is: "файл LovarM.dat", "прибор на COM5 ..."
  std::string source_b;
  std::string object_a;       // object numbers ("" where the model has none)
  std::string object_b;
  std::string date;           // when the comparison was made, as shown
};

std::string DiffHtml(const DiffReport& report, const ImageDiff& diff);

// A value as a person reads it: an empty text shows as "(пусто)".
std::string ShownValue(std::string_view value);
// "&", "<", ">", '"' and "'" as HTML entities.
std::string HtmlEscaped(std::string_view text);
// The local date and time, "31.12.2024 23:59". Not thread-safe (the C library's localtime).
std::string NowText();

}  // namespace lovar
