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

FrameRelay::FrameRelay(const std::string& device_port, Damage damage) : damage_(damage) {
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
  thread_ = std::thread([this, keep] {
    Run();
    close(keep);
  });
}

FrameRelay::~FrameRelay() {
  const uint8_t one = 1;
  (void)write(stop_[1], &one, 1);
  if (thread_.joinable()) thread_.join();
  for (int fd : {master_, device_, stop_[0], stop_[1]})
    if (fd >= 0) close(fd);
}

void FrameRelay::Run() {
  uint8_t buf[512];
  for (;;) {
    pollfd fds[3] = {{master_, POLLIN, 0}, {device_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) FromClient(buf, static_cast<size_t>(n));
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(device_, buf, sizeof buf);
      if (n > 0)
        WriteAll(master_, buf, static_cast<size_t>(n));
      else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        return;  // the simulator hung up
    }
  }
}

void FrameRelay::ToDevice(const uint8_t* bytes, size_t n) {
  WriteAll(device_, bytes, n);
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
    if (data[6] == kRead && written_) read_back_ = true;
    if (data[6] == kWrite) {
      written_ = true;
      if (read_back_ || damage_.from_first_write) {
        ++repair_writes_;
        const bool chosen =
            repair_writes_ == damage_.first || (damage_.every && repair_writes_ > damage_.first);
        if (chosen && static_cast<size_t>(damage_.byte) < size - 1) {
          data[damage_.byte] ^= static_cast<uint8_t>(1u << damage_.bit);
          data[size - 1] = Crc8(std::span<const uint8_t>(data, size - 1));
          ++damaged_;
        }
      }
    }
    ToDevice(data, size);
    pending_.erase(0, size);
  }
}

}  // namespace lovar::e2e
