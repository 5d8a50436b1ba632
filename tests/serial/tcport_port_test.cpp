// Opening, closing, writing and losing the line, and the line settings, through the real TCport
// over a pseudo-terminal; the POSIX names and error codes.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pty.h"
#include "serial/event_loop.h"
#include "serial/link_error.h"
#include "serial/port_backend.h"
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

// A mended fault: the tty's exclusive mode does not keep root out, so a second TCport run as
// root took a port in use. The lock keeps out everyone; a program that took the exclusive mode
// but no lock holds the port all the same.
TEST_F(Port, APortHeldElsewhereIsBusyUntilFreed) {
  ASSERT_EQ(ioctl(pty_.SlaveFd(), TIOCEXCL), 0);
  EXPECT_FALSE(port_.OpenDevice());
  EXPECT_EQ(port_.LastError(), LinkError::PortBusy);
  ASSERT_EQ(ioctl(pty_.SlaveFd(), TIOCNXCL), 0);

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

TEST_F(Port, AsyncOpenOfALocalPortEndsBeforeItReturns) {
  int calls = 0;
  port_.OpenDeviceAsync([&](bool opened) {
    ++calls;
    EXPECT_TRUE(opened);
  });
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_FALSE(port_.Opening());
}

// The connection is tried on a thread of its own; its end comes to the loop's thread.
TEST(AsyncOpen, NetworkPortEndsOnTheLoopWithItsError) {
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice("socket://127.0.0.1:1");  // nothing listens on port 1 here
  std::optional<bool> opened;
  std::thread::id ran_on;
  port.OpenDeviceAsync([&](bool ok) {
    opened = ok;
    ran_on = std::this_thread::get_id();
  });
  EXPECT_FALSE(opened.has_value());
  EXPECT_TRUE(port.Opening());
  EXPECT_FALSE(port.IsOpen());
  ASSERT_TRUE(loop.RunUntil([&] { return opened.has_value(); }, kLong * 3));
  EXPECT_FALSE(*opened);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(port.LastError(), LinkError::ConnectionRefused);
  EXPECT_FALSE(port.Opening());
}

TEST(OpenFails, LeavesThePortClosedAndSaysWhy) {
  const struct {
    const char* name;
    LinkError error;
  } rows[] = {{"/dev/lovar-no-such-port", LinkError::NoSuchPort},
              {"/nonexistent/ttyUSB0", LinkError::NoSuchPort},
              {"lovar-no-such-port", LinkError::NoSuchPort},  // relative: opened the same way
              {"/dev/null", LinkError::NotSerial},
              {"/dev", LinkError::NotSerial}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EventLoop loop;
    TCport port(loop);
    port.SetNameDevice(r.name);
    EXPECT_FALSE(port.OpenDevice());
    EXPECT_EQ(port.LastError(), r.error);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Connect());
    EXPECT_TRUE(port.CloseDevice());
    EXPECT_EQ(port.LastError(), r.error);
  }
}

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
  port_.RaiseRtsDtr();  // a pseudo-terminal has no modem lines: harmless
  port_.SetConnect(false);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.Connect());
}

// On a closed port a write sends nothing; on an open one, the smaller of Count and the buffer.
TEST_F(Port, WriteSendsTheSmallerOfCountAndTheBuffer) {
  const struct {
    int32_t count;
    size_t buffer;
    size_t sent;
  } rows[] = {{10, 3, 3}, {2, 3, 2}, {0, 3, 0}, {-5, 3, 0}, {101, 101, 101}, {5, 0, 0}};
  port_.WriteDevice(3, std::vector<uint8_t>{7, 8, 9});  // never opened
  ASSERT_TRUE(port_.OpenDevice());
  port_.CloseDevice();
  port_.WriteDevice(3, std::vector<uint8_t>{7, 8, 9});  // closed again
  ASSERT_TRUE(port_.OpenDevice());
  for (const auto& r : rows) {
    SCOPED_TRACE(r.count);
    const auto buffer = Pattern(r.buffer, 3);
    port_.WriteDevice(r.count, buffer);
    // A marker behind it shows where the write ended.
    port_.WriteDevice(1, std::vector<uint8_t>{0xEE});
    auto expected = std::vector<uint8_t>(buffer.begin(), buffer.begin() + r.sent);
    expected.push_back(0xEE);
    EXPECT_EQ(pty_.Read(expected.size()), expected);
  }
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
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port_.CloseDevice());
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
  EXPECT_EQ(port_.LastError(), LinkError::HungUp);
}

// BaudRate shows what the driver took: the pseudo-terminal keeps any standard rate, and rates
// between them become the standard one below.
TEST(Settings, BaudRateIsReadBack) {
  const struct {
    uint32_t set;
    uint32_t taken;
  } rows[] = {{9600, 9600}, {115200, 115200}, {9601, 9600}, {14400, 9600}, {10, 50}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.set);
    Pty pty;
    EventLoop loop;
    TCport port(loop);
    port.SetNameDevice(pty.Path());
    port.SetBaudRate(r.set);
    ASSERT_TRUE(port.OpenDevice());
    EXPECT_TRUE(port.IsComPort());
    EXPECT_EQ(port.BaudRate(), r.taken);
  }
}

TEST(Settings, LineSettingsAreWrittenRawAndReadBack) {
  Pty pty;
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice(pty.Path());
  port.SetBaudRate(9600);
  port.SetByteSize(7);
  port.SetParity(TParity::EVEN);
  port.SetStopBits(TStopBits::TWOSTOPBITS);
  port.FlagsForCOM().SetXONoutControl(true);
  port.FlagsForCOM().SetXONinControl(true);
  port.SetXonChar(0x05);
  port.SetXoffChar(0x06);
  ASSERT_TRUE(port.OpenDevice());

  termios t{};
  ASSERT_EQ(tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL | CSTOPB), tcflag_t(CLOCAL | CREAD | CSTOPB));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 0x05);
  EXPECT_EQ(t.c_cc[VSTOP], 0x06);
  // The DCB shows what the line really has: a pseudo-terminal may force 8 bits, no parity.
  const int bits = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS8 ? 8 : 0;
  EXPECT_EQ(port.ByteSize(), bits);
  EXPECT_EQ(port.Parity(), (t.c_cflag & PARENB) ? TParity::EVEN : TParity::NO);
  EXPECT_EQ(port.StopBits(), TStopBits::TWOSTOPBITS);
  EXPECT_TRUE(port.FlagsForCOM().XONoutControl());
  EXPECT_TRUE(port.FlagsForCOM().XONinControl());
  EXPECT_EQ(port.XonChar(), 0x05);
}

TEST(OsErrors, MapToLinkErrors) {
  const struct {
    int code;
    LinkError error;
  } rows[] = {{0, LinkError::None},
              {ENOENT, LinkError::NoSuchPort},
              {ENXIO, LinkError::NoSuchPort},
              {EBUSY, LinkError::PortBusy},
              {EWOULDBLOCK, LinkError::PortBusy},
              {EACCES, LinkError::AccessDenied},
              {EPERM, LinkError::AccessDenied},
              {ENOTTY, LinkError::NotSerial},
              {EIO, LinkError::Io},
              {ENOMEM, LinkError::Io}};
  for (const auto& r : rows) EXPECT_EQ(MapOsError(r.code), r.error) << r.code;
}

TEST(PortNames, AreAbsolutePaths) {
  for (const char* name : {"/dev/ttyUSB0", "/dev/pts/3"}) {
    EXPECT_TRUE(IsPortName(name) && IsComPortName(name)) << name;
  }
  for (const char* name : {"ttyS0", "COM1", ""}) {
    EXPECT_FALSE(IsPortName(name) || IsComPortName(name)) << name;
  }
}

}  // namespace
}  // namespace lovar
