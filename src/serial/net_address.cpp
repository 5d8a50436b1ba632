#include "serial/net_address.h"

#include <algorithm>
#include <cctype>

namespace lovar {
namespace {

constexpr std::string_view kRaw = "socket://";
constexpr std::string_view kRfc2217 = "rfc2217://";

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(),
                                                    [](char p, char t) { return p == Lower(t); });
}

bool IsHostNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// An IPv6 literal as written between brackets: hex digits, colons, dots (an IPv4 tail) and a
// zone after "%". Whether it is a valid address is left to the resolver.
bool IsIpv6Literal(std::string_view text) {
  const size_t zone = text.find('%');
  const std::string_view address = text.substr(0, zone);
  if (address.find(':') == std::string_view::npos) return false;
  const bool address_ok = std::all_of(address.begin(), address.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
  });
  if (!address_ok) return false;
  if (zone == std::string_view::npos) return true;
  const std::string_view name = text.substr(zone + 1);
  return !name.empty() && std::all_of(name.begin(), name.end(), IsHostNameChar);
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
  return StartsWithNoCase(name, kRaw) || StartsWithNoCase(name, kRfc2217);
}

std::optional<NetAddress> ParseNetAddress(std::string_view name) {
  NetAddress address;
  std::string_view rest;
  if (StartsWithNoCase(name, kRaw)) {
    address.scheme = NetScheme::Raw;
    rest = name.substr(kRaw.size());
  } else if (StartsWithNoCase(name, kRfc2217)) {
    address.scheme = NetScheme::Rfc2217;
    rest = name.substr(kRfc2217.size());
  } else {
    return std::nullopt;
  }
  std::string_view host;
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
      return std::nullopt;
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
    if (!IsIpv6Literal(host)) return std::nullopt;
  } else {
    // An IPv6 address without brackets cannot be told from its port: only one colon here.
    const size_t colon = rest.find(':');
    if (colon == std::string_view::npos || rest.find(':', colon + 1) != std::string_view::npos)
      return std::nullopt;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (host.empty() || host.size() > 253 || !std::all_of(host.begin(), host.end(), IsHostNameChar))
      return std::nullopt;
  }
  const std::optional<uint16_t> number = ParsePort(port);
  if (!number) return std::nullopt;
  address.host = std::string(host);
  address.port = *number;
  return address;
}

bool SameNetworkPort(std::string_view a, std::string_view b) {
  const std::optional<NetAddress> x = ParseNetAddress(a);
  const std::optional<NetAddress> y = ParseNetAddress(b);
  if (!x || !y) return a == b;
  return x->port == y->port &&
         std::equal(x->host.begin(), x->host.end(), y->host.begin(), y->host.end(),
                    [](char p, char q) { return Lower(p) == Lower(q); });
}

}  // namespace lovar
