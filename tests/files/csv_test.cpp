#include "files/csv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lovar {
namespace {

using Cells = std::vector<std::vector<std::string>>;

struct ReadCase {
  const char* name;
  std::string text;
  Cells cells;
  std::vector<int> lines;  // the line each record starts on
  char separator = ',';
};

class CsvReads : public testing::TestWithParam<ReadCase> {};

TEST_P(CsvReads, TheCellsAndTheLinesTheRecordsStartOn) {
  const ReadCase& c = GetParam();
  CsvTable table;
  CsvFault fault;
  ASSERT_TRUE(ParseCsv(c.text, table, fault)) << fault.line << ": " << fault.what;
  Cells cells;
  std::vector<int> lines;
  for (const CsvRecord& r : table.records) {
    cells.push_back(r.cells);
    lines.push_back(r.line);
  }
  EXPECT_EQ(cells, c.cells);
  EXPECT_EQ(lines, c.lines);
  EXPECT_EQ(table.separator, c.separator);
}

INSTANTIATE_TEST_SUITE_P(
    Csv, CsvReads,
    testing::Values(
        ReadCase{
            "Plain", "port,template\nA,t.dat\n", {{"port", "template"}, {"A", "t.dat"}}, {1, 2}},
        ReadCase{"NoBreakAtTheEnd", "a,b\nc,d", {{"a", "b"}, {"c", "d"}}, {1, 2}},
        ReadCase{"Crlf", "a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, {1, 2}},
        ReadCase{"LoneCr", "a\rb\r", {{"a"}, {"b"}}, {1, 2}}, ReadCase{"Empty", "", {}, {}},
        ReadCase{"EmptyCells", ",a,\n,,\n", {{"", "a", ""}, {"", "", ""}}, {1, 2}},
        ReadCase{"BlankLineInside", "a\n\nb\n", {{"a"}, {""}, {"b"}}, {1, 2, 3}},
        ReadCase{"QuotedSeparator", "\"a,b\",c\n", {{"a,b", "c"}}, {1}},
        ReadCase{"DoubledQuotes", "\"say \"\"hi\"\"\",\"\"\"\"\n", {{"say \"hi\"", "\""}}, {1}},
        ReadCase{"EmptyQuoted", "\"\",x", {{"", "x"}}, {1}},
        ReadCase{"LineBreaksInsideQuotes",
                 "a,\"one\r\ntwo\nthree\"\nb,c\n",
                 {{"a", "one\r\ntwo\nthree"}, {"b", "c"}},
                 {1, 4}},
        ReadCase{"ByteOrderMark", "\xEF\xBB\xBFport,x\n1,2\n", {{"port", "x"}, {"1", "2"}}, {1, 2}},
        ReadCase{"BlanksKept", " a , b \n", {{" a ", " b "}}, {1}},
        ReadCase{"Cyrillic", "Дверь,\"Окно, зал\"\n", {{"Дверь", "Окно, зал"}}, {1}},
        ReadCase{"SemicolonsOfARussianSpreadsheet",
                 "port;template;object_number\n/dev/ttyUSB0;t.dat;\"1,5\"\n",
                 {{"port", "template", "object_number"}, {"/dev/ttyUSB0", "t.dat", "1,5"}},
                 {1, 2},
                 ';'},
        ReadCase{"CommaWinsOverSemicolon", "a;b,c\n", {{"a;b", "c"}}, {1}},
        ReadCase{"SemicolonInQuotesIsNoHint", "\"a;b\"\n", {{"a;b"}}, {1}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

struct FaultCase {
  const char* name;
  std::string text;
  int line;
  const char* says;  // a part of the message
};

class CsvRefuses : public testing::TestWithParam<FaultCase> {};

TEST_P(CsvRefuses, NamingTheLine) {
  const FaultCase& c = GetParam();
  CsvTable table;
  CsvFault fault;
  ASSERT_FALSE(ParseCsv(c.text, table, fault));
  EXPECT_EQ(fault.line, c.line);
  EXPECT_NE(fault.what.find(c.says), std::string::npos) << fault.what;
}

INSTANTIATE_TEST_SUITE_P(
    Csv, CsvRefuses,
    testing::Values(
        FaultCase{"QuoteInsideAnUnquotedCell", "a,b\nc,d\"e\n", 2, "кавычка внутри ячейки"},
        FaultCase{"TextAfterTheClosingQuote", "a\n\"b\"c,d\n", 2, "после закрывающей кавычки"},
        FaultCase{"QuoteNeverClosed", "a\nb,\"c\nd\ne\n", 2, "не закрыта"},
        FaultCase{"LineCountedAcrossQuotedBreaks", "\"x\ny\",1\n2,3\"\n", 3, "кавычка внутри"},
        FaultCase{"Windows1251Text", "a\r\n\xC4\xE2\xE5\xF0\xFC,b\r\n", 2, "UTF-8"},
        FaultCase{"CutUtf8Sequence", "a,\xD0\n", 1, "UTF-8"}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(CsvWrite, CellsAreQuotedOnlyWhereTheyMustBe) {
  EXPECT_EQ(CsvCell("plain", ','), "plain");
  EXPECT_EQ(CsvCell("", ','), "");
  EXPECT_EQ(CsvCell("a,b", ','), "\"a,b\"");
  EXPECT_EQ(CsvCell("a,b", ';'), "a,b");
  EXPECT_EQ(CsvCell("a;b", ';'), "\"a;b\"");
  EXPECT_EQ(CsvCell("say \"hi\"", ','), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvCell("two\nlines", ','), "\"two\nlines\"");
  EXPECT_EQ(CsvCell(" blank", ','), "\" blank\"");
  EXPECT_EQ(CsvLine({"a", "b,c", ""}, ','), "a,\"b,c\",\r\n");
}

TEST(CsvWrite, WhatIsWrittenReadsBackTheSame) {
  const Cells cells = {{"port", "template", "loop1.name"},
                       {"COM3", "C:\\Шаблоны\\a b.dat", "Дверь, \"главная\""},
                       {"/dev/ttyUSB1", "t.dat", "две\r\nстроки"},
                       {"", " ", ";"}};
  for (char separator : {',', ';'}) {
    std::string text(kUtf8Bom);
    for (const auto& row : cells) text += CsvLine(row, separator);
    CsvTable table;
    CsvFault fault;
    ASSERT_TRUE(ParseCsv(text, table, fault)) << fault.what;
    EXPECT_TRUE(table.bom);
    EXPECT_EQ(table.separator, separator);
    ASSERT_EQ(table.records.size(), cells.size());
    for (size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(table.records[i].cells, cells[i]);
  }
}

// One record at a time, with where it lies in the text: a record read again from its place,
// with the table's separator, gives the same cells (a plan keeps only those places).
TEST(CsvRecords, EachRecordComesWithItsPlaceAndReadsAgainFromIt) {
  const std::string text = std::string(kUtf8Bom) + "a;b\r\n\"x, y\";\"two\nlines\"\r\nlast;";
  CsvTable table;
  CsvFault fault;
  std::vector<std::pair<size_t, size_t>> places;
  Cells cells;
  ASSERT_TRUE(ForEachCsvRecord(text, 0, table, fault, [&](CsvRecord& r, size_t b, size_t e) {
    cells.push_back(r.cells);
    places.emplace_back(b, e);
  })) << fault.what;
  EXPECT_EQ(table.separator, ';');
  ASSERT_EQ(cells, (Cells{{"a", "b"}, {"x, y", "two\nlines"}, {"last", ""}}));
  EXPECT_EQ(places.front().first, kUtf8Bom.size());
  EXPECT_EQ(places.back().second, text.size());
  for (size_t i = 0; i < places.size(); ++i) {
    const std::string_view record =
        std::string_view(text).substr(places[i].first, places[i].second - places[i].first);
    Cells again;
    ASSERT_TRUE(ForEachCsvRecord(record, ';', table, fault,
                                 [&](CsvRecord& r, size_t, size_t) { again.push_back(r.cells); }));
    EXPECT_EQ(again, Cells{cells[i]}) << i;  // "x, y" alone would take the comma
  }
}

}  // namespace
}  // namespace lovar
