// Deliveries of received bytes through the real TCport over a pseudo-terminal: the cases shared
// with Windows, and those that need to see the bytes waiting at the port.
#include <chrono>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "pty.h"
#include "receive_cases.h"

namespace lovar::test {
namespace {

using std::chrono::milliseconds;

// The far end of receive_cases.h on a pseudo-terminal.
struct PtyDevice {
  std::string Port() const { return pty->Path(); }
  bool Send(size_t n, uint8_t first) {
    pty->Write(Sequence(n, first));
    return true;
  }
  bool SendWaiting(size_t n, uint8_t first) {
    const int before = pty->Waiting();
    return Send(n, first) && pty->WaitWaiting(before + static_cast<int>(n));
  }
  bool HangUp() {
    pty = std::make_unique<Pty>();
    return true;
  }
  std::unique_ptr<Pty> pty = std::make_unique<Pty>();
};

INSTANTIATE_TYPED_TEST_SUITE_P(Pty, Receive, PtyDevice);

using PtyLine = Line<PtyDevice>;

// A read of several bytes that has taken some of them stays in progress; its bytes come with
// its completion, never twice.
TEST(ReceivePty, PartlyFilledReadIsDeliveredWhenItCompletes) {
  PtyLine l;
  l.port.SetWaitCountByte(4);
  ASSERT_TRUE(l.device.SendWaiting(10, 0));
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.RunUntilTotal(8));
  EXPECT_EQ(l.Sizes(), std::vector<size_t>{8});
  l.device.Send(4, 10);
  ASSERT_TRUE(l.RunUntilTotal(12));
  EXPECT_EQ(l.Sizes(), (std::vector<size_t>{8, 4}));
  EXPECT_EQ(l.All(), Sequence(12, 0));
}

TEST(ReceivePty, ReadTimeOutWithNoBytesRaisesOnTimeOutReceive) {
  PtyLine l;
  int timeouts = 0;
  l.port.OnTimeOutReceive = [&] { ++timeouts; };
  l.port.TimeOutsForCOM().SetTimeOutsReadTotalConstant(10);
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.loop.RunUntil([&] { return timeouts >= 2; }, kLong));
  l.device.Send(1, 0x5A);
  ASSERT_TRUE(l.RunUntilTotal(1));
  EXPECT_EQ(l.All(), std::vector<uint8_t>{0x5A});
}

// The receive thread has taken the first byte and hands it to a window thread that is not
// running: neither closing nor destroying the port waits for it, and the hand-off comes to
// nothing.
TEST(ReceivePty, APendingHandOffComesToNothingOnCloseOrDestruction) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "closed");
    PtyDevice device;
    EventLoop loop;
    auto port = std::make_unique<TCport>(loop);
    port->SetNameDevice(device.Port());
    int received = 0;
    port->OnReceive = [&](const TMessageDevice&) { ++received; };
    ASSERT_TRUE(device.SendWaiting(5, 0));
    ASSERT_TRUE(port->OpenDevice());
    ASSERT_TRUE(device.pty->WaitWaiting(4));
    const auto start = std::chrono::steady_clock::now();
    if (destroy) {
      port.reset();
    } else {
      EXPECT_TRUE(port->CloseDevice());
      EXPECT_FALSE(port->IsOpen());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
    loop.RunFor(milliseconds(20));
    EXPECT_EQ(received, 0);
  }
}

// The receive thread waits until a delivery's handler has returned, so bytes that come
// meanwhile make the next delivery, after it.
TEST(ReceivePty, BytesArrivingDuringAHandlerComeInTheNextDelivery) {
  PtyLine l;
  l.port.OnReceive = [&](const TMessageDevice& m) {
    l.Record(m);
    if (l.deliveries.size() == 1) {
      EXPECT_TRUE(l.device.SendWaiting(2, 2));
    }
  };
  ASSERT_TRUE(l.port.OpenDevice());
  l.device.Send(1, 1);
  ASSERT_TRUE(l.RunUntilTotal(3));
  EXPECT_EQ(l.deliveries, (std::vector<std::vector<uint8_t>>{{1}, {2, 3}}));
}

}  // namespace
}  // namespace lovar::test
