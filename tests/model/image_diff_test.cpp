#include "model/image_diff.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/random_image.h"

namespace lovar {
namespace {

TEST(ImageDiff, ImagesThatDifferInOneFieldNameExactlyThatField) {
  for (int model : {250, 251, 252}) {
    const int length = ImageLength(model);
    std::mt19937 random(static_cast<unsigned>(model));
    unsigned seed = 1;
    for (const Field& f : Fields(model)) {
      SCOPED_TRACE(std::to_string(model) + " " + f.id);
      const ConfigImage a = testing::PlausibleImage(model, seed++);
      ConfigImage b = a;
      std::string value, why;
      do {
        value = testing::PlainValue(f, random);
      } while (value == FieldText(f, a));
      ASSERT_TRUE(StoreFieldText(f, b, value, why)) << why;
      const ImageDiff diff = DiffImages(model, a, length, b, length);
      ASSERT_EQ(diff.fields.size(), 1u);
      EXPECT_EQ(diff.fields[0].field, &f);
      EXPECT_EQ(diff.fields[0].a, FieldText(f, a));
      EXPECT_EQ(diff.fields[0].b, value);
      EXPECT_TRUE(diff.bytes.empty()) << RangesText(diff.bytes);
    }
  }
}

TEST(ImageDiff, BytesNoValueSetsAreGivenAsRanges) {
  ConfigImage a = testing::PlausibleImage(251, 7);
  const Field& password = *FindFieldById(251, "password");
  std::string why;
  ASSERT_TRUE(StoreFieldText(password, a, "12", why));
  ConfigImage b = a;
  b[19] ^= 0x01;  // after the password's terminator: the same value, other bytes
  b[250] ^= 0x80;
  b[251] ^= 0x01;
  b[252] ^= 0x02;
  b[300] ^= 0x10;
  b[2] ^= 0x40;  // loop 1: a bit between the type and the re-arming
  const ImageDiff diff = DiffImages(251, a, 4096, b, 4096);
  EXPECT_TRUE(diff.fields.empty());
  EXPECT_FALSE(diff.Equal());
  EXPECT_EQ(RangesText(diff.bytes), "2, 19, 250–252, 300");
}

TEST(ImageDiff, OnlyTheBytesBothSidesHoldAreCompared) {
  const ConfigImage device = testing::PlausibleImage(251, 3);
  ConfigImage file = device;
  for (int i = 2048; i < kImageCapacity; ++i) file[i] = 0;  // what a file load leaves
  const ImageDiff diff = DiffImages(251, file, 2048, device, 4096);
  EXPECT_TRUE(diff.Equal());
  EXPECT_EQ(diff.extent, 2048);
  ASSERT_EQ(diff.not_compared.size(), 32u);
  EXPECT_EQ(diff.not_compared.front()->id, "key1.code");
  EXPECT_FALSE(DiffImages(251, file, 4096, device, 4096).Equal());
}

TEST(ImageDiff, ObjectNumberIsTheModelsField) {
  ConfigImage image;
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(251, "object_number"), image, "0042", why));
  EXPECT_EQ(ObjectNumber(251, image), "0042");
  EXPECT_EQ(ObjectNumber(250, image), "");
}

}  // namespace
}  // namespace lovar
