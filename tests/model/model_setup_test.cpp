#include "model/model_setup.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/catalog.h"
#include "model/config_image.h"
#include "model/regions.h"

namespace lovar {
namespace {

// What a row of the models' table must hold for the engine, the files and the window to work
// from it alone: each model is checked, so a new row that breaks one of these fails here.
TEST(ModelSetup, EveryRowIsWholeAndFitsItsImage) {
  std::set<int> codes;
  for (const ModelSetup& s : KnownModelSetups()) {
    SCOPED_TRACE(s.model);
    EXPECT_TRUE(codes.insert(s.model).second) << "a code named twice";
    EXPECT_GT(s.model, 0);
    EXPECT_LE(s.model, 255);  // the device names itself by one byte
    EXPECT_EQ(FindModelSetup(s.model), &s);
    EXPECT_TRUE(IsKnownModel(s.model));
    for (std::string_view text :
         {s.name, s.line_name, s.file_name, s.load_folder, s.save_folder, s.default_file})
      EXPECT_FALSE(text.empty());
    EXPECT_EQ(ModelName(s.model), s.name);

    // A read covers the image; a file holds its first bytes; a write starts inside the file's
    // bytes and zeroes only bytes it sends.
    EXPECT_EQ(s.image_length % 16, 0);  // read and written in 16-byte blocks
    EXPECT_LE(s.image_length, kImageCapacity);
    EXPECT_GT(s.file_image_length, 0);
    EXPECT_LE(s.file_image_length, s.image_length);
    EXPECT_EQ(ImageLength(s.model), s.image_length);
    EXPECT_TRUE(IsImageOrFileLength(static_cast<size_t>(s.image_length)));
    EXPECT_TRUE(IsImageOrFileLength(static_cast<size_t>(s.file_image_length)));
    EXPECT_GE(s.write_start, 0);
    EXPECT_LT(s.write_start, s.file_image_length);
    EXPECT_LE(s.zero_from, s.zero_end);
    if (s.zero_from < s.zero_end) {
      EXPECT_GE(s.zero_from, s.write_start);
      EXPECT_LE(s.zero_end, s.file_image_length);
    }

    // The sixteen keys lie inside the image; a learnt key's code fits the key buffer.
    for (int k = 0; k < 16; ++k) {
      EXPECT_LE(keys::CodeOffset(s.model, k) + keys::CodeBytes(s.model), s.image_length) << k;
      if (s.key_rights) {
        EXPECT_LT(keys::RightsOffset(s.model, k), s.image_length) << k;
      }
    }
    EXPECT_LE(s.keys.learnt_first + s.keys.code_bytes, 8);

    // The pages: the parameters first, the keys on every model.
    ASSERT_FALSE(s.pages.empty());
    EXPECT_EQ(s.pages.front(), FieldPage::Parameters);
    EXPECT_TRUE(s.Has(FieldPage::Keys));
    EXPECT_GE(s.loops, 1);
    EXPECT_GE(s.outputs, 1);
  }
  EXPECT_FALSE(IsKnownModel(0));
  EXPECT_EQ(FindModelSetup(253), nullptr);
}

// Every field a model's catalog names lies inside its image, on a page the model has; a model
// that follows another's layout names no field the layout's own model lacks, and offers no more
// loops or outputs than it.
TEST(ModelSetup, CatalogsFollowTheTable) {
  for (const ModelSetup& s : KnownModelSetups()) {
    SCOPED_TRACE(s.model);
    ASSERT_FALSE(Fields(s.model).empty());
    const int whole = LayoutModel(s.layout);
    const ModelSetup* layout = FindModelSetup(whole);
    ASSERT_NE(layout, nullptr);
    EXPECT_LE(s.loops, layout->loops);
    EXPECT_LE(s.outputs, layout->outputs);
    EXPECT_EQ(s.image_length, layout->image_length);
    for (const Field& f : Fields(s.model)) {
      EXPECT_LT(f.last(), s.image_length) << f.id;
      EXPECT_TRUE(s.Has(f.page)) << f.id;
      if (!f.id.empty()) {
        EXPECT_NE(FindFieldById(whole, f.id), nullptr) << f.id;
      }
    }
  }
}

TEST(ModelSetup, ListsForMessagesAndOptions) {
  EXPECT_EQ(KnownModelsText(), "250, 251 или 252");
  EXPECT_EQ(KnownModelsText(", "), "250, 251, 252");
  EXPECT_EQ(KnownModels(), (std::vector<int>{250, 251, 252}));
  for (size_t bytes : {0, 255, 1024, 4097}) EXPECT_FALSE(IsImageOrFileLength(bytes)) << bytes;
  EXPECT_EQ(FirstModelWith(FieldPage::Directions), 251);
  EXPECT_EQ(FirstModelWith(FieldPage::Codes), 250);
  EXPECT_TRUE(ModelHas(252, FieldPage::Keys));
  EXPECT_FALSE(ModelHas(252, FieldPage::Codes));
  EXPECT_FALSE(ModelHas(0, FieldPage::Parameters));
}

}  // namespace
}  // namespace lovar
