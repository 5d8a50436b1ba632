// The window's corrections of a model 250 or 252 image, as one pure function.
#include "model/image_normalize.h"

#include <gtest/gtest.h>

namespace lovar {
namespace {

struct Case {
  int model;
  int offset;
  uint8_t value;
  uint8_t corrected;
};

TEST(NormalizeImage, ListBytesThatSelectNoEntryBecomeZero) {
  const Case cases[] = {
      {250, 100, 4, 0},     {250, 103, 3, 3},  // "Охранный актив." is an entry
      {252, 103, 0xFF, 0},                     // hidden on 252, shown right all the same
      {250, 118, 5, 0},     {252, 119, 4, 4}, {250, 117, 200, 200},  // a time: no list
      {251, 2, 0x0F, 0x0F},                                          // model 251 bytes stay
      {251, 100, 9, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.model << " @" << c.offset << " = " << int(c.value));
    ConfigImage image;
    image[c.offset] = c.value;
    const std::vector<int> changed = NormalizeImage(c.model, image);
    EXPECT_EQ(image[c.offset], c.corrected);
    EXPECT_EQ(changed, c.value == c.corrected ? std::vector<int>{} : std::vector<int>{c.offset});
  }
}

}  // namespace
}  // namespace lovar
