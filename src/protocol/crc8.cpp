#include "protocol/crc8.h"

namespace lovar {
namespace {

// The standard table of the reflected polynomial 0x8C.
constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
    table[static_cast<size_t>(i)] = crc;
  }
  return table;
}

}  // namespace

namespace detail {
constexpr std::array<uint8_t, 256> kCrc8Table = MakeTable();
static_assert(kCrc8Table[1] == 0x5E && kCrc8Table[255] == 0x35);
}  // namespace detail

uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc) {
  for (uint8_t b : bytes) crc = Crc8Step(crc, b);
  return crc;
}

}  // namespace lovar
