// TCport on the Win32 backend over a COM port that Wine maps onto a pseudo-terminal, with
// pty_device.py as the device: the receive cases shared with POSIX, writes and a missing port.
// clang-format off
#include "device_line.h"
#include "serial/receive_cases.h"
// clang-format on

#include <gtest/gtest.h>

#include <numeric>

namespace lovar::test {
namespace {

using wintest::DeviceLine;

TEST(TCportWin, WrittenBytesReachTheDeviceAndAreReported) {
  Line<DeviceLine> l;
  ASSERT_TRUE(l.device.ok()) << "no control port " << wintest::ControlCom();
  size_t transmitted = 0;
  l.port.OnTransmit = [&](int32_t count) { transmitted += static_cast<size_t>(count); };
  ASSERT_TRUE(l.port.OpenDevice());
  const std::vector<uint8_t> frame = Sequence(101, 0x80);
  l.port.WriteDevice(101, frame);
  EXPECT_EQ(l.device.Take(101), frame);
  EXPECT_TRUE(l.loop.RunUntil([&] { return transmitted == 101; }, kLong));
}

TEST(TCportWin, AMissingComPortFailsAsNoSuchPort) {
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice("COM77");
  EXPECT_FALSE(port.OpenDevice());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastError(), LinkError::NoSuchPort);
}

// After the tests above: the shared cases end with a hang-up.
INSTANTIATE_TYPED_TEST_SUITE_P(Com, Receive, DeviceLine);

}  // namespace
}  // namespace lovar::test
