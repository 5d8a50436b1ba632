// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial value 0, no final XOR.
// Its check value over "123456789" is 0xA1; over a whole correct frame, CRC included, it is 0.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace lovar {

namespace detail {
extern const std::array<uint8_t, 256> kCrc8Table;
}

// One step of the table-driven CRC: crc = T[crc XOR byte].
inline uint8_t Crc8Step(uint8_t crc, uint8_t byte) {
  return detail::kCrc8Table[crc ^ byte];
}

uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc = 0);

}  // namespace lovar
