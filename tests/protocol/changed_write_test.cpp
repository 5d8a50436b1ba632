// A write of the changes alone: which blocks differ, that only those go out and are proven, and
// the whole check behind it. (Nothing changed, and a difference the whole check repairs: the
// window's and the end-to-end tests.)
#include <gtest/gtest.h>

#include "engine_bench.h"
#include "protocol/block_diff.h"
#include "protocol/verified_write.h"

namespace lovar {
namespace {

using testing_support::Bytes;
using testing_support::Config;
using testing_support::EngineBench;
using O = WriteReport::Outcome;

TEST(ChangedBlocks, JoinsNeighboursAndCountsFromTheWritesStart) {
  struct Case {
    std::vector<int> changed;
    int from, end;
    std::vector<BlockRange> want;
  };
  const std::vector<Case> cases = {
      {{}, 0, 256, {}},
      {{0}, 0, 256, {{0, 16}}},
      {{15, 16}, 0, 256, {{0, 32}}},           // neighbours joined
      {{5, 40}, 0, 256, {{0, 16}, {32, 48}}},  // apart
      {{255}, 0, 256, {{240, 256}}},
      {{99}, 100, 256, {}},  // before a model 252's write
      {{100, 131}, 100, 256, {{100, 132}}},
      {{250}, 100, 256, {{244, 256}}},  // the last block cut at the end
  };
  for (const Case& c : cases) {
    ConfigImage a, b;
    for (int at : c.changed) b[at] = 1;
    EXPECT_EQ(ChangedBlocks(a, b, c.from, c.end, 16), c.want) << c.changed.size();
  }
  EXPECT_EQ(BlockCount({{100, 116}, {116, 132}, {244, 256}}, 16), 3);
}

std::vector<Bytes> Requests(const EngineBench& b, uint8_t command) {
  std::vector<Bytes> out;
  for (const Bytes& w : b.port.writes)
    if (w[6] == command) out.push_back(w);
  return out;
}

int Offset(const Bytes& request) {
  return request[7] | request[8] << 8;
}

class ChangedWriteEachModel : public testing::TestWithParam<int> {};

// One field changed: one write request at its block, its two read requests, proven; the whole
// range follows only when asked.
TEST_P(ChangedWriteEachModel, OnlyTheChangedBlockGoesOutAndIsProven) {
  const int model = GetParam();
  EngineBench b(Config(model));
  b.Identify();
  ConfigImage device = b.sim.image();
  if (model != 251)
    for (int i = 127; i <= 130; ++i) device[i] = b.sim.image()[i] = 0;
  b.image = device;
  b.image[200] ^= 0x11;
  b.verified.StartChanged(device, true, false, /*whole_check=*/false);
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  const WriteReport& r = b.view.reports[0];
  EXPECT_EQ(r.outcome, O::Verified);
  EXPECT_EQ(r.written_blocks, 1);
  EXPECT_TRUE(r.blocks_only);
  const std::vector<Bytes> writes = Requests(b, 0xCA);
  ASSERT_EQ(writes.size(), 1u);
  const int block = model == 252 ? 196 : 192;
  EXPECT_EQ(Offset(writes[0]), block);
  const std::vector<Bytes> reads = Requests(b, 0xC8);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(Offset(reads[0]), block);
  EXPECT_EQ(b.sim.image()[200], b.image[200]);
  EXPECT_NE(WriteReportText(r).find("записано и проверено блоков: 1 из"), std::string::npos);

  b.verified.CheckWhole();
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 2u);
  EXPECT_TRUE(b.view.reports[1].ok());
  EXPECT_EQ(WriteReportText(b.view.reports[1]), "Конфигурация в УО проверена полностью");
  // The whole image, model 252's bytes 0 to 99 too (held to what the device held).
  EXPECT_EQ(Requests(b, 0xC8).size(), 2u + static_cast<size_t>(ImageLength(model)) / 8);
}

INSTANTIATE_TEST_SUITE_P(Models, ChangedWriteEachModel, testing::Values(250, 251, 252));

// Bytes 127 to 130 go out as 0 as in every write: a model 250 device that holds other bytes
// there gets that block even when nothing was edited.
TEST(ChangedWrite, BytesSentAsZeroAreWrittenWhereTheDeviceHoldsOthers) {
  EngineBench b(Config(250));
  b.Identify();
  for (int i = 127; i <= 130; ++i) b.sim.image()[i] = 0;
  b.sim.image()[128] = 0x44;
  const ConfigImage device = b.sim.image();
  b.image = device;
  b.verified.StartChanged(device, true, false, true);
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_TRUE(b.view.reports[0].ok());
  ASSERT_EQ(Requests(b, 0xCA).size(), 1u);
  EXPECT_EQ(Offset(Requests(b, 0xCA)[0]), 128);
  EXPECT_EQ(b.sim.image()[128], 0);
  EXPECT_EQ(b.image[128], 0);
}

}  // namespace
}  // namespace lovar
