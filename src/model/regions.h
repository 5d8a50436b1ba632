// Offsets and encodings of the regions the other pages edit: user codes, keys, report
// directions, event filter and GPRS settings. Pure functions; the values of these regions are
// read and stored through the catalog's fields (catalog.h), one codec per kind.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lovar {

// Board address and direction number of models 250 and 252 (the fields board_address and
// board_direction): the largest values the editors take; a larger one is refused.
namespace board {
inline constexpr int kMaxAddress = 15;
inline constexpr int kMaxDirection = 19;
// The bits of the word below the address, which the address editor writes as 0.
inline constexpr uint16_t kAddressClears = 0x003F;
}  // namespace board

// User codes, models 250 and 252: 20 entries of 5 bytes at 5r. +0,+1 code, +2,+3 duress code,
// +4 rights (bit n arm loop n+1, bit 4+n disarm). Digits d1 d2 d3 d4 pack as d1 + 16*d2,
// d3 + 16*d4; both bytes 0 = no code.
namespace codes {
inline constexpr int kCount = 20;
inline constexpr int kEntrySize = 5;
inline constexpr int EntryOffset(int r) {
  return kEntrySize * r;
}
inline constexpr int CodeOffset(int r) {
  return EntryOffset(r);
}
inline constexpr int DuressOffset(int r) {
  return EntryOffset(r) + 2;
}
inline constexpr int RightsOffset(int r) {
  return EntryOffset(r) + 4;
}
inline constexpr int kCodeBytes = 2;
}  // namespace codes

// Keys. Models 250, 252: 16 entries, code 4 bytes at 156 + 4k, rights at 235 + k (bit n arm,
// bit 4+n disarm). Model 251: entries of 16 bytes at 3584 + 16k, code at +0..+7, rights at +9
// (bit 4+n arm, bit n disarm), name Text(8) at 544 + 8k. Key text: hex, highest offset first.
namespace keys {
inline constexpr int kCount = 16;
int CodeOffset(int model, int k);
int CodeBytes(int model);  // 8 for 251, 4 otherwise
int RightsOffset(int model, int k);
inline constexpr int NameOffset(int k) {
  return 544 + 8 * k;
}
inline constexpr int kNameWidth = 8;
// Model 251 keeps the arming rights in bits 4 to 7 and the disarming rights in bits 0 to 3;
// models 250 and 252 the other way round. Where the keys lie is the model's (model_setup.h).
bool ArmInHighNibble(int model);
// Appends a byte's two upper-case hexadecimal digits, as key codes are written.
void AppendHex(std::string& out, uint8_t byte);
// The key grid's text for a key learnt into the 8-byte key buffer (entry 0 = last byte of the
// reply): 251 entries 0..7 (16 digits), others entries 3, 4, 5, 6 (8 digits).
std::string LearntKeyText(const std::array<uint8_t, 8>& key_buffer, int model);
}  // namespace keys

// Report directions of model 251, d = 0 to 4.
namespace directions {
inline constexpr int kCount = 5;
inline constexpr int PhoneOffset(int d) {
  return 29 + 8 * d;
}
inline constexpr int RoutingOffset(int d) {
  return 77 + 4 * d;
}  // ШС1 low, ШС2 high; +1: ШС3, ШС4
inline constexpr int TestProtocolOffset(int d) {
  return 79 + 4 * d;
}  // test low, protocol high
inline constexpr int PeriodOffset(int d) {
  return 80 + 4 * d;
}
inline constexpr int ListenOffset(int d) {
  return 242 + d;
}  // bit 0
inline constexpr int NameOffset(int d) {
  return 712 + 8 * d;
}
inline constexpr int kNameWidth = 8;
inline constexpr int kPhoneBytes = 8;
inline constexpr int kPhoneDigits = 14;

// Telephone number: byte 0 type (0x81 with plus, 0x91 without, 0 none), bytes 1-7 up to 14
// digits, low nibble first, 0xF after an odd count, then 0xFF.
// The digits of bytes 1 to 7 up to the first nibble above 9.
std::string PhoneDigits(std::span<const uint8_t, kPhoneBytes> bytes);
// What the telephone edit shows: "" when no number is set, else "  + " (for a number entered
// with a plus sign) and the digits.
std::string PhoneText(std::span<const uint8_t, kPhoneBytes> bytes);
// The bytes the editor stores for a text: its digits and plus sign count, every other character
// is skipped.
std::array<uint8_t, kPhoneBytes> PackPhone(std::string_view text);

struct Entry {
  std::string_view caption;
  uint8_t nibble;
};
extern const std::string_view kRouting[5];  // routing nibble = index
extern const Entry kReportProtocols[5];  // "SMS сообщение" 1, "Речевое сообщение" 3, ...
extern const Entry kTestKinds[4];  // ..., "Телефонный вызов- период в минутах" 4
// The entry the display shows for a stored nibble (first match wins), -1 for none.
int ProtocolEntry(uint8_t nibble);
int TestEntry(uint8_t nibble);
}  // namespace directions

// Event filter of model 251: direction d's 16-bit mask at 97 + 4d (events 1-8) and 98 + 4d.
namespace filter {
inline constexpr int kEvents = 16;
inline constexpr int Offset(int d) {
  return 97 + 4 * d;
}
extern const std::string_view kEventNames[16];
}  // namespace filter

// GPRS settings of model 251. The port is little-endian (low byte at 130), the same order the
// protocol uses for offsets.
namespace gprs {
inline constexpr int kIpOffset = 122;        // 4 octets, first at 122
inline constexpr int kPortOffset = 130;      // 2 bytes
inline constexpr int kPasswordOffset = 142;  // Text(20)
inline constexpr int kUserOffset = 162;      // Text(20)
inline constexpr int kInitOffset = 182;      // read up to 60 bytes, written up to 50
inline constexpr int kInitReadWidth = 60;
inline constexpr int kInitWriteWidth = 50;  // characters, always followed by a zero byte
inline constexpr int kLoginWidth = 20;
// An address as typed: four numbers from 0 to 255 joined by ".", blanks around a number allowed
// ("192.168.  1. 10"); an empty text is 0.0.0.0. Anything else is no address (nothing).
std::optional<std::array<uint8_t, 4>> ParseIp(std::string_view text);
}  // namespace gprs

}  // namespace lovar
