// The one seam between TCport and the operating system. One source file per OS implements it
// (port_backend_posix.cpp, port_backend_win.cpp), chosen by CMake; nothing above it is
// OS-specific.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/link_error.h"
#include "serial/tcport_types.h"

namespace lovar {

// Maps an operating-system error code (errno, GetLastError) to the link's error enum.
LinkError MapOsError(int code);

// Whether name is a port name on this platform (the name tests of the port list and of the
// search): an absolute device path on POSIX, a name beginning with "C" on Windows.
bool IsPortName(const std::string& name);

// Whether the DCB, the event mask and the modem status apply to name: the same rule as
// IsPortName on POSIX, a name beginning with "CO" on Windows.
bool IsComPortName(const std::string& name);

// What one wait of the receive thread returned; the values are the spec'd event indices.
enum class WaitResult : int32_t {
  Failed = -1,    // the wait failed, or the line hung up: reception ends
  Stop = 0,       // Stop() was called
  LineEvent = 1,  // a line event of the mask given to Wait
  ReadDone = 2,   // bytes are waiting (the pending read completed)
  WriteDone = 3,  // the last started write has completed
};

// An open port. Created on the window thread by Open; Wait and Stop are for the receive
// thread and for CloseDevice, every other member runs on the window thread.
class PortBackend {
 public:
  // Opens name exclusively for reading and writing without blocking. When apply_dcb is set the
  // DCB is written to the port and read back into dcb, so dcb shows what the driver took.
  // Returns null and sets error when the port cannot be opened.
  static std::unique_ptr<PortBackend> Open(const std::string& name, TDCB& dcb, bool apply_dcb,
                                           LinkError& error);
  ~PortBackend();
  PortBackend(const PortBackend&) = delete;
  PortBackend& operator=(const PortBackend&) = delete;

  void ApplyTimeouts(const TCOMMTIMEOUTS& timeouts);

  // Receive thread: sleeps until the stop event, a line event of event_mask (when nonzero),
  // waiting bytes (when reading) or a completed write. Never busy-polls.
  WaitResult Wait(uint32_t event_mask, bool reading, uint32_t& events_out);

  // Any thread: wakes Wait with WaitResult::Stop. Stays signalled until ResetStop().
  void Stop();
  void ResetStop();

  // Window thread, while the receive thread is blocked in a hand-off: the byte count of the
  // read that completed (ReadDone), moved into buf (up to max). Then ReadNow drains: reads up
  // to max bytes that have already arrived, returns their count, 0 when none are waiting (a
  // read is left pending where the OS needs one), or -1 when the read failed.
  int32_t TakeCompletedRead(uint8_t* buf, size_t max);
  int32_t ReadNow(uint8_t* buf, size_t max);

  // Window thread: starts writing and returns at once. Completion wakes Wait with WriteDone;
  // TakeWritten() then gives its byte count.
  void StartWrite(const uint8_t* data, size_t count);
  uint32_t TakeWritten();

  void SetRts();
  void SetDtr();
  uint32_t ModemStatus();

  // Receive thread, as its last step: releases the OS port so that another program may open it.
  // Safe against a concurrent StartWrite on the window thread (which then sends nothing).
  void ReleasePort();

 private:
  struct Os;
  explicit PortBackend(std::unique_ptr<Os> os);
  std::unique_ptr<Os> os_;
};

}  // namespace lovar
