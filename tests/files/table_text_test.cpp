#include "files/table_text.h"

#include <gtest/gtest.h>

#include <string>

namespace lovar {
namespace {

TextTable Sample() {
  TextTable t;
  t.keys = {"site", "note"};
  t.titles = {"Объект", "Причина"};
  t.rows = {{"ул. Ленина, 5", "ключ «Б»; новый"}, {"12", "строка \"в кавычках\""}};
  return t;
}

struct FormatCase {
  const char* name;
  TableFormat format;
  std::string text;
};

class TableFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(TableFormats, EachFormatAsItsReaderTakesIt) {
  EXPECT_EQ(TableText(Sample(), GetParam().format), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    All, TableFormats,
    testing::Values(
        // Padded by characters, not bytes; no trailing blanks.
        FormatCase{"Table", TableFormat::Table,
                   "Объект         Причина\n"
                   "ул. Ленина, 5  ключ «Б»; новый\n"
                   "12             строка \"в кавычках\"\n"},
        // A spreadsheet's: the mark, ";" between cells (a cell with one quoted), CRLF.
        FormatCase{"Csv", TableFormat::Csv,
                   "\xEF\xBB\xBFОбъект;Причина\r\n"
                   "ул. Ленина, 5;\"ключ «Б»; новый\"\r\n"
                   "12;\"строка \"\"в кавычках\"\"\"\r\n"},
        FormatCase{"Json", TableFormat::Json,
                   "[\n  {\n    \"site\": \"ул. Ленина, 5\",\n    \"note\": \"ключ «Б»; новый\"\n  "
                   "},\n  {\n    \"site\": \"12\",\n    \"note\": \"строка \\\"в кавычках\\\"\"\n  "
                   "}\n]\n"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST(TableFormats, AnEmptyTableIsStillATableForPrograms) {
  TextTable t = Sample();
  t.rows.clear();
  EXPECT_EQ(TableText(t, TableFormat::Json), "[]\n");
  EXPECT_EQ(TableText(t, TableFormat::Csv), "\xEF\xBB\xBFОбъект;Причина\r\n");
  TableFormat format = TableFormat::Table;
  EXPECT_TRUE(TableFormatOf("csv", format));
  EXPECT_EQ(format, TableFormat::Csv);
  EXPECT_FALSE(TableFormatOf("xml", format));
}

}  // namespace
}  // namespace lovar
