#include "model/edit_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/random_image.h"

namespace lovar {
namespace {

// Stores text into the field, as an editor of the window would.
void Edit(ConfigImage& image, int model, const char* id, const char* text) {
  const Field* field = FindFieldById(model, id);
  ASSERT_NE(field, nullptr) << id;
  std::string why;
  ASSERT_TRUE(StoreFieldText(*field, image, text, why)) << id << ": " << why;
}

TEST(EditHistory, UndoAndRedoRestoreEveryStepExactly) {
  const int model = 251;
  ConfigImage image = testing::RandomImage(7, false);
  EditHistory history;
  history.Reset(image);
  std::vector<ConfigImage> states = {image};
  const std::vector<std::pair<const char*, const char*>> edits = {
      {"loop2.type", "Пожарный"}, {"object_number", "4711"},   {"direction3.phone", "+74951112233"},
      {"gprs.ip", "10.0.0.1"},    {"loop2.type", "Тревожный"}, {"key3.code", "0123456789ABCDEF"}};
  for (const auto& [id, text] : edits) {
    Edit(image, model, id, text);
    ASSERT_TRUE(history.Capture(image, model, ImageLength(model))) << id;
    states.push_back(image);
  }
  EXPECT_FALSE(history.Capture(image, model, ImageLength(model)));  // nothing new
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(history.CanUndo());
    history.Undo(image);
    ASSERT_EQ(image, states[i - 1]) << "after undoing step " << i;
  }
  EXPECT_FALSE(history.CanUndo());
  EXPECT_TRUE(history.Undo(image).runs.empty());
  for (size_t i = 1; i < states.size(); ++i) {
    history.Redo(image);
    ASSERT_EQ(image, states[i]) << "after redoing step " << i;
  }
  EXPECT_FALSE(history.CanRedo());
}

TEST(EditHistory, StepsAreNamedByTheirFields) {
  struct Row {
    int model;
    std::vector<std::pair<const char*, const char*>> edits;  // captured as one step
    std::string label;
    FieldPage page;
  };
  const std::vector<Row> rows = {
      {251, {{"loop2.type", "Пожарный"}}, "ШС2: Тип шлейфа", FieldPage::Parameters},
      {251, {{"object_number", "77"}}, "Номер объекта", FieldPage::Parameters},
      {251,
       {{"key3.code", "0123456789ABCDEF"}, {"key3.name", "Ivanov"}},
       "Ключ 3: Код и ещё 1",
       FieldPage::Keys},
      {250, {{"loop1.type", "Пожарный"}}, "ШС1: Тип шлейфа", FieldPage::Parameters},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ConfigImage image;
    EditHistory history;
    history.Reset(image);
    for (const auto& [id, text] : row.edits) Edit(image, row.model, id, text);
    ASSERT_TRUE(history.Capture(image, row.model, ImageLength(row.model)));
    ASSERT_NE(history.NextUndo(), nullptr);
    EXPECT_EQ(history.NextUndo()->label, row.label);
    ASSERT_NE(history.NextUndo()->field, nullptr);
    EXPECT_EQ(history.NextUndo()->field->page, row.page);
  }
}

TEST(EditHistory, BytesNoFieldCoversAreNamedByOffset) {
  ConfigImage image;
  EditHistory history;
  history.Reset(image);
  image[127] = 1;
  image[128] = 2;
  ASSERT_TRUE(history.Capture(image, 250, 256));
  EXPECT_EQ(history.NextUndo()->label, "байты 127–128");
  EXPECT_EQ(history.NextUndo()->field, nullptr);
}

TEST(EditHistory, ANewEditAfterUndoLeavesNothingToRedo) {
  ConfigImage image;
  EditHistory history;
  history.Reset(image);
  Edit(image, 250, "loop1.type", "Пожарный");
  history.Capture(image, 250, 256);
  history.Undo(image);
  ASSERT_TRUE(history.CanRedo());
  Edit(image, 250, "loop2.type", "Тревожный");
  history.Capture(image, 250, 256);
  EXPECT_FALSE(history.CanRedo());
  EXPECT_EQ(history.NextUndo()->label, "ШС2: Тип шлейфа");
}

// A display corrects an out-of-range loop type to 0: that is no edit, and undoing the edit that
// came before it must not bring the old byte back over the correction.
TEST(EditHistory, AbsorbedChangesAreNoStepsAndDropTheStepsTheyTouch) {
  ConfigImage image;
  EditHistory history;
  history.Reset(image);
  image[100] = 2;  // loop1.type of model 250
  history.Capture(image, 250, 256);
  image[104] = 30;  // loop1's delay
  history.Capture(image, 250, 256);
  image[100] = 0;  // corrected, not edited
  const std::vector<ByteRange> absorbed = history.Absorb(image, 256);
  ASSERT_EQ(absorbed.size(), 1u);
  EXPECT_EQ(absorbed[0].first, 100);
  EXPECT_EQ(history.snapshot(), image);
  EXPECT_FALSE(history.Capture(image, 250, 256));
  history.Undo(image);  // the delay's step remains; the type's is gone
  EXPECT_EQ(image[104], 0);
  EXPECT_EQ(image[100], 0);
  EXPECT_FALSE(history.CanUndo());
}

TEST(EditHistory, ResetForgetsEverything) {
  ConfigImage image;
  EditHistory history;
  history.Reset(image);
  image[5] = 1;
  history.Capture(image, 250, 256);
  history.Undo(image);
  image[6] = 9;
  history.Reset(image);
  EXPECT_FALSE(history.CanUndo());
  EXPECT_FALSE(history.CanRedo());
  EXPECT_FALSE(history.Capture(image, 250, 256));
}

TEST(EditHistory, OnlyTheNewestStepsAreKept) {
  ConfigImage image;
  EditHistory history;
  history.Reset(image);
  for (size_t i = 0; i < EditHistory::kMaxSteps + 10; ++i) {
    image[i % 200] = static_cast<uint8_t>(image[i % 200] + 1);
    history.Capture(image, 250, 256);
  }
  size_t undone = 0;
  while (history.CanUndo()) {
    history.Undo(image);
    ++undone;
  }
  EXPECT_EQ(undone, EditHistory::kMaxSteps);
}

}  // namespace
}  // namespace lovar
