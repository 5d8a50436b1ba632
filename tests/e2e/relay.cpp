#include "relay.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <stdexcept>

#include "protocol/crc8.h"

namespace lovar::e2e {
namespace {

constexpr uint8_t kStart = 0xFE;
constexpr uint8_t kWrite = 0xCA;
constexpr uint8_t kRead = 0xC8;
constexpr uint8_t kReadReply = 0xC9;

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

void WriteAll(int fd, const uint8_t* bytes, size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, bytes, n);
    if (done > 0) {
      bytes += done;
      n -= static_cast<size_t>(done);
    } else if (done < 0 && errno != EAGAIN && errno != EINTR) {
      return;  // the other side is gone; the test sees it there
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 1000);
    }
  }
}

}  // namespace

// Flips a bit of the frame and makes its CRC good again.
void FlipBit(std::string& frame, size_t at, int bit) {
  auto* data = reinterpret_cast<uint8_t*>(frame.data());
  data[at] ^= static_cast<uint8_t>(1u << bit);
  data[frame.size() - 1] = Crc8(std::span<const uint8_t>(data, frame.size() - 1));
}

int OffsetOf(const std::string& frame) {
  auto at = [&](size_t i) { return static_cast<uint8_t>(frame[i]); };
  return at(7) | at(8) << 8 | at(9) << 16;
}

FrameRelay::FrameRelay(const std::string& device_port, Damage damage,
                       const std::string& second_port)
    : damage_(damage) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  char name[128] = {};
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0)
    throw std::runtime_error("relay: no pseudo-terminal");
  port_ = name;
  // Our own descriptor of the client's side, raw and never read, keeps the line up while no
  // client has it open.
  const int keep = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  MakeRaw(keep);
  device_ = open(device_port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (keep < 0 || device_ < 0 || pipe2(stop_, O_CLOEXEC) != 0)
    throw std::runtime_error("relay: cannot open " + device_port);
  MakeRaw(device_);
  active_ = device_;
  if (!second_port.empty()) {
    second_ = open(second_port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (second_ < 0) throw std::runtime_error("relay: cannot open " + second_port);
    MakeRaw(second_);
  }
  thread_ = std::thread([this, keep] {
    Run();
    close(keep);
  });
}

FrameRelay::~FrameRelay() {
  const uint8_t one = 1;
  (void)write(stop_[1], &one, 1);
  if (thread_.joinable()) thread_.join();
  for (int fd : {master_, device_, second_, stop_[0], stop_[1]})
    if (fd >= 0) close(fd);
}

void FrameRelay::Run() {
  uint8_t buf[512];
  for (;;) {
    // The device not answering (switched away from) is read and its bytes dropped.
    pollfd fds[4] = {{master_, POLLIN, 0},
                     {device_, POLLIN, 0},
                     {stop_[0], POLLIN, 0},
                     {second_, second_ >= 0 ? short(POLLIN) : short(0), 0}};
    if (poll(fds, 4, -1) < 0) continue;
    if (fds[2].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) FromClient(buf, static_cast<size_t>(n));
    }
    for (int i : {1, 3}) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0 && fds[i].fd == active_.load())
        FromDevice(buf, static_cast<size_t>(n));
      else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return;  // a simulator hung up
    }
  }
}

void FrameRelay::ToDevice(const uint8_t* bytes, size_t n) {
  WriteAll(active_.load(), bytes, n);
}

// The device's replies, cut by their length byte: a chosen read reply damaged or held back.
void FrameRelay::FromDevice(const uint8_t* bytes, size_t n) {
  replies_.append(reinterpret_cast<const char*>(bytes), n);
  auto at = [this](size_t i) { return static_cast<uint8_t>(replies_[i]); };
  auto pass = [this](size_t count) {
    WriteAll(master_, reinterpret_cast<const uint8_t*>(replies_.data()), count);
    replies_.erase(0, count);
  };
  while (!replies_.empty()) {
    if (at(0) != kStart) {
      pass(1);
      continue;
    }
    if (replies_.size() < 2) return;
    const size_t size = at(1) + 2u;
    if (size < 8) {
      pass(1);
      continue;
    }
    if (replies_.size() < size) return;
    std::string frame = replies_.substr(0, size);
    if (Crc8(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(frame.data()), size)) != 0 ||
        static_cast<uint8_t>(frame[6]) != kReadReply) {
      pass(size);
      continue;
    }
    replies_.erase(0, size);
    const int number = ++read_replies_;
    if (number == damage_.late) {
      held_ = frame;  // the client hears nothing, and asks again
      held_sequence_ = static_cast<uint8_t>(frame[4]);
      held_offset_ = last_read_offset_;
      continue;
    }
    if (number == damage_.reply && static_cast<size_t>(7 + damage_.reply_byte) < size - 1) {
      FlipBit(frame, 7 + static_cast<size_t>(damage_.reply_byte), damage_.reply_bit);
      ++damaged_;
    }
    WriteAll(master_, reinterpret_cast<const uint8_t*>(frame.data()), size);
  }
}

void FrameRelay::FromClient(const uint8_t* bytes, size_t n) {
  pending_.append(reinterpret_cast<const char*>(bytes), n);
  auto at = [this](size_t i) { return static_cast<uint8_t>(pending_[i]); };
  auto pass_first = [this] {
    ToDevice(reinterpret_cast<const uint8_t*>(pending_.data()), 1);
    pending_.erase(0, 1);
  };
  while (!pending_.empty()) {
    if (at(0) != kStart) {
      pass_first();  // the byte after a frame, or noise
      continue;
    }
    if (pending_.size() < 4) return;
    const size_t size = at(1) + 2u;
    if (at(2) != 1 || at(3) != 0x7F || size < 8) {
      pass_first();
      continue;
    }
    if (pending_.size() < size) return;
    std::string frame = pending_.substr(0, size);
    auto* data = reinterpret_cast<uint8_t*>(frame.data());
    if (Crc8(std::span<const uint8_t>(data, size)) != 0) {
      pass_first();
      continue;
    }
    if (data[6] == kRead) {
      if (written_) read_back_ = true;
      last_read_offset_ = OffsetOf(frame);
      // The reply held back comes when its number is in use again, for another offset.
      if (!held_.empty() && data[4] == held_sequence_ && last_read_offset_ != held_offset_) {
        WriteAll(master_, reinterpret_cast<const uint8_t*>(held_.data()), held_.size());
        held_.clear();
        ++late_handed_;
      }
    }
    if (data[6] == kWrite && damage_.switch_at_write && !written_) switch_ = true;
    if (data[6] == kWrite) {
      written_ = true;
      if (read_back_ || damage_.from_first_write) {
        ++repair_writes_;
        const bool chosen =
            damage_.first > 0 &&
            (repair_writes_ == damage_.first || (damage_.every && repair_writes_ > damage_.first));
        if (chosen && static_cast<size_t>(damage_.byte) < size - 1) {
          FlipBit(frame, static_cast<size_t>(damage_.byte), damage_.bit);
          ++damaged_;
        }
      }
    }
    // Another device takes the line at a frame's start, never inside one.
    if (switch_.exchange(false) && second_ >= 0) active_ = second_;
    ToDevice(data, size);
    pending_.erase(0, size);
  }
}

}  // namespace lovar::e2e
