// The one seam between TCport and what carries its bytes. Two kinds of link implement it: the
// serial port of the OS (one source file per OS, port_backend_posix.cpp and port_backend_win.cpp,
// chosen by CMake) and the network link to a serial device server (net_backend.cpp, over the
// socket of net_socket.h). Open picks one by the port's name; nothing above it knows which.
//
// The model is the Windows one of overlapped I/O: an open port has at most one read in
// progress, owned by the backend together with its buffer, and writes that are started and left
// to finish. The receive thread sleeps in Wait() until something completes; TCport's
// completion handler then runs on the window thread while the receive thread is blocked, and
// it is only then (or before the receive thread starts) that the read members are called. So
// the read members never run concurrently with Wait(), and need no lock of their own.
//
// Threads, member by member:
//   window thread, before the receive thread starts: Open, ApplyTimeouts, ArmRead (Open may
//     also run on a thread of its own, TCport::OpenDeviceAsync: it shares nothing)
//   window thread, while the receive thread is blocked in a hand-off: ArmRead, ReadNow,
//     TakeCompletedRead
//   window thread, any time: StartWrite, SetRts, SetDtr, ModemStatus, RoundTrip
//   receive thread: Wait, TakeWritten, FailureReason
//   any thread: Stop, ReleasePort, Released, the destructor (by the last owner, once no other
//     member can be running)
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/link_error.h"
#include "serial/message_device.h"
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
  // The most bytes one read asks for. A delivery holds at most kDeliveryEndsAfter plus one
  // read, so this keeps it inside the TMessageDevice.
  static constexpr uint32_t kMaxRead = 504;

  // Window thread (or any one thread: it shares nothing). Opens name exclusively for reading and writing without blocking on the
  // port: a network port for a socket:// or rfc2217:// name (see net_address.h), otherwise the
  // serial port of that name. Returns null and sets error when it cannot be opened.
  //
  // A serial port fails while another program holds it. When apply_dcb is set, the DCB is
  // written to the port and read back into dcb, so dcb shows what the driver took, and DTR and
  // RTS are lowered when their control is DISABLE.
  //
  // A network port connects within a time-out (the only wait of Open, bounded); apply_dcb does
  // not concern it. An rfc2217:// port always sends the DCB's line settings and control lines
  // to the server and reads back into dcb what it took; a socket:// port leaves the line to the
  // server's own settings.
  static std::unique_ptr<PortBackend> Open(const std::string& name, TDCB& dcb, bool apply_dcb,
                                           LinkError& error);
  // Closes what is still open (the OS port unless released, and the backend's own objects).
  virtual ~PortBackend() = default;

  // Window thread, before the receive thread starts: the read time-outs for later reads.
  virtual void ApplyTimeouts(const TCOMMTIMEOUTS& timeouts) = 0;

  // Starts a read of count (1..kMaxRead) bytes whose completion is always reported by Wait as
  // ReadDone, even when the bytes are already there. Used for the first read and to keep
  // reading once a delivery is full.
  virtual void ArmRead(uint32_t count) = 0;

  // The drain: starts a read of count (1..kMaxRead) bytes. Done when it finished at once, with
  // its bytes in buf and their count in got (0 only if a time-out let it finish empty);
  // Pending when it stays in progress (bytes it already took stay with it); Failed when it
  // failed outright.
  virtual ReadStart ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) = 0;

  // After Wait returned ReadDone: moves the completed read's bytes into buf (room for
  // kMaxRead) and returns their count, 0 when a time-out ended it with none. No read is in
  // progress afterwards.
  virtual uint32_t TakeCompletedRead(uint8_t* buf) = 0;

  // Receive thread: sleeps until the stop request, a line event of event_mask (when nonzero;
  // its bits into events_out), the completion of the read in progress, a completed write or a
  // hang-up. Never busy-polls.
  virtual WaitResult Wait(uint32_t event_mask, uint32_t& events_out) = 0;

  // Receive thread, after Wait returned Failed: HungUp for a hung-up line, an unplugged
  // adapter or a closed connection, otherwise the error of the wait.
  virtual LinkError FailureReason() const = 0;

  // Any thread: wakes Wait with WaitResult::Stop; every later Wait returns Stop at once.
  virtual void Stop() = 0;

  // Window thread: starts sending count bytes (copied, so data may be reused at once) and
  // returns without waiting. Bytes the OS does not take at once are kept and sent in order as
  // it accepts them; none is lost. With notify set, Wait reports WriteDone once everything
  // started so far has been sent. After ReleasePort nothing is sent.
  virtual void StartWrite(const uint8_t* data, size_t count, bool notify) = 0;

  // Receive thread, after WriteDone: the bytes sent by the completed writes since the last
  // call.
  virtual uint32_t TakeWritten() = 0;

  // Window thread: raise RTS, raise DTR, read the modem status word (the Windows MS_ bits).
  // Refusal by the driver is ignored; after ReleasePort they do nothing.
  virtual void SetRts() = 0;
  virtual void SetDtr() = 0;
  virtual uint32_t ModemStatus() = 0;

  // Any thread, any number of times: lets go of the OS port so that another program may open
  // it (a network port closes its connection). Safe against every other member running
  // concurrently on another thread: they then touch nothing of the port (a write sends nothing,
  // a wait returns Failed or Stop).
  virtual void ReleasePort() = 0;
  virtual bool Released() const = 0;

  // Window thread: how long the link itself may add to an answer, measured on the connection
  // (see round_trip.h); zero for a serial port.
  virtual std::chrono::milliseconds RoundTrip() const { return std::chrono::milliseconds{0}; }

 protected:
  PortBackend() = default;
  PortBackend(const PortBackend&) = delete;
  PortBackend& operator=(const PortBackend&) = delete;
};

// A delivery ends after kDeliveryEndsAfter bytes and one more read: it fits its record.
static_assert(kDeliveryEndsAfter + static_cast<int>(PortBackend::kMaxRead) <= kDeliveryCapacity);

// The two kinds, for PortBackend::Open: the serial port of this OS, and a network port (name
// is a network port name; a malformed one fails with BadAddress).
std::unique_ptr<PortBackend> OpenSerialBackend(const std::string& name, TDCB& dcb, bool apply_dcb,
                                               LinkError& error);
std::unique_ptr<PortBackend> OpenNetworkBackend(const std::string& name, TDCB& dcb,
                                                LinkError& error);

}  // namespace lovar
