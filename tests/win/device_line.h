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

// Commands to the far end over the control port, each returning once the far end has done it;
// the Device of tests/serial/receive_cases.h. Made with nothing sent by either side so far.
class DeviceLine {
 public:
  DeviceLine();
  ~DeviceLine();
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

  std::string Port() const { return DataCom(); }
  // The bytes first, first+1, ... (mod 256); SendWaiting returns once they are all in the data
  // port's input queue.
  bool Send(size_t n, uint8_t first);
  bool SendWaiting(size_t n, uint8_t first);
  std::vector<uint8_t> Take(size_t n);  // the bytes the port under test sent
  bool HangUp();                        // then a fresh line under the same name

 private:
  std::string Command(const std::string& line);
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace lovar::wintest
