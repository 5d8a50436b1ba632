// Network port names: which names are network ports and how they parse. (Two names of one server
// port: the batch plan's tests.)
#include <gtest/gtest.h>

#include "serial/net_address.h"

namespace lovar {
namespace {

TEST(NetAddress, ParsesEachFormAndRefusesTheRest) {
  const struct {
    const char* name;
    bool network;      // IsNetworkPortName
    bool ok;           // ParseNetAddress gives an address
    NetScheme scheme;  // when ok
    const char* host;
    uint16_t port;
  } rows[] = {
      {"socket://127.0.0.1:4001", true, true, NetScheme::Raw, "127.0.0.1", 4001},
      {"rfc2217://server.lan:2217", true, true, NetScheme::Rfc2217, "server.lan", 2217},
      {"RFC2217://Server_1:65535", true, true, NetScheme::Rfc2217, "Server_1", 65535},
      {"socket://[::1]:1", true, true, NetScheme::Raw, "::1", 1},
      {"rfc2217://[fe80::1%eth0]:23", true, true, NetScheme::Rfc2217, "fe80::1%eth0", 23},
      {"socket://[::ffff:10.0.0.1]:4001", true, true, NetScheme::Raw, "::ffff:10.0.0.1", 4001},
      {"socket://host", true, false},                  // no port
      {"socket://host:", true, false},                 // empty port
      {"socket://:4001", true, false},                 // no host
      {"socket://host:0", true, false},                // port out of range
      {"socket://host:65536", true, false},            // port out of range
      {"socket://host:+12", true, false},              // not digits
      {"socket://host:4001/", true, false},            // a path after the port
      {"rfc2217://host:2217?timeout=3", true, false},  // options are not taken
      {"socket://::1:4001", true, false},              // IPv6 without brackets
      {"socket://[::1]4001", true, false},             // no colon after the bracket
      {"socket://[host]:4001", true, false},           // a name in brackets
      {"socket://[::1:4001", true, false},             // unclosed bracket
      {"socket://ho st:4001", true, false},            // a blank
      {"socket:// host:4001", true, false},
      {"telnet://host:23", false, false},
      {"/dev/ttyUSB0", false, false},
      {"COM5", false, false},
      {"", false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(IsNetworkPortName(r.name), r.network);
    const std::optional<NetAddress> a = ParseNetAddress(r.name);
    ASSERT_EQ(a.has_value(), r.ok);
    if (!a) continue;
    EXPECT_EQ(a->scheme, r.scheme);
    EXPECT_EQ(a->host, r.host);
    EXPECT_EQ(a->port, r.port);
  }
}

}  // namespace
}  // namespace lovar
