// The network link's socket on Windows: a non-blocking Winsock socket whose events
// (WSAEventSelect) and a wake event are waited on together with WaitForMultipleObjects. The
// resolve and the connect loop that every OS shares are net_socket.cpp's.

// The lovar headers come first: see dcb_win.h.
// clang-format off
#include "serial/net_socket.h"
#include "serial/port_backend.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <mutex>

namespace lovar {
namespace {

using Clock = std::chrono::steady_clock;

// SIO_TCP_SET_ACK_FREQUENCY (_WSAIOW(IOC_VENDOR, 23)), missing from mingw's headers.
constexpr DWORD kSetAckFrequency = 0x98000017;

// Winsock is started once for the program and never cleaned up: a resolver thread that is
// still running at the end must not find it gone.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

DWORD MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

// One attempt on one endpoint: the connected socket, or INVALID_SOCKET with error set.
SOCKET ConnectOne(const NetEndpoint& endpoint, Clock::time_point deadline, LinkError& error) {
  SOCKET s = WSASocketW(endpoint.family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = MapOsError(WSAGetLastError());
    return INVALID_SOCKET;
  }
  u_long nonblocking = 1;
  ioctlsocket(s, FIONBIO, &nonblocking);
  int code = 0;
  const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
  if (connect(s, address, endpoint.length) != 0) {
    code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      const DWORD left = MillisecondsLeft(deadline);
      timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
      const int r = select(0, nullptr, &writable, &failed, &tv);
      int length = sizeof code;
      if (r == 0) {
        code = WSAETIMEDOUT;
      } else if (r < 0) {
        code = WSAGetLastError();
      } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length) !=
                 0) {
        code = WSAGetLastError();
      } else if (code == 0 && FD_ISSET(s, &failed)) {
        code = WSAECONNREFUSED;
      }
    }
  }
  if (code != 0) {
    closesocket(s);
    error = MapOsError(code);
    return INVALID_SOCKET;
  }
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // Every segment acknowledged at once, for servers that hold small segments until then
  // (Nagle); Windows would otherwise delay the acknowledgement up to 200 ms. Not everywhere
  // supported; then it stays as it was.
  DWORD frequency = 1;
  DWORD returned = 0;
  WSAIoctl(s, kSetAckFrequency, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr,
           nullptr);
  return s;
}

}  // namespace

struct NetSocket::Os {
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT socket_event = WSA_INVALID_EVENT;  // FD_READ, FD_WRITE, FD_CLOSE
  HANDLE wake_event = nullptr;                // auto-reset
  std::atomic<LinkError> error{LinkError::None};

  ~Os() {
    if (socket != INVALID_SOCKET) closesocket(socket);
    if (socket_event != WSA_INVALID_EVENT) WSACloseEvent(socket_event);
    if (wake_event) CloseHandle(wake_event);
  }
};

NetSocket::NetSocket(std::unique_ptr<Os> os) : os_(std::move(os)) {}
NetSocket::~NetSocket() = default;

bool NetSocket::StartOs() {
  return StartWinsock();
}

LinkError NetSocket::ResolveOs(const std::string& host, uint16_t port,
                               std::vector<NetEndpoint>& endpoints) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int code = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (code != 0) {
    const LinkError error = MapOsError(code);
    return error == LinkError::Io ? LinkError::HostNotFound : error;
  }
  endpoints = EndpointsOf(list);
  freeaddrinfo(list);
  return LinkError::None;
}

std::unique_ptr<NetSocket> NetSocket::ConnectOs(const NetEndpoint& endpoint,
                                                Clock::time_point deadline, LinkError& error,
                                                bool& give_up) {
  const SOCKET s = ConnectOne(endpoint, deadline, error);
  if (s == INVALID_SOCKET) return nullptr;
  auto os = std::make_unique<Os>();
  os->socket = s;
  os->socket_event = WSACreateEvent();
  os->wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (os->socket_event == WSA_INVALID_EVENT || !os->wake_event ||
      WSAEventSelect(s, os->socket_event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    error = LinkError::Io;
    give_up = true;
    return nullptr;
  }
  return std::unique_ptr<NetSocket>(new NetSocket(std::move(os)));
}

ptrdiff_t NetSocket::Send(const uint8_t* data, size_t count) {
  const int n = send(os_->socket, reinterpret_cast<const char*>(data),
                     static_cast<int>(std::min<size_t>(count, 1 << 20)), 0);
  if (n >= 0) return n;
  if (WSAGetLastError() == WSAEWOULDBLOCK) return 0;  // FD_WRITE comes when it takes more
  // An established connection that fails is a lost line, whatever the code.
  os_->error.store(LinkError::HungUp);
  return -1;
}

ptrdiff_t NetSocket::Receive(uint8_t* buffer, size_t size) {
  const int n = recv(os_->socket, reinterpret_cast<char*>(buffer),
                     static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
  if (n > 0) return n;
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  os_->error.store(LinkError::HungUp);
  return -1;
}

NetSocket::Ready NetSocket::Wait(bool want_receive, bool want_send, int timeout_ms) {
  Ready ready;
  const HANDLE handles[2] = {os_->wake_event, os_->socket_event};
  const DWORD r = WaitForMultipleObjects(
      2, handles, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (r == WAIT_OBJECT_0) ready.woken = true;
  // The socket's events are collected whichever woke the wait: an event that is signalled
  // while the wake was taken stays recorded until now.
  // Collected events are said whether asked for or not: FD_READ is posted again only after a
  // recv, FD_WRITE only after a send that would block, so one dropped here would never come
  // back. The caller receives until nothing waits and sends until the socket takes no more.
  WSANETWORKEVENTS events{};
  if (WSAEnumNetworkEvents(os_->socket, os_->socket_event, &events) == 0) {
    ready.receive = events.lNetworkEvents & (FD_READ | FD_CLOSE);
    ready.send = events.lNetworkEvents & FD_WRITE;
  }
  // After a plain wake, a caller that waits for either just tries.
  if (ready.woken) {
    ready.receive = ready.receive || want_receive;
    ready.send = ready.send || want_send;
  }
  return ready;
}

void NetSocket::Wake() {
  SetEvent(os_->wake_event);
}

void NetSocket::Shutdown() {
  shutdown(os_->socket, SD_BOTH);
  Wake();
}

LinkError NetSocket::error() const {
  return os_->error.load();
}

}  // namespace lovar
