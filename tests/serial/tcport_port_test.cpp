// Opening, closing, writing and losing the line, through the real TCport over a
// pseudo-terminal.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pty.h"
#include "serial/event_loop.h"
#include "serial/link_error.h"
#include "serial/port_list.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

using std::chrono::milliseconds;
using test::Pattern;
using test::Pty;

constexpr milliseconds kLong(5000);

class Port : public ::testing::Test {
 protected:
  void SetUp() override { port_.SetNameDevice(pty_.Path()); }
  Pty pty_;
  EventLoop loop_;
  TCport port_{loop_};
};

TEST_F(Port, OpenAndCloseOnAnIdleLine) {
  ASSERT_TRUE(port_.OpenDevice());
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_TRUE(port_.Connect());
  EXPECT_EQ(port_.LastError(), LinkError::None);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port_.CloseDevice());
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.Connect());
  // Closed for good: another program can have it now.
  EXPECT_TRUE(ComPortAvailable(pty_.Path()));
}

TEST_F(Port, CloseDeviceOnAClosedPortChangesNothing) {
  EXPECT_TRUE(port_.CloseDevice());
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.Connect());
  EXPECT_EQ(port_.LastError(), LinkError::None);
}

TEST_F(Port, PortHeldByAnotherTCportIsBusy) {
  ASSERT_TRUE(port_.OpenDevice());
  TCport other(loop_);
  other.SetNameDevice(pty_.Path());
  EXPECT_FALSE(other.OpenDevice());
  EXPECT_EQ(other.LastError(), LinkError::PortBusy);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_FALSE(other.Connect());
  EXPECT_FALSE(ComPortAvailable(pty_.Path()));

  port_.CloseDevice();
  EXPECT_TRUE(other.OpenDevice());
  EXPECT_EQ(other.LastError(), LinkError::None);
}

// Another program that took the tty's exclusive mode but no lock holds it all the same.
TEST_F(Port, PortInExclusiveModeElsewhereIsBusy) {
  ASSERT_EQ(ioctl(pty_.SlaveFd(), TIOCEXCL), 0);
  EXPECT_FALSE(port_.OpenDevice());
  EXPECT_EQ(port_.LastError(), LinkError::PortBusy);
  EXPECT_FALSE(ComPortAvailable(pty_.Path()));
  ASSERT_EQ(ioctl(pty_.SlaveFd(), TIOCNXCL), 0);
  EXPECT_TRUE(port_.OpenDevice());
}

struct OpenFailure {
  const char* what;
  std::string name;
  LinkError error;
};

class OpenFails : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFails, LeavesThePortClosedAndSaysWhy) {
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice(GetParam().name);
  EXPECT_FALSE(port.OpenDevice());
  EXPECT_EQ(port.LastError(), GetParam().error);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Connect());
  EXPECT_TRUE(port.CloseDevice());
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenFails,
    ::testing::Values(OpenFailure{"missing", "/dev/lovar-no-such-port", LinkError::NoSuchPort},
                      OpenFailure{"missing folder", "/nonexistent/ttyUSB0", LinkError::NoSuchPort},
                      OpenFailure{"not a tty", "/dev/null", LinkError::NotSerial},
                      OpenFailure{"a folder", "/dev", LinkError::NotSerial}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name;
    });

TEST_F(Port, ConnectOpensTheHandleWithoutReceiving) {
  int received = 0;
  port_.OnReceive = [&](const TMessageDevice&) { ++received; };
  port_.SetConnect(true);
  ASSERT_TRUE(port_.Connect());
  EXPECT_TRUE(port_.IsOpen());
  pty_.Write({1, 2, 3});
  ASSERT_TRUE(pty_.WaitWaiting(3));
  loop_.RunFor(milliseconds(20));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(pty_.Waiting(), 3);  // nobody reads them
  const std::vector<uint8_t> out = {0x10, 0x20};
  port_.WriteDevice(2, out);
  EXPECT_EQ(pty_.Read(2), out);
  port_.SetConnect(false);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.Connect());
}

struct WriteCase {
  int32_t count;
  size_t buffer;
  size_t sent;
};

class WriteCount : public Port, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteCount, SendsTheSmallerOfCountAndTheBuffer) {
  ASSERT_TRUE(port_.OpenDevice());
  const auto buffer = Pattern(GetParam().buffer, 3);
  port_.WriteDevice(GetParam().count, buffer);
  // A marker behind it shows where the write ended.
  port_.WriteDevice(1, std::vector<uint8_t>{0xEE});
  auto expected = std::vector<uint8_t>(buffer.begin(), buffer.begin() + GetParam().sent);
  expected.push_back(0xEE);
  EXPECT_EQ(pty_.Read(expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, WriteCount,
                         ::testing::Values(WriteCase{10, 3, 3}, WriteCase{2, 3, 2},
                                           WriteCase{0, 3, 0}, WriteCase{-5, 3, 0},
                                           WriteCase{101, 101, 101}, WriteCase{5, 0, 0}));

TEST_F(Port, WriteOnAClosedPortSendsNothing) {
  port_.WriteDevice(3, std::vector<uint8_t>{7, 8, 9});  // never opened
  ASSERT_TRUE(port_.OpenDevice());
  port_.CloseDevice();
  port_.WriteDevice(3, std::vector<uint8_t>{7, 8, 9});  // closed again
  ASSERT_TRUE(port_.OpenDevice());
  port_.WriteDevice(2, std::vector<uint8_t>{0x41, 0x42});
  EXPECT_EQ(pty_.Read(2), (std::vector<uint8_t>{0x41, 0x42}));
  EXPECT_TRUE(pty_.ReadAvailable().empty());
}

// Far more than the line buffers at once: the rest goes out as the device reads, in order, and
// OnTransmit counts every byte.
TEST_F(Port, WriteLargerThanTheLineTakesIsSentWhole) {
  size_t transmitted = 0;
  port_.OnTransmit = [&](int32_t count) { transmitted += static_cast<size_t>(count); };
  ASSERT_TRUE(port_.OpenDevice());
  const auto data = Pattern(256 * 1024, 9);
  port_.WriteDevice(static_cast<int32_t>(data.size()), data);
  std::vector<uint8_t> got;
  bool read_all = false;
  std::thread device([&] {
    got = pty_.Read(data.size());
    loop_.Post([&] { read_all = true; });
  });
  EXPECT_TRUE(loop_.RunUntil([&] { return transmitted >= data.size() && read_all; },
                             std::chrono::seconds(20)));
  device.join();
  EXPECT_EQ(transmitted, data.size());
  EXPECT_EQ(got, data);
}

TEST_F(Port, OnTransmitReportsTheBytesOfACompletedWrite) {
  std::vector<int32_t> counts;
  port_.OnTransmit = [&](int32_t count) { counts.push_back(count); };
  ASSERT_TRUE(port_.OpenDevice());
  port_.WriteDevice(9, Pattern(9));
  ASSERT_TRUE(loop_.RunUntil([&] { return !counts.empty(); }, kLong));
  EXPECT_EQ(counts, std::vector<int32_t>{9});
}

TEST_F(Port, HangUpEndsReceptionAndThePortCountsAsClosed) {
  int received = 0;
  port_.OnReceive = [&](const TMessageDevice& m) { received += m.Count; };
  ASSERT_TRUE(port_.OpenDevice());
  pty_.Write({1, 2});
  ASSERT_TRUE(loop_.RunUntil([&] { return received == 2; }, kLong));
  pty_.CloseMaster();
  ASSERT_TRUE(loop_.RunUntil([&] { return !port_.IsOpen(); }, kLong));
  EXPECT_EQ(port_.LastError(), LinkError::HungUp);
  EXPECT_TRUE(port_.Connect());                      // kept until CloseDevice
  port_.WriteDevice(2, std::vector<uint8_t>{1, 2});  // sends nothing, fails nothing
  port_.RaiseRtsDtr();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port_.CloseDevice());
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
  EXPECT_FALSE(port_.Connect());
  EXPECT_EQ(port_.LastError(), LinkError::HungUp);
}

// The receive thread lets go of a hung-up port while the window thread keeps writing to it.
TEST_F(Port, HangUpDuringWritesIsSafe) {
  ASSERT_TRUE(port_.OpenDevice());
  std::thread device([&] {
    pty_.Read(300);
    pty_.CloseMaster();
  });
  const auto until = std::chrono::steady_clock::now() + kLong;
  const auto bytes = Pattern(30);
  while (port_.IsOpen() && std::chrono::steady_clock::now() < until) {
    port_.WriteDevice(static_cast<int32_t>(bytes.size()), bytes);
    loop_.RunFor(milliseconds(1));
  }
  device.join();
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(port_.LastError(), LinkError::HungUp);
  EXPECT_TRUE(port_.CloseDevice());
}

// After a hang-up the port opens again without an explicit CloseDevice first.
TEST_F(Port, OpenDeviceAfterAHangUpOpensAgain) {
  ASSERT_TRUE(port_.OpenDevice());
  pty_.CloseMaster();
  ASSERT_TRUE(loop_.RunUntil([&] { return !port_.IsOpen(); }, kLong));
  Pty fresh;
  port_.SetNameDevice(fresh.Path());
  ASSERT_TRUE(port_.OpenDevice());
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(port_.LastError(), LinkError::None);
  int received = 0;
  port_.OnReceive = [&](const TMessageDevice& m) { received += m.Count; };
  fresh.Write({5});
  EXPECT_TRUE(loop_.RunUntil([&] { return received == 1; }, kLong));
}

TEST_F(Port, RaiseRtsDtrOnAPortThatRefusesItIsHarmless) {
  ASSERT_TRUE(port_.OpenDevice());
  port_.RaiseRtsDtr();  // a pseudo-terminal has no modem lines
  EXPECT_TRUE(port_.IsOpen());
}

TEST(PortList, ListsOnlyAbsolutePathsThatOpenInNaturalOrder) {
  const auto ports = FillComPorts();
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].front(), '/');
    EXPECT_TRUE(ComPortAvailable(ports[i])) << ports[i];
    if (i > 0) {
      EXPECT_TRUE(PortNameLess(ports[i - 1], ports[i]));
    }
  }
}

}  // namespace
}  // namespace lovar
