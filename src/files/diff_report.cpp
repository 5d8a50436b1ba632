#include "files/diff_report.h"

#include <ctime>

namespace lovar {
namespace {

constexpr std::string_view kStyle =
    "body{font-family:sans-serif;font-size:11pt;margin:1.5em}"
    "table{border-collapse:collapse;margin:0.5em 0}"
    "th,td{border:1px solid #999;padding:3px 8px;text-align:left;vertical-align:top}"
    "th{background:#eee}"
    "table.sources th{width:10em}"
    "td.id{font-family:monospace;color:#555}"
    "td.empty{color:#888}"
    "@media print{body{margin:0}th{background:none}}";

void Row(std::string& html, std::string_view heading, std::string_view value) {
  html += "<tr><th>" + HtmlEscaped(heading) + "</th><td>" + HtmlEscaped(value) + "</td></tr>\n";
}

void ValueCell(std::string& html, const std::string& value) {
  html += value.empty() ? "<td class=\"empty\">" : "<td>";
  html += HtmlEscaped(ShownValue(value)) + "</td>";
}

}  // namespace

std::string ShownValue(std::string_view value) {
  return value.empty() ? "(пусто)" : std::string(value);
}

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  // The C library's shared buffer: the CLI and the windows call this on one thread only.
  const std::tm* local = std::localtime(&now);
  char text[32] = {};
  if (local != nullptr) std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", local);
  return text;
}

std::string DiffHtml(const DiffReport& report, const ImageDiff& diff) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Сравнение конфигураций УО</title>\n<style>" +
      std::string(kStyle) + "</style>\n</head>\n<body>\n<h1>Сравнение конфигураций УО</h1>\n";
  html += "<table class=\"sources\">\n";
  Row(html, report.label_a, report.source_a);
  Row(html, report.label_b, report.source_b);
  Row(html, "Модель", ModelNameAndCode(diff.model));
  if (!report.object_a.empty() || !report.object_b.empty())
    Row(html, "Номер объекта",
        report.object_a == report.object_b
            ? report.object_a
            : report.label_a + ": " + ShownValue(report.object_a) + ", " + report.label_b + ": " +
                  ShownValue(report.object_b));
  Row(html, "Дата", report.date);
  html += "</table>\n";

  if (diff.Equal()) {
    html += "<p>Конфигурации совпадают";
    if (diff.extent > 0) html += " (байты 0–" + std::to_string(diff.extent - 1) + ")";
    html += ".</p>\n";
  }
  if (!diff.fields.empty()) {
    html += "<h2>Различающиеся поля: " + std::to_string(diff.fields.size()) + "</h2>\n";
    html += "<table class=\"fields\">\n<tr><th>Страница</th><th>Поле</th><th>Идентификатор</th><th>" +
            HtmlEscaped(report.label_a) + "</th><th>" + HtmlEscaped(report.label_b) + "</th></tr>\n";
    for (const FieldDifference& d : diff.fields) {
      html += "<tr><td>" + HtmlEscaped(PageOf(d.field->page).caption) + "</td><td>" +
              HtmlEscaped(d.field->caption) + "</td><td class=\"id\">" + HtmlEscaped(d.field->id) +
              "</td>";
      ValueCell(html, d.a);
      ValueCell(html, d.b);
      html += "</tr>\n";
    }
    html += "</table>\n";
  }
  if (!diff.bytes.empty())
    html += "<p>Различаются байты вне полей (смещения): " + HtmlEscaped(RangesText(diff.bytes)) +
            "</p>\n";
  if (!diff.not_compared.empty()) {
    std::string ids;
    for (const Field* f : diff.not_compared) ids += (ids.empty() ? "" : ", ") + f->id;
    html += "<p>Не сравнивались поля за пределами байтов 0–" + std::to_string(diff.extent - 1) +
            ", которые хранит файл: " + HtmlEscaped(ids) + "</p>\n";
  }
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace lovar
