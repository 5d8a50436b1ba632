#include "model/russian_plural.h"

#include <gtest/gtest.h>

namespace lovar {
namespace {

TEST(RussianPlural, TheNounFollowsTheLastDigitsOfTheCount) {
  struct Row {
    uint64_t n;
    const char* text;
  };
  const Row rows[] = {
      {0, "0 полей"},     {1, "1 поле"},      {2, "2 поля"},       {4, "4 поля"},
      {5, "5 полей"},     {11, "11 полей"},   {12, "12 полей"},    {14, "14 полей"},
      {21, "21 поле"},    {22, "22 поля"},    {25, "25 полей"},    {101, "101 поле"},
      {111, "111 полей"}, {112, "112 полей"}, {1021, "1021 поле"}, {1013, "1013 полей"},
  };
  for (const Row& row : rows) EXPECT_EQ(CountText(row.n, "поле", "поля", "полей"), row.text);
}

}  // namespace
}  // namespace lovar
