// SHA-256 (FIPS 180-4): the key an image is stored under, once.
//
// Threads: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lovar {

std::array<uint8_t, 32> Sha256(std::span<const uint8_t> bytes);
// The digest in lower-case hexadecimal, 64 characters.
std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace lovar
