// The Win32 backend against a COM port that Wine maps onto a pseudo-terminal, with
// pty_device.py as the device: the stop, the release and the exclusive open. Reception and
// writes go through TCport in tcport_win_test.cpp.
// clang-format off
#include "device_line.h"
#include "serial/port_backend.h"
// clang-format on

#include <gtest/gtest.h>

#include <thread>

namespace lovar::wintest {
namespace {

class PortBackendWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.ok()) << "no control port " << ControlCom();
    TDCB dcb;
    dcb.BaudRate = 9600;
    LinkError error = LinkError::None;
    port_ = PortBackend::Open(DataCom(), dcb, true, error);
    ASSERT_TRUE(port_) << "cannot open " << DataCom();
    port_->ApplyTimeouts(TCOMMTIMEOUTS{});
  }

  DeviceLine device_;
  std::unique_ptr<PortBackend> port_;
};

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

// Wine does not make a serial device exclusive, but does a file: the backend asks for no
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
  // Free again once the holder has closed it, and then a plain file is refused as no port.
  EXPECT_FALSE(PortBackend::Open(path, dcb, false, error));
  EXPECT_EQ(error, LinkError::NotSerial);
  DeleteFileA(path);
}

// Released any number of times, the handle is gone: the port opens again, and nothing more is
// read, written or waited for on it.
TEST_F(PortBackendWin, AfterReleaseNothingTouchesThePort) {
  port_->ArmRead(1);
  port_->ReleasePort();
  port_->ReleasePort();
  EXPECT_TRUE(port_->Released());
  uint8_t byte = 0x55;
  port_->StartWrite(&byte, 1, true);
  uint32_t events = 0;
  EXPECT_EQ(port_->Wait(0, events), WaitResult::Stop);
  uint32_t got = 0;
  EXPECT_EQ(port_->ReadNow(&byte, 1, got), ReadStart::Failed);
  TDCB dcb;
  LinkError error = LinkError::None;
  EXPECT_TRUE(PortBackend::Open(DataCom(), dcb, true, error));
}

}  // namespace
}  // namespace lovar::wintest
