#include "model/image_normalize.h"

#include <gtest/gtest.h>

#include <vector>

namespace lovar {
namespace {

struct Case {
  const char* name;
  int model;
  std::vector<std::pair<int, uint8_t>> bytes;  // set before
  std::vector<ImageCorrection> expected;
};

// Loop types above "Охранный актив." (3) and output modes above 4 go back to the first entry on
// models 250 and 252, loops and outputs the 252 window hides included; in-range values, the
// other bytes and model 251 stay as they are.
TEST(NormalizeImage, OutOfRangeListBytesOfModels250And252BecomeTheFirstEntry) {
  const Case cases[] = {
      {"250 in range", 250, {{100, 3}, {118, 4}, {119, 1}, {120, 0xEE}}, {}},
      {"250 loops and outputs",
       250,
       {{100, 4}, {103, 0xFF}, {118, 7}, {119, 5}},
       {{100, 4, 0}, {103, 0xFF, 0}, {118, 7, 0}, {119, 5, 0}}},
      {"252 hidden loop and output", 252, {{102, 9}, {119, 200}}, {{102, 9, 0}, {119, 200, 0}}},
      {"251 never", 251, {{2, 0x0F}, {0, 9}, {1, 200}}, {}},
      {"unknown model", 99, {{100, 9}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigImage image;
    for (auto [offset, value] : c.bytes) image[offset] = value;
    ConfigImage expected = image;
    for (const ImageCorrection& fix : c.expected) expected[fix.offset] = fix.after;
    EXPECT_EQ(NormalizeImage(c.model, image), c.expected);
    EXPECT_EQ(image, expected);
    EXPECT_TRUE(NormalizeImage(c.model, image).empty()) << "a second pass finds nothing";
  }
}

}  // namespace
}  // namespace lovar
