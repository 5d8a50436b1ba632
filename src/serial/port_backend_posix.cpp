// The serial port backend on POSIX (Linux): termios, poll() and eventfd.
//
// The receive thread sleeps in one poll() on the port, a stop eventfd and a "write state
// changed" eventfd. The read in progress is emulated: while one is armed, poll() asks for
// POLLIN and the bytes go into the backend's own buffer until the read has its count (or a
// read time-out ends it). Writes go straight to the non-blocking port; what it does not take
// at once is kept and finished from the receive thread on POLLOUT.
//
// No modem line events are produced: the main window sets WaitEvent 0, so Wait ignores the
// event mask (a line-event backend would need TIOCMIWAIT on a thread of its own).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <utility>
#include <vector>

#include "serial/port_backend.h"
#include "serial/serial_backend.h"

namespace lovar {

namespace {

using Clock = std::chrono::steady_clock;

// A port that cannot send (flow control holding it) keeps at most this much queued.
constexpr size_t kMaxQueued = 1 << 20;

struct BaudEntry {
  uint32_t baud;
  speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The highest standard rate not above baud (the lowest one for anything below it).
speed_t BaudToSpeed(uint32_t baud) {
  speed_t speed = kBauds[0].speed;
  for (const BaudEntry& e : kBauds) {
    if (e.baud <= baud) speed = e.speed;
  }
  return speed;
}

uint32_t SpeedToBaud(speed_t speed) {
  for (const BaudEntry& e : kBauds) {
    if (e.speed == speed) return e.baud;
  }
  return 0;
}

void SetBit(uint32_t& word, int bit, bool value) {
  word = value ? (word | (1u << bit)) : (word & ~(1u << bit));
}

void ModemLine(int fd, int line, bool raise) {
  int bits = line;
  (void)ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits);  // refused on a pseudo-terminal
}

// Writes the DCB as termios settings and reads back what the driver took. A rejected setting
// is not an error: the read-back shows what the port uses.
void ApplyDcb(int fd, TDCB& dcb) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(HUPCL | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (dcb.ByteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
  switch (static_cast<TParity>(dcb.Parity)) {
    case TParity::ODD:
      t.c_cflag |= PARENB | PARODD;
      break;
    case TParity::EVEN:
      t.c_cflag |= PARENB;
      break;
    case TParity::MARK:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case TParity::SPACE:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    case TParity::NO:
      break;
  }
  const uint32_t flags = dcb.Flags;
  t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
  if ((flags >> 1) & 1u) t.c_iflag |= INPCK;
  // 1.5 stop bits exist only with 5 data bits, where the UART makes CSTOPB mean 1.5.
  if (static_cast<TStopBits>(dcb.StopBits) != TStopBits::ONESTOPBIT) t.c_cflag |= CSTOPB;
  const auto rts = static_cast<TRTSControl>((flags >> 12) & 3u);
  const bool cts_flow = (flags >> 2) & 1u;
  // Linux has one switch for both directions of hardware handshake.
  if (cts_flow || rts == TRTSControl::RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  if ((flags >> 8) & 1u) t.c_iflag |= IXON;   // fOutX: our output obeys XON/XOFF
  if ((flags >> 9) & 1u) t.c_iflag |= IXOFF;  // fInX: we send XON/XOFF
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const speed_t speed = BaudToSpeed(dcb.BaudRate);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  (void)tcsetattr(fd, TCSANOW, &t);

  termios r{};
  if (tcgetattr(fd, &r) != 0) return;
  if (const uint32_t baud = SpeedToBaud(cfgetospeed(&r))) dcb.BaudRate = baud;
  switch (r.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  TParity parity = TParity::NO;
  if (r.c_cflag & PARENB) {
    if (r.c_cflag & CMSPAR) {
      parity = (r.c_cflag & PARODD) ? TParity::MARK : TParity::SPACE;
    } else {
      parity = (r.c_cflag & PARODD) ? TParity::ODD : TParity::EVEN;
    }
  }
  dcb.Parity = static_cast<uint8_t>(parity);
  if (!(r.c_cflag & CSTOPB)) {
    dcb.StopBits = static_cast<uint8_t>(TStopBits::ONESTOPBIT);
  } else if (static_cast<TStopBits>(dcb.StopBits) == TStopBits::ONESTOPBIT) {
    dcb.StopBits = static_cast<uint8_t>(TStopBits::TWOSTOPBITS);
  }
  SetBit(dcb.Flags, 1, r.c_iflag & INPCK);
  SetBit(dcb.Flags, 2, r.c_cflag & CRTSCTS);
  SetBit(dcb.Flags, 8, r.c_iflag & IXON);
  SetBit(dcb.Flags, 9, r.c_iflag & IXOFF);
  dcb.XonChar = static_cast<char>(r.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(r.c_cc[VSTOP]);

  // The lines as their controls ask at open; the search window raises them afterwards.
  const auto dtr = static_cast<TDTRControl>((dcb.Flags >> 4) & 3u);
  ModemLine(fd, TIOCM_DTR, dtr != TDTRControl::DTR_CONTROL_DISABLE);
  if (rts != TRTSControl::RTS_CONTROL_HANDSHAKE) {
    ModemLine(fd, TIOCM_RTS, rts == TRTSControl::RTS_CONTROL_ENABLE);
  }

  // USB adapters (FTDI) otherwise hold each short reply back up to 16 ms. Ignored if refused.
  serial_struct ss{};
  if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &ss);
  }
}

void Signal(int event_fd) {
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = write(event_fd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
}

void Drain(int event_fd) {
  uint64_t value;
  ssize_t n;
  do {
    n = read(event_fd, &value, sizeof value);
  } while (n < 0 && errno == EINTR);
}

}  // namespace

LinkError MapOsError(int code) {
  switch (code) {
    case 0:
      return LinkError::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return LinkError::NoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:  // flock: another program holds the lock
      return LinkError::PortBusy;
    case EACCES:
    case EPERM:
    case EROFS:
      return LinkError::AccessDenied;
    case ENOTTY:
    case EISDIR:
      return LinkError::NotSerial;
    // A network port's connection.
    case ECONNREFUSED:
      return LinkError::ConnectionRefused;
    case ETIMEDOUT:
      return LinkError::ConnectTimeout;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
      return LinkError::HostUnreachable;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
      return LinkError::HungUp;
    default:
      return LinkError::Io;
  }
}

bool IsPortName(const std::string& name) {
  return !name.empty() && name.front() == '/';
}

bool IsComPortName(const std::string& name) {
  return IsPortName(name);
}

// The port's handles and state, behind SerialBackend (serial_backend.h).
struct SerialOs {
  // The port's descriptor number never changes while the backend lives: ReleasePort puts
  // /dev/null under it, and only the destructor closes it. So no thread can ever reach a
  // descriptor that has been reused for something else.
  int fd = -1;
  int stop_fd = -1;        // eventfd: Stop()
  int kick_fd = -1;        // eventfd: the write state changed (a write finished or was queued)
  bool exclusive = false;  // we put the tty in exclusive mode
  std::atomic<bool> stopped{false};
  std::atomic<bool> released{false};
  std::atomic<LinkError> failure{LinkError::None};

  // The read in progress. Touched by Wait on the receive thread and by the read members on the
  // window thread, never at the same time (see port_backend.h).
  TCOMMTIMEOUTS timeouts;
  bool read_armed = false;     // a read is in progress
  bool read_complete = false;  // it completed; TakeCompletedRead collects it
  uint32_t want = 0;
  uint32_t have = 0;
  Clock::time_point read_started;
  Clock::time_point last_byte;
  std::array<uint8_t, PortBackend::kMaxRead> rx{};

  // Writes, on both threads.
  std::mutex write_mutex;
  std::vector<uint8_t> queued;  // bytes the port has not taken yet, in order
  size_t queued_pos = 0;
  uint32_t started = 0;     // bytes of writes not yet complete
  uint32_t written = 0;     // bytes of completed writes, for TakeWritten
  bool notify = false;      // a write in progress wants its completion reported
  bool write_done = false;  // a completion to report

  ~SerialOs() {
    // The exclusive mode is the tty's, not ours: it would outlive us while others have it open.
    if (exclusive && !released.load()) (void)ioctl(fd, TIOCNXCL);
    for (int f : {fd, stop_fd, kick_fd}) {
      if (f >= 0) close(f);
    }
  }

  void ArmAt(uint32_t count, Clock::time_point now) {
    want = std::clamp<uint32_t>(count, 1, PortBackend::kMaxRead);
    have = 0;
    read_armed = true;
    read_complete = false;
    read_started = now;
    last_byte = now;
  }

  void Complete() {
    read_armed = false;
    read_complete = true;
  }

  // When the read in progress ends by a read time-out, if one applies.
  bool Deadline(Clock::time_point& at) const {
    bool any = false;
    const uint64_t total =
        uint64_t{timeouts.ReadTotalTimeoutMultiplier} * want + timeouts.ReadTotalTimeoutConstant;
    if (total > 0) {
      at = read_started + std::chrono::milliseconds(total);
      any = true;
    }
    if (timeouts.ReadIntervalTimeout > 0 && have > 0) {
      const auto gap = last_byte + std::chrono::milliseconds(timeouts.ReadIntervalTimeout);
      at = any ? std::min(at, gap) : gap;
      any = true;
    }
    return any;
  }

  // Under write_mutex: once nothing is queued, the writes started so far are complete.
  void FinishIfDrained() {
    if (queued_pos < queued.size()) return;
    queued.clear();
    queued_pos = 0;
    written += started;
    started = 0;
    if (notify) {
      notify = false;
      write_done = true;
      Signal(kick_fd);
    }
  }

  // Under write_mutex: hands the port what it takes of the queue. A write that fails outright
  // is dropped (the no-answer watch of the protocol recovers); a hang-up shows in poll().
  void Flush() {
    while (queued_pos < queued.size()) {
      const ssize_t n = write(fd, queued.data() + queued_pos, queued.size() - queued_pos);
      if (n > 0) {
        queued_pos += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      started -= std::min<uint32_t>(started, static_cast<uint32_t>(queued.size() - queued_pos));
      queued_pos = queued.size();
      break;
    }
    FinishIfDrained();
  }
};

SerialBackend::SerialBackend(std::unique_ptr<SerialOs> os) : os_(std::move(os)) {}
SerialBackend::~SerialBackend() = default;

std::unique_ptr<PortBackend> OpenSerialBackend(const std::string& name, TDCB& dcb, bool apply_dcb,
                                               LinkError& error) {
  auto os = std::make_unique<SerialOs>();
  os->fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (os->fd < 0) {
    error = MapOsError(errno);
    return nullptr;
  }
  // TIOCEXCL keeps other users out, but not root; the lock keeps out every program that
  // takes it, root or not, including a second TCport.
  if (flock(os->fd, LOCK_EX | LOCK_NB) != 0) {
    error = MapOsError(errno);
    return nullptr;
  }
  const bool tty = isatty(os->fd) == 1;
  if (apply_dcb && !tty) {
    error = LinkError::NotSerial;
    return nullptr;
  }
  if (tty) {
    // A program that holds the port in exclusive mode without the lock still counts as
    // holding it (root gets past the exclusive mode, so ask for it).
    int exclusive = 0;
    if (ioctl(os->fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
      error = LinkError::PortBusy;
      return nullptr;
    }
    os->exclusive = ioctl(os->fd, TIOCEXCL) == 0;
  }
  if (apply_dcb) ApplyDcb(os->fd, dcb);
  os->stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  os->kick_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (os->stop_fd < 0 || os->kick_fd < 0) {
    error = MapOsError(errno);
    return nullptr;
  }
  error = LinkError::None;
  return std::make_unique<SerialBackend>(std::move(os));
}

void SerialBackend::ApplyTimeouts(const TCOMMTIMEOUTS& timeouts) {
  os_->timeouts = timeouts;
}

void SerialBackend::ArmRead(uint32_t count) {
  os_->ArmAt(count, Clock::now());
}

ReadStart SerialBackend::ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) {
  SerialOs& os = *os_;
  got = 0;
  const auto now = Clock::now();
  os.ArmAt(count, now);
  ssize_t n;
  do {
    n = read(os.fd, os.rx.data(), os.want);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return ReadStart::Pending;
  if (n <= 0) {
    // End of file on a tty is a hang-up; the receive thread's poll() reports it.
    os.read_armed = false;
    return ReadStart::Failed;
  }
  if (static_cast<uint32_t>(n) < os.want) {
    os.have = static_cast<uint32_t>(n);
    os.last_byte = now;
    return ReadStart::Pending;
  }
  std::copy_n(os.rx.data(), n, buf);
  got = static_cast<uint32_t>(n);
  os.read_armed = false;
  return ReadStart::Done;
}

uint32_t SerialBackend::TakeCompletedRead(uint8_t* buf) {
  SerialOs& os = *os_;
  const uint32_t n = os.read_complete ? os.have : 0;
  std::copy_n(os.rx.data(), n, buf);
  os.have = 0;
  os.read_complete = false;
  os.read_armed = false;
  return n;
}

WaitResult SerialBackend::Wait(uint32_t /*event_mask: no line events here*/, uint32_t& events_out) {
  SerialOs& os = *os_;
  events_out = 0;
  while (true) {
    if (os.stopped.load()) return WaitResult::Stop;
    if (os.read_complete) return WaitResult::ReadDone;
    bool want_out;
    {
      std::lock_guard lock(os.write_mutex);
      if (os.write_done) return WaitResult::WriteDone;
      want_out = os.queued_pos < os.queued.size();
    }
    if (os.released.load()) {
      os.failure.store(LinkError::HungUp);
      return WaitResult::Failed;
    }

    int timeout_ms = -1;
    Clock::time_point deadline;
    if (os.read_armed && os.Deadline(deadline)) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout_ms = static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
    }
    pollfd fds[3] = {
        {os.stop_fd, POLLIN, 0},
        {os.kick_fd, POLLIN, 0},
        {os.fd, static_cast<short>((os.read_armed ? POLLIN : 0) | (want_out ? POLLOUT : 0)), 0},
    };
    const int r = poll(fds, 3, timeout_ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      os.failure.store(MapOsError(errno));
      return WaitResult::Failed;
    }
    if (fds[0].revents) {
      os.stopped.store(true);
      return WaitResult::Stop;
    }
    if (fds[1].revents) Drain(os.kick_fd);
    const short rev = fds[2].revents;
    if (rev & POLLNVAL) {
      os.failure.store(LinkError::Io);
      return WaitResult::Failed;
    }
    // Bytes that came before a hang-up are still read and delivered first.
    bool got_bytes = false;
    if (os.read_armed && (rev & POLLIN)) {
      const ssize_t n = read(os.fd, os.rx.data() + os.have, os.want - os.have);
      if (n > 0) {
        got_bytes = true;
        os.have += static_cast<uint32_t>(n);
        os.last_byte = Clock::now();
        if (os.have == os.want) os.Complete();
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // read() = 0 on a tty, or EIO: the line hung up or the adapter went.
        os.failure.store(n == 0 || errno == EIO ? LinkError::HungUp : MapOsError(errno));
        return WaitResult::Failed;
      }
    }
    if ((rev & (POLLHUP | POLLERR)) && !got_bytes) {
      os.failure.store(LinkError::HungUp);
      return WaitResult::Failed;
    }
    if (rev & POLLOUT) {
      std::lock_guard lock(os.write_mutex);
      os.Flush();
    }
    if (os.read_armed && os.Deadline(deadline) && Clock::now() >= deadline) os.Complete();
  }
}

LinkError SerialBackend::FailureReason() const {
  return os_->failure.load();
}

void SerialBackend::Stop() {
  os_->stopped.store(true);
  Signal(os_->stop_fd);
}

void SerialBackend::StartWrite(const uint8_t* data, size_t count, bool notify) {
  SerialOs& os = *os_;
  std::lock_guard lock(os.write_mutex);
  if (os.released.load() || count == 0) return;
  if (os.queued.size() - os.queued_pos + count > kMaxQueued) return;  // the line is stuck
  os.queued.insert(os.queued.end(), data, data + count);
  os.started += static_cast<uint32_t>(count);
  os.notify = os.notify || notify;
  os.Flush();  // from the head of the queue, so earlier leftovers still go first
  // Bytes left over: wake the receive thread so that it waits for POLLOUT.
  if (os.queued_pos < os.queued.size()) Signal(os.kick_fd);
}

uint32_t SerialBackend::TakeWritten() {
  std::lock_guard lock(os_->write_mutex);
  os_->write_done = false;
  return std::exchange(os_->written, 0);
}

void SerialBackend::SetRts() {
  if (!os_->released.load()) ModemLine(os_->fd, TIOCM_RTS, true);
}

void SerialBackend::SetDtr() {
  if (!os_->released.load()) ModemLine(os_->fd, TIOCM_DTR, true);
}

uint32_t SerialBackend::ModemStatus() {
  int bits = 0;
  if (os_->released.load() || ioctl(os_->fd, TIOCMGET, &bits) != 0) return 0;
  uint32_t status = 0;
  if (bits & TIOCM_CTS) status |= MS_CTS_ON;
  if (bits & TIOCM_DSR) status |= MS_DSR_ON;
  if (bits & TIOCM_RI) status |= MS_RING_ON;
  if (bits & TIOCM_CD) status |= MS_RLSD_ON;
  return status;
}

void SerialBackend::ReleasePort() {
  SerialOs& os = *os_;
  std::lock_guard lock(os.write_mutex);
  if (os.released.exchange(true)) return;
  os.queued.clear();
  os.queued_pos = 0;
  // The exclusive mode would outlive us if the tty stays open elsewhere.
  if (os.exclusive) (void)ioctl(os.fd, TIOCNXCL);
  // Closing the port would free its descriptor number for reuse while the other thread may
  // still hold it; /dev/null put under the same number drops the port (and its lock) safely.
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0) {
    (void)dup3(null_fd, os.fd, O_CLOEXEC);
    close(null_fd);
  } else {
    (void)flock(os.fd, LOCK_UN);
  }
}

bool SerialBackend::Released() const {
  return os_->released.load();
}

}  // namespace lovar
