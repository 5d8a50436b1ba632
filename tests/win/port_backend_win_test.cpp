// The Win32 backend against a COM port that Wine maps onto a pseudo-terminal, with
// pty_device.py as the device. Each test reads and drains exactly as the receive thread and
// TCport's completion handler do.
// clang-format off
#include "device_line.h"
#include "serial/port_backend.h"
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace lovar::wintest {
namespace {

constexpr uint32_t kDeliveryLimit = 500;

class PortBackendWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.ok()) << "no control port " << ControlCom();
    ASSERT_TRUE(device_.Flush());
    TDCB dcb;
    dcb.BaudRate = 9600;
    LinkError error = LinkError::None;
    port_ = PortBackend::Open(DataCom(), dcb, true, error);
    ASSERT_TRUE(port_) << "cannot open " << DataCom();
    port_->ApplyTimeouts(TCOMMTIMEOUTS{});
  }

  // One delivery: waits for the read in progress, then drains what has arrived, ending once it
  // holds more than 500 bytes; keeps reading as TCport does. Empty when the wait did not end
  // with a read.
  std::vector<uint8_t> NextDelivery() {
    uint32_t events = 0;
    last_wait_ = port_->Wait(0, events);
    std::vector<uint8_t> got;
    if (last_wait_ != WaitResult::ReadDone) return got;
    uint8_t buf[PortBackend::kMaxRead];
    uint32_t n = port_->TakeCompletedRead(buf);
    got.insert(got.end(), buf, buf + n);
    for (;;) {
      uint32_t more = 0;
      ReadStart start = port_->ReadNow(buf, 1, more);
      if (start != ReadStart::Done) break;
      got.insert(got.end(), buf, buf + more);
      if (got.size() > kDeliveryLimit) {
        port_->ArmRead(1);  // the last read finished at once: keep reading with a new one
        break;
      }
    }
    return got;
  }

  DeviceLine device_;
  std::unique_ptr<PortBackend> port_;
  WaitResult last_wait_ = WaitResult::Failed;
};

TEST_F(PortBackendWin, BurstOfUpTo500BytesIsOneDelivery) {
  ASSERT_TRUE(device_.Burst(500, 7));
  port_->ArmRead(1);
  EXPECT_EQ(NextDelivery(), Pattern(500, 7));
}

TEST_F(PortBackendWin, MoreThan500WaitingBytesComeInOrderOverSeveralDeliveries) {
  ASSERT_TRUE(device_.Burst(1300, 3));
  port_->ArmRead(1);
  std::vector<uint8_t> all;
  int deliveries = 0;
  while (all.size() < 1300) {
    std::vector<uint8_t> d = NextDelivery();
    ASSERT_EQ(last_wait_, WaitResult::ReadDone);
    ASSERT_LE(d.size(), kDeliveryLimit + 1);
    all.insert(all.end(), d.begin(), d.end());
    ++deliveries;
  }
  EXPECT_EQ(all, Pattern(1300, 3));  // none lost, none repeated
  EXPECT_EQ(deliveries, 3);          // 501 + 501 + 298
}

TEST_F(PortBackendWin, TrickledBytesEachComeOnceInOrder) {
  port_->ArmRead(1);
  std::thread far_end([&] { device_.Trickle(40, 100); });
  std::vector<uint8_t> all;
  while (all.size() < 40) {
    std::vector<uint8_t> d = NextDelivery();
    ASSERT_EQ(last_wait_, WaitResult::ReadDone);
    all.insert(all.end(), d.begin(), d.end());
  }
  far_end.join();
  EXPECT_EQ(all, Pattern(40, 100));
}

TEST_F(PortBackendWin, WithoutANewReadNothingMoreIsDelivered) {
  // ReadDevice False: the one read completes, no read follows, and the next wait is woken
  // only by the stop request even though bytes keep arriving.
  ASSERT_TRUE(device_.Burst(3, 1));
  port_->ArmRead(1);
  uint32_t events = 0;
  ASSERT_EQ(port_->Wait(0, events), WaitResult::ReadDone);
  uint8_t buf[PortBackend::kMaxRead];
  EXPECT_EQ(port_->TakeCompletedRead(buf), 1u);
  ASSERT_TRUE(device_.Burst(5, 9));
  std::atomic<bool> woke{false};
  WaitResult second = WaitResult::Failed;
  std::thread receiver([&] {
    second = port_->Wait(0, events);
    woke = true;
  });
  port_->Stop();
  receiver.join();
  EXPECT_EQ(second, WaitResult::Stop);
}

TEST_F(PortBackendWin, StopWakesAWaitOnAnIdleLine) {
  port_->ArmRead(1);
  WaitResult result = WaitResult::Failed;
  std::thread receiver([&] {
    uint32_t events = 0;
    result = port_->Wait(0, events);
  });
  port_->Stop();
  receiver.join();
  EXPECT_EQ(result, WaitResult::Stop);
  uint32_t events = 0;
  EXPECT_EQ(port_->Wait(0, events), WaitResult::Stop);  // and every later wait too
}

TEST_F(PortBackendWin, WriteIsSentAndReportedWhenDone) {
  std::vector<uint8_t> frame = Pattern(101, 0xF0);
  port_->StartWrite(frame.data(), 60, false);
  port_->StartWrite(frame.data() + 60, 41, true);
  uint32_t events = 0;
  uint32_t written = 0;
  while (written < 101) {
    ASSERT_EQ(port_->Wait(0, events), WaitResult::WriteDone);
    written += port_->TakeWritten();
  }
  EXPECT_EQ(written, 101u);
  EXPECT_EQ(device_.Take(101), frame);
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(PortBackendWin, APortHeldByAnotherOpenFailsToOpen) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not make a serial device exclusive";
  TDCB dcb;
  LinkError error = LinkError::None;
  EXPECT_FALSE(PortBackend::Open(DataCom(), dcb, true, error));
  EXPECT_EQ(error, LinkError::PortBusy);
}

// The same exclusive open on a file, which Wine does keep exclusive: the backend asks for no
// sharing, and a refusal reads as a busy port.
TEST(PortBackendWinOpen, ANameHeldByAnotherOpenFailsToOpenAsBusy) {
  const char* path = "C:\\lovar-held-port";
  HANDLE holder = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  TDCB dcb;
  LinkError error = LinkError::None;
  EXPECT_FALSE(PortBackend::Open(path, dcb, false, error));
  EXPECT_EQ(error, LinkError::PortBusy);
  CloseHandle(holder);
  auto port = PortBackend::Open(path, dcb, false, error);
  EXPECT_TRUE(port) << "free again once the holder has closed it";
  port.reset();
  DeleteFileA(path);
}

TEST_F(PortBackendWin, AReleasedPortCanBeOpenedAgain) {
  port_->ReleasePort();
  EXPECT_TRUE(port_->Released());
  TDCB dcb;
  LinkError error = LinkError::None;
  EXPECT_TRUE(PortBackend::Open(DataCom(), dcb, true, error));
}

TEST_F(PortBackendWin, AMissingPortIsNoSuchPort) {
  TDCB dcb;
  LinkError error = LinkError::None;
  EXPECT_FALSE(PortBackend::Open("COM77", dcb, true, error));
  EXPECT_EQ(error, LinkError::NoSuchPort);
}

TEST_F(PortBackendWin, AfterReleaseNothingTouchesThePort) {
  port_->ArmRead(1);
  port_->ReleasePort();
  port_->ReleasePort();  // any number of times
  uint8_t byte = 0x55;
  port_->StartWrite(&byte, 1, true);
  uint32_t events = 0;
  EXPECT_EQ(port_->Wait(0, events), WaitResult::Stop);
  uint32_t got = 0;
  EXPECT_EQ(port_->ReadNow(&byte, 1, got), ReadStart::Failed);
}

// Last: the far end hangs up while a read is in progress.
TEST_F(PortBackendWin, HangUpMidReadEndsReceptionAsHungUp) {
  port_->ArmRead(1);
  ASSERT_TRUE(device_.HangUp());
  uint32_t events = 0;
  WaitResult r = port_->Wait(0, events);
  // Some drivers complete the read empty before failing the next one.
  for (int i = 0; i < 3 && r == WaitResult::ReadDone; ++i) {
    uint8_t buf[PortBackend::kMaxRead];
    port_->TakeCompletedRead(buf);
    port_->ArmRead(1);
    r = port_->Wait(0, events);
  }
  EXPECT_EQ(r, WaitResult::Failed);
  EXPECT_EQ(port_->FailureReason(), LinkError::HungUp);
}

}  // namespace
}  // namespace lovar::wintest
