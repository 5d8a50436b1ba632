// Fuzzes what a network port takes from the network and from the user: the Telnet / COM Port
// Control client over arbitrary server bytes, cut into pieces, and the port name's parser. The
// client must never give more data than it took, nor answer a byte with more than one
// three-byte refusal, whatever the server sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "serial/net_address.h"
#include "serial/telnet_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  (void)lovar::ParseNetAddress(std::string_view(reinterpret_cast<const char*>(data), size));
  lovar::ComPortClient client;
  // The first byte: whether the client spoke first, and how the rest is cut into pieces.
  if (data[0] & 0x80) client.Start();
  const size_t chunk = 1 + data[0] % 32;
  std::vector<uint8_t> out, reply;
  for (size_t i = 1; i < size; i += chunk) {
    const size_t n = std::min(chunk, size - i);
    out.clear();
    reply.clear();
    client.Feed(std::span<const uint8_t>(data + i, n), out, reply);
    if (out.size() > n || reply.size() > 3 * n) std::abort();
  }
  return 0;
}
