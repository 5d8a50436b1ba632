#include "sim/device_sim.h"

#include <algorithm>
#include <optional>

#include "protocol/crc8.h"

namespace lovar {

namespace {

// Header bytes 2, 3 and 5 of replies: the tool does not examine them, so they differ from the
// request's 1 and 127 to show that nothing depends on them.
constexpr uint8_t kReplyByte2 = 0x7F;
constexpr uint8_t kReplyByte3 = 0x01;
constexpr uint8_t kReplyByte5 = 0x00;

// The longest frame the tool's reassembler completes has L = 198: 6 header bytes, 192 data.
constexpr size_t kMaxReplyData = 192;

// The reassembler abandons a frame when its 201st byte is stored, i.e. from position 200.
constexpr size_t kAbandonPosition = 200;

constexpr int kDefaultNoise = 5;

// Line noise: any byte but 254, so that it cannot start a frame in the tool's reassembler.
std::vector<uint8_t> NoiseBytes(int count) {
  static constexpr uint8_t kPattern[] = {0x00, 0x55, 0xAA, 0xFF, 0x13, 0xC8, 0x7F, 0x01, 0xFD};
  std::vector<uint8_t> noise;
  noise.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) noise.push_back(kPattern[i % std::size(kPattern)]);
  return noise;
}

}  // namespace

std::vector<uint8_t> MakeReplyFrame(uint8_t sequence, uint8_t command,
                                    std::span<const uint8_t> data) {
  const size_t n = std::min(data.size(), kMaxReplyData);
  std::vector<uint8_t> frame;
  frame.reserve(n + 8);
  frame.push_back(kFrameStart);
  frame.push_back(static_cast<uint8_t>(n + 6));
  frame.push_back(kReplyByte2);
  frame.push_back(kReplyByte3);
  frame.push_back(sequence);
  frame.push_back(kReplyByte5);
  frame.push_back(command);
  frame.insert(frame.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
  frame.push_back(Crc8(frame));
  return frame;
}

DeviceSim::DeviceSim(SimConfig config) : DeviceSim(config, SampleImage(config.model)) {}

DeviceSim::DeviceSim(SimConfig config, const ConfigImage& image)
    : config_(std::move(config)), image_(image) {}

void DeviceSim::ResetLine() {
  reassembler_.Reset();
  skip_next_ = false;
}

void DeviceSim::Feed(std::span<const uint8_t> bytes, std::vector<SimOutput>& out) {
  const Reassembler::FrameHandler on_frame = [&](std::span<const uint8_t> frame) {
    OnRequest(frame, out);
  };
  for (const uint8_t b : bytes) {
    if (skip_next_) {
      skip_next_ = false;
      continue;
    }
    // Fed one byte at a time so that the end of every frame is seen, bad ones included: the
    // reassembler reports only good frames, but returns to position 0 after any complete one.
    const size_t before = reassembler_.position();
    reassembler_.Feed(std::span<const uint8_t>(&b, 1), on_frame);
    if (before > 0 && reassembler_.position() == 0 && before != kAbandonPosition) {
      skip_next_ = true;
    }
  }
}

std::vector<uint8_t> DeviceSim::Answer(std::span<const uint8_t> frame, uint8_t& sequence) {
  const size_t length = frame[1];  // L: data lie at 7..L
  const uint8_t command = frame[6];
  sequence = frame[4];
  auto offset_at = [&](size_t pos) {
    return frame[pos] | frame[pos + 1] << 8 | frame[pos + 2] << 16;
  };

  switch (command) {
    case kIdentifyRequest: {
      const uint8_t data[] = {static_cast<uint8_t>(config_.model),
                              static_cast<uint8_t>(config_.firmware)};
      return MakeReplyFrame(sequence, kIdentifyReply, data);
    }
    case kAfterIdentify: {
      const uint8_t data[] = {0};
      return MakeReplyFrame(sequence, kUnhandled, data);
    }
    case kReadRequest: {
      if (length < 10) return {};
      const int offset = offset_at(7);
      const size_t count = std::min<size_t>(frame[10], kMaxReplyData);
      std::vector<uint8_t> data(count, 0);
      for (size_t i = 0; i < count; ++i) {
        const int at = offset + static_cast<int>(i);
        if (at < kImageCapacity) data[i] = image_[at];
      }
      return MakeReplyFrame(sequence, kReadReply, data);
    }
    case kWriteRequest: {
      if (length < 9) return {};
      const int offset = offset_at(7);
      const int count = static_cast<int>(length) - 9;  // data at 10..L
      for (int i = 0; i < count; ++i) {
        if (offset + i < kImageCapacity) image_[offset + i] = frame[10 + static_cast<size_t>(i)];
      }
      if (writes_.size() < kMaxRecorded) writes_.emplace_back(offset, count);
      return MakeReplyFrame(sequence, kWriteAck, {});
    }
    case kKeyRequest: {
      ++key_polls_;
      std::array<uint8_t, 8> data{};
      if (key_polls_ > config_.key_after_polls) data = config_.key;
      return MakeReplyFrame(sequence, kKeyReply, data);
    }
    default:
      return {};
  }
}

void DeviceSim::OnRequest(std::span<const uint8_t> frame, std::vector<SimOutput>& out) {
  if (frame.size() < 8 || frame[1] < 6) return;  // no command byte before the CRC
  const int number = ++requests_;
  if (received_.size() < kMaxRecorded) received_.emplace_back(frame.begin(), frame.end());
  if (observer_) observer_(number, frame);

  const auto applies = [&](FaultKind kind) {
    return std::any_of(config_.faults.begin(), config_.faults.end(),
                       [&](const FaultRule& r) { return r.kind == kind && r.AppliesTo(number); });
  };
  // A lost request never reaches the device; an unstored write is answered as if stored.
  if (applies(FaultKind::Lost)) return;
  std::optional<ConfigImage> unstored;
  if (applies(FaultKind::Unstored)) unstored = image_;
  const size_t writes_before = writes_.size();
  uint8_t sequence = 0;
  std::vector<uint8_t> reply = Answer(frame, sequence);
  if (reply.empty()) return;
  if (unstored) {
    image_ = *unstored;
    writes_.resize(writes_before);
  }

  bool drop = false, hang_up = false, duplicate = false, wrong_seq = false, bad_crc = false;
  std::chrono::milliseconds delay{0};
  std::vector<uint8_t> prefix;
  for (const FaultRule& rule : config_.faults) {
    if (!rule.AppliesTo(number)) continue;
    switch (rule.kind) {
      case FaultKind::Drop:
        drop = true;
        break;
      case FaultKind::Lost:
      case FaultKind::Unstored:
        break;
      case FaultKind::Unhandled: {
        const uint8_t data[] = {0};
        reply = MakeReplyFrame(sequence, kUnhandled, data);
        break;
      }
      case FaultKind::Empty:
        reply = MakeReplyFrame(sequence, reply[6], {});
        break;
      case FaultKind::Short: {
        reply = {kFrameStart, 4, kReplyByte2, kReplyByte3, sequence};
        reply.push_back(Crc8(reply));
        break;
      }
      case FaultKind::HangUp:
        hang_up = true;
        break;
      case FaultKind::Duplicate:
        duplicate = true;
        break;
      case FaultKind::WrongSeq:
        wrong_seq = true;
        break;
      case FaultKind::BadCrc:
        bad_crc = true;
        break;
      case FaultKind::Delay:
        delay += std::chrono::milliseconds(std::max(rule.param, 0));
        break;
      case FaultKind::Noise: {
        const std::vector<uint8_t> noise = NoiseBytes(rule.param > 0 ? rule.param : kDefaultNoise);
        prefix.insert(prefix.end(), noise.begin(), noise.end());
        break;
      }
      case FaultKind::Burst: {
        // A 254 inside its data too: it must not start a frame in the tool.
        const uint8_t data[] = {0x5A, kFrameStart, 0x00};
        const std::vector<uint8_t> extra = MakeReplyFrame(sequence, kUnhandled, data);
        prefix.insert(prefix.end(), extra.begin(), extra.end());
        break;
      }
    }
  }
  const auto body = [&reply] { return std::span<const uint8_t>(reply).first(reply.size() - 1); };
  if (wrong_seq) {
    reply[4] = static_cast<uint8_t>(sequence + 1);
    reply.back() = Crc8(body());
  }
  if (bad_crc) reply.back() = static_cast<uint8_t>(Crc8(body()) ^ 0xFF);

  if (hang_up) {
    out.push_back(SimOutput{delay, {}, true});
    return;
  }
  if (drop) return;

  std::vector<uint8_t> write = std::move(prefix);
  write.insert(write.end(), reply.begin(), reply.end());
  const int copies = duplicate ? 2 : 1;
  for (int c = 0; c < copies; ++c) {
    if (config_.split_bytes) {
      for (const uint8_t b : write) out.push_back(SimOutput{delay, {b}, false});
    } else {
      out.push_back(SimOutput{delay, write, false});
    }
  }
}

}  // namespace lovar
