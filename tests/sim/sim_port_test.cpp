// The in-process simulator behind the port interface, driven through the core's event loop.
#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/crc8.h"
#include "serial/event_loop.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kPatience = 5s;  // generous: only a broken port waits this long

Bytes Identify(uint8_t seq) {
  Bytes frame{0xFE, 0x08, 0x01, 0x7F, seq, 0x00, 0xD0, 0x00, 0x00};
  frame.push_back(Crc8(frame));
  frame.push_back(0x00);
  return frame;
}

Bytes Read(uint8_t seq, int offset, uint8_t count) {
  Bytes frame{0xFE,
              0x0A,
              0x01,
              0x7F,
              seq,
              0x00,
              0xC8,
              static_cast<uint8_t>(offset),
              static_cast<uint8_t>(offset >> 8),
              0x00,
              count};
  frame.push_back(Crc8(frame));
  frame.push_back(0x00);
  return frame;
}

// Records every delivery, checking that it runs on the loop's thread.
struct Recorder {
  std::vector<Bytes> deliveries;
  std::thread::id loop_thread = std::this_thread::get_id();
  bool wrong_thread = false;

  void Attach(PortInterface& port) {
    port.OnReceive = [this](const TMessageDevice& m) {
      if (std::this_thread::get_id() != loop_thread) wrong_thread = true;
      deliveries.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
    };
  }
  Bytes All() const {
    Bytes all;
    for (const Bytes& d : deliveries) all.insert(all.end(), d.begin(), d.end());
    return all;
  }
  size_t Size() const { return All().size(); }
};

TEST(SimPort, DeliversRepliesInOrderOnTheLoopThread) {
  EventLoop loop;
  SimPort port(loop, SimConfig{});
  Recorder rec;
  rec.Attach(port);
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_TRUE(port.IsOpen());
  const Bytes a = Identify(0), b = Read(1, 0, 8);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);
  port.WriteDevice(static_cast<int32_t>(b.size()), b);
  EXPECT_TRUE(rec.deliveries.empty());  // never delivered inside WriteDevice
  ASSERT_TRUE(loop.RunUntil([&] { return rec.Size() == 10u + 16u; }, kPatience));
  EXPECT_FALSE(rec.wrong_thread);
  const Bytes all = rec.All();
  EXPECT_EQ(all[6], kIdentifyReply);
  EXPECT_EQ(all[10 + 6], kReadReply);
  EXPECT_EQ(all[10 + 4], 1);
  EXPECT_EQ(port.device().requests(), 2);
}

TEST(SimPort, WriteHonoursCountAndClosedPort) {
  EventLoop loop;
  SimPort port(loop, SimConfig{});
  Recorder rec;
  rec.Attach(port);
  const Bytes a = Identify(0);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);  // closed: nothing sent
  port.OpenDevice();
  port.WriteDevice(5, a);  // only the first five bytes
  loop.RunFor(20ms);
  EXPECT_TRUE(rec.deliveries.empty());
  EXPECT_EQ(port.device().requests(), 0);
}

TEST(SimPort, LongReplyIsCutIntoDeliveriesOf501Bytes) {
  EventLoop loop;
  SimConfig config;
  config.faults = {{FaultKind::Noise, 1, 0, 1200}};
  SimPort port(loop, config);
  Recorder rec;
  rec.Attach(port);
  port.OpenDevice();
  const Bytes a = Identify(0);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.Size() == 1210u; }, kPatience));
  ASSERT_EQ(rec.deliveries.size(), 3u);
  EXPECT_EQ(rec.deliveries[0].size(), 501u);
  EXPECT_EQ(rec.deliveries[1].size(), 501u);
  EXPECT_EQ(rec.deliveries[2].size(), 208u);
}

TEST(SimPort, SplitRepliesArriveOneBytePerDelivery) {
  EventLoop loop;
  SimConfig config;
  config.split_bytes = true;
  SimPort port(loop, config);
  Recorder rec;
  rec.Attach(port);
  port.OpenDevice();
  const Bytes a = Identify(0);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.Size() == 10u; }, kPatience));
  EXPECT_EQ(rec.deliveries.size(), 10u);
}

TEST(SimPort, DelayedReplyComesAfterLaterUndelayedOne) {
  EventLoop loop;
  SimConfig config;
  config.faults = {{FaultKind::Delay, 1, 0, 60}};
  SimPort port(loop, config);
  Recorder rec;
  rec.Attach(port);
  port.OpenDevice();
  const auto start = std::chrono::steady_clock::now();
  const Bytes a = Identify(0), b = Identify(1);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);
  port.WriteDevice(static_cast<int32_t>(b.size()), b);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.deliveries.size() == 2u; }, kPatience));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
  EXPECT_EQ(rec.deliveries[0][4], 1);  // the undelayed reply first
  EXPECT_EQ(rec.deliveries[1][4], 0);
}

TEST(SimPort, HangUpClosesThePortAndEndsDeliveries) {
  EventLoop loop;
  SimConfig config;
  config.faults = {{FaultKind::HangUp, 2}};
  SimPort port(loop, config);
  Recorder rec;
  rec.Attach(port);
  port.OpenDevice();
  const Bytes a = Identify(0), b = Identify(1), c = Identify(2);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);
  port.WriteDevice(static_cast<int32_t>(b.size()), b);
  ASSERT_TRUE(loop.RunUntil([&] { return !port.IsOpen(); }, kPatience));
  EXPECT_EQ(port.LastError(), LinkError::HungUp);
  port.WriteDevice(static_cast<int32_t>(c.size()), c);
  loop.RunFor(20ms);
  ASSERT_EQ(rec.deliveries.size(), 1u);
  EXPECT_EQ(rec.deliveries[0][4], 0);
  EXPECT_EQ(port.device().requests(), 2);

  // Opened again, the device answers once more.
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_EQ(port.LastError(), LinkError::None);
  port.WriteDevice(static_cast<int32_t>(c.size()), c);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.deliveries.size() == 2u; }, kPatience));
}

TEST(SimPort, NothingIsDeliveredAfterClose) {
  EventLoop loop;
  SimConfig config;
  config.faults = {{FaultKind::Delay, 2, 0, 30}};
  SimPort port(loop, config);
  Recorder rec;
  rec.Attach(port);
  port.OpenDevice();
  const Bytes a = Identify(0), b = Identify(1);
  port.WriteDevice(static_cast<int32_t>(a.size()), a);  // posted at once
  port.WriteDevice(static_cast<int32_t>(b.size()), b);  // held by the timer
  EXPECT_TRUE(port.CloseDevice());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastError(), LinkError::None);
  loop.RunFor(80ms);
  EXPECT_TRUE(rec.deliveries.empty());
}

TEST(SimPort, DestroyedWithDeliveriesPendingIsSafe) {
  EventLoop loop;
  bool delivered = false;
  {
    SimConfig config;
    config.faults = {{FaultKind::Delay, 2, 0, 10}};
    SimPort port(loop, config);
    port.OnReceive = [&](const TMessageDevice&) { delivered = true; };
    port.OpenDevice();
    const Bytes a = Identify(0), b = Identify(1);
    port.WriteDevice(static_cast<int32_t>(a.size()), a);
    port.WriteDevice(static_cast<int32_t>(b.size()), b);
  }
  loop.RunFor(40ms);
  EXPECT_FALSE(delivered);
}

// A handler that sends the next request from inside OnReceive, as the exchange engine does.
TEST(SimPort, HandlerMaySendTheNextRequest) {
  EventLoop loop;
  SimPort port(loop, SimConfig{});
  int replies = 0;
  port.OnReceive = [&](const TMessageDevice& m) {
    replies += m.Count == 16 ? 1 : 0;
    if (replies < 32) {
      const Bytes next = Read(static_cast<uint8_t>(replies), 8 * replies, 8);
      port.WriteDevice(static_cast<int32_t>(next.size()), next);
    }
  };
  port.OpenDevice();
  const Bytes first = Read(0, 0, 8);
  port.WriteDevice(static_cast<int32_t>(first.size()), first);
  ASSERT_TRUE(loop.RunUntil([&] { return replies == 32; }, kPatience));
  EXPECT_EQ(port.device().requests(), 32);
}

}  // namespace
}  // namespace lovar
