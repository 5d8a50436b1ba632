// Deliveries of received bytes through the real TCport over a pseudo-terminal.
#include <chrono>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "pty.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

using std::chrono::milliseconds;
using test::Pattern;
using test::Pty;

constexpr milliseconds kLong(5000);

class Receive : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.SetNameDevice(pty_.Path());
    port_.OnReceive = [this](const TMessageDevice& m) {
      deliveries_.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
      total_ += m.Count;
    };
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
  bool RunUntilTotal(size_t n) {
    return loop_.RunUntil([&] { return total_ >= n; }, kLong);
  }

  // Bytes that have all reached the port before it is opened are waiting when the window
  // thread runs its first delivery.
  void SendBeforeOpen(const std::vector<uint8_t>& bytes) {
    pty_.Write(bytes);
    ASSERT_TRUE(pty_.WaitWaiting(static_cast<int>(bytes.size())));
  }

  Pty pty_;
  EventLoop loop_;
  TCport port_{loop_};
  std::vector<std::vector<uint8_t>> deliveries_;
  size_t total_ = 0;
};

struct BurstCase {
  size_t bytes;
  std::vector<size_t> deliveries;
};

class Burst : public Receive, public ::testing::WithParamInterface<BurstCase> {};

// One read completes on the first byte; the drain takes what is already there, and stops once
// a delivery holds more than 500 bytes: 501 with one byte per read.
TEST_P(Burst, WaitingBytesComeInFullDeliveriesInOrder) {
  const auto& c = GetParam();
  const auto data = Pattern(c.bytes);
  SendBeforeOpen(data);
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(c.bytes));
  EXPECT_EQ(Sizes(), c.deliveries);
  EXPECT_EQ(All(), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Burst,
                         ::testing::Values(BurstCase{1, {1}}, BurstCase{37, {37}},
                                           BurstCase{500, {500}}, BurstCase{501, {501}},
                                           BurstCase{502, {501, 1}},
                                           BurstCase{1300, {501, 501, 298}}));

TEST_F(Receive, TrickledBytesComeOnceEachInOrder) {
  ASSERT_TRUE(port_.OpenDevice());
  std::vector<uint8_t> sent;
  uint8_t seed = 1;
  for (size_t chunk : {1, 3, 1, 10, 200, 1, 600, 2}) {
    const auto bytes = Pattern(chunk, seed++);
    pty_.Write(bytes);
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    ASSERT_TRUE(RunUntilTotal(sent.size())) << "after a chunk of " << chunk;
  }
  EXPECT_EQ(All(), sent);
  for (size_t size : Sizes()) {
    EXPECT_GE(size, 1u);
    EXPECT_LE(size, 501u);
  }
}

TEST_F(Receive, ReadDeviceFalseGivesOnlyTheFirstRead) {
  SendBeforeOpen(Pattern(10));
  port_.SetReadDevice(false);
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(1));
  // More bytes reach the port and stay unread: no read is in progress any more.
  pty_.Write(Pattern(5, 50));
  ASSERT_TRUE(pty_.WaitWaiting(9 + 5));
  loop_.RunFor(milliseconds(30));
  EXPECT_EQ(Sizes(), std::vector<size_t>{1});
  EXPECT_EQ(pty_.Waiting(), 14);
}

// A read of several bytes that has taken some of them stays in progress; its bytes come with
// its completion, never twice.
TEST_F(Receive, PartlyFilledReadIsDeliveredWhenItCompletes) {
  port_.SetWaitCountByte(4);
  const auto data = Pattern(14);
  SendBeforeOpen({data.begin(), data.begin() + 10});
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(8));
  EXPECT_EQ(Sizes(), std::vector<size_t>{8});
  pty_.Write({data.begin() + 10, data.end()});
  ASSERT_TRUE(RunUntilTotal(12));
  EXPECT_EQ(Sizes(), (std::vector<size_t>{8, 4}));
  EXPECT_EQ(All(), std::vector<uint8_t>(data.begin(), data.begin() + 12));
}

// WaitCountByte beyond what a delivery can hold is kept to 504 bytes per read, and a delivery
// that already holds more than 500 bytes takes no more.
TEST_F(Receive, HugeWaitCountByteStillFitsTheDelivery) {
  port_.SetWaitCountByte(5000);
  const auto data = Pattern(3 * 504);
  SendBeforeOpen(data);
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(RunUntilTotal(3 * 504));
  EXPECT_EQ(Sizes(), (std::vector<size_t>{504, 504, 504}));
  EXPECT_EQ(All(), data);
}

TEST_F(Receive, ReadTimeOutWithNoBytesRaisesOnTimeOutReceive) {
  int timeouts = 0;
  port_.OnTimeOutReceive = [&] { ++timeouts; };
  port_.TimeOutsForCOM().SetTimeOutsReadTotalConstant(10);
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(loop_.RunUntil([&] { return timeouts >= 2; }, kLong));
  pty_.Write({0x5A});
  ASSERT_TRUE(RunUntilTotal(1));
  EXPECT_EQ(All(), std::vector<uint8_t>{0x5A});
}

TEST_F(Receive, NoDeliveryAfterCloseDevice) {
  SendBeforeOpen(Pattern(5));
  ASSERT_TRUE(port_.OpenDevice());
  // The receive thread has taken the first byte and hands it to a window thread that is not
  // running: closing must not wait for it, and the hand-off must come to nothing.
  ASSERT_TRUE(pty_.WaitWaiting(4));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port_.CloseDevice());
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
  loop_.RunFor(milliseconds(20));
  EXPECT_TRUE(deliveries_.empty());
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(Receive, CloseDeviceInsideOnReceiveEndsDeliveries) {
  bool closed = false;
  port_.OnReceive = [&](const TMessageDevice& m) {
    deliveries_.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
    EXPECT_TRUE(port_.CloseDevice());
    closed = true;
  };
  ASSERT_TRUE(port_.OpenDevice());
  pty_.Write({1, 2, 3});
  ASSERT_TRUE(loop_.RunUntil([&] { return closed; }, kLong));
  EXPECT_FALSE(port_.IsOpen());
  pty_.Write({4, 5, 6});
  loop_.RunFor(milliseconds(20));
  EXPECT_EQ(deliveries_.size(), 1u);

  // The port opens again and receives.
  closed = false;
  ASSERT_TRUE(port_.OpenDevice());
  ASSERT_TRUE(loop_.RunUntil([&] { return closed; }, kLong));
  EXPECT_EQ(deliveries_.size(), 2u);
}

// The receive thread waits until a delivery's handler has returned, so bytes that come
// meanwhile make the next delivery, after it.
TEST_F(Receive, BytesArrivingDuringAHandlerComeInTheNextDelivery) {
  port_.OnReceive = [&](const TMessageDevice& m) {
    deliveries_.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
    total_ += m.Count;
    if (deliveries_.size() == 1) {
      pty_.Write({2, 3});
      EXPECT_TRUE(pty_.WaitWaiting(2));
    }
  };
  ASSERT_TRUE(port_.OpenDevice());
  pty_.Write({1});
  ASSERT_TRUE(RunUntilTotal(3));
  EXPECT_EQ(deliveries_, (std::vector<std::vector<uint8_t>>{{1}, {2, 3}}));
}

// A modal question runs a nested loop inside a task of the window thread (the no-answer
// question of the exchange): deliveries go on inside it.
TEST_F(Receive, DeliveriesRunInsideANestedLoop) {
  bool nested_done = false;
  ASSERT_TRUE(port_.OpenDevice());
  loop_.Post([&] {
    pty_.Write({1, 2, 3});
    nested_done = loop_.RunUntil([&] { return total_ >= 3; }, kLong);
  });
  ASSERT_TRUE(loop_.RunUntil([&] { return nested_done; }, kLong));
  EXPECT_EQ(All(), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(Receive, DestroyingThePortWithAHandOffPendingIsSafe) {
  auto port = std::make_unique<TCport>(loop_);
  port->SetNameDevice(pty_.Path());
  int received = 0;
  port->OnReceive = [&](const TMessageDevice&) { ++received; };
  SendBeforeOpen(Pattern(3));
  ASSERT_TRUE(port->OpenDevice());
  ASSERT_TRUE(pty_.WaitWaiting(2));
  port.reset();
  loop_.RunFor(milliseconds(20));
  EXPECT_EQ(received, 0);
}

}  // namespace
}  // namespace lovar
