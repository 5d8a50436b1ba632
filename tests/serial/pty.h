// A pseudo-terminal for the serial tests: the test holds the master side as "the device", and
// the slave path is the port that TCport opens.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace lovar::test {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    char name[128] = {};
    ptsname_r(master_, name, sizeof name);
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Kept open for the whole test: it keeps the line's input buffer alive while no TCport
    // has it open, lets the test count the bytes waiting at the port, and with the line raw
    // the line discipline neither echoes nor translates.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
  }
  ~Pty() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& Path() const { return path_; }
  int SlaveFd() const { return slave_; }

  // The device sends bytes.
  void Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ASSERT_GT(poll(&p, 1, 5000), 0) << "the line takes no more bytes";
      }
    }
  }

  // Bytes that have reached the port and are not read yet.
  int Waiting() const {
    int n = 0;
    ioctl(slave_, FIONREAD, &n);
    return n;
  }

  // Waits until exactly n bytes are waiting at the port (a generous time-out, no fixed sleep).
  bool WaitWaiting(int n) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Waiting() != n) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // What the port sent: reads until count bytes have come (or 5 s passed).
  std::vector<uint8_t> Read(size_t count) {
    std::vector<uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    uint8_t buf[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // The device hangs up.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

}  // namespace lovar::test
