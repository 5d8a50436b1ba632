// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial value 0, no final XOR.
// Its check value over "123456789" is 0xA1; over a whole correct frame, CRC included, it is 0.
#pragma once

#include <cstdint>
#include <span>

namespace lovar {

inline uint8_t Crc8Step(uint8_t crc, uint8_t byte);
uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc = 0);

namespace detail {
extern const uint8_t kCrc8Table[256];
}
inline uint8_t Crc8Step(uint8_t crc, uint8_t byte) { return detail::kCrc8Table[crc ^ byte]; }

}  // namespace lovar
