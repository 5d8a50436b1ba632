// The in-process simulator behind the port interface, driven through the core's event loop.
#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "protocol/crc8.h"
#include "serial/event_loop.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kPatience = 5s;  // generous: only a broken port waits this long

Bytes Request(uint8_t seq, uint8_t command, const Bytes& data) {
  Bytes frame{0xFE, static_cast<uint8_t>(6 + data.size()), 0x01, 0x7F, seq, 0x00, command};
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(Crc8(frame));
  frame.push_back(0x00);  // the byte that follows every request
  return frame;
}
Bytes Identify(uint8_t seq) {
  return Request(seq, 0xD0, {0x00, 0x00});
}
Bytes Read(uint8_t seq, int offset, uint8_t count) {
  return Request(seq, 0xC8, {uint8_t(offset), uint8_t(offset >> 8), 0x00, count});
}

// A port on an event loop whose every delivery is recorded, checking it runs on the loop's
// thread.
class SimPortTest : public testing::Test {
 protected:
  SimPort& Open(SimConfig config = {}, bool open = true) {
    port_.emplace(loop_, config);
    port_->OnReceive = [this](const TMessageDevice& m) {
      if (std::this_thread::get_id() != loop_thread_) wrong_thread_ = true;
      deliveries_.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
    };
    if (open) {
      EXPECT_TRUE(port_->OpenDevice());
    }
    return *port_;
  }
  void Send(const Bytes& bytes) { port_->WriteDevice(static_cast<int32_t>(bytes.size()), bytes); }
  Bytes All() const {
    Bytes all;
    for (const Bytes& d : deliveries_) all.insert(all.end(), d.begin(), d.end());
    return all;
  }
  bool Wait(const std::function<bool()>& done) { return loop_.RunUntil(done, kPatience); }

  EventLoop loop_;
  std::thread::id loop_thread_ = std::this_thread::get_id();
  bool wrong_thread_ = false;
  std::vector<Bytes> deliveries_;
  std::optional<SimPort> port_;  // last, so it goes before what its handler touches
};

TEST_F(SimPortTest, DeliversRepliesInOrderOnTheLoopThread) {
  SimPort& port = Open();
  EXPECT_TRUE(port.IsOpen());
  Send(Identify(0));
  Send(Read(1, 0, 8));
  EXPECT_TRUE(deliveries_.empty());  // never delivered inside WriteDevice
  ASSERT_TRUE(Wait([&] { return All().size() == 10u + 16u; }));
  EXPECT_FALSE(wrong_thread_);
  const Bytes all = All();
  EXPECT_EQ(all[6], kIdentifyReply);
  EXPECT_EQ(all[10 + 6], kReadReply);
  EXPECT_EQ(all[10 + 4], 1);
  EXPECT_EQ(port.device().requests(), 2);
}

TEST_F(SimPortTest, WriteHonoursCountAndClosedPort) {
  SimPort& port = Open({}, false);
  Send(Identify(0));  // closed: nothing sent
  port.OpenDevice();
  port.WriteDevice(5, Identify(0));  // only the first five bytes
  loop_.RunFor(20ms);
  EXPECT_TRUE(deliveries_.empty());
  EXPECT_EQ(port.device().requests(), 0);
}

TEST_F(SimPortTest, LongReplyIsCutIntoDeliveriesOf501Bytes) {
  SimConfig config;
  config.faults = {{FaultKind::Noise, 1, 0, 1200}};
  Open(config);
  Send(Identify(0));
  ASSERT_TRUE(Wait([&] { return All().size() == 1210u; }));
  std::vector<size_t> sizes;
  for (const Bytes& d : deliveries_) sizes.push_back(d.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{501, 501, 208}));
}

TEST_F(SimPortTest, SplitRepliesArriveOneBytePerDelivery) {
  SimConfig config;
  config.split_bytes = true;
  Open(config);
  Send(Identify(0));
  ASSERT_TRUE(Wait([&] { return All().size() == 10u; }));
  EXPECT_EQ(deliveries_.size(), 10u);
}

TEST_F(SimPortTest, DelayedReplyComesAfterLaterUndelayedOne) {
  SimConfig config;
  config.faults = {{FaultKind::Delay, 1, 0, 60}};
  Open(config);
  const auto start = std::chrono::steady_clock::now();
  Send(Identify(0));
  Send(Identify(1));
  ASSERT_TRUE(Wait([&] { return deliveries_.size() == 2u; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
  EXPECT_EQ(deliveries_[0][4], 1);  // the undelayed reply first
  EXPECT_EQ(deliveries_[1][4], 0);
}

TEST_F(SimPortTest, HangUpClosesThePortAndEndsDeliveries) {
  SimConfig config;
  config.faults = {{FaultKind::HangUp, 2}};
  SimPort& port = Open(config);
  Send(Identify(0));
  Send(Identify(1));
  ASSERT_TRUE(Wait([&] { return !port.IsOpen(); }));
  EXPECT_EQ(port.LastError(), LinkError::HungUp);
  Send(Identify(2));
  loop_.RunFor(20ms);
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0][4], 0);
  EXPECT_EQ(port.device().requests(), 2);

  // Opened again, the device answers once more.
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_EQ(port.LastError(), LinkError::None);
  Send(Identify(2));
  ASSERT_TRUE(Wait([&] { return deliveries_.size() == 2u; }));
}

// One reply posted at once, one held by the timer: neither arrives after close or destruction.
TEST_F(SimPortTest, NothingIsDeliveredAfterCloseOrDestruction) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "closed");
    SimConfig config;
    config.faults = {{FaultKind::Delay, 2, 0, 30}};
    SimPort& port = Open(config);
    Send(Identify(0));
    Send(Identify(1));
    if (destroy) {
      port_.reset();
    } else {
      EXPECT_TRUE(port.CloseDevice());
      EXPECT_FALSE(port.IsOpen());
      EXPECT_EQ(port.LastError(), LinkError::None);
    }
    loop_.RunFor(80ms);
    EXPECT_TRUE(deliveries_.empty());
  }
}

// A handler that sends the next request from inside OnReceive, as the exchange engine does.
TEST_F(SimPortTest, HandlerMaySendTheNextRequest) {
  SimPort& port = Open();
  int replies = 0;
  port.OnReceive = [&](const TMessageDevice& m) {
    replies += m.Count == 16 ? 1 : 0;
    if (replies < 32) Send(Read(static_cast<uint8_t>(replies), 8 * replies, 8));
  };
  Send(Read(0, 0, 8));
  ASSERT_TRUE(Wait([&] { return replies == 32; }));
  EXPECT_EQ(port.device().requests(), 32);
}

}  // namespace
}  // namespace lovar
