#include "model/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/config_image.h"

namespace lovar {
namespace {

// Only rows that encode a rule: words over two bytes, several fields on one byte, texts.
TEST(Layout, FieldsThatShareOrSpanBytes) {
  using E = Encoding;
  struct Row {
    int model;
    const char* id;
    int offset;
    Encoding encoding;
    int bit;
    int width;
  };
  const Row rows[] = {
      {250, "board_address", 140, E::Bits, 6, 2}, {250, "board_direction", 140, E::Bits, 10, 2},
      {251, "loop1.type", 2, E::Bits, 0, 1},      {251, "loop1.auto_rearm", 2, E::Flag, 7, 1},
      {251, "exit_time", 10, E::Number, 0, 1},    {252, "loop3.exit_time", 106, E::Number, 0, 1},
      {251, "password", 16, E::Text, 0, 5},       {251, "object_number", 21, E::Text, 0, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.model) + " " + row.id);
    const FieldDef* f = FindField(row.model, row.id);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->offset, row.offset);
    EXPECT_EQ(f->encoding, row.encoding);
    EXPECT_EQ(f->bit, row.bit);
    EXPECT_EQ(f->width, row.width);
  }
}

TEST(Layout, FieldsOfTheOtherLayoutAreAbsent) {
  const std::pair<int, const char*> rows[] = {
      {251, "level"},    {251, "board_address"},    {251, "output1.time"},
      {250, "password"}, {250, "loop1.auto_rearm"}, {252, "attempts"},
      {0, "loop1.type"}, {250, "no_such_field"},
  };
  for (auto [model, id] : rows) EXPECT_EQ(FindField(model, id), nullptr) << id;
  EXPECT_TRUE(ParameterFields(0).empty());
}

TEST(Layout, EveryFieldLiesOnceInAnInterpretedRegionOfItsMap) {
  for (int model : {250, 251, 252}) {
    std::set<std::string_view> names;
    for (const FieldDef& f : ParameterFields(model)) {
      SCOPED_TRACE(std::to_string(model) + " " + std::string(f.id));
      EXPECT_TRUE(names.insert(f.id).second) << "listed twice";
      const int last = f.offset + f.width - 1;
      bool inside = false;
      for (const Region& r : ImageMap(model)) {
        if (f.offset >= r.first && last <= r.last) inside = !r.content.empty();
      }
      EXPECT_TRUE(inside);
      EXPECT_LT(last, ImageLength(model));
    }
  }
}

TEST(Layout, ImageMapsCoverTheImageWithoutGaps) {
  for (int model : {250, 251, 252}) {
    int next = 0;
    for (const Region& r : ImageMap(model)) {
      EXPECT_EQ(r.first, next) << model;
      EXPECT_LE(r.first, r.last) << model;
      next = r.last + 1;
    }
    EXPECT_EQ(next, ImageLength(model)) << model;
  }
}

}  // namespace
}  // namespace lovar
