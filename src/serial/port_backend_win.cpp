// The Win32 serial backend: overlapped I/O on a port opened with FILE_FLAG_OVERLAPPED, four
// manual-reset event objects (0 stop, 1 line event, 2 read completed, 3 write completed) and
// one WaitForMultipleObjects over them on the receive thread.
//
// Locking: port_mutex guards the handle and every overlapped record against ReleasePort, which
// may run on any thread. Wait never holds it while it sleeps. Reads need nothing more: the read
// members run only while the receive thread is blocked in a hand-off (see port_backend.h).

// The lovar headers come first: see dcb_win.h.
// clang-format off
#include "serial/port_backend.h"
#include "serial/serial_backend.h"
#include "serial/dcb_win.h"
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace lovar {

namespace {

constexpr DWORD kCancelWaitMs = 500;   // bound on waiting for cancelled I/O at release
constexpr DWORD kPromptReadMs = 1000;  // bound on a read whose bytes are already there

enum EventIndex { kStop = 0, kLineEvent = 1, kReadDone = 2, kWriteDone = 3 };

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// One write: its bytes and its OVERLAPPED live until the OS has sent them all. Writes go to the
// OS one at a time, in order, so a write started while another is on the wire neither
// overwrites bytes being sent nor overtakes them.
struct WriteOp {
  OVERLAPPED ov{};
  std::vector<uint8_t> data;
  size_t sent = 0;
  bool in_flight = false;
};

// Waits (bounded) for an overlapped operation that was cancelled, so that the OS no longer
// writes into its record or buffer.
void AwaitCancelled(HANDLE handle, OVERLAPPED& ov) {
  if (HasOverlappedIoCompleted(&ov)) return;
  if (ov.hEvent) WaitForSingleObject(ov.hEvent, kCancelWaitMs);
  DWORD n = 0;
  GetOverlappedResult(handle, &ov, &n, FALSE);
}

}  // namespace

LinkError MapOsError(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_SUCCESS:
      return LinkError::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
      return LinkError::NoSuchPort;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return LinkError::PortBusy;
    case ERROR_ACCESS_DENIED:
      return LinkError::AccessDenied;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return LinkError::NotSerial;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_DEVICE:
      return LinkError::HungUp;
    // A network port's name and connection (Winsock's codes).
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY:
      return LinkError::HostNotFound;
    case WSAECONNREFUSED:
      return LinkError::ConnectionRefused;
    case WSAETIMEDOUT:
      return LinkError::ConnectTimeout;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAEADDRNOTAVAIL:
      return LinkError::HostUnreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return LinkError::HungUp;
    default:
      return LinkError::Io;
  }
}

bool IsPortName(const std::string& name) {
  return StartsWith(name, "C");
}

bool IsComPortName(const std::string& name) {
  return StartsWith(name, "CO");
}

// The port's handles and state, behind SerialBackend (serial_backend.h).
struct SerialOs {
  std::mutex port_mutex;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::atomic<bool> released{false};
  std::atomic<bool> stopped{false};
  bool is_com = false;  // the DCB, the event mask and the modem status apply
  std::array<HANDLE, 4> events{};
  LinkError failure = LinkError::None;

  // Line events (receive thread).
  OVERLAPPED wait_ov{};
  DWORD evt_mask = 0;
  DWORD mask_set = 0;  // the mask last given to SetCommMask
  bool comm_wait_pending = false;

  // The one read in progress, into rx, with read_ov and event 2.
  OVERLAPPED read_ov{};
  std::array<uint8_t, PortBackend::kMaxRead> rx{};
  std::atomic<bool> read_pending{false};
  DWORD completed = 0;         // byte count of the read that completed
  DWORD read_start_error = 0;  // why ArmRead could not start its read

  // Writes, oldest first; only the front one is with the OS.
  std::deque<std::unique_ptr<WriteOp>> writes;
  uint32_t written = 0;
  bool notify_pending = false;

  ~SerialOs() {
    Release();
    for (HANDLE& e : events) {
      if (e) CloseHandle(e);
      e = nullptr;
    }
  }

  // SetCommMask completes a pending WaitCommEvent, so the mask is set only when it changes and a
  // wait is started only when none is pending: a quiet line then costs nothing per pass.
  void ArmLineEvents(uint32_t mask) {
    if (mask != mask_set) {
      SetCommMask(handle, mask);
      mask_set = mask;
      if (comm_wait_pending) {
        AwaitCancelled(handle, wait_ov);
        ResetEvent(events[kLineEvent]);
        comm_wait_pending = false;
      }
    }
    if (mask == 0 || comm_wait_pending) return;
    evt_mask = 0;
    if (WaitCommEvent(handle, &evt_mask, &wait_ov)) {
      SetEvent(events[kLineEvent]);
      comm_wait_pending = true;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      comm_wait_pending = true;
    }
  }

  // Hands the front write to the OS, and moves finished ones into written, until the front one
  // is still on the wire or none is left. Under port_mutex.
  void PumpWrites() {
    while (!writes.empty()) {
      WriteOp& op = *writes.front();
      if (op.in_flight) {
        if (!HasOverlappedIoCompleted(&op.ov)) return;
        op.in_flight = false;
        DWORD n = 0;
        if (!GetOverlappedResult(handle, &op.ov, &n, FALSE)) {
          writes.pop_front();  // a failed write is dropped; the no-answer watch recovers
          continue;
        }
        written += n;
        op.sent += n;
        if (op.sent >= op.data.size() || n == 0) {
          writes.pop_front();
          continue;
        }
      }
      // Start (or continue) the front write. A write that finishes at once still signals
      // event 3, and is picked up as finished on the next pass.
      std::memset(&op.ov, 0, sizeof op.ov);
      op.ov.hEvent = events[kWriteDone];
      DWORD n = 0;
      if (!WriteFile(handle, op.data.data() + op.sent, static_cast<DWORD>(op.data.size() - op.sent),
                     &n, &op.ov) &&
          GetLastError() != ERROR_IO_PENDING) {
        writes.pop_front();
        continue;
      }
      op.in_flight = true;
    }
  }

  void Release() {
    std::lock_guard<std::mutex> lock(port_mutex);
    if (handle == INVALID_HANDLE_VALUE) return;
    if (is_com) SetCommMask(handle, 0);
    CancelIoEx(handle, nullptr);
    if (comm_wait_pending) AwaitCancelled(handle, wait_ov);
    if (read_pending) AwaitCancelled(handle, read_ov);
    for (auto& op : writes) {
      if (op->in_flight) AwaitCancelled(handle, op->ov);
    }
    comm_wait_pending = false;
    read_pending = false;
    writes.clear();
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    released = true;
    // Wake a Wait that may be sleeping on another thread; it then returns Stop.
    if (events[kStop]) SetEvent(events[kStop]);
  }
};

SerialBackend::SerialBackend(std::unique_ptr<SerialOs> os) : os_(std::move(os)) {}
SerialBackend::~SerialBackend() = default;

std::unique_ptr<PortBackend> OpenSerialBackend(const std::string& name, TDCB& dcb, bool apply_dcb,
                                               LinkError& error) {
  error = LinkError::None;
  HANDLE handle = CreateFileA(WinDevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    error = MapOsError(static_cast<int>(code));
    // A serial driver answers the open of a port that another program holds with access denied.
    if (code == ERROR_ACCESS_DENIED && IsComPortName(name)) error = LinkError::PortBusy;
    return nullptr;
  }
  // CreateFile opens a plain file as readily as a port; a file on a disk is never a device.
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    CloseHandle(handle);
    error = LinkError::NotSerial;
    return nullptr;
  }
  auto os = std::make_unique<SerialOs>();
  os->handle = handle;
  os->is_com = apply_dcb;
  for (HANDLE& e : os->events) {
    e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!e) {
      error = MapOsError(static_cast<int>(GetLastError()));
      if (error == LinkError::None) error = LinkError::Io;
      return nullptr;  // ~SerialOs closes the handle and the events made so far
    }
  }
  os->wait_ov.hEvent = os->events[kLineEvent];
  os->read_ov.hEvent = os->events[kReadDone];
  if (apply_dcb) {
    // Write the settings, then read back what the driver actually took. A refused DCB is not an
    // open failure: the read-back shows what the port uses.
    DCB out = ToWinDcb(dcb);
    SetCommState(handle, &out);
    DCB back;
    std::memset(&back, 0, sizeof back);
    back.DCBlength = sizeof(DCB);
    if (GetCommState(handle, &back)) dcb = FromWinDcb(back);
    // The lines stay down until the owner raises them; not every driver lowers them on open.
    // (fDtrControl in bits 4-5 and fRtsControl in bits 12-13; DISABLE is 0 for both.)
    if (((dcb.Flags >> 4) & 3u) == 0) EscapeCommFunction(handle, CLRDTR);
    if (((dcb.Flags >> 12) & 3u) == 0) EscapeCommFunction(handle, CLRRTS);
  }
  return std::make_unique<SerialBackend>(std::move(os));
}

void SerialBackend::ApplyTimeouts(const TCOMMTIMEOUTS& t) {
  std::lock_guard<std::mutex> lock(os_->port_mutex);
  if (os_->released) return;
  COMMTIMEOUTS ct{};
  ct.ReadIntervalTimeout = t.ReadIntervalTimeout;
  ct.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
  ct.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
  ct.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
  ct.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
  SetCommTimeouts(os_->handle, &ct);
}

void SerialBackend::ArmRead(uint32_t count) {
  SerialOs& os = *os_;
  std::lock_guard<std::mutex> lock(os.port_mutex);
  if (os.released || os.read_pending) return;
  count = std::clamp<uint32_t>(count, 1, kMaxRead);
  DWORD n = 0;
  if (ReadFile(os.handle, os.rx.data(), count, &n, &os.read_ov)) {
    // Finished at once: Wait reports it like any other completion.
    SetEvent(os.events[kReadDone]);
  } else if (GetLastError() != ERROR_IO_PENDING) {
    // It could not be started: report it as a completion that failed, so Wait ends reception
    // with the reason instead of sleeping with no read in progress.
    os.read_start_error = GetLastError();
    SetEvent(os.events[kReadDone]);
  }
  os.read_pending = true;
}

ReadStart SerialBackend::ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) {
  SerialOs& os = *os_;
  got = 0;
  std::lock_guard<std::mutex> lock(os.port_mutex);
  if (os.released) return ReadStart::Failed;
  if (os.read_pending) return ReadStart::Pending;
  count = std::clamp<uint32_t>(count, 1, kMaxRead);
  // Whether the bytes are already there. A serial driver then finishes the read at once; Wine
  // completes even such a read asynchronously, a moment later, so it is waited for briefly
  // and counts as finished at once too. Without this a burst would arrive one byte per delivery.
  DWORD errors = 0;
  COMSTAT stat{};
  bool waiting = os.is_com && ClearCommError(os.handle, &errors, &stat) && stat.cbInQue >= count;
  DWORD n = 0;
  bool done = ReadFile(os.handle, os.rx.data(), count, &n, &os.read_ov);
  if (!done) {
    if (GetLastError() != ERROR_IO_PENDING) return ReadStart::Failed;
    if (waiting && WaitForSingleObject(os.events[kReadDone], kPromptReadMs) == WAIT_OBJECT_0) {
      if (!GetOverlappedResult(os.handle, &os.read_ov, &n, FALSE)) {
        ResetEvent(os.events[kReadDone]);
        return ReadStart::Failed;
      }
      done = true;
    }
  }
  if (done) {
    // Its bytes are returned here, so its completion must not also wake the receive thread as
    // a read to deliver.
    ResetEvent(os.events[kReadDone]);
    std::memcpy(buf, os.rx.data(), n);
    got = n;
    return ReadStart::Done;
  }
  os.read_pending = true;  // its completion signals event 2 and wakes the receive thread
  return ReadStart::Pending;
}

uint32_t SerialBackend::TakeCompletedRead(uint8_t* buf) {
  SerialOs& os = *os_;
  std::lock_guard<std::mutex> lock(os.port_mutex);
  DWORD n = std::min<DWORD>(os.completed, kMaxRead);
  os.completed = 0;
  std::memcpy(buf, os.rx.data(), n);
  return n;
}

WaitResult SerialBackend::Wait(uint32_t event_mask, uint32_t& events_out) {
  SerialOs& os = *os_;
  events_out = 0;
  for (;;) {
    std::array<HANDLE, 4> handles{};
    std::array<int, 4> index{};
    DWORD n = 0;
    {
      std::lock_guard<std::mutex> lock(os.port_mutex);
      if (os.stopped) return WaitResult::Stop;
      if (os.released) return WaitResult::Stop;
      if (os.is_com) os.ArmLineEvents(event_mask);
      // Event 2 takes part only while a read is in progress.
      for (int i = 0; i < 4; ++i) {
        if (i == kReadDone && !os.read_pending) continue;
        handles[n] = os.events[i];
        index[n] = i;
        ++n;
      }
    }
    DWORD r = WaitForMultipleObjects(n, handles.data(), FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 + n) {
      os.failure = MapOsError(static_cast<int>(GetLastError()));
      if (os.failure == LinkError::None) os.failure = LinkError::Io;
      return WaitResult::Failed;
    }

    std::lock_guard<std::mutex> lock(os.port_mutex);
    int which = index[r - WAIT_OBJECT_0];
    if (which == kStop || os.stopped || os.released) return WaitResult::Stop;
    switch (which) {
      case kLineEvent: {
        DWORD unused = 0;
        BOOL ok = GetOverlappedResult(os.handle, &os.wait_ov, &unused, FALSE);
        ResetEvent(os.events[kLineEvent]);
        if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) continue;  // still pending
        os.comm_wait_pending = false;
        // A failed wait, or one ended by a mask change, carries no event: wait again.
        if (!ok || os.evt_mask == 0) continue;
        events_out = os.evt_mask;
        return WaitResult::LineEvent;
      }
      case kReadDone: {
        DWORD count = 0;
        BOOL ok = FALSE;
        DWORD code = os.read_start_error;
        os.read_start_error = 0;
        if (code == 0) {
          ok = GetOverlappedResult(os.handle, &os.read_ov, &count, FALSE);
          code = ok ? ERROR_SUCCESS : GetLastError();
        }
        ResetEvent(os.events[kReadDone]);
        if (code == ERROR_IO_INCOMPLETE) continue;  // still pending
        os.read_pending = false;
        if (!ok) {
          // A failed read means the line is gone (a hang-up or an unplugged adapter): reception
          // ends and the port closes, instead of staying open with nothing being read.
          os.failure = MapOsError(static_cast<int>(code));
          if (os.failure == LinkError::None || os.failure == LinkError::Io) {
            os.failure = LinkError::HungUp;
          }
          return WaitResult::Failed;
        }
        os.completed = count;
        return WaitResult::ReadDone;
      }
      case kWriteDone:
        ResetEvent(os.events[kWriteDone]);
        os.PumpWrites();
        if (os.writes.empty() && os.notify_pending) {
          os.notify_pending = false;
          return WaitResult::WriteDone;
        }
        continue;
    }
  }
}

LinkError SerialBackend::FailureReason() const {
  return os_->failure;
}

void SerialBackend::Stop() {
  os_->stopped = true;
  SetEvent(os_->events[kStop]);
}

void SerialBackend::StartWrite(const uint8_t* data, size_t count, bool notify) {
  SerialOs& os = *os_;
  std::lock_guard<std::mutex> lock(os.port_mutex);
  if (os.released || count == 0) return;
  auto op = std::make_unique<WriteOp>();
  op->data.assign(data, data + count);
  os.writes.push_back(std::move(op));
  if (notify) os.notify_pending = true;
  os.PumpWrites();
  // Everything may have gone at once; event 3 was signalled by the finished write either way.
}

uint32_t SerialBackend::TakeWritten() {
  std::lock_guard<std::mutex> lock(os_->port_mutex);
  uint32_t n = os_->written;
  os_->written = 0;
  return n;
}

void SerialBackend::SetRts() {
  std::lock_guard<std::mutex> lock(os_->port_mutex);
  if (!os_->released) EscapeCommFunction(os_->handle, SETRTS);
}

void SerialBackend::SetDtr() {
  std::lock_guard<std::mutex> lock(os_->port_mutex);
  if (!os_->released) EscapeCommFunction(os_->handle, SETDTR);
}

uint32_t SerialBackend::ModemStatus() {
  std::lock_guard<std::mutex> lock(os_->port_mutex);
  DWORD status = 0;
  if (os_->released || !GetCommModemStatus(os_->handle, &status)) return 0;
  return status;
}

void SerialBackend::ReleasePort() {
  os_->Release();
}

bool SerialBackend::Released() const {
  return os_->released;
}

}  // namespace lovar
