// The simulator's built-in configurations: what a device fresh from an installer might hold.
#include <string_view>

#include "model/model_setup.h"
#include "model/regions.h"
#include "protocol/crc8.h"
#include "sim/device_sim.h"

namespace lovar {

namespace {

// A telephone number: type byte (0x81 with plus, 0x91 without, 0 none), then up to 14 digits,
// two per byte, the first of each pair in the low nibble; 0xF after an odd count, then 0xFF.
void PutPhone(ConfigImage& image, int offset, std::string_view text) {
  bool plus = false;
  std::string digits;
  for (const char c : text) {
    if (c == '+') plus = true;
    if (c >= '0' && c <= '9' && digits.size() < 14) digits.push_back(c);
  }
  image[offset] = digits.empty() ? 0 : (plus ? 0x81 : 0x91);
  for (int i = 0; i < 7; ++i) {
    const size_t lo = 2 * static_cast<size_t>(i), hi = lo + 1;
    const uint8_t low = lo < digits.size() ? static_cast<uint8_t>(digits[lo] - '0') : 0xF;
    const uint8_t high = hi < digits.size() ? static_cast<uint8_t>(digits[hi] - '0') : 0xF;
    image[offset + 1 + i] = static_cast<uint8_t>(low | high << 4);
  }
}

// A user code of four digits d1 d2 d3 d4: d1 + 16 * d2, d3 + 16 * d4.
void PutCode(ConfigImage& image, int offset, std::string_view digits) {
  image[offset] = static_cast<uint8_t>((digits[0] - '0') | (digits[1] - '0') << 4);
  image[offset + 1] = static_cast<uint8_t>((digits[2] - '0') | (digits[3] - '0') << 4);
}

// A contact key as its reader reports it: family code, six serial bytes, then the CRC-8 of the
// seven, the same CRC the line uses.
std::array<uint8_t, 8> ContactKey(std::array<uint8_t, 7> head) {
  std::array<uint8_t, 8> key{};
  for (size_t i = 0; i < 7; ++i) key[i] = head[i];
  key[7] = Crc8(std::span<const uint8_t>(head));
  return key;
}

const std::array<uint8_t, 8> kKeys[] = {
    ContactKey({0x01, 0x5E, 0x3A, 0x91, 0x0C, 0x00, 0x00}),
    ContactKey({0x01, 0x72, 0x19, 0xB4, 0x0D, 0x00, 0x00}),
    ContactKey({0x01, 0x0B, 0xE6, 0x47, 0x0E, 0x00, 0x00}),
};

void FillTLayout(ConfigImage& image, const ModelSetup& setup) {
  // A model without the user codes page (252) keeps their bytes 0.
  if (setup.Has(FieldPage::Codes)) {
    PutCode(image, 0, "1234");  // the installer's code, also the password of the pages
    image[4] = 0xFF;
    PutCode(image, 5, "5678");
    PutCode(image, 7, "5679");  // duress code
    image[9] = 0x33;            // arms and disarms ШС1, ШС2
    PutCode(image, 10, "2580");
    PutCode(image, 12, "2581");
    image[14] = 0xFF;
  }
  // Loops: ШС1 guard with delays, ШС2 guard, ШС3 panic, ШС4 fire (ШС3, ШС4 unused on 252).
  const uint8_t types[] = {0, 0, 1, 2};
  const uint8_t exit_delays[] = {30, 0, 0, 0};
  const uint8_t entry_delays[] = {15, 0, 0, 0};
  for (int n = 0; n < 4; ++n) {
    image[100 + n] = types[n];
    image[104 + n] = exit_delays[n];
    image[108 + n] = entry_delays[n];
  }
  image[112] = 0x0B;  // output 1 by every loop but the panic loop, which stays silent
  image[113] = 0x08;  // output 2 by the fire loop
  image[114] = 0x03;  // sounder by ШС1, ШС2
  image[115] = 60;    // output 1 time, seconds (siren)
  image[116] = 0;     // output 2 is a lamp: no time
  image[117] = 10;    // sounder time
  image[118] = 2;     // output 1 "Сирена"
  image[119] = 1;     // output 2 "Лампа"
  image[121] = 0;     // first report protocol
  image[122] = 2;     // signal level "130" mV
  // Device-internal bytes, which every write sends as 0.
  for (int i = 0; i < 4; ++i) image[127 + i] = static_cast<uint8_t>(0x11 * (i + 1));
  // Board address 5, direction number 3: bits 6-9 and 10-15 of the word at 140.
  const int word = 5 << 6 | 3 << 10;
  image[140] = static_cast<uint8_t>(word & 0xFF);
  image[141] = static_cast<uint8_t>(word >> 8);
  // Keys: the serial bytes 1 to 4 of each key, rights (arm low nibble, disarm high) where keys
  // carry them (250).
  const uint8_t rights[] = {0xFF, 0x11, 0x33};
  for (size_t k = 0; k < std::size(kKeys); ++k) {
    const int n = static_cast<int>(k);
    for (int i = 0; i < 4; ++i) image[keys::CodeOffset(setup.model, n) + i] = kKeys[k][1 + i];
    if (setup.key_rights) image[keys::RightsOffset(setup.model, n)] = rights[k];
  }
  for (int i = 251; i < 256; ++i) image[i] = 0xFF;
}

void FillMLayout(ConfigImage& image) {
  // Erased memory where the device keeps nothing the tool knows of.
  for (int i = 752; i < 3584; ++i) image[i] = 0xFF;
  for (int i = 3840; i < kImageCapacity; ++i) image[i] = 0xFF;

  image[0] = 0;     // output 1 "Управление замком"
  image[1] = 2;     // output 2 "Лампа"
  image[2] = 0x82;  // ШС1 "Охранный", re-armed after an alarm
  image[3] = 0x01;  // ШС2 "Вход"
  image[4] = 0x04;  // ШС3 "Тревожный"
  image[5] = 0x05;  // ШС4 "Пожарный"
  image[6] = 0x39;  // siren by ШС1, ШС4 (the panic loop ШС3 silent); sounder by ШС1, ШС2
  image[7] = 0x21;  // output 1 by ШС1, output 2 by ШС2
  image[8] = 0x00;
  image[9] = 60;                  // siren time
  image[10] = 30;                 // exit delay
  image[11] = 20;                 // entry delay
  image[12] = 60;                 // re-arm delay
  image[13] = 15;                 // sounder time
  image[14] = 5;                  // transmission attempts
  image[15] = 3;                  // repetitions per session
  image.SetText(16, 5, "12345");  // password: five characters, no terminator
  image.SetText(21, 8, "1024");   // object number

  PutPhone(image, 29, "+79161234567");
  PutPhone(image, 37, "84951234567");
  PutPhone(image, 45, "112");
  PutPhone(image, 53, "");
  PutPhone(image, 61, "");

  // Directions: routing nibbles ШС1..ШС4, test kind (low) and protocol (high), test period.
  const uint8_t routing[5][2] = {{0x33, 0x33}, {0x11, 0x11}, {0x01, 0x00}, {}, {}};
  const uint8_t test_protocol[5] = {0x41, 0x10, 0x30, 0, 0};  // Contact ID, SMS, voice
  const uint8_t period[5] = {24, 0, 0, 0, 0};
  for (int d = 0; d < 5; ++d) {
    image[77 + 4 * d] = routing[d][0];
    image[78 + 4 * d] = routing[d][1];
    image[79 + 4 * d] = test_protocol[d];
    image[80 + 4 * d] = period[d];
  }
  // Event filter: every event to the station; alarms and fire to the owner and the guard.
  const uint8_t filter[5][2] = {{0xFF, 0xFF}, {0x18, 0x00}, {0x08, 0x04}, {}, {}};
  for (int d = 0; d < 5; ++d) {
    image[97 + 4 * d] = filter[d][0];
    image[98 + 4 * d] = filter[d][1];
  }
  // Receiving station 192.0.2.10, port 5000 (low byte first).
  const uint8_t ip[] = {192, 0, 2, 10};
  for (int i = 0; i < 4; ++i) image[122 + i] = ip[i];
  image[130] = 5000 & 0xFF;
  image[131] = 5000 >> 8;
  image.SetText(142, 20, "gprs");
  image.SetText(162, 20, "gprs");
  image.SetText(182, 50, "AT+CGDCONT=1,\"IP\",\"internet\"");
  image[242] = 0x01;  // listen-in on direction 1
  image[247] = 3;     // SMS attempts
  image[248] = 2;     // voice message repetitions
  image[249] = 60;    // listen-in time

  const char* const loop_names[] = {"Дверь", "Склад", "Кнопка", "Пожарный"};  // the last: 8
  for (int n = 0; n < 4; ++n) image.SetText(512 + 8 * n, 8, loop_names[n]);
  const char* const key_names[] = {"Иванов", "Петров", "Сидоров"};
  const uint8_t rights[] = {0xFF, 0x33, 0x10};  // arm high nibble, disarm low
  for (size_t k = 0; k < std::size(kKeys); ++k) {
    const int base = 3584 + 16 * static_cast<int>(k);
    for (int i = 0; i < 8; ++i) image[base + i] = kKeys[k][static_cast<size_t>(i)];
    for (int i = 8; i < 16; ++i) image[base + i] = 0;
    image[base + 9] = rights[k];
    image.SetText(544 + 8 * static_cast<int>(k), 8, key_names[k]);
  }
  const char* const direction_names[] = {"ПЦН", "Хозяин", "Охрана"};
  for (int d = 0; d < 3; ++d) image.SetText(712 + 8 * d, 8, direction_names[d]);
}

}  // namespace

ConfigImage SampleImage(int model) {
  ConfigImage image;
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr) return image;
  switch (setup->layout) {
    case ImageLayout::T:
      FillTLayout(image, *setup);
      break;
    case ImageLayout::M:
      FillMLayout(image);
      break;
  }
  return image;
}

}  // namespace lovar
