#include "files/diff_report.h"

#include <gtest/gtest.h>

#include <string>

#include "model/catalog.h"

namespace lovar {
namespace {

TEST(DiffReport, EveryTextIsEscapedAndEveryDifferenceIsARow) {
  ConfigImage a, b;
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "object_number"), b, "<i>&\"'", why));
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "loop2.name"), a, "Склад", why));
  b[300] = 1;
  DiffReport report;
  report.label_a = "В окне";
  report.label_b = "В файле";
  report.source_a = "окно <script>";
  report.source_b = "файл a&b.dat";
  report.object_a = ObjectNumber(251, a);
  report.object_b = ObjectNumber(251, b);
  report.date = "01.02.2025 10:00";
  const std::string html = DiffHtml(report, DiffImages(251, a, 2048, b, 2048));
  for (const char* part : {
           "<th>В окне</th><td>окно &lt;script&gt;</td>",
           "<th>В файле</th><td>файл a&amp;b.dat</td>",
           "<th>Модель</th><td>Ловар-М (251)</td>",
           "<th>Номер объекта</th><td>В окне: (пусто), В файле: &lt;i&gt;&amp;&quot;&#39;</td>",
           "<th>Дата</th><td>01.02.2025 10:00</td>",
           "<th>Страница</th><th>Поле</th><th>Идентификатор</th><th>В окне</th><th>В файле</th>",
           "<td>Параметры</td><td>ШС2: Имя</td><td class=\"id\">loop2.name</td><td>Склад</td>"
           "<td class=\"empty\">(пусто)</td>",
           "<td class=\"id\">object_number</td><td class=\"empty\">(пусто)</td>"
           "<td>&lt;i&gt;&amp;&quot;&#39;</td>",
           "Различаются байты вне полей (смещения): 300",
           "Не сравнивались поля за пределами байтов 0–2047",
       })
    EXPECT_NE(html.find(part), std::string::npos) << part << "\n" << html;
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_NE(DiffHtml(report, DiffImages(251, a, 2048, a, 2048)).find("Конфигурации совпадают"),
            std::string::npos);
}

}  // namespace
}  // namespace lovar
