// The network link: a serial port reached through a serial device server, over plain TCP
// (socket://) or over Telnet with COM Port Control (rfc2217://). The same for every OS; the
// socket underneath is net_socket.h's.
//
// As in the POSIX serial backend, the read in progress is emulated: received data bytes go to
// an inbox, and from there into the armed read until it has its count (or a read time-out ends
// it). Writes are queued and handed to the socket as it takes them, at once on the window
// thread and from the receive thread when the socket takes more. A closed or reset connection
// ends reception with HungUp, the lost-line path of an unplugged adapter; bytes received before
// it are delivered first.
//
// The round trip is measured on the connection: from a write to the first data byte that comes
// back after it (a write made while one is still unanswered, a resend, spoils the sample), and
// from the line settings sent by COM Port Control to the server's first answer. RoundTrip()
// gives the estimator's bound, so the no-answer watches above allow for it.
#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "serial/net_address.h"
#include "serial/net_socket.h"
#include "serial/port_backend.h"
#include "serial/round_trip.h"
#include "serial/telnet_codec.h"

namespace lovar {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Resolving the name and connecting, together.
constexpr auto kConnectTimeout = 5000ms;
// The server's agreement to COM Port Control and its answers to the line settings.
constexpr auto kNegotiationTimeout = 5000ms;
// Received data that nobody reads, and writes the server does not take: past these the link
// is broken.
constexpr size_t kMaxInbox = size_t{1} << 20;
constexpr size_t kMaxQueued = size_t{1} << 20;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

// Resolves on a thread of its own, so that a resolver that does not answer cannot hold the
// window thread past the time-out; a late answer is dropped with the thread's own state.
std::vector<NetEndpoint> ResolveWithin(const std::string& host, uint16_t port,
                                       std::chrono::milliseconds timeout, LinkError& error) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
    std::vector<NetEndpoint> endpoints;
    LinkError error = LinkError::None;
  };
  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, host, port] {
      LinkError e = LinkError::None;
      std::vector<NetEndpoint> endpoints = NetSocket::Resolve(host, port, e);
      std::lock_guard lock(pending->mutex);
      pending->endpoints = std::move(endpoints);
      pending->error = e;
      pending->done = true;
      pending->done_changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    error = LinkError::Io;
    return {};
  }
  std::unique_lock lock(pending->mutex);
  if (!pending->done_changed.wait_for(lock, timeout, [&] { return pending->done; })) {
    error = LinkError::HostNotFound;  // no name server answered in time
    return {};
  }
  error = pending->error;
  return std::move(pending->endpoints);
}

// The DCB's line in COM Port Control's values, and back.
ComPortLine LineOf(const TDCB& dcb) {
  ComPortLine line;
  line.baud = dcb.BaudRate;
  line.data_size = dcb.ByteSize;
  line.parity = static_cast<uint8_t>(std::min<uint8_t>(dcb.Parity, 4) + 1);
  switch (static_cast<TStopBits>(dcb.StopBits)) {
    case TStopBits::ONE5STOPBITS:
      line.stop_size = 3;
      break;
    case TStopBits::TWOSTOPBITS:
      line.stop_size = 2;
      break;
    default:
      line.stop_size = 1;
      break;
  }
  return line;
}

void TakeLine(const ComPortLine& taken, TDCB& dcb) {
  if (taken.baud != 0) dcb.BaudRate = taken.baud;
  if (taken.data_size >= 5 && taken.data_size <= 8) dcb.ByteSize = taken.data_size;
  if (taken.parity >= 1 && taken.parity <= 5) dcb.Parity = static_cast<uint8_t>(taken.parity - 1);
  if (taken.stop_size == 1) dcb.StopBits = static_cast<uint8_t>(TStopBits::ONESTOPBIT);
  if (taken.stop_size == 2) dcb.StopBits = static_cast<uint8_t>(TStopBits::TWOSTOPBITS);
  if (taken.stop_size == 3) dcb.StopBits = static_cast<uint8_t>(TStopBits::ONE5STOPBITS);
}

// The SET-CONTROL commands for the DCB's flow control and the lines as their controls ask at
// open (the owner raises them afterwards, as on a serial port).
std::vector<uint8_t> ControlsOf(const TDCB& dcb) {
  using namespace telnet;
  const uint32_t flags = dcb.Flags;
  const auto dtr = static_cast<TDTRControl>((flags >> 4) & 3u);
  const auto rts = static_cast<TRTSControl>((flags >> 12) & 3u);
  uint8_t flow = kNoFlowControl;
  if (((flags >> 2) & 1u) || rts == TRTSControl::RTS_CONTROL_HANDSHAKE) {
    flow = kHardwareFlowControl;
  } else if ((flags >> 8) & 1u) {
    flow = kXonXoffFlowControl;
  }
  std::vector<uint8_t> out = ComPortClient::SetControl(flow);
  auto add = [&](uint8_t value) {
    const std::vector<uint8_t> command = ComPortClient::SetControl(value);
    out.insert(out.end(), command.begin(), command.end());
  };
  if (dtr == TDTRControl::DTR_CONTROL_DISABLE) add(kDtrOff);
  if (dtr == TDTRControl::DTR_CONTROL_ENABLE) add(kDtrOn);
  if (rts == TRTSControl::RTS_CONTROL_DISABLE) add(kRtsOff);
  if (rts == TRTSControl::RTS_CONTROL_ENABLE) add(kRtsOn);
  return out;
}

class NetBackend final : public PortBackend {
 public:
  NetBackend(std::unique_ptr<NetSocket> socket, bool telnet)
      : socket_(std::move(socket)), telnet_(telnet) {}

  // Window thread, in Open: COM Port Control agreed, the DCB's line set and answered, the
  // controls sent. False with error set.
  bool Negotiate(TDCB& dcb, LinkError& error);

  void ApplyTimeouts(const TCOMMTIMEOUTS& timeouts) override { timeouts_ = timeouts; }
  void ArmRead(uint32_t count) override { ArmAt(count, Clock::now()); }
  ReadStart ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) override;
  uint32_t TakeCompletedRead(uint8_t* buf) override;
  WaitResult Wait(uint32_t event_mask, uint32_t& events_out) override;
  LinkError FailureReason() const override { return failure_.load(); }
  void Stop() override;
  void StartWrite(const uint8_t* data, size_t count, bool notify) override;
  uint32_t TakeWritten() override;
  void SetRts() override { SendControl(telnet::kRtsOn); }
  void SetDtr() override { SendControl(telnet::kDtrOn); }
  uint32_t ModemStatus() override { return released_.load() ? 0 : modem_state_.load() & 0xF0u; }
  void ReleasePort() override;
  bool Released() const override { return released_.load(); }
  std::chrono::milliseconds RoundTrip() const override {
    return std::chrono::milliseconds(round_trip_ms_.load());
  }

 private:
  // The receiving side: one thread at a time (see port_backend.h). Takes what has arrived into
  // the inbox, answering the server's negotiation; marks the connection closed when it ended.
  void Receive();
  // Moves inbox bytes into the armed read; completes it once it has its count.
  void Fill();
  void ArmAt(uint32_t count, Clock::time_point now);
  void Complete();
  // When the read in progress ends by a read time-out, if one applies.
  bool Deadline(Clock::time_point& at) const;

  // Under write_mutex_.
  void QueueLocked(const std::vector<uint8_t>& bytes);
  void FlushLocked();
  void SampleLocked(Clock::duration round_trip);
  // Queues bytes of the link's own (not the caller's writes) and sends what the socket takes.
  void SendOwn(const std::vector<uint8_t>& bytes);
  void SendControl(uint8_t value);

  const std::unique_ptr<NetSocket> socket_;
  const bool telnet_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> released_{false};
  std::atomic<LinkError> failure_{LinkError::None};
  std::atomic<uint8_t> modem_state_{0};
  std::atomic<int64_t> round_trip_ms_{RoundTripEstimator::kUnmeasured.count()};

  // The receiving side.
  ComPortClient client_;
  std::deque<uint8_t> inbox_;
  std::vector<uint8_t> decoded_;  // scratch for the decoder
  std::vector<uint8_t> reply_;    // scratch for the decoder
  bool closed_ = false;
  LinkError close_reason_ = LinkError::HungUp;
  TCOMMTIMEOUTS timeouts_;
  bool read_armed_ = false;
  bool read_complete_ = false;
  uint32_t want_ = 0;
  uint32_t have_ = 0;
  Clock::time_point read_started_;
  Clock::time_point last_byte_;
  std::array<uint8_t, kMaxRead> rx_{};

  // Writes and the round trip, on both threads.
  std::mutex write_mutex_;
  std::vector<uint8_t> queued_;  // bytes the socket has not taken yet, in order
  size_t queued_pos_ = 0;
  uint32_t started_ = 0;     // the caller's bytes of writes not yet complete
  uint32_t written_ = 0;     // the caller's bytes of completed writes, for TakeWritten
  bool notify_ = false;      // a write in progress wants its completion reported
  bool write_done_ = false;  // a completion to report
  RoundTripEstimator estimator_;
  std::optional<Clock::time_point> unanswered_since_;  // the first write since the last answer
  bool resent_ = false;  // another write followed it: the next answer is no sample
};

void NetBackend::ArmAt(uint32_t count, Clock::time_point now) {
  want_ = std::clamp<uint32_t>(count, 1, kMaxRead);
  have_ = 0;
  read_armed_ = true;
  read_complete_ = false;
  read_started_ = now;
  last_byte_ = now;
}

void NetBackend::Complete() {
  read_armed_ = false;
  read_complete_ = true;
}

bool NetBackend::Deadline(Clock::time_point& at) const {
  bool any = false;
  const uint64_t total =
      uint64_t{timeouts_.ReadTotalTimeoutMultiplier} * want_ + timeouts_.ReadTotalTimeoutConstant;
  if (total > 0) {
    at = read_started_ + std::chrono::milliseconds(total);
    any = true;
  }
  if (timeouts_.ReadIntervalTimeout > 0 && have_ > 0) {
    const auto gap = last_byte_ + std::chrono::milliseconds(timeouts_.ReadIntervalTimeout);
    at = any ? std::min(at, gap) : gap;
    any = true;
  }
  return any;
}

void NetBackend::Receive() {
  std::array<uint8_t, 4096> buffer;
  while (!closed_) {
    const ptrdiff_t n = socket_->Receive(buffer.data(), buffer.size());
    if (n == 0) return;
    if (n < 0) {
      closed_ = true;
      close_reason_ = socket_->error();
      return;
    }
    const std::span<const uint8_t> in(buffer.data(), static_cast<size_t>(n));
    const size_t before = inbox_.size();
    if (telnet_) {
      decoded_.clear();
      reply_.clear();
      client_.Feed(in, decoded_, reply_);
      inbox_.insert(inbox_.end(), decoded_.begin(), decoded_.end());
      modem_state_.store(client_.modem_state());
      if (!reply_.empty()) SendOwn(reply_);
    } else {
      inbox_.insert(inbox_.end(), in.begin(), in.end());
    }
    if (inbox_.size() > before) {
      const auto now = Clock::now();
      std::lock_guard lock(write_mutex_);
      if (unanswered_since_) {
        if (!resent_) SampleLocked(now - *unanswered_since_);
        unanswered_since_.reset();
      }
    }
    if (inbox_.size() > kMaxInbox) {
      closed_ = true;
      close_reason_ = LinkError::Io;
      return;
    }
  }
}

void NetBackend::Fill() {
  if (!read_armed_ || inbox_.empty()) return;
  const size_t take = std::min<size_t>(want_ - have_, inbox_.size());
  std::copy_n(inbox_.begin(), take, rx_.begin() + have_);
  inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<ptrdiff_t>(take));
  have_ += static_cast<uint32_t>(take);
  last_byte_ = Clock::now();
  if (have_ == want_) Complete();
}

ReadStart NetBackend::ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) {
  got = 0;
  ArmAt(count, Clock::now());
  if (inbox_.empty()) Receive();
  Fill();
  if (read_complete_) {
    std::copy_n(rx_.begin(), have_, buf);
    got = have_;
    have_ = 0;
    read_complete_ = false;
    return ReadStart::Done;
  }
  if (closed_ && have_ == 0) {
    read_armed_ = false;
    return ReadStart::Failed;  // the receive thread's Wait says why
  }
  return ReadStart::Pending;
}

uint32_t NetBackend::TakeCompletedRead(uint8_t* buf) {
  const uint32_t n = read_complete_ ? have_ : 0;
  std::copy_n(rx_.begin(), n, buf);
  have_ = 0;
  read_complete_ = false;
  read_armed_ = false;
  return n;
}

WaitResult NetBackend::Wait(uint32_t /*event_mask: no line events here*/, uint32_t& events_out) {
  events_out = 0;
  while (true) {
    if (stopped_.load()) return WaitResult::Stop;
    Fill();
    if (read_complete_) return WaitResult::ReadDone;
    bool want_send;
    {
      std::lock_guard lock(write_mutex_);
      if (write_done_) return WaitResult::WriteDone;
      want_send = queued_pos_ < queued_.size();
    }
    if (released_.load()) {
      failure_.store(LinkError::HungUp);
      return WaitResult::Failed;
    }
    if (closed_) {
      if (read_armed_ && have_ > 0) {
        Complete();
        return WaitResult::ReadDone;
      }
      failure_.store(close_reason_);
      return WaitResult::Failed;
    }
    int timeout_ms = -1;
    Clock::time_point deadline;
    if (read_armed_ && Deadline(deadline)) timeout_ms = MillisecondsLeft(deadline);
    const NetSocket::Ready ready = socket_->Wait(true, want_send, timeout_ms);
    if (ready.receive) Receive();
    if (ready.send || ready.woken) {
      std::lock_guard lock(write_mutex_);
      FlushLocked();
    }
    if (read_armed_ && Deadline(deadline) && Clock::now() >= deadline) Complete();
  }
}

void NetBackend::Stop() {
  stopped_.store(true);
  socket_->Wake();
}

void NetBackend::QueueLocked(const std::vector<uint8_t>& bytes) {
  queued_.insert(queued_.end(), bytes.begin(), bytes.end());
  FlushLocked();
  // Bytes left over: wake the receive thread so that it waits for the socket to take them.
  if (queued_pos_ < queued_.size()) socket_->Wake();
}

void NetBackend::FlushLocked() {
  while (queued_pos_ < queued_.size()) {
    const ptrdiff_t n = socket_->Send(queued_.data() + queued_pos_, queued_.size() - queued_pos_);
    if (n == 0) return;
    if (n < 0) {
      // The connection is gone; the receiving side says so. Nothing of it counts as sent.
      queued_pos_ = queued_.size();
      started_ = 0;
      break;
    }
    queued_pos_ += static_cast<size_t>(n);
  }
  queued_.clear();
  queued_pos_ = 0;
  written_ += started_;
  started_ = 0;
  if (notify_) {
    notify_ = false;
    write_done_ = true;
    socket_->Wake();
  }
}

void NetBackend::SampleLocked(Clock::duration round_trip) {
  estimator_.Add(std::chrono::duration_cast<RoundTripEstimator::Duration>(round_trip));
  round_trip_ms_.store(estimator_.Bound().count());
}

void NetBackend::SendOwn(const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(write_mutex_);
  if (released_.load()) return;
  QueueLocked(bytes);
}

void NetBackend::SendControl(uint8_t value) {
  if (telnet_) SendOwn(ComPortClient::SetControl(value));
}

void NetBackend::StartWrite(const uint8_t* data, size_t count, bool notify) {
  std::lock_guard lock(write_mutex_);
  if (released_.load() || count == 0) return;
  if (queued_.size() - queued_pos_ + count > kMaxQueued) return;  // the server takes nothing
  if (unanswered_since_) {
    resent_ = true;
  } else {
    unanswered_since_ = Clock::now();
    resent_ = false;
  }
  std::vector<uint8_t> bytes;
  if (telnet_) {
    AppendTelnetData(bytes, std::span<const uint8_t>(data, count));
  } else {
    bytes.assign(data, data + count);
  }
  started_ += static_cast<uint32_t>(count);
  notify_ = notify_ || notify;
  QueueLocked(bytes);
}

uint32_t NetBackend::TakeWritten() {
  std::lock_guard lock(write_mutex_);
  write_done_ = false;
  return std::exchange(written_, 0);
}

void NetBackend::ReleasePort() {
  std::lock_guard lock(write_mutex_);
  if (released_.exchange(true)) return;
  queued_.clear();
  queued_pos_ = 0;
  socket_->Shutdown();
}

bool NetBackend::Negotiate(TDCB& dcb, LinkError& error) {
  const Clock::time_point deadline = Clock::now() + kNegotiationTimeout;
  SendOwn(client_.Start());
  std::optional<Clock::time_point> line_sent;
  bool sampled = false;
  while (true) {
    if (client_.com_port() == ComPortClient::ComPort::Refused) {
      error = LinkError::NegotiationRefused;
      return false;
    }
    if (client_.com_port() == ComPortClient::ComPort::Agreed && !line_sent) {
      SendOwn(client_.SetLine(LineOf(dcb)));
      line_sent = Clock::now();
    }
    if (line_sent && client_.LineAnswered() && !sampled) {
      std::lock_guard lock(write_mutex_);
      SampleLocked(Clock::now() - *line_sent);
      sampled = true;
    }
    if (line_sent && client_.LineTaken()) break;
    if (closed_) {
      // A server whose port is taken says so in words and closes.
      error = close_reason_ == LinkError::HungUp ? LinkError::ServerClosed : close_reason_;
      return false;
    }
    if (Clock::now() >= deadline) {
      error = LinkError::NoNegotiation;
      return false;
    }
    bool want_send;
    {
      std::lock_guard lock(write_mutex_);
      want_send = queued_pos_ < queued_.size();
    }
    const NetSocket::Ready ready = socket_->Wait(true, want_send, MillisecondsLeft(deadline));
    if (ready.receive) Receive();
    if (ready.send || ready.woken) {
      std::lock_guard lock(write_mutex_);
      FlushLocked();
    }
  }
  TakeLine(client_.line(), dcb);
  SendOwn(ControlsOf(dcb));
  return true;
}

}  // namespace

std::unique_ptr<PortBackend> OpenNetworkBackend(const std::string& name, TDCB& dcb,
                                                LinkError& error) {
  const std::optional<NetAddress> address = ParseNetAddress(name);
  if (!address) {
    error = LinkError::BadAddress;
    return nullptr;
  }
  const Clock::time_point deadline = Clock::now() + kConnectTimeout;
  const std::vector<NetEndpoint> endpoints =
      ResolveWithin(address->host, address->port, kConnectTimeout, error);
  if (endpoints.empty()) return nullptr;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  std::unique_ptr<NetSocket> socket =
      NetSocket::Connect(endpoints, std::max(left, std::chrono::milliseconds(1)), error);
  if (!socket) return nullptr;
  const bool telnet = address->scheme == NetScheme::Rfc2217;
  auto backend = std::make_unique<NetBackend>(std::move(socket), telnet);
  if (telnet && !backend->Negotiate(dcb, error)) return nullptr;
  error = LinkError::None;
  return backend;
}

}  // namespace lovar
