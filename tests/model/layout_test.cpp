#include "model/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/config_image.h"

namespace lovar {
namespace {

// Only rows that encode a rule: words over two bytes, several controls on one byte, texts.
TEST(Layout, FieldsThatShareOrSpanBytes) {
  using E = Encoding;
  struct Row {
    int model;
    const char* control;
    int offset;
    Encoding encoding;
    int bit;
    int width;
  };
  const Row rows[] = {
      {250, "EditNumPlata", 140, E::Bits, 6, 2},   {250, "EditNumNapr", 140, E::Bits, 10, 2},
      {251, "ComboBoxTypeShl1", 2, E::Bits, 0, 1}, {251, "CheckBoxAuto1", 2, E::Flag, 7, 1},
      {251, "EditTimeIn1", 10, E::Number, 0, 1},   {251, "EditTimeIn3", 10, E::Number, 0, 1},
      {251, "EditPasw", 16, E::Text, 0, 5},        {251, "EditObjekt", 21, E::Text, 0, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.model) + " " + row.control);
    const FieldDef* f = FindField(row.model, row.control);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->offset, row.offset);
    EXPECT_EQ(f->encoding, row.encoding);
    EXPECT_EQ(f->bit, row.bit);
    EXPECT_EQ(f->width, row.width);
  }
}

TEST(Layout, ControlsOfTheOtherLayoutAreAbsent) {
  const std::pair<int, const char*> rows[] = {
      {251, "ComboBoxLevel"},  {251, "EditNumPlata"},  {251, "EditTimeRele1"},
      {250, "EditPasw"},       {250, "CheckBoxAuto1"}, {252, "Edit6"},
      {0, "ComboBoxTypeShl1"}, {250, "NoSuchControl"},
  };
  for (auto [model, control] : rows) EXPECT_EQ(FindField(model, control), nullptr) << control;
  EXPECT_TRUE(ParameterFields(0).empty());
}

TEST(Layout, EveryFieldLiesOnceInAnInterpretedRegionOfItsMap) {
  for (int model : {250, 251, 252}) {
    std::set<std::string_view> names;
    for (const FieldDef& f : ParameterFields(model)) {
      SCOPED_TRACE(std::to_string(model) + " " + std::string(f.control));
      EXPECT_TRUE(names.insert(f.control).second) << "listed twice";
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
