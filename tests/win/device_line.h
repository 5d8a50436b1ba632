// The far end of the line for the Windows backend tests: the data port under test and the
// control port of tests/win/pty_device.py, which the test run links into the Wine prefix.
#pragma once

// clang-format off
#include "serial/dcb_win.h"
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace lovar::wintest {

// The COM names, from LOVAR_TEST_DATA_COM / LOVAR_TEST_CONTROL_COM (default COM5 and COM6).
std::string DataCom();
std::string ControlCom();

// The bytes first, first+1, ... (mod 256) that the commands B and T send.
std::vector<uint8_t> Pattern(size_t n, uint8_t first);

// Commands to the far end over the control port. Each returns once the far end has done it:
// for Burst and Trickle, once the bytes are in the data port's input queue.
class DeviceLine {
 public:
  DeviceLine();
  ~DeviceLine();
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

  bool Burst(size_t n, uint8_t first);    // all at once
  bool Trickle(size_t n, uint8_t first);  // one at a time, each after the last was read
  std::vector<uint8_t> Take(size_t n);    // the bytes the port under test sent
  bool Flush();                           // forget what either side has sent so far
  bool HangUp();                          // then a fresh line under the same name

 private:
  std::string Command(const std::string& line);
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace lovar::wintest
