#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <vector>

#include "files/system_error_text.h"

namespace lovar {

namespace {

using Clock = std::chrono::steady_clock;

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

timespec ToTimespec(Clock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return ts;
}

// One output of the simulator waiting for its time, and how much of it is written.
struct Outgoing {
  Clock::time_point due;
  std::vector<uint8_t> bytes;
  bool hang_up = false;
  size_t written = 0;
};

}  // namespace

PtyLine::PtyLine(DeviceSim& sim, PtyOptions options) : sim_(sim), options_(std::move(options)) {}

PtyLine::~PtyLine() {
  Close();
}

void PtyLine::HangUp() {
  for (int* fd : {&master_, &slave_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void PtyLine::Close() {
  HangUp();
  for (int* fd : {&stop_read_, &stop_write_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (linked_) {
    // Only our own link: something else may have taken the name meanwhile.
    char target[256];
    const ssize_t n = readlink(options_.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string_view(target, static_cast<size_t>(n)) == slave_path_) {
      unlink(options_.link.c_str());
    }
    linked_ = false;
  }
}

bool PtyLine::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = "Не удалось создать псевдотерминал: " + SystemErrorText(errno);
    Close();
    return false;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    error = "Не удалось узнать имя псевдотерминала: " + SystemErrorText(errno);
    Close();
    return false;
  }
  slave_path_ = name;
  // Our own slave descriptor: while it is open, a client closing the port does not hang the
  // master up. Raw, so that nothing is echoed or translated before a client sets its mode.
  slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
    error = "Не удалось открыть " + slave_path_ + ": " + SystemErrorText(errno);
    Close();
    return false;
  }
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~HUPCL;
  tcsetattr(slave_, TCSANOW, &tio);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0 || !SetNonBlocking(master_)) {
    error = "Не удалось подготовить псевдотерминал: " + SystemErrorText(errno);
    Close();
    return false;
  }
  stop_read_ = pipe_fds[0];
  stop_write_ = pipe_fds[1];
  SetNonBlocking(stop_read_);
  SetNonBlocking(stop_write_);

  if (!options_.link.empty()) {
    struct stat st {};
    // Replace an old link of ours (a dead simulator's), never a real file.
    if (lstat(options_.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      unlink(options_.link.c_str());
    }
    if (symlink(slave_path_.c_str(), options_.link.c_str()) != 0) {
      error = "Не удалось создать ссылку " + options_.link + ": " + SystemErrorText(errno);
      Close();
      return false;
    }
    linked_ = true;
  }
  if (options_.log) {
    sim_.SetRequestObserver(
        [this](int number, std::span<const uint8_t> frame) { Log(number, frame); });
  }
  return true;
}

void PtyLine::Stop() noexcept {
  if (stop_write_ >= 0) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_write_, &c, 1);
  }
}

void PtyLine::Log(int number, std::span<const uint8_t> frame) {
  char line[96];
  const int command = frame[6];
  const int sequence = frame[4];
  int n;
  if ((command == kReadRequest || command == kWriteRequest) && frame[1] >= 9) {
    const int offset = frame[7] | frame[8] << 8 | frame[9] << 16;
    const int count = command == kReadRequest ? frame[10] : frame[1] - 9;
    n = std::snprintf(line, sizeof line, "#%d %d seq %d offset %d count %d", number, command,
                      sequence, offset, count);
  } else {
    n = std::snprintf(line, sizeof line, "#%d %d seq %d", number, command, sequence);
  }
  options_.log(std::string_view(line, static_cast<size_t>(std::max(n, 0))));
}

PtyLine::End PtyLine::Run() {
  if (master_ < 0) {
    error_ = "Псевдотерминал не открыт";
    return End::Failed;
  }
  std::deque<Outgoing> queue;  // due-time order, equal times in the order produced
  std::vector<SimOutput> outputs;
  std::vector<uint8_t> buffer(4096);
  const bool pace = options_.pace;

  // Pacing state. in_last / out_last: when the last byte taken / written completed on the wire.
  Clock::time_point in_last{}, out_last{};
  // While received bytes wait to be taken (taking), when the next one completes.
  bool taking = false;
  Clock::time_point in_next{};

  auto enqueue = [&](Clock::time_point arrival) {
    for (SimOutput& o : outputs) {
      Outgoing item{arrival + o.delay, std::move(o.bytes), o.hang_up, 0};
      auto at =
          std::upper_bound(queue.begin(), queue.end(), item.due,
                           [](Clock::time_point due, const Outgoing& q) { return due < q.due; });
      queue.insert(at, std::move(item));
    }
    outputs.clear();
  };
  auto fail = [&](const char* what) {
    error_ = std::string(what) + ": " + SystemErrorText(errno);
    return End::Failed;
  };

  for (;;) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> wake;
    auto wake_at = [&](Clock::time_point t) {
      if (!wake || t < *wake) wake = t;
    };
    bool want_in = !pace || !taking;
    bool want_out = false;

    // Received bytes whose time has come (paced input).
    if (pace && taking) {
      if (now >= in_next) {
        int avail = 0;
        if (ioctl(master_, FIONREAD, &avail) != 0) return fail("Ошибка чтения псевдотерминала");
        const auto behind = (now - in_next) / kByteTime;
        const size_t take = std::min<size_t>(static_cast<size_t>(std::max(avail, 0)),
                                             static_cast<size_t>(behind) + 1);
        ssize_t got = take > 0 ? ::read(master_, buffer.data(), take) : 0;
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
          return fail("Ошибка чтения псевдотерминала");
        }
        for (ssize_t i = 0; i < got; ++i) {
          sim_.Feed(std::span<const uint8_t>(&buffer[static_cast<size_t>(i)], 1), outputs);
          enqueue(in_next);
          in_last = in_next;
          in_next += kByteTime;
        }
        avail = 0;
        ioctl(master_, FIONREAD, &avail);
        if (avail <= 0) {
          taking = false;
          want_in = true;
        }
      }
      if (taking) wake_at(in_next);
    }

    // Outputs whose time has come.
    while (!queue.empty() && queue.front().due <= now) {
      Outgoing& item = queue.front();
      const Clock::time_point at = pace ? std::max(out_last, item.due) + kByteTime : item.due;
      if (item.hang_up) {
        if (at > now) {
          wake_at(at);
          break;
        }
        HangUp();
        return End::HungUp;
      }
      size_t count = item.bytes.size() - item.written;
      if (pace) {
        if (at > now) {
          wake_at(at);
          break;
        }
        count = 1;
      }
      const ssize_t n = ::write(master_, item.bytes.data() + item.written, count);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          want_out = true;
          break;
        }
        return fail("Ошибка записи в псевдотерминал");
      }
      item.written += static_cast<size_t>(n);
      if (pace) out_last = at;
      if (item.written == item.bytes.size()) queue.pop_front();
      if (!pace && static_cast<size_t>(n) < count) {
        want_out = true;
        break;
      }
    }
    if (!queue.empty() && !want_out) {
      wake_at(pace ? std::max(queue.front().due, out_last) + kByteTime : queue.front().due);
    }

    pollfd fds[2] = {{master_, 0, 0}, {stop_read_, POLLIN, 0}};
    if (want_in) fds[0].events |= POLLIN;
    if (want_out) fds[0].events |= POLLOUT;
    timespec timeout{};
    const timespec* timeout_ptr = nullptr;
    if (wake) {
      const Clock::time_point t = Clock::now();
      timeout = ToTimespec(*wake > t ? *wake - t : Clock::duration::zero());
      timeout_ptr = &timeout;
    }
    if (ppoll(fds, 2, timeout_ptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      return fail("Ошибка ожидания псевдотерминала");
    }
    if (fds[1].revents & POLLIN) {
      char drain[16];
      while (::read(stop_read_, drain, sizeof drain) > 0) {
      }
      return End::Stopped;
    }
    // The line's own slave descriptor keeps the master from hanging up; if it does all the
    // same, stop rather than spin on an event that never clears.
    if ((fds[0].revents & (POLLERR | POLLNVAL)) ||
        ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN))) {
      errno = EIO;
      return fail("Псевдотерминал закрыт");
    }
    if (fds[0].revents & POLLIN) {
      if (pace) {
        // The first byte of a burst completes one byte time after it was seen, or after the
        // byte before it if that was still on the wire.
        in_next = std::max(in_last, Clock::now()) + kByteTime;
        taking = true;
      } else {
        const ssize_t got = ::read(master_, buffer.data(), buffer.size());
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
          return fail("Ошибка чтения псевдотерминала");
        }
        if (got > 0) {
          sim_.Feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)), outputs);
          enqueue(Clock::now());
        }
      }
    }
  }
}

}  // namespace lovar
