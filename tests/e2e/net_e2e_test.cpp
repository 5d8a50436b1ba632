// End to end over the network: the real lovar-cli reaching the real lovar-sim through the real
// ser2net on the loopback, raw (socket://) and with COM Port Control (rfc2217://), and the
// faults of a network link: a far server, a dropped connection, a refusing or silent server,
// a name that does not resolve.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "processes.h"
#include "sim/device_sim.h"
#include "support/delay_relay.h"
#include "support/pattern_image.h"

namespace lovar::e2e {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The image part of a model 250 configuration file.
Bytes ImageOf(const std::string& path) {
  const Bytes file = ReadFile(path);
  return file.size() > 100 ? Bytes(file.begin() + 100, file.end()) : Bytes{};
}

Bytes ImageBytes(const ConfigImage& image, int length) {
  return Bytes(image.bytes().begin(), image.bytes().begin() + length);
}

bool HasIpv6Loopback() {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

class EachMode : public ::testing::TestWithParam<bool> {
 protected:
  bool telnet() const { return GetParam(); }
  std::string Name(const std::string& what) const {
    return what + (telnet() ? "-rfc2217" : "-raw") + ".dat";
  }
};

// Every byte value, 255 (the Telnet escape) among them, both ways: read from the device into a
// file, then a verified write of another image into the device.
TEST_P(EachMode, EveryByteValueCrossesBothWays) {
  const ConfigImage device = lovar::testing::PatternImage(3);
  const std::string image_file = TempPath(Name("net-device"));
  ASSERT_TRUE(SaveConfigFile(image_file, 250, device).ok());
  const std::string saved = TempPath(Name("net-saved"));
  SimProcess sim({"--model", "250", "--image", image_file, "--save", saved});
  Ser2netProcess server(sim.port(), telnet());

  const std::string read = TempPath(Name("net-read"));
  RunResult r = RunCli({"read", "--port", server.url(), "--out", read});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ImageOf(read), ImageBytes(device, 256));

  ConfigImage edited = lovar::testing::PatternImage(200);
  for (int i = 127; i <= 130; ++i) edited[i] = 0;  // a model 250 write sends these as 0
  const std::string file = TempPath(Name("net-write"));
  ASSERT_TRUE(SaveConfigFile(file, 250, edited).ok());
  r = RunCli({"write", "--port", server.url(), file});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Конфигурация записана в УО"), std::string::npos) << r.out;
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(ImageOf(saved), ImageBytes(edited, 256));
}

// 100 ms each way and a paced line: each reply comes in pieces a round trip late, yet no
// question is asked and no frame is lost.
TEST_P(EachMode, ADeviceATenthOfASecondAwayIsReadWithoutNoAnswerQuestions) {
  SimProcess sim({"--model", "250", "--pace"});
  Ser2netProcess server(sim.port(), telnet());
  testing_support::DelayRelay relay(server.port(), 100ms);
  const std::string scheme = telnet() ? "rfc2217" : "socket";
  const std::string read = TempPath(Name("net-far"));
  const RunResult r = RunCli(
      {"read", "--port", scheme + "://127.0.0.1:" + std::to_string(relay.port()), "--out", read});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("не отвечает"), std::string::npos) << r.err;
  EXPECT_EQ(ImageOf(read), ImageBytes(SampleImage(250), 256));
}

// ser2net killed in the middle of a read and of a write: a lost line, no file, nothing said done.
TEST_P(EachMode, ServerDroppingTheConnectionIsALostLineAndNothingIsSaidDone) {
  const std::string file = TempPath(Name("net-dropped-write"));
  ASSERT_TRUE(SaveConfigFile(file, 250, lovar::testing::PatternImage(9)).ok());
  const std::string read = TempPath(Name("net-dropped-read"));
  const struct {
    std::vector<std::string> command;
    const char* request;  // the kill comes once the device has seen it
    int status;
    std::vector<const char*> said;
  } rows[] = {
      {{"read", "--out", read},
       "#12 200",
       8,
       {"Конфигурация считана не полностью (", "Связь с портом потеряна. Файл не записан"}},
      {{"write", file},
       "#8 202",
       6,
       {"Запись прервана на смещении ", "смесь старой и новой конфигурации"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.request);
    SimProcess sim({"--model", "250", "--pace"}, /*log=*/true);
    Ser2netProcess server(sim.port(), telnet());
    std::vector<std::string> args = r.command;
    args.insert(args.begin() + 1, {"--port", server.url()});
    CliProcess cli(args);
    ASSERT_TRUE(sim.WaitForLog(r.request));
    server.Kill();
    const RunResult run = cli.Wait();
    EXPECT_EQ(run.exit_code, r.status) << run.err;
    EXPECT_EQ(run.out.find("Конфигурация"), std::string::npos) << run.out;
    for (const char* text : r.said) EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::ifstream(read).good());
}

INSTANTIATE_TEST_SUITE_P(Ser2net, EachMode, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Rfc2217" : "Raw"; });

TEST(NetworkPort, EachFailureToOpenIsSaidAndNothingIsTouched) {
  SimProcess sim({"--model", "250"}, /*log=*/true);
  Ser2netProcess raw(sim.port(), false);
  const std::string closed = std::to_string(FreePort());
  struct Row {
    std::string port;
    const char* said;
  };
  std::vector<Row> rows = {
      {"socket://127.0.0.1:" + closed, "Сервер портов отказал в соединении"},
      // A name, resolved from the hosts file: each of its loopback addresses is tried and
      // refuses.
      {"rfc2217://localhost:" + closed, "Сервер портов отказал в соединении"},
      {"socket://127.0.0.1", "Неверный сетевой адрес порта"},
      // Telnet to a raw port: the negotiation goes to the device as data, and no server
      // answers it.
      {"rfc2217://127.0.0.1:" + std::to_string(raw.port()),
       "Сервер портов не ответил на согласование RFC 2217"},
  };
  if (HasIpv6Loopback()) rows.push_back({"socket://[::1]:" + closed, rows[0].said});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.port);
    const RunResult run = RunCli({"identify", "--port", r.port}, 30s);
    EXPECT_EQ(run.exit_code, 2) << run.err;
    EXPECT_EQ(run.err.rfind(r.port + ": " + r.said, 0), 0u) << run.err;
  }
  EXPECT_FALSE(sim.WaitForLog("#1 ", 100ms));  // no request ever reached the device
}

}  // namespace
}  // namespace lovar::e2e
