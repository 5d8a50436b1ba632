// The device simulator: plays a model 250, 251 or 252 device on the byte stream, with faults on
// demand. Pure logic: bytes in, timed replies out. Transports (a pseudo-terminal, the
// in-process SimPort) carry the bytes and honour the delays.
//
// What it answers (replies echo the request's sequence number at byte 4 and carry 0x7F, 0x01
// and 0x00 at bytes 2, 3 and 5, which the tool does not examine):
//   208 identify      -> 209 [model, firmware]
//   212 after identify-> 211 [0]
//   200 read          -> 201 the image bytes asked for (3-byte little-endian offset, count)
//   202 write         -> 203 [] after storing the block
//   206 key poll      -> 207 eight zero bytes (no key) until key_after_polls polls were
//                        answered, then the eight bytes of `key` on every poll
// Other commands and frames too short to hold a command get no reply. Every request frame is
// followed on the wire by one extra byte (whatever the tool's send buffer holds there, 254
// included), so exactly one byte is skipped after each complete frame, good or bad.
//
// Not thread-safe: one thread feeds it and reads its state.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/config_image.h"
#include "protocol/frame.h"

namespace lovar {

enum class FaultKind {
  Drop,       // no reply to the request
  BadCrc,     // the reply's CRC is wrong
  Noise,      // noise bytes before the reply (`param` of them, 5 when 0; never 254)
  Burst,      // an unsolicited 211 frame before the reply, in the same write
  Delay,      // the reply comes `param` ms late
  Duplicate,  // the reply is sent twice
  WrongSeq,   // the reply carries the next sequence number instead of the request's
  HangUp,     // the line hangs up instead of replying
  Lost,       // the request is lost on its way: not stored, not answered
  Unhandled,  // an unhandled 211 frame comes in place of the reply
  Empty,      // the reply comes without its data bytes (a 201 with L = 6)
  Short,      // a well-formed frame too short to hold a command (L = 4) in place of the reply
  Unstored,   // a write is acknowledged but not stored (memory that refuses it)
};

// A fault applies to the reply to request number `at` (1 = the first request the simulator
// received since it started); with `every` > 0 to every `every`-th request from `at` on.
// Several rules may apply to one request; they combine.
struct FaultRule {
  FaultKind kind;
  int at = 1;
  int every = 0;
  int param = 0;

  bool AppliesTo(int request) const {
    if (request == at) return true;
    return every > 0 && request > at && (request - at) % every == 0;
  }
};

struct SimConfig {
  int model = 251;
  int firmware = 12;        // shown as 2.2
  int key_after_polls = 3;  // 207 replies carry no key until this many polls were answered
  // The key as the reader reports it, first byte at reply position 7. The first byte must not
  // be 0: the tool reads a first data byte of 0 as "no key".
  std::array<uint8_t, 8> key{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  bool split_bytes = false;  // every reply written one byte at a time
  std::vector<FaultRule> faults;
};

// One piece of output: send `bytes` after waiting `delay` (from the request's arrival), in one
// write. Outputs with the same delay go out in the order given.
struct SimOutput {
  std::chrono::milliseconds delay{0};
  std::vector<uint8_t> bytes;
  bool hang_up = false;  // hang the line up at this point instead of sending
};

class DeviceSim {
 public:
  // Sees every request frame (good CRC, command present) before it is answered, with its
  // number since start. For logging; must not feed the simulator.
  using RequestObserver = std::function<void(int number, std::span<const uint8_t> frame)>;

  // With the built-in SampleImage of the model.
  explicit DeviceSim(SimConfig config);
  DeviceSim(SimConfig config, const ConfigImage& image);

  // Feeds received bytes; appends what the device answers to out. Each request frame is
  // followed on the wire by one extra byte, which the simulator skips.
  void Feed(std::span<const uint8_t> bytes, std::vector<SimOutput>& out);

  // Forgets a partly received frame and a pending skip, as a device does when the line was
  // closed and opened again. The image, counters and records stay.
  void ResetLine();

  void SetRequestObserver(RequestObserver observer) { observer_ = std::move(observer); }
  // A fault from now on (its request numbers count from the simulator's start: requests()).
  void AddFault(FaultRule rule) { config_.faults.push_back(rule); }

  const ConfigImage& image() const { return image_; }
  ConfigImage& image() { return image_; }
  const SimConfig& config() const { return config_; }
  int requests() const { return requests_; }
  int key_polls() const { return key_polls_; }
  // Byte ranges written by 202 requests, in order (offset, count), for the tests.
  const std::vector<std::pair<int, int>>& writes() const { return writes_; }
  // Every good request frame received, in order. Both records keep the first
  // kMaxRecorded entries only, so a long-running simulator does not grow without bound.
  const std::vector<std::vector<uint8_t>>& received_frames() const { return received_; }
  static constexpr size_t kMaxRecorded = 1 << 16;

 private:
  void OnRequest(std::span<const uint8_t> frame, std::vector<SimOutput>& out);
  std::vector<uint8_t> Answer(std::span<const uint8_t> frame, uint8_t& sequence);

  SimConfig config_;
  ConfigImage image_;
  Reassembler reassembler_;
  bool skip_next_ = false;
  int requests_ = 0;
  int key_polls_ = 0;
  RequestObserver observer_;
  std::vector<std::pair<int, int>> writes_;
  std::vector<std::vector<uint8_t>> received_;
};

// A sample image whose fields hold sensible values for the model (loop types, times, names,
// telephone numbers, keys, codes, GPRS settings). All zero for an unknown model.
ConfigImage SampleImage(int model);

// A reply frame: 254, L, 0x7F, 0x01, sequence, 0x00, command, data, CRC. At most 192 data
// bytes are taken (L = 198, the longest frame the tool can receive).
std::vector<uint8_t> MakeReplyFrame(uint8_t sequence, uint8_t command,
                                    std::span<const uint8_t> data);

}  // namespace lovar
