// What the network link's socket does alike on every OS, over the primitives of the OS's own
// source file (net_socket_posix.cpp, net_socket_win.cpp): the resolver's answer checked, and
// the endpoints tried in turn within one time-out.
#include "serial/net_socket.h"

namespace lovar {

std::vector<NetEndpoint> NetSocket::Resolve(const std::string& host, uint16_t port,
                                            LinkError& error) {
  std::vector<NetEndpoint> endpoints;
  if (!StartOs()) {
    error = LinkError::Io;
    return endpoints;
  }
  error = ResolveOs(host, port, endpoints);
  if (error == LinkError::None && endpoints.empty()) error = LinkError::HostNotFound;
  return endpoints;
}

std::unique_ptr<NetSocket> NetSocket::Connect(const std::vector<NetEndpoint>& endpoints,
                                              std::chrono::milliseconds timeout, LinkError& error) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  error = LinkError::HostNotFound;
  if (!StartOs()) {
    error = LinkError::Io;
    return nullptr;
  }
  for (const NetEndpoint& endpoint : endpoints) {
    if (Clock::now() >= deadline) {
      error = LinkError::ConnectTimeout;
      break;
    }
    bool give_up = false;
    std::unique_ptr<NetSocket> socket = ConnectOs(endpoint, deadline, error, give_up);
    if (socket != nullptr) {
      error = LinkError::None;
      return socket;
    }
    if (give_up) break;
  }
  return nullptr;
}

}  // namespace lovar
