// A full model 251 read (4096 bytes, 514 exchanges) by lovar-cli through the real ser2net, raw
// and with COM Port Control, from lovar-sim paced at 9600 baud 8N1:
//  1. on the loopback, against the wire time of the bytes;
//  2. with a relay adding 50 ms each way, against the wire time plus a round trip per exchange.
// Prints figures; asserts nothing.
//
//   bench_network [loopback|far] [raw|rfc2217]
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/e2e/processes.h"
#include "../tests/support/delay_relay.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The wire's critical path, as bench_turnaround counts it: 208 and its reply, 212 and its
// reply, then 512 read requests (12 bytes) and replies (16).
constexpr int kExchanges = 2 + 512;
constexpr double kWireSeconds = (10 + 10 + 9 + 9 + 512 * (12 + 16)) * 10.0 / 9600.0;

// One timed read; the seconds it took, or a negative number when it failed.
double TimedRead(const std::string& port) {
  const auto started = Clock::now();
  const lovar::e2e::RunResult r = lovar::e2e::RunCli(
      {"read", "--port", port, "--out", "/tmp/lovar-bench-network.dat"}, std::chrono::minutes(5));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (r.exit_code != 0) {
    std::printf("  lovar-cli exit %d: %s", r.exit_code, r.err.c_str());
    return -1;
  }
  // The no-answer questions, if any, would show here: the far read must ask none.
  if (!r.err.empty()) std::printf("  lovar-cli said: %s", r.err.c_str());
  return seconds;
}

void Loopback(bool telnet) {
  lovar::e2e::SimProcess sim({"--model", "251", "--pace"});
  lovar::e2e::Ser2netProcess server(sim.port(), telnet);
  const double seconds = TimedRead(server.url());
  if (seconds < 0) return;
  std::printf("%s on the loopback: %.2f s, wire time %.2f s, ratio %.3f   (target <= 1.03)\n",
              telnet ? "rfc2217" : "raw", seconds, kWireSeconds, seconds / kWireSeconds);
}

void Far(bool telnet) {
  lovar::e2e::SimProcess sim({"--model", "251", "--pace"});
  lovar::e2e::Ser2netProcess server(sim.port(), telnet);
  constexpr auto kEachWay = 50ms;
  lovar::testing_support::DelayRelay relay(server.port(), kEachWay);
  const std::string port =
      std::string(telnet ? "rfc2217" : "socket") + "://127.0.0.1:" + std::to_string(relay.port());
  const double seconds = TimedRead(port);
  if (seconds < 0) return;
  const double round_trip = 2 * std::chrono::duration<double>(kEachWay).count();
  const double bound = kWireSeconds + kExchanges * round_trip * 1.05;
  const double ideal = kWireSeconds + kExchanges * round_trip;
  std::printf(
      "%s 50 ms away each way: %.2f s; wire + %d round trips %.2f s (ratio %.3f); target <= "
      "%.2f s\n",
      telnet ? "rfc2217" : "raw", seconds, kExchanges, ideal, seconds / ideal, bound);
}

}  // namespace

int main(int argc, char** argv) {
  std::string only, mode;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "raw" || a == "rfc2217")
      mode = a;
    else
      only = a;
  }
  std::printf("model 251 read through ser2net, lovar-sim paced at 9600 baud 8N1\n");
  for (const bool telnet : {false, true}) {
    if (!mode.empty() && (mode == "rfc2217") != telnet) continue;
    if (only.empty() || only == "loopback") Loopback(telnet);
    if (only.empty() || only == "far") Far(telnet);
  }
  return 0;
}
