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

// A write may also send an image whose part beyond a file's bytes is read from the device just
// before: after a load, or after another device (perhaps) was found; never after a read that
// ended early alone, and never with another device's keys.
TEST(ImageCoverage, WritableWithTheRestTakenFromTheDeviceAfterALoadOrANewDevice) {
  struct Row {
    const char* name;
    std::function<void(ImageCoverage&)> steps;
    bool writable;
    int known;
  };
  const std::vector<Row> rows = {
      {"file of 251 alone", [](ImageCoverage& c) { c.Loaded(2048); }, true, 2048},
      {"251 read, then found again: its keys are no longer known",
       [](ImageCoverage& c) {
         c.Read(4096);
         c.NewDevice(2048);
       },
       true, 2048},
      {"read given up in the keys", [](ImageCoverage& c) { c.Read(3000); }, false, 3000},
      {"read given up early, found again",
       [](ImageCoverage& c) {
         c.Read(800);
         c.NewDevice(2048);
       },
       false, 800},
      {"the rest filled from the device",
       [](ImageCoverage& c) {
         c.Loaded(2048);
         c.Filled(4096);
       },
       true, 4096},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ImageCoverage coverage;
    row.steps(coverage);
    EXPECT_EQ(coverage.Writable(4096, 2048), row.writable);
    EXPECT_EQ(coverage.known(), row.known);
  }
}

// A read makes the whole image the image's own; a model 251 file loaded over it owns its 2048
// bytes only (the keys beyond stay the device's as read), also after the device is filled in.
TEST(ImageCoverage, OwnBytesAreWhatWasReadOrWhatTheFileHolds) {
  ImageCoverage c;
  c.Read(4096);
  EXPECT_EQ(c.own(), 4096);
  c.Loaded(2048);
  EXPECT_TRUE(c.Whole(4096));
  EXPECT_EQ(c.own(), 2048);
  c.NewDevice(2048);
  c.Filled(4096);
  EXPECT_EQ(c.own(), 2048);
  c.Read(1000);
  EXPECT_EQ(c.own(), 1000);
}

}  // namespace
}  // namespace lovar
