// A TCP relay on 127.0.0.1 that holds every chunk for a fixed time in each direction, as a far
// network would: a device server "100 ms away" for the end-to-end tests and the benchmarks of
// network ports. Serves one connection at a time, each relayed to 127.0.0.1:upstream, on a
// thread of its own until destroyed. POSIX.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <thread>
#include <vector>

namespace lovar::testing_support {

class DelayRelay {
 public:
  using Clock = std::chrono::steady_clock;

  DelayRelay(uint16_t upstream, std::chrono::milliseconds each_way)
      : upstream_(upstream), delay_(each_way) {
    sockaddr_in a = Loopback(0);
    socklen_t length = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 4) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      throw std::runtime_error("relay: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (const int client = Accept()) {
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(upstream_);
        const bool go_on =
            connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
            Serve(client, server);
        close(client);
        close(server);
        if (!go_on) return;
      }
    });
  }
  ~DelayRelay() {
    const uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    thread_.join();
    close(listen_);
    close(stop_);
  }
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  uint16_t port() const { return port_; }

 private:
  struct Direction {
    int from, to;
    std::deque<std::pair<Clock::time_point, std::vector<uint8_t>>> queue;
    bool ended = false;      // from has closed
    bool passed_on = false;  // and its end went on once the queue emptied
  };

  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
  }

  // The next client, or 0 once stopped.
  int Accept() {
    while (true) {
      pollfd p[2] = {{stop_, POLLIN, 0}, {listen_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[0].revents) return 0;
      const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client > 0) return client;
    }
  }

  // Until both directions have ended; false when stopped.
  bool Serve(int client, int server) {
    const int on = 1;
    for (int fd : {client, server}) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Direction d[2] = {{client, server}, {server, client}};
    while (!d[0].passed_on || !d[1].passed_on) {
      int timeout = -1;
      for (Direction& x : d) {
        for (; !x.queue.empty() && x.queue.front().first <= Clock::now(); x.queue.pop_front())
          (void)!send(x.to, x.queue.front().second.data(), x.queue.front().second.size(),
                      MSG_NOSIGNAL);
        if (x.ended && x.queue.empty() && !x.passed_on) {
          shutdown(x.to, SHUT_WR);
          x.passed_on = true;
        }
        if (x.queue.empty()) continue;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(x.queue.front().first - Clock::now());
        const int ms = static_cast<int>(std::max<int64_t>(left.count(), 0));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
      }
      // An ended side is left out: its hang-up would wake the poll for ever.
      pollfd p[3] = {{stop_, POLLIN, 0},
                     {d[0].ended ? -1 : client, POLLIN, 0},
                     {d[1].ended ? -1 : server, POLLIN, 0}};
      if (poll(p, 3, timeout) < 0) continue;
      if (p[0].revents) return false;
      for (int i = 0; i < 2; ++i) {
        if (!p[i + 1].revents) continue;
        uint8_t buffer[4096];
        const ssize_t n = recv(d[i].from, buffer, sizeof buffer, 0);
        d[i].ended = n <= 0;
        // Acknowledged at once, so that a sender holding small packets back is not delayed.
        setsockopt(d[i].from, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        if (n > 0) d[i].queue.push_back({Clock::now() + delay_, {buffer, buffer + n}});
      }
    }
    return true;
  }

  const uint16_t upstream_;
  const std::chrono::milliseconds delay_;
  const int listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int stop_ = eventfd(0, EFD_CLOEXEC);
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace lovar::testing_support
