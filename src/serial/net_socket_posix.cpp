// The network link's socket on POSIX: a non-blocking TCP socket, poll() and an eventfd to wake.
// The resolve and the connect loop that every OS shares are net_socket.cpp's.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "serial/net_socket.h"
#include "serial/port_backend.h"

namespace lovar {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The resolver's own failure codes; a name that no server knows, or no server answered for.
LinkError ResolveError(int code) {
  switch (code) {
    case EAI_SYSTEM:
      return MapOsError(errno);
    case EAI_MEMORY:
      return LinkError::Io;
    default:
      return LinkError::HostNotFound;
  }
}

// One attempt on one endpoint: the connected socket, or -1 with error set.
int ConnectOne(const NetEndpoint& endpoint, Clock::time_point deadline, LinkError& error) {
  const int fd = socket(endpoint.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    error = MapOsError(errno);
    return -1;
  }
  const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
  int code = 0;
  if (connect(fd, address, static_cast<socklen_t>(endpoint.length)) != 0) {
    code = errno;
    if (code == EINPROGRESS || code == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      int r;
      do {
        r = poll(&p, 1, MillisecondsLeft(deadline));
      } while (r < 0 && errno == EINTR);
      socklen_t length = sizeof code;
      if (r == 0) {
        code = ETIMEDOUT;
      } else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) {
        code = errno;
      }
    }
  }
  if (code != 0) {
    close(fd);
    error = MapOsError(code);
    return -1;
  }
  const int on = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

struct NetSocket::Os {
  int fd = -1;
  int wake_fd = -1;
  std::atomic<LinkError> error{LinkError::None};

  ~Os() {
    for (int f : {fd, wake_fd}) {
      if (f >= 0) close(f);
    }
  }
};

NetSocket::NetSocket(std::unique_ptr<Os> os) : os_(std::move(os)) {}
NetSocket::~NetSocket() = default;

bool NetSocket::StartOs() {
  return true;
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
  if (code != 0) return ResolveError(code);
  endpoints = EndpointsOf(list);
  freeaddrinfo(list);
  return LinkError::None;
}

std::unique_ptr<NetSocket> NetSocket::ConnectOs(const NetEndpoint& endpoint,
                                                Clock::time_point deadline, LinkError& error,
                                                bool& give_up) {
  const int fd = ConnectOne(endpoint, deadline, error);
  if (fd < 0) return nullptr;
  auto os = std::make_unique<Os>();
  os->fd = fd;
  os->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (os->wake_fd < 0) {
    error = MapOsError(errno);
    give_up = true;
    return nullptr;
  }
  return std::unique_ptr<NetSocket>(new NetSocket(std::move(os)));
}

ptrdiff_t NetSocket::Send(const uint8_t* data, size_t count) {
  while (true) {
    const ssize_t n = send(os_->fd, data, count, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    // An established connection that fails is a lost line, whatever the code.
    os_->error.store(LinkError::HungUp);
    return -1;
  }
}

ptrdiff_t NetSocket::Receive(uint8_t* buffer, size_t size) {
  while (true) {
    const ssize_t n = recv(os_->fd, buffer, size, 0);
    if (n > 0) {
      // Acknowledged at once: a server that holds small segments until the last is acknowledged
      // (Nagle) would otherwise stall each reply for the delayed acknowledgement (40 ms).
      const int on = 1;
      (void)setsockopt(os_->fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
      return n;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    os_->error.store(LinkError::HungUp);
    return -1;
  }
}

NetSocket::Ready NetSocket::Wait(bool want_receive, bool want_send, int timeout_ms) {
  pollfd fds[2] = {
      {os_->wake_fd, POLLIN, 0},
      {os_->fd, static_cast<short>((want_receive ? POLLIN : 0) | (want_send ? POLLOUT : 0)), 0},
  };
  Ready ready;
  if (poll(fds, 2, timeout_ms) < 0) return ready;  // EINTR: the caller looks again
  if (fds[0].revents & POLLIN) {
    uint64_t value;
    while (read(os_->wake_fd, &value, sizeof value) > 0) {
    }
    ready.woken = true;
  }
  // A hang-up or an error is said by the next Receive.
  ready.receive = fds[1].revents & (POLLIN | POLLHUP | POLLERR);
  ready.send = fds[1].revents & POLLOUT;
  return ready;
}

void NetSocket::Wake() {
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = write(os_->wake_fd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
}

void NetSocket::Shutdown() {
  (void)shutdown(os_->fd, SHUT_RDWR);
  Wake();
}

LinkError NetSocket::error() const {
  return os_->error.load();
}

}  // namespace lovar
