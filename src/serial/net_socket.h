// One TCP connection for the network link, without blocking. The seam between the link and the
// OS's sockets: one source file per OS (net_socket_posix.cpp, net_socket_win.cpp), chosen by
// CMake, under what every OS does alike (net_socket.cpp: the resolver's answer checked, the
// endpoints tried in turn within the time-out).
//
// Threads: Resolve on any thread (the link runs it on a thread of its own, so that a resolver
// that hangs cannot hold the caller past its time-out). After Connect, Send, Receive and Wait
// are called by one thread at a time (the network link makes sure of it); Wake and Shutdown may
// be called from any thread at any time, also while another thread sleeps in Wait.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "serial/link_error.h"

namespace lovar {

// One address a host name resolved to, as the OS's socket address.
struct NetEndpoint {
  int family = 0;
  std::array<uint8_t, 128> address{};  // a sockaddr_storage
  int length = 0;
};

// The endpoints of a resolver's answer (either system's addrinfo list), in its order; an
// address too long for NetEndpoint is left out.
template <typename AddrInfo>
std::vector<NetEndpoint> EndpointsOf(const AddrInfo* list) {
  std::vector<NetEndpoint> endpoints;
  for (const AddrInfo* a = list; a != nullptr; a = a->ai_next) {
    NetEndpoint e;
    if (a->ai_addrlen > e.address.size()) continue;
    e.family = a->ai_family;
    e.length = static_cast<int>(a->ai_addrlen);
    std::memcpy(e.address.data(), a->ai_addr, a->ai_addrlen);
    endpoints.push_back(e);
  }
  return endpoints;
}

class NetSocket {
 public:
  struct Ready {
    bool receive = false;  // bytes, or the connection's end, wait to be received
    bool send = false;     // the socket takes more bytes
    bool woken = false;    // Wake() was called
  };

  // The addresses of host (a name or a numeric address) for TCP port port; empty with error
  // set (HostNotFound when the name does not resolve).
  static std::vector<NetEndpoint> Resolve(const std::string& host, uint16_t port, LinkError& error);

  // Connects to the first endpoint that answers, trying them in order, all within timeout.
  // Null with error set when none could be reached. The connection sends small writes at once
  // (no coalescing delay).
  static std::unique_ptr<NetSocket> Connect(const std::vector<NetEndpoint>& endpoints,
                                            std::chrono::milliseconds timeout, LinkError& error);

  ~NetSocket();
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;

  // Sends what the OS takes at once: the count taken, 0 when it takes nothing now, -1 when the
  // connection is gone (error() says why).
  ptrdiff_t Send(const uint8_t* data, size_t count);
  // Receives what has arrived: the count, 0 when nothing waits, -1 when the connection has
  // ended or failed (error() says why: HungUp for a closed or reset connection).
  ptrdiff_t Receive(uint8_t* buffer, size_t size);

  // Sleeps until bytes or the connection's end wait (when want_receive), the socket takes more
  // bytes (when want_send), Wake() is called, or timeout_ms passes (-1: no time limit). Ready
  // may say more than was asked for; the caller then receives or sends all the same, since
  // some sockets tell an event only once.
  Ready Wait(bool want_receive, bool want_send, int timeout_ms);

  // Any thread: wakes the Wait in progress, or the next one.
  void Wake();
  // Any thread: ends the connection both ways (the server sees it closed) and wakes Wait. The
  // socket itself stays until the destructor, so that no other thread can reach a reused one.
  void Shutdown();

  LinkError error() const;

 private:
  // The OS's socket and what wakes Wait. Each OS's source file defines it with the primitives
  // below, which Resolve and Connect run on.
  struct Os;
  explicit NetSocket(std::unique_ptr<Os> os);

  // What the OS needs before its first socket; false when it cannot start.
  static bool StartOs();
  // The resolver's answer for host and port: the endpoints (possibly none), or why there is none.
  static LinkError ResolveOs(const std::string& host, uint16_t port,
                             std::vector<NetEndpoint>& endpoints);
  // One attempt on one endpoint within deadline: the socket connected, or null with error set.
  // give_up: the failure is this machine's (no wake event), so the other endpoints would fail
  // alike.
  static std::unique_ptr<NetSocket> ConnectOs(const NetEndpoint& endpoint,
                                              std::chrono::steady_clock::time_point deadline,
                                              LinkError& error, bool& give_up);

  std::unique_ptr<Os> os_;
};

}  // namespace lovar
