// The device simulator: plays a model 250, 251 or 252 device on the byte stream, with faults on
// demand. Pure logic: bytes in, timed replies out. Transports (a pseudo-terminal, the
// in-process SimPort) carry the bytes and honour the delays.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/config_image.h"
#include "protocol/frame.h"

namespace lovar {

enum class FaultKind {
  Drop,       // no reply to the request
  BadCrc,     // the reply's CRC is wrong
  Noise,      // noise bytes before the reply
  Burst,      // another (unsolicited) frame in the same write as the reply
  Delay,      // the reply comes `param` ms late
  Duplicate,  // the reply is sent twice
  WrongSeq,   // the reply carries another sequence number
  HangUp,     // the line hangs up instead of replying
};

// A fault applies to the reply to request number `at` (1 = the first request the simulator
// received since it started); with `every` > 0 to every `every`-th request from `at` on.
struct FaultRule {
  FaultKind kind;
  int at = 1;
  int every = 0;
  int param = 0;
};

struct SimConfig {
  int model = 251;
  int firmware = 12;       // shown as 2.2
  int key_after_polls = 3; // 207 replies carry no key until this many polls were answered
  std::array<uint8_t, 8> key{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  bool split_bytes = false;  // every reply written one byte at a time
  std::vector<FaultRule> faults;
};

// One piece of output: send `bytes` after waiting `delay` (from the request's arrival).
struct SimOutput {
  std::chrono::milliseconds delay{0};
  std::vector<uint8_t> bytes;
  bool hang_up = false;  // hang the line up at this point instead of sending
};

class DeviceSim {
 public:
  explicit DeviceSim(SimConfig config);
  DeviceSim(SimConfig config, const ConfigImage& image);

  // Feeds received bytes; appends what the device answers to out. Each request frame is
  // followed on the wire by one extra byte, which the simulator skips.
  void Feed(std::span<const uint8_t> bytes, std::vector<SimOutput>& out);

  const ConfigImage& image() const { return image_; }
  ConfigImage& image() { return image_; }
  const SimConfig& config() const { return config_; }
  int requests() const { return requests_; }
  // Byte ranges written by 202 requests, in order (offset, count), for the tests.
  const std::vector<std::pair<int, int>>& writes() const { return writes_; }
  const std::vector<std::vector<uint8_t>>& received_frames() const { return received_; }

 private:
  void OnRequest(std::span<const uint8_t> frame, std::vector<SimOutput>& out);

  SimConfig config_;
  ConfigImage image_;
  Reassembler reassembler_;
  bool skip_next_ = false;
  int requests_ = 0;
  int key_polls_ = 0;
  std::vector<std::pair<int, int>> writes_;
  std::vector<std::vector<uint8_t>> received_;
};

// A sample image whose fields hold sensible values for the model (loop types, times, names,
// telephone numbers, keys, codes, GPRS settings).
ConfigImage SampleImage(int model);

// A reply frame: 254, L, header, sequence, 0, command, data, CRC.
std::vector<uint8_t> MakeReplyFrame(uint8_t sequence, uint8_t command,
                                    std::span<const uint8_t> data);

}  // namespace lovar
