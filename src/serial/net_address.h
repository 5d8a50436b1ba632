// Network port names, in the form serial tools share: "socket://HOST:PORT" for a raw TCP port
// (the server fixes the line settings) and "rfc2217://HOST:PORT" for Telnet with COM Port
// Control (the client sets them). HOST is a host name, an IPv4 address or an IPv6 address in
// brackets ("rfc2217://[fe80::1%eth0]:2217"). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lovar {

enum class NetScheme { Raw, Rfc2217 };

struct NetAddress {
  NetScheme scheme = NetScheme::Raw;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

// Whether name is meant as a network port: it begins with one of the two schemes (in any case),
// well formed or not. Such a name is never opened as a device.
bool IsNetworkPortName(std::string_view name);

// The parts of a well-formed network port name; nothing for anything else, including a name
// with a path, options or blanks after the port.
std::optional<NetAddress> ParseNetAddress(std::string_view name);

// Whether two network port names reach the same server port: the same host (letters in any
// case) and port, whatever the scheme. Names that do not parse are compared as text.
bool SameNetworkPort(std::string_view a, std::string_view b);

}  // namespace lovar
