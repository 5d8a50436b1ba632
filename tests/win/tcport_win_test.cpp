// TCport on the Win32 backend: deliveries, writes and the stop, over a COM port that Wine maps
// onto a pseudo-terminal, with pty_device.py as the device.
// clang-format off
#include "device_line.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace lovar::wintest {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLong(10000);

class TCportWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.ok()) << "no control port " << ControlCom();
    ASSERT_TRUE(device_.Flush());
    port_.SetNameDevice(DataCom());
    port_.SetBaudRate(9600);
    port_.OnReceive = [this](const TMessageDevice& m) {
      deliveries_.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
      total_ += m.Count;
    };
  }
  void TearDown() override { port_.CloseDevice(); }

  bool RunUntilTotal(size_t n) {
    return loop_.RunUntil([&] { return total_ >= n; }, kLong);
  }
  std::vector<uint8_t> All() const {
    std::vector<uint8_t> all;
    for (const auto& d : deliveries_) all.insert(all.end(), d.begin(), d.end());
    return all;
  }
  std::vector<size_t> Sizes() const {
    std::vector<size_t> sizes;
    for (const auto& d : deliveries_) sizes.push_back(d.size());
    return sizes;
  }

  DeviceLine device_;
  EventLoop loop_;
  TCport port_{loop_};
  std::vector<std::vector<uint8_t>> deliveries_;
  size_t total_ = 0;
};

struct BurstCase {
  size_t bytes;
  std::vector<size_t> deliveries;
};

class TCportWinBurst : public TCportWin, public ::testing::WithParamInterface<BurstCase> {};

// Bytes that are all waiting when the first delivery runs: up to 500 come as one delivery,
// more come 501 at a time, in order, none twice.
TEST_P(TCportWinBurst, WaitingBytesComeInFullDeliveriesInOrder) {
  const BurstCase& c = GetParam();
  ASSERT_TRUE(device_.Burst(c.bytes, 11));
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(c.bytes));
  EXPECT_EQ(Sizes(), c.deliveries);
  EXPECT_EQ(All(), Pattern(c.bytes, 11));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TCportWinBurst,
                         ::testing::Values(BurstCase{1, {1}}, BurstCase{500, {500}},
                                           BurstCase{502, {501, 1}},
                                           BurstCase{1300, {501, 501, 298}}));

TEST_F(TCportWin, TrickledBytesComeOnceEachInOrder) {
  ASSERT_TRUE(port_.OpenDevice());
  // The device waits for each byte to be read, so the window thread runs meanwhile.
  bool trickled = false;
  std::thread far_end([&] { trickled = device_.Trickle(30, 200); });
  ASSERT_TRUE(RunUntilTotal(30));
  far_end.join();
  EXPECT_TRUE(trickled);
  EXPECT_EQ(All(), Pattern(30, 200));
}

TEST_F(TCportWin, ReadDeviceFalseGivesOneDelivery) {
  ASSERT_TRUE(device_.Burst(10, 1));
  port_.SetReadDevice(false);
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(1));
  ASSERT_TRUE(device_.Burst(5, 50));
  loop_.RunFor(milliseconds(50));
  EXPECT_EQ(Sizes(), std::vector<size_t>{1});
}

TEST_F(TCportWin, WrittenBytesReachTheDevice) {
  ASSERT_TRUE(port_.OpenDevice());
  std::vector<uint8_t> frame = Pattern(101, 0x80);
  port_.WriteDevice(101, frame);
  EXPECT_EQ(device_.Take(101), frame);
}

// The receive thread wakes on the stop event and finishes itself: CloseDevice does not reach
// the 1200 ms after which it would force the thread down, and the port is free at once.
TEST_F(TCportWin, CloseDeviceOnAnIdleLineStopsTheThreadItself) {
  ASSERT_TRUE(port_.OpenDevice());
  loop_.RunFor(milliseconds(20));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port_.CloseDevice());
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, milliseconds(1200));
  EXPECT_FALSE(port_.IsOpen());
  TCport other(loop_);
  other.SetNameDevice(DataCom());
  EXPECT_TRUE(other.OpenDevice());
  other.CloseDevice();
}

TEST_F(TCportWin, AMissingComPortFailsAsNoSuchPort) {
  port_.SetNameDevice("COM77");
  EXPECT_FALSE(port_.OpenDevice());
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(port_.LastError(), LinkError::NoSuchPort);
}

// Last: the device hangs up while the port waits for bytes.
TEST_F(TCportWin, HangUpClosesThePortAsHungUp) {
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(device_.HangUp());
  ASSERT_TRUE(loop_.RunUntil([&] { return !port_.IsOpen(); }, kLong));
  EXPECT_EQ(port_.LastError(), LinkError::HungUp);
}

}  // namespace
}  // namespace lovar::wintest
