// The simulator on a pseudo-terminal, served on a thread of the test; the test side is a plain
// POSIX client of the slave path, as a serial port program would be.
#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "protocol/crc8.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kPatienceMs = 5000;

Bytes Identify(uint8_t seq) {
  Bytes frame{0xFE, 0x08, 0x01, 0x7F, seq, 0x00, 0xD0, 0x00, 0x00};
  frame.push_back(Crc8(frame));
  frame.push_back(0xFE);  // the trailing byte may be a start byte
  return frame;
}

// The line served on its own thread for the test's lifetime.
class ServedLine {
 public:
  ServedLine(SimConfig config, PtyOptions options = {}) : sim_(config), line_(sim_, options) {
    std::string error;
    opened_ = line_.Open(error);
    EXPECT_TRUE(opened_) << error;
    if (opened_) thread_ = std::thread([this] { end_ = line_.Run(); });
  }
  ~ServedLine() { Join(); }
  void Join() {
    line_.Stop();
    if (thread_.joinable()) thread_.join();
  }
  const std::string& path() const { return line_.SlavePath(); }
  PtyLine::End end() const { return end_; }
  DeviceSim& sim() { return sim_; }  // only once joined

 private:
  DeviceSim sim_;
  PtyLine line_;
  bool opened_ = false;
  PtyLine::End end_ = PtyLine::End::Failed;
  std::thread thread_;
};

int OpenClient(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void WriteAll(int fd, const Bytes& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads until n bytes have come, the line hangs up, or the patience runs out.
Bytes ReadBytes(int fd, size_t n, bool* hung_up = nullptr) {
  Bytes got;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kPatienceMs);
  while (got.size() < n && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buffer[256];
    const ssize_t r = ::read(fd, buffer, sizeof buffer);
    if (r > 0) {
      got.insert(got.end(), buffer, buffer + r);
    } else if (r == 0 || errno == EIO || (p.revents & POLLHUP)) {
      if (hung_up) *hung_up = true;
      break;
    }
  }
  return got;
}

// Clients come through the link, which names the slave while the line is served.
TEST(PtyLine, AnswersWithoutEchoAndAcrossReconnects) {
  const std::filesystem::path link =
      std::filesystem::temp_directory_path() / ("lovar-sim-test-" + std::to_string(getpid()));
  PtyOptions options;
  options.link = link.string();
  std::optional<ServedLine> served(std::in_place, SimConfig{}, options);
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), served->path());
  for (uint8_t seq = 0; seq < 3; ++seq) {
    const int fd = OpenClient(link.string());
    ASSERT_GE(fd, 0);
    WriteAll(fd, Identify(seq));
    const Bytes reply = ReadBytes(fd, 10);
    EXPECT_EQ(reply, (Bytes{0xFE, 0x08, 0x7F, 0x01, seq, 0x00, 0xD1, 0xFB, 0x0C,
                            Crc8(Bytes{0xFE, 0x08, 0x7F, 0x01, seq, 0x00, 0xD1, 0xFB, 0x0C})}));
    ::close(fd);  // the master must not see a hang-up
  }
  served->Join();
  EXPECT_EQ(served->end(), PtyLine::End::Stopped);
  EXPECT_EQ(served->sim().requests(), 3);
  served.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(PtyLine, HangUpFaultIsSeenByTheClient) {
  SimConfig config;
  config.faults = {{FaultKind::HangUp, 2}};
  ServedLine served(config);
  const int fd = OpenClient(served.path());
  ASSERT_GE(fd, 0);
  WriteAll(fd, Identify(0));
  EXPECT_EQ(ReadBytes(fd, 10).size(), 10u);
  WriteAll(fd, Identify(1));
  bool hung_up = false;
  EXPECT_TRUE(ReadBytes(fd, 1, &hung_up).empty());
  EXPECT_TRUE(hung_up);
  ::close(fd);
  served.Join();
  EXPECT_EQ(served.end(), PtyLine::End::HungUp);
}

TEST(PtyLine, PacedReplyTakesAtLeastItsWireTime) {
  PtyOptions options;
  options.pace = true;
  ServedLine served(SimConfig{}, options);
  const int fd = OpenClient(served.path());
  ASSERT_GE(fd, 0);
  Bytes read{0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A, 0x00};
  const auto start = Clock::now();
  WriteAll(fd, read);
  EXPECT_EQ(ReadBytes(fd, 16).size(), 16u);
  // 12 frame bytes in and 16 out at 1.04 ms each; only a loose lower bound is asserted.
  EXPECT_GE(Clock::now() - start, 25ms);
  ::close(fd);
}

TEST(PtyLine, LogsOneLinePerRequest) {
  std::vector<std::string> lines;
  PtyOptions options;
  options.log = [&](std::string_view line) { lines.emplace_back(line); };
  ServedLine served(SimConfig{}, options);
  const int fd = OpenClient(served.path());
  ASSERT_GE(fd, 0);
  WriteAll(fd, Identify(4));
  Bytes read{0xFE, 0x0A, 0x01, 0x7F, 0x05, 0x00, 0xC8, 0x28, 0x00, 0x00, 0x08, 0xEF, 0x00};
  WriteAll(fd, read);
  EXPECT_EQ(ReadBytes(fd, 26).size(), 26u);
  ::close(fd);
  served.Join();
  EXPECT_EQ(lines, (std::vector<std::string>{"#1 208 seq 4", "#2 200 seq 5 offset 40 count 8"}));
}

}  // namespace
}  // namespace lovar
