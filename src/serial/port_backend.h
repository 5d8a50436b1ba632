// The one seam between TCport and the operating system. One source file per OS implements it
// (port_backend_posix.cpp, port_backend_win.cpp), chosen by CMake; nothing above it is
// OS-specific.
//
// The model is the Windows one of overlapped I/O: an open port has at most one read in
// progress, owned by the backend together with its buffer, and writes that are started and left
// to finish. The receive thread sleeps in Wait() until something completes; TCport's
// completion handler then runs on the window thread while the receive thread is blocked, and
// it is only then (or before the receive thread starts) that the read members are called. So
// the read members never run concurrently with Wait(), and need no lock of their own.
//
// Threads, member by member:
//   window thread, before the receive thread starts: Open, ApplyTimeouts, ArmRead
//   window thread, while the receive thread is blocked in a hand-off: ArmRead, ReadNow,
//     TakeCompletedRead
//   window thread, any time: StartWrite, SetRts, SetDtr, ModemStatus
//   receive thread: Wait, TakeWritten, FailureReason
//   any thread: Stop, ReleasePort, Released, the destructor (by the last owner, once no other
//     member can be running)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/link_error.h"
#include "serial/tcport_types.h"

namespace lovar {

// Maps an operating-system error code (errno, GetLastError) to the link's error enum. The one
// place where OS codes become LinkError.
LinkError MapOsError(int code);

// Whether name is a port name on this platform (the name tests of the port list and of the
// search): an absolute device path on POSIX, a name beginning with "C" on Windows.
bool IsPortName(const std::string& name);

// Whether the DCB, the event mask and the modem status apply to name: the same rule as
// IsPortName on POSIX, a name beginning with "CO" on Windows.
bool IsComPortName(const std::string& name);

// What one wait of the receive thread returned; the values are the event indices of the
// receive thread (stop, line event, read, write).
enum class WaitResult : int32_t {
  Failed = -1,    // the wait failed, or the line hung up: reception ends (see FailureReason)
  Stop = 0,       // Stop() was called
  LineEvent = 1,  // a line event of the mask given to Wait
  ReadDone = 2,   // the read in progress has completed (TakeCompletedRead gives its bytes)
  WriteDone = 3,  // the writes started with notify have all completed (TakeWritten)
};

// How a read started by ReadNow went.
enum class ReadStart {
  Done,     // it finished at once; its bytes were copied out
  Pending,  // it stays in progress; Wait reports its completion as ReadDone
  Failed,   // it failed outright; no read is in progress
};

// An open port.
class PortBackend {
 public:
  // The most bytes one read asks for. A delivery holds at most 500 plus one read, so this
  // keeps it inside the 1004-byte TMessageDevice.
  static constexpr uint32_t kMaxRead = 504;

  // Window thread. Opens name exclusively for reading and writing without blocking; fails
  // while another program holds the port. When apply_dcb is set, the DCB is written to the
  // port and read back into dcb, so dcb shows what the driver took, and DTR and RTS are
  // lowered when their control is DISABLE. Returns null and sets error when the port cannot
  // be opened.
  static std::unique_ptr<PortBackend> Open(const std::string& name, TDCB& dcb, bool apply_dcb,
                                           LinkError& error);
  // Closes what is still open (the OS port unless released, and the backend's own objects).
  ~PortBackend();
  PortBackend(const PortBackend&) = delete;
  PortBackend& operator=(const PortBackend&) = delete;

  // Window thread, before the receive thread starts: the read time-outs for later reads.
  void ApplyTimeouts(const TCOMMTIMEOUTS& timeouts);

  // Starts a read of count (1..kMaxRead) bytes whose completion is always reported by Wait as
  // ReadDone, even when the bytes are already there. Used for the first read and to keep
  // reading once a delivery is full.
  void ArmRead(uint32_t count);

  // The drain: starts a read of count (1..kMaxRead) bytes. Done when it finished at once, with
  // its bytes in buf and their count in got (0 only if a time-out let it finish empty);
  // Pending when it stays in progress (bytes it already took stay with it); Failed when it
  // failed outright.
  ReadStart ReadNow(uint8_t* buf, uint32_t count, uint32_t& got);

  // After Wait returned ReadDone: moves the completed read's bytes into buf (room for
  // kMaxRead) and returns their count, 0 when a time-out ended it with none. No read is in
  // progress afterwards.
  uint32_t TakeCompletedRead(uint8_t* buf);

  // Receive thread: sleeps until the stop request, a line event of event_mask (when nonzero;
  // its bits into events_out), the completion of the read in progress, a completed write or a
  // hang-up. Never busy-polls.
  WaitResult Wait(uint32_t event_mask, uint32_t& events_out);

  // Receive thread, after Wait returned Failed: HungUp for a hung-up line or an unplugged
  // adapter, otherwise the error of the wait.
  LinkError FailureReason() const;

  // Any thread: wakes Wait with WaitResult::Stop; every later Wait returns Stop at once.
  void Stop();

  // Window thread: starts sending count bytes (copied, so data may be reused at once) and
  // returns without waiting. Bytes the OS does not take at once are kept and sent in order as
  // it accepts them; none is lost. With notify set, Wait reports WriteDone once everything
  // started so far has been sent. After ReleasePort nothing is sent.
  void StartWrite(const uint8_t* data, size_t count, bool notify);

  // Receive thread, after WriteDone: the bytes sent by the completed writes since the last
  // call.
  uint32_t TakeWritten();

  // Window thread: raise RTS, raise DTR, read the modem status word (the Windows MS_ bits).
  // Refusal by the driver is ignored; after ReleasePort they do nothing.
  void SetRts();
  void SetDtr();
  uint32_t ModemStatus();

  // Any thread, any number of times: lets go of the OS port so that another program may open
  // it. Safe against every other member running concurrently on another thread: they then
  // touch nothing of the port (a write sends nothing, a wait returns Failed or Stop).
  void ReleasePort();
  bool Released() const;

 private:
  struct Os;
  explicit PortBackend(std::unique_ptr<Os> os);
  std::unique_ptr<Os> os_;
};

}  // namespace lovar
