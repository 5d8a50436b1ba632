#include "model/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/config_image.h"

namespace lovar {
namespace {

struct FieldRow {
  int model;
  const char* control;
  int offset;
  Encoding encoding;
  int bit;
  int width;
};

TEST(Layout, FieldsSitWhereTheDeviceKeepsThem) {
  using E = Encoding;
  const FieldRow rows[] = {
      {250, "ComboBoxTypeShl1", 100, E::Index, 0, 1},
      {250, "ComboBoxTypeShl4", 103, E::Index, 0, 1},
      {250, "EditTimeIn4", 107, E::Number, 0, 1},
      {250, "EditTimeOut1", 108, E::Number, 0, 1},
      {250, "CheckRele14", 112, E::Flag, 3, 1},
      {250, "CheckRele21", 113, E::Flag, 0, 1},
      {250, "CheckSound3", 114, E::Flag, 2, 1},
      {250, "EditTimeRele1", 115, E::Number, 0, 1},
      {250, "EditTimeRele2", 116, E::Number, 0, 1},
      {250, "EditTimeSound", 117, E::Number, 0, 1},
      {250, "ComboBoxTypeRele1", 118, E::Index, 0, 1},
      {250, "ComboBoxTypeRele2", 119, E::Index, 0, 1},
      {250, "ComboBoxType", 121, E::Index, 0, 1},
      {250, "ComboBoxLevel", 122, E::Index, 0, 1},
      {250, "EditLevel", 122, E::Number, 0, 1},
      {250, "EditNumPlata", 140, E::Bits, 6, 2},
      {250, "EditNumNapr", 140, E::Bits, 10, 2},
      {252, "ComboBoxTypeShl2", 101, E::Index, 0, 1},
      {252, "CheckRele11", 112, E::Flag, 0, 1},
      {251, "ComboBoxTypeRele1", 0, E::Index, 0, 1},
      {251, "ComboBoxTypeRele2", 1, E::Index, 0, 1},
      {251, "ComboBoxTypeShl1", 2, E::Bits, 0, 1},
      {251, "ComboBoxTypeShl4", 5, E::Bits, 0, 1},
      {251, "CheckBoxAuto1", 2, E::Flag, 7, 1},
      {251, "CheckBoxAuto4", 5, E::Flag, 7, 1},
      {251, "CheckBoxSir3", 6, E::Flag, 2, 1},
      {251, "CheckSound1", 6, E::Flag, 4, 1},
      {251, "CheckRele11", 7, E::Flag, 0, 1},
      {251, "CheckRele24", 7, E::Flag, 7, 1},
      {251, "Edit6", 7, E::Number, 0, 1},
      {251, "CheckTechV1", 8, E::Flag, 0, 1},
      {251, "CheckTechS4", 8, E::Flag, 7, 1},
      {251, "EditTimeSir", 9, E::Number, 0, 1},
      {251, "EditTimeIn1", 10, E::Number, 0, 1},
      {251, "EditTimeIn3", 10, E::Number, 0, 1},
      {251, "EditTimeOut1", 11, E::Number, 0, 1},
      {251, "EditTimeAuto", 12, E::Number, 0, 1},
      {251, "EditTimeSound", 13, E::Number, 0, 1},
      {251, "Edit2", 14, E::Number, 0, 1},
      {251, "EditCountRep", 15, E::Number, 0, 1},
      {251, "EditPasw", 16, E::Text, 0, 5},
      {251, "EditObjekt", 21, E::Text, 0, 8},
      {251, "EditCountSMS", 247, E::Number, 0, 1},
      {251, "EditCountSpeak", 248, E::Number, 0, 1},
      {251, "EditTimeAnswer", 249, E::Number, 0, 1},
      {251, "EditNameShl1", 512, E::Text, 0, 8},
      {251, "EditNameShl4", 536, E::Text, 0, 8},
  };
  for (const FieldRow& row : rows) {
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

TEST(Layout, CaptionListsAreAttachedToTheirCombos) {
  EXPECT_EQ(FindField(250, "ComboBoxTypeShl1")->values[3], "Охранный актив.");
  EXPECT_EQ(FindField(251, "ComboBoxTypeShl1")->values[6], "Технологический");
  EXPECT_EQ(FindField(251, "ComboBoxTypeRele1")->values[1], "квитанция");
  EXPECT_EQ(FindField(250, "ComboBoxTypeRele2")->values[4], "Включить на время при взятии");
  EXPECT_EQ(FindField(250, "ComboBoxType")->values[1], "Мирвап");
  EXPECT_EQ(FindField(250, "ComboBoxLevel")->values[7], "2000");
}
TEST(Layout, EveryFieldLiesInAnInterpretedRegionOfItsMap) {
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

TEST(Layout, SharedControlsAreBoundByModel) {
  struct Row {
    const char* control;
    int offset_250;
    int offset_251;
  };
  const Row rows[] = {
      {"ComboBoxTypeShl1", 100, 2},  {"ComboBoxTypeShl4", 103, 5},  {"EditTimeIn1", 104, 10},
      {"EditTimeIn4", 107, 10},      {"EditTimeOut2", 109, 11},     {"EditTimeOut4", 111, 11},
      {"ComboBoxTypeRele1", 118, 0}, {"ComboBoxTypeRele2", 119, 1}, {"EditTimeSound", 117, 13},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(BoundOffset(row.control, 250), row.offset_250) << row.control;
    EXPECT_EQ(BoundOffset(row.control, 252), row.offset_250) << row.control;
    EXPECT_EQ(BoundOffset(row.control, 251), row.offset_251) << row.control;
  }
  EXPECT_EQ(SharedBindings().size(), 15u);
  EXPECT_EQ(BoundOffset("EditTimeSir", 251), -1);
  EXPECT_EQ(BoundOffset("EditTimeIn1", 0), -1);
}

TEST(Layout, BindingTableAgreesWithTheFieldTables) {
  for (const SharedBinding& b : SharedBindings()) {
    for (int model : {250, 251, 252}) {
      const FieldDef* f = FindField(model, b.control);
      ASSERT_NE(f, nullptr) << b.control << " " << model;
      EXPECT_EQ(f->offset, BoundOffset(b.control, model)) << b.control << " " << model;
    }
  }
}

}  // namespace
}  // namespace lovar
