// TCport and its receive thread TDevThread: the OS-independent logic. Every OS call goes through
// PortBackend.
#include "serial/tcport.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "serial/net_address.h"
#include "serial/port_backend.h"

namespace lovar {

// What the window thread and the receive thread share. Both hold a reference, so whichever
// finishes last frees it; the receive thread never reaches the TCport except through a posted
// hand-off, which runs on the window thread and checks `port` first.
struct TDevThreadShared {
  std::unique_ptr<PortBackend> backend;

  // Window thread only.
  TCport* port = nullptr;  // null once CloseDevice has begun
  std::thread thread;      // joined or detached by CloseDevice or ReapThread

  std::atomic<bool> StopRequested{false};
  std::atomic<bool> ThreadRunning{false};
  std::atomic<uint32_t> WaitEvent{0};
  std::atomic<bool> TransmitWanted{false};
  std::atomic<LinkError> EndError{LinkError::None};
  // Bytes arrived and their hand-off is posted, not run yet (TCport::InputPending).
  std::atomic<bool> InputPending{false};

  // The hand-off: the receive thread posts one completion and sleeps until it has run or has
  // been cancelled. Guarded by mutex; window is used under it only while not cancelled.
  std::mutex mutex;
  std::condition_variable changed;
  WindowThread* window = nullptr;
  bool cancelled = false;  // set once by CloseDevice: no hand-off runs or is posted after it
  uint64_t handoff_seq = 0;
  bool handoff_done = true;
};

// An open of OpenDeviceAsync: its thread runs PortBackend::Open and posts the result. Whoever
// finishes last frees it; the thread reaches the TCport only through the posted task, which runs
// on the window thread and checks `port` first.
struct TPendingOpen {
  // Window thread only.
  TCport* port = nullptr;  // null once abandoned or finished
  std::function<void(bool)> done;

  // Guarded by mutex: the thread posts only while not abandoned, and drops its result otherwise.
  std::mutex mutex;
  bool abandoned = false;
  WindowThread* window = nullptr;

  // Written by the thread before it posts; read by the posted task.
  std::unique_ptr<PortBackend> backend;
  LinkError error = LinkError::None;
  TDCB dcb;
};

class TDevThread {
 public:
  // The thread's body. Holds its own reference to the shared state for its whole life.
  static void Execute(std::shared_ptr<TDevThreadShared> shared);

 private:
  // Posts the completion to the window thread and blocks until it has run. False when
  // CloseDevice cancelled it (the thread then ends).
  static bool HandOff(const std::shared_ptr<TDevThreadShared>& shared, WaitResult result,
                      uint32_t events, uint32_t written);
  // Window thread: the posted task. Does nothing if cancelled or superseded.
  static void RunHandOff(const std::shared_ptr<TDevThreadShared>& shared, uint64_t seq,
                         WaitResult result, uint32_t events, uint32_t written);
};

void TDevThread::Execute(std::shared_ptr<TDevThreadShared> shared) {
  PortBackend& backend = *shared->backend;
  while (!shared->StopRequested.load()) {
    uint32_t events = 0;
    const WaitResult result = backend.Wait(shared->WaitEvent.load(), events);
    if (result == WaitResult::Failed) {
      shared->EndError.store(backend.FailureReason());
      break;
    }
    if (result == WaitResult::Stop) break;
    uint32_t written = 0;
    if (result == WaitResult::WriteDone) {
      written = backend.TakeWritten();
      // Nobody listens: no need to stop the window thread for it.
      if (!shared->TransmitWanted.load()) continue;
    }
    if (result != WaitResult::LineEvent && result != WaitResult::ReadDone &&
        result != WaitResult::WriteDone) {
      continue;
    }
    if (!HandOff(shared, result, events, written)) break;
  }
  // Ending reception always lets go of the port: afterwards it counts as closed.
  backend.ReleasePort();
  std::lock_guard lock(shared->mutex);
  shared->ThreadRunning.store(false);
  shared->changed.notify_all();
  if (!shared->cancelled && shared->window) {
    // Ended on its own (hang-up): let the window thread join us and see the closed port.
    shared->window->Post([shared] {
      if (shared->port) shared->port->ReapThread(shared);
    });
  }
}

bool TDevThread::HandOff(const std::shared_ptr<TDevThreadShared>& shared, WaitResult result,
                         uint32_t events, uint32_t written) {
  std::unique_lock lock(shared->mutex);
  if (shared->cancelled) return false;
  const uint64_t seq = ++shared->handoff_seq;
  shared->handoff_done = false;
  // Raised before the post, lowered by the hand-off itself: between the two the window thread
  // owes a delivery, and no watch counts a tick.
  if (result == WaitResult::ReadDone) shared->InputPending.store(true);
  shared->window->Post(
      [shared, seq, result, events, written] { RunHandOff(shared, seq, result, events, written); });
  shared->changed.wait(lock, [&] { return shared->handoff_done || shared->cancelled; });
  return !shared->cancelled;
}

void TDevThread::RunHandOff(const std::shared_ptr<TDevThreadShared>& shared, uint64_t seq,
                            WaitResult result, uint32_t events, uint32_t written) {
  {
    std::lock_guard lock(shared->mutex);
    if (shared->cancelled || seq != shared->handoff_seq || shared->handoff_done) return;
  }
  shared->InputPending.store(false);
  if (TCport* port = shared->port) {
    port->last_wait_result_ = static_cast<int32_t>(result);
    port->bytes_written_ = written;
    port->evt_mask_ = events;
    // The handler may close the port, reopen it or even destroy it: touch neither afterwards.
    if (result == WaitResult::LineEvent) {
      port->DoCommEvent(*shared->backend);
    } else {
      port->DoTransfer(*shared->backend);
    }
  }
  std::lock_guard lock(shared->mutex);
  if (seq == shared->handoff_seq) shared->handoff_done = true;
  shared->changed.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Settings classes.

bool Tflags::GetFlag(int index) const {
  return (port_.Dcb().Flags >> index) & 1u;
}

void Tflags::SetFlag(int index, bool value) {
  const uint32_t bit = 1u << index;
  uint32_t& flags = port_.Dcb().Flags;
  flags = value ? (flags | bit) : (flags & ~bit);
}

TDTRControl Tflags::DTRcontrol() const {
  return static_cast<TDTRControl>((port_.Dcb().Flags >> 4) & 3u);
}

void Tflags::SetDTRcontrol(TDTRControl v) {
  uint32_t& flags = port_.Dcb().Flags;
  flags = (flags & ~(3u << 4)) | ((static_cast<uint32_t>(v) & 3u) << 4);
}

TRTSControl Tflags::RTScontrol() const {
  return static_cast<TRTSControl>((port_.Dcb().Flags >> 12) & 3u);
}

void Tflags::SetRTScontrol(TRTSControl v) {
  uint32_t& flags = port_.Dcb().Flags;
  flags = (flags & ~(3u << 12)) | ((static_cast<uint32_t>(v) & 3u) << 12);
}

void TflagsForCreate::SetBit(int bit, bool value) {
  if (!value) {
    dwFlagsAndAttributes &= ~(1u << bit);
    return;
  }
  // A normal file has no other attribute: read-only, hidden, system, archive, temporary and
  // bits 3, 4 and 6 go.
  if (bit == 7) dwFlagsAndAttributes &= ~0x17Fu;
  dwFlagsAndAttributes |= 1u << bit;
}

uint32_t TTimeOuts::TimeOutsReadInterval() const {
  return port_.TimeOuts().ReadIntervalTimeout;
}
void TTimeOuts::SetTimeOutsReadInterval(uint32_t v) {
  port_.TimeOuts().ReadIntervalTimeout = v;
}
uint32_t TTimeOuts::TimeOutsReadTotalMultiplier() const {
  return port_.TimeOuts().ReadTotalTimeoutMultiplier;
}
void TTimeOuts::SetTimeOutsReadTotalMultiplier(uint32_t v) {
  port_.TimeOuts().ReadTotalTimeoutMultiplier = v;
}
uint32_t TTimeOuts::TimeOutsReadTotalConstant() const {
  return port_.TimeOuts().ReadTotalTimeoutConstant;
}
void TTimeOuts::SetTimeOutsReadTotalConstant(uint32_t v) {
  port_.TimeOuts().ReadTotalTimeoutConstant = v;
}

// ---------------------------------------------------------------------------------------------
// TCport.

TCport::TCport(WindowThread& window) : window_(window) {}

TCport::~TCport() {
  CloseDevice();
}

void TCport::SetWaitEvent(uint32_t v) {
  wait_event_ = v;
  if (shared_ && is_com_port_) shared_->WaitEvent.store(v);
}

bool TCport::IsOpen() const {
  return shared_ && !shared_->backend->Released();
}

LinkError TCport::LastError() const {
  if (shared_ && shared_->backend->Released()) {
    const LinkError end = shared_->EndError.load();
    if (end != LinkError::None) return end;
  }
  return last_error_;
}

bool TCport::InputPending() const {
  return shared_ && shared_->InputPending.load();
}

std::chrono::milliseconds TCport::RoundTrip() const {
  return IsOpen() ? shared_->backend->RoundTrip() : std::chrono::milliseconds{0};
}

uint32_t TCport::ReadSize() const {
  return std::clamp<uint32_t>(wait_count_byte_, 1, PortBackend::kMaxRead);
}

void TCport::SetConnect(bool v) {
  if (!v) {
    CloseDevice();
    return;
  }
  AbandonOpen();
  if (IsComPortName(name_device_)) is_com_port_ = true;
  // Reopening closes the old handle first, and with it a receive thread that may run on it.
  if (connected_) CloseDevice();
  LinkError error = LinkError::None;
  std::unique_ptr<PortBackend> backend = PortBackend::Open(name_device_, dcb_, is_com_port_, error);
  Adopt(std::move(backend), error);
}

void TCport::Adopt(std::unique_ptr<PortBackend> backend, LinkError error) {
  if (!backend) {
    connected_ = false;
    last_error_ = error;
    return;
  }
  auto shared = std::make_shared<TDevThreadShared>();
  shared->backend = std::move(backend);
  shared->port = this;
  shared->window = &window_;
  shared_ = std::move(shared);
  connected_ = true;
  last_error_ = LinkError::None;
}

bool TCport::OpenDevice() {
  AbandonOpen();
  if (IsComPortName(name_device_)) is_com_port_ = true;
  // A line lost since the last open (hang-up) still holds its Connect state: clean it up so the
  // port can be opened again without an explicit CloseDevice.
  if (shared_ && !IsOpen()) CloseDevice();
  if (shared_ && shared_->thread.joinable()) return true;  // already receiving
  if (!connected_) SetConnect(true);
  if (!connected_ || !IsOpen()) return false;
  return StartReceiving();
}

bool TCport::StartReceiving() {
  TDevThreadShared& shared = *shared_;
  shared.backend->ApplyTimeouts(timeouts_);
  shared.backend->ArmRead(ReadSize());
  shared.WaitEvent.store(is_com_port_ ? wait_event_ : 0);
  shared.TransmitWanted.store(static_cast<bool>(OnTransmit));
  shared.StopRequested.store(false);
  shared.ThreadRunning.store(true);
  try {
    // Not given a raised priority: on POSIX that needs privileges, and the thread only sleeps
    // in one wait anyway.
    shared.thread = std::thread(&TDevThread::Execute, shared_);
  } catch (const std::system_error&) {
    shared.ThreadRunning.store(false);
    CloseDevice();
    last_error_ = LinkError::Io;
    return false;
  }
  return true;
}

void TCport::OpenDeviceAsync(std::function<void(bool opened)> done) {
  AbandonOpen();
  if (shared_ && !IsOpen()) CloseDevice();
  // Only a network port waits for anything; an open or half-open port finishes as OpenDevice.
  if (!IsNetworkPortName(name_device_) || shared_) {
    done(OpenDevice());
    return;
  }
  auto pending = std::make_shared<TPendingOpen>();
  pending->port = this;
  pending->done = std::move(done);
  pending->window = &window_;
  pending->dcb = dcb_;
  last_error_ = LinkError::None;
  pending_ = pending;
  try {
    std::thread([pending, name = name_device_] {
      TDCB dcb = pending->dcb;
      LinkError error = LinkError::None;
      std::unique_ptr<PortBackend> backend = PortBackend::Open(name, dcb, false, error);
      std::unique_lock lock(pending->mutex);
      if (pending->abandoned) {
        lock.unlock();
        return;  // the connection, if any, closes with backend
      }
      pending->backend = std::move(backend);
      pending->error = error;
      pending->dcb = dcb;
      pending->window->Post([pending] {
        if (TCport* port = pending->port) port->FinishOpen(pending);
      });
    }).detach();
  } catch (const std::system_error&) {
    pending_.reset();
    pending->port = nullptr;
    std::function<void(bool)> now = std::move(pending->done);
    now(OpenDevice());
  }
}

void TCport::FinishOpen(const std::shared_ptr<TPendingOpen>& pending) {
  if (pending != pending_) return;
  pending_.reset();
  pending->port = nullptr;
  std::function<void(bool)> done = std::move(pending->done);
  dcb_ = pending->dcb;  // what the server took, as the open reads it back
  Adopt(std::move(pending->backend), pending->error);
  const bool opened = connected_ && StartReceiving();
  // done may close, reopen or destroy this port: nothing is touched after it.
  if (done) done(opened);
}

void TCport::AbandonOpen() {
  if (!pending_) return;
  std::shared_ptr<TPendingOpen> pending = std::move(pending_);
  pending->port = nullptr;
  pending->done = nullptr;
  std::lock_guard lock(pending->mutex);
  pending->abandoned = true;
}

bool TCport::CloseDevice() {
  AbandonOpen();
  if (!shared_) return true;
  std::shared_ptr<TDevThreadShared> shared = std::move(shared_);
  shared->StopRequested.store(true);
  shared->backend->Stop();
  {
    // From here on no hand-off runs and none is posted, so the thread is never left waiting
    // for the window thread (which may be this very call, inside OnReceive).
    std::lock_guard lock(shared->mutex);
    shared->cancelled = true;
    shared->changed.notify_all();
  }
  shared->port = nullptr;
  if (shared->thread.joinable()) {
    bool finished;
    {
      std::unique_lock lock(shared->mutex);
      finished = shared->changed.wait_for(lock, std::chrono::milliseconds(1200),
                                          [&] { return !shared->ThreadRunning.load(); });
    }
    if (finished) {
      shared->thread.join();
    } else {
      // It holds its own reference to the shared state and will end at its next wake-up.
      shared->thread.detach();
    }
  }
  // Lets go of the OS port now even if a straggling thread still holds the backend.
  shared->backend->ReleasePort();
  if (shared->EndError.load() != LinkError::None) last_error_ = shared->EndError.load();
  connected_ = false;
  return true;
}

void TCport::ReapThread(const std::shared_ptr<TDevThreadShared>& shared) {
  if (shared != shared_) return;
  if (shared->thread.joinable()) shared->thread.join();
}

void TCport::WriteDevice(int32_t Count, std::span<const uint8_t> Buf) {
  const size_t count =
      std::min<size_t>(static_cast<size_t>(std::max<int32_t>(Count, 0)), Buf.size());
  if (!IsOpen() || count == 0) return;
  const bool notify = static_cast<bool>(OnTransmit) && shared_->thread.joinable();
  shared_->TransmitWanted.store(notify);
  shared_->backend->StartWrite(Buf.data(), count, notify);
}

void TCport::RaiseRtsDtr() {
  if (!IsOpen()) return;
  shared_->backend->SetRts();
  shared_->backend->SetDtr();
}

void TCport::DoTransfer(PortBackend& backend) {
  if (last_wait_result_ == static_cast<int32_t>(WaitResult::WriteDone)) {
    if (OnTransmit) OnTransmit(static_cast<int32_t>(bytes_written_));
    return;
  }
  if (last_wait_result_ != static_cast<int32_t>(WaitResult::ReadDone)) return;

  message_.Count = 0;
  message_.Count += static_cast<int32_t>(backend.TakeCompletedRead(message_.Data.data()));
  if (read_device_) {
    // Drain what has already arrived, one read at a time, until the delivery is full. A read
    // that stays pending keeps reading in the background; one that finished at once leaves
    // nothing in progress, so a full delivery arms the next read itself (the bytes it took are
    // in this delivery and are never delivered again).
    bool arm_next = false;
    while (true) {
      // Checked before each read, so a delivery holds at most kDeliveryEndsAfter + one read.
      if (message_.Count > kDeliveryEndsAfter) {
        arm_next = true;
        break;
      }
      uint32_t got = 0;
      const ReadStart start =
          backend.ReadNow(message_.Data.data() + message_.Count, ReadSize(), got);
      if (start == ReadStart::Pending) break;
      if (start == ReadStart::Failed) break;  // reception stops until the port is reopened
      message_.Count += static_cast<int32_t>(got);
      // An empty read that finished at once (a time-out setting that returns at once) would
      // drain forever: the next read is left to the receive thread.
      if (got == 0) {
        arm_next = true;
        break;
      }
    }
    if (arm_next) backend.ArmRead(ReadSize());
  }
  if (message_.Count > 0) {
    if (OnReceive) OnReceive(message_);
  } else if (OnTimeOutReceive) {
    OnTimeOutReceive();
  }
}

void TCport::DoCommEvent(PortBackend& backend) {
  const uint32_t mask = evt_mask_;
  auto changed = [&](uint32_t bit, const TOnChangeFl& event) {
    if (!(mask & bit) || !event) return;
    modem_status_ = backend.ModemStatus();
    event(mask, modem_status_);
  };
  changed(EV_BREAK, OnBREAK);
  changed(EV_CTS, OnCTSchange);
  changed(EV_DSR, OnDSRchange);
  changed(EV_ERR, OnERR);
  changed(EV_RING, OnRING);
  changed(EV_RLSD, OnRLSDchange);
  if ((mask & EV_RXCHAR) && OnRXCHAR) OnRXCHAR(mask);
  changed(EV_RXFLAG, OnRXFLAG);
  changed(EV_TXEMPTY, OnTXEMPTY);
  changed(EV_EVENT1, OnEVENT1);
  changed(EV_EVENT2, OnEVENT2);
  if ((mask & EV_RX80FULL) && OnRX80FULL) OnRX80FULL(mask);
}

}  // namespace lovar
