#include "model/image_coverage.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace lovar {
namespace {

TEST(ImageCoverage, WholeOnlyAfterACompleteReadOrALoadThatCoversTheRest) {
  struct Row {
    const char* name;
    std::function<void(ImageCoverage&)> steps;
    int length;
    bool whole;
  };
  const std::vector<Row> rows = {
      {"nothing yet", [](ImageCoverage&) {}, 256, false},
      {"complete read", [](ImageCoverage& c) { c.Read(256); }, 256, true},
      {"read given up", [](ImageCoverage& c) { c.Read(96); }, 256, false},
      {"a new read given up after a complete one",
       [](ImageCoverage& c) {
         c.Read(4096);
         c.Read(1000);
       },
       4096, false},
      {"file of 250 after a read given up",
       [](ImageCoverage& c) {
         c.Read(96);
         c.Loaded(256);
       },
       256, true},
      {"file of 251 alone", [](ImageCoverage& c) { c.Loaded(2048); }, 4096, false},
      {"file of 251 after a read given up in the keys",
       [](ImageCoverage& c) {
         c.Read(3000);
         c.Loaded(2048);
       },
       4096, false},
      {"file of 251 after a complete read",
       [](ImageCoverage& c) {
         c.Read(4096);
         c.Loaded(2048);
       },
       4096, true},
      {"another model",
       [](ImageCoverage& c) {
         c.Read(256);
         c.Reset();
       },
       4096, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ImageCoverage coverage;
    row.steps(coverage);
    EXPECT_EQ(coverage.Whole(row.length), row.whole);
  }
}

}  // namespace
}  // namespace lovar
