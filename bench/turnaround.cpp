// Link figures for a full model 251 read (4096 bytes, 512 round trips) over a pseudo-terminal:
//  1. unpaced: round trips per second and the tool's turnaround (last byte of a reply in, first
//     byte of the next request out), median and p99, and lovar-cli's peak resident memory;
//  2. paced at 9600 baud 8N1 by lovar-sim: total time against the wire time of the bytes;
//  3. the port open and idle for 10 s: the tool's CPU time;
//  4. paced at 9600 baud, per model: a whole read and a verified write (the write, its
//     read-back and the comparison), each against the wire time of its bytes.
// Prints figures; asserts nothing.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_processes.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"
#include "sim/device_sim.h"

namespace {

using namespace lovar;
using bench::ChildResult;
using bench::Clock;
using bench::Spawn;
using bench::Wait;

// The tool under test: lovar-cli by default; with --cli "wine .../lovar-cli.exe" --link
// $WINEPREFIX/dosdevices/com7 --port-name COM7 the Windows build under Wine.
struct Tool {
  std::vector<std::string> command{LOVAR_CLI_PATH};
  std::string link;       // made to point at the pseudo-terminal when set
  std::string port_name;  // the name the tool opens; the pty path when empty
};
Tool g_tool;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// The tool's read command on the pty at path.
std::vector<std::string> ReadCommand(const std::string& path, const std::string& file) {
  std::string port = path;
  if (!g_tool.link.empty()) {
    unlink(g_tool.link.c_str());
    if (symlink(path.c_str(), g_tool.link.c_str()) != 0) std::perror("symlink");
    port = g_tool.port_name;
  }
  std::vector<std::string> args = g_tool.command;
  for (const char* a : {"read", "--port"}) args.push_back(a);
  args.push_back(port);
  args.push_back("--out");
  args.push_back(file);
  return args;
}

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// The device side on a pty master, in this process, timing every turnaround.
void Unpaced() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  const std::string slave_path = ptsname(master);
  const int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);  // keeps the pty up
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);

  SimConfig config;
  config.model = 251;
  DeviceSim sim(config);
  std::vector<double> turnaround;
  std::atomic<bool> stop{false};
  std::thread device([&] {
    Clock::time_point replied{};
    bool waiting = false;
    std::vector<uint8_t> buf(4096);
    while (!stop.load()) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = read(master, buf.data(), buf.size());
      if (n <= 0) continue;
      const auto now = Clock::now();
      if (waiting) turnaround.push_back(Micros(now - replied));
      waiting = false;
      std::vector<SimOutput> out;
      sim.Feed(std::span(buf.data(), static_cast<size_t>(n)), out);
      for (const SimOutput& o : out) {
        if (write(master, o.bytes.data(), o.bytes.size()) < 0) std::perror("write");
        replied = Clock::now();
        waiting = true;
      }
    }
  });

  const std::string file = "/tmp/lovar-bench-unpaced.dat";
  const auto started = Clock::now();
  const pid_t cli = Spawn(ReadCommand(slave_path, file));
  const ChildResult r = Wait(cli, started);
  stop = true;
  device.join();
  close(slave);
  close(master);

  // The identification and the 212 come before the 512 timed read round trips.
  std::vector<double> t = turnaround;
  std::sort(t.begin(), t.end());
  const auto pct = [&](double q) {
    return t.empty() ? 0.0 : t[static_cast<size_t>(q * (t.size() - 1))];
  };
  std::printf("unpaced full read (model 251, 4096 bytes), lovar-cli exit %d\n",
              WEXITSTATUS(r.status));
  std::printf("  round trips:            %zu in %.3f s (%.0f per second, process start included)\n",
              turnaround.size() + 1, r.seconds, (turnaround.size() + 1) / r.seconds);
  std::printf("  tool turnaround median: %.0f us   (target <= 200 us)\n", pct(0.5));
  std::printf("  tool turnaround p99:    %.0f us   (target <= 1000 us)\n", pct(0.99));
  std::printf("  lovar-cli peak RSS:     %.1f MB   (target <= 10 MB)\n",
              r.usage.ru_maxrss / 1024.0);
  // The registry the read recorded into, listed.
  std::vector<std::string> list = g_tool.command;
  list.insert(list.end(), {"sites", "list"});
  const int null_out = open("/dev/null", O_WRONLY);
  const ChildResult listed = Wait(Spawn(list, null_out), Clock::now());
  close(null_out);
  std::printf("  lovar-cli sites list peak RSS: %.1f MB   (target <= 10 MB), exit %d\n",
              listed.usage.ru_maxrss / 1024.0, WEXITSTATUS(listed.status));
}

// lovar-sim paces both directions at 9600 baud; compare with the wire time of the bytes.
void Paced() {
  const bench::Sim sim({"--model", "251", "--pace", "--quiet"});
  const std::string file = "/tmp/lovar-bench-paced.dat";
  const auto started = Clock::now();
  const pid_t cli = Spawn(ReadCommand(sim.port(), file));
  const ChildResult r = Wait(cli, started);
  // The wire's critical path: 208 (10 bytes) and its reply (10), 212 (9) and its reply (9),
  // then 512 read requests (12) and replies (16). The byte each request carries after its
  // frame crosses the line while the reply comes back (full duplex), so it adds no time.
  const int bytes = 10 + 10 + 9 + 9 + 512 * (12 + 16);
  const double wire = bytes * 10.0 / 9600.0;
  std::printf("paced at 9600 baud 8N1, lovar-cli exit %d\n", WEXITSTATUS(r.status));
  std::printf("  total %.2f s, wire time %.2f s, ratio %.3f   (target <= 1.02)\n", r.seconds, wire,
              r.seconds / wire);
}

class IdleView : public ExchangeObserver {
 public:
  bool AskContinue() override { return false; }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The tool's port open on an idle line for 10 s, with its 100 ms timer running.
void Idle() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  EventLoop loop;
  TCport port(loop);
  ConfigImage image;
  IdleView view;
  Exchange engine(port, image, view);
  port.OnReceive = [&](const TMessageDevice& m) { engine.Cport1Receive(m); };
  loop.AddTimer(std::chrono::milliseconds(100), [&] { engine.Timer1Timer(); });
  port.SetNameDevice(ptsname(master));
  if (!port.OpenDevice()) {
    std::printf("idle: cannot open the pty\n");
    return;
  }
  const double before = CpuSeconds();
  loop.RunFor(std::chrono::seconds(10));
  const double used = CpuSeconds() - before;
  port.CloseDevice();
  close(master);
  std::printf("port open and idle for 10 s\n");
  std::printf("  tool CPU time: %.1f ms   (target <= 20 ms)\n", used * 1000);
}

class PacedView : public ExchangeObserver, public VerifiedWriteObserver {
 public:
  bool AskContinue() override { return true; }
  void Identified(int, int) override { identified = true; }
  void ReadEnded(bool complete, bool) override { read = complete ? 1 : 2; }
  void WriteFinished(const WriteReport& r) override { report = r; }
  bool identified = false;
  int read = 0;
  std::optional<WriteReport> report;
};

// A read and a verified write per model, in this process against the paced lovar-sim. The wire
// time counts a read request (12 bytes) and its reply (16) per 8 bytes read, a write request
// (27) and its acknowledgement (8) per 16-byte block; the byte after each request crosses the
// line while the reply comes back.
void PacedWrites() {
  std::printf("paced at 9600 baud 8N1: read and verified write (write, read-back, comparison)\n");
  for (int model : {250, 252, 251}) {
    const bench::Sim sim({"--model", std::to_string(model), "--pace", "--quiet"});
    const std::string& path = sim.port();
    EventLoop loop;
    TCport port(loop);
    port.SetBaudRate(9600);
    ConfigImage image;
    PacedView view;
    Exchange engine(port, image, view);
    VerifiedWrite verified(engine, image, view);
    port.OnReceive = [&](const TMessageDevice& m) { engine.Cport1Receive(m); };
    const int timer = loop.AddTimer(std::chrono::milliseconds(100), [&] { engine.Timer1Timer(); });
    port.SetNameDevice(path);
    if (!port.OpenDevice()) {
      std::printf("  model %d: cannot open %s\n", model, path.c_str());
      return;
    }
    engine.SendIdentification();
    loop.RunUntil([&] { return view.identified; }, std::chrono::seconds(10));
    loop.RunUntil([&] { return !engine.RequestOutstanding(); }, std::chrono::seconds(2));
    engine.SetButtonsEnabled(true);

    const int length = engine.ImageLength();
    auto started = Clock::now();
    engine.ButtonReadClick();
    loop.RunUntil([&] { return view.read != 0; }, std::chrono::seconds(120));
    const double read_s = std::chrono::duration<double>(Clock::now() - started).count();
    const double read_wire = length / 8 * (12 + 16) * 10.0 / 9600.0;

    const ConfigImage read = image;  // what the device is known to hold
    for (int i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(image[i] ^ 0x21);
    started = Clock::now();
    verified.Start(true, false, &read);
    loop.RunUntil([&] { return view.report.has_value(); }, std::chrono::seconds(180));
    const double write_s = std::chrono::duration<double>(Clock::now() - started).count();
    const int from = Exchange::WriteStart(model);
    const int blocks = (length - from + 15) / 16;
    // The read-back covers the whole image: model 252's bytes 0 to 99 too, held to the read.
    const int reads = (length + 7) / 8;
    const double write_wire = (blocks * (27 + 8) + reads * (12 + 16)) * 10.0 / 9600.0;
    const bool ok = view.report && view.report->ok();
    std::printf(
        "  model %d: read %.2f s (wire %.2f s, ratio %.3f); verified write %.2f s "
        "(wire %.2f s, ratio %.3f)%s\n",
        model, read_s, read_wire, read_s / read_wire, write_s, write_wire, write_s / write_wire,
        ok ? "" : " NOT VERIFIED");
    loop.RemoveTimer(timer);
    port.CloseDevice();
  }
  std::printf("  (target: model 251 verified write <= 1.03 x its wire time)\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cli" && i + 1 < argc)
      g_tool.command = Words(argv[++i]);
    else if (a == "--link" && i + 1 < argc)
      g_tool.link = argv[++i];
    else if (a == "--port-name" && i + 1 < argc)
      g_tool.port_name = argv[++i];
    else
      only = a;
  }
  if (g_tool.command.empty() || (!g_tool.link.empty() && g_tool.port_name.empty())) {
    std::fprintf(stderr,
                 "usage: bench_turnaround [unpaced|paced|idle|writes] [--cli CMD] "
                 "[--link PATH --port-name NAME]\n");
    return 2;
  }
  // lovar-cli records its reads into a registry of the run's own, not the user's.
  char data[] = "/tmp/lovar-bench-data-XXXXXX";
  if (mkdtemp(data) != nullptr) setenv("XDG_DATA_HOME", data, 1);
  if (only.empty() || only == "unpaced") Unpaced();
  if (only.empty() || only == "paced") Paced();
  if (only.empty() || only == "idle") Idle();
  if (only.empty() || only == "writes") PacedWrites();
  std::filesystem::remove_all(data);
  return 0;
}
