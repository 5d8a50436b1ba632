#include "protocol/exchange.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "model/regions.h"
#include "protocol/answer_allowance.h"

namespace lovar {
namespace {

uint8_t CommandOf(std::span<const uint8_t> frame) {
  return frame[6];
}
size_t Length(std::span<const uint8_t> frame) {
  return frame[1];
}

}  // namespace

std::string DeviceLine(int model, int version) {
  const std::string major = std::to_string(version / 10 + 1);
  const std::string minor = std::to_string(version % 10);
  if (const ModelSetup* setup = FindModelSetup(model))
    return std::string(setup->line_name) + " Версия " + major + "." + minor;
  return "Неизвестный тип " + std::to_string(model) + "Версия " + major + minor;
}

Exchange::Exchange(PortInterface& port, ConfigImage& image, ExchangeObserver& observer)
    : port_(port), image_(image), observer_(observer) {}

void Exchange::SetButtons(bool enabled) {
  buttons_enabled_ = enabled;
  observer_.IdleChanged(enabled);
}

void Exchange::SetProgress(int position) {
  observer_.Progress(position);
}

void Exchange::SendBuffer() {
  state_.ticks = 0;
  quiet_ticks_ = 0;
  if (!port_.IsOpen() || state_.stop || hold_) return;
  const WireRequest wire = BuildWireRequest(state_.send_buffer);
  if (wire.count == 0) return;
  stray_since_send_ = 0;
  line_open_ = true;  // also when it opened and hangs up between two ticks
  if (state_.send_buffer[6] == kReadRequest) {
    const SendBufferBytes& b = state_.send_buffer;
    ledger_.Sent(b[4], b[kRequestData] | b[kRequestData + 1] << 8 | b[kRequestData + 2] << 16);
  }
  port_.WriteDevice(static_cast<int32_t>(wire.count),
                    std::span<const uint8_t>(wire.bytes.data(), wire.count));
}

void Exchange::SendIdentification() {
  state_.stop = false;
  step_done_ = nullptr;
  PutRequestHeader(state_.send_buffer, kIdentifyRequestSize, state_.sequence, kIdentifyRequest);
  state_.send_buffer[kRequestData] = 0;
  SendBuffer();
}

void Exchange::StopExchange() {
  state_.send_buffer[1] = 0;
  state_.stop = true;
}

// ---- Receiving: integrity is the reassembler's, then reply matching, then dispatch. ----

void Exchange::Cport1Receive(const TMessageDevice& MessDev) {
  if (state_.stop || MessDev.Count <= 0) return;
  quiet_ticks_ = 0;
  // The record is the port's and is refilled by the next delivery: work on a copy.
  const size_t count = std::min<size_t>(static_cast<size_t>(MessDev.Count), MessDev.Data.size());
  std::array<uint8_t, 1004> bytes;
  std::copy_n(MessDev.Data.begin(), count, bytes.begin());
  reassembler_.Feed(std::span<const uint8_t>(bytes.data(), count),
                    [this](std::span<const uint8_t> frame) { OnFrame(frame); });
}

namespace {

// The request each handled reply answers.
std::optional<uint8_t> RequestOf(uint8_t reply) {
  switch (reply) {
    case kReadReply:
      return kReadRequest;
    case kWriteAck:
      return kWriteRequest;
    case kKeyReply:
      return kKeyRequest;
    case kIdentifyReply:
      return kIdentifyRequest;
    default:
      return std::nullopt;
  }
}

}  // namespace

// Whether a good frame is the reply to the request the send buffer holds. Anything else leaves
// the request outstanding, so the no-answer question still rescues the exchange instead of it
// stopping silently, asking for one offset for ever or a write ending as if complete: a reply
// to another request (a write acknowledgement in the middle of a read would otherwise send image
// blocks to the device), a read reply or acknowledgement with another sequence number (late or
// duplicated) or after the last block, an identification too short for both of its bytes, an
// unhandled command, a frame too short to hold a command. A read reply without data answers
// its request: it moves the offset by what it carries, nothing.
bool Exchange::Answers(std::span<const uint8_t> frame) const {
  if (Length(frame) < 6) return false;
  const uint8_t command = CommandOf(frame);
  const std::optional<uint8_t> request = RequestOf(command);
  if (!request || state_.send_buffer[6] != *request) return false;
  switch (command) {
    case kReadReply:
      return frame[4] == state_.sequence && state_.offset < end_;
    case kWriteAck:
      return frame[4] == state_.sequence && state_.offset < end_;
    case kIdentifyReply:
      return Length(frame) >= 8;
    default:
      return true;
  }
}

void Exchange::OnFrame(std::span<const uint8_t> frame) {
  // The 212 after an identification expects no particular reply: any frame answers it.
  if (state_.send_buffer[6] == kAfterIdentify) {
    if (state_.send_buffer[1] != 0) ++answered_;
    state_.send_buffer[1] = 0;
    return;
  }
  if (!Answers(frame)) {
    if (state_.send_buffer[1] != 0) ++stray_since_send_;
    // A read reply that answers nothing is a duplicate or a late one: the block taken last
    // under its number, in this read, may have been its.
    if (Length(frame) >= 6 && CommandOf(frame) == kReadReply) {
      const std::optional<ReadPlace> place = ledger_.Stray(frame[4]);
      if (place && state_.send_buffer[6] == kReadRequest && place->end <= kImageCapacity)
        suspects_.Mark(*place,
                       std::span<const uint8_t>(read_into_->bytes().data() + place->from,
                                                static_cast<size_t>(place->end - place->from)));
    }
    return;
  }
  state_.send_buffer[1] = 0;
  ++answered_;
  const bool empty = CommandOf(frame) == kReadReply && Length(frame) < 7;
  empty_run_ = empty ? empty_run_ + 1 : 0;
  if (!empty) {
    ++progress_;
    futile_questions_ = 0;
  }
  switch (CommandOf(frame)) {
    case kReadReply:
      OnReadReply(frame);
      break;
    case kWriteAck:
      OnWriteAck(frame);
      break;
    case kKeyReply:
      OnKeyReply(frame);
      break;
    case kIdentifyReply:
      OnIdentifyReply(frame);
      break;
    default:
      break;
  }
}

void Exchange::OnIdentifyReply(std::span<const uint8_t> frame) {
  state_.DeviceModel = frame[7];
  state_.FirmwareVersion = frame[8];
  // Another code keeps the length from before.
  if (IsKnownModel(state_.DeviceModel))
    state_.image_length = lovar::ImageLength(state_.DeviceModel);
  if (port_.IsOpen()) {
    // Position 7 keeps the 0 of the identification request.
    PutRequestHeader(state_.send_buffer, kAfterIdentifySize, state_.sequence, kAfterIdentify);
    SendBuffer();
  }
  observer_.Identified(state_.DeviceModel, state_.FirmwareVersion);
}

// ---- Reading the whole image. ----

void Exchange::StartExchange() {
  state_.stop = false;
  hold_ = false;
  futile_questions_ = 0;
  empty_run_ = 0;
  state_.send_buffer[1] = 0;
  // What was outstanding is over; half a frame left from it is no part of the new exchange.
  ledger_.Abandon();
  reassembler_.Reset();
  SetButtons(false);
}

void Exchange::ButtonReadClick() {
  state_.offset = 0;
  state_.ticks = 0;
  end_ = state_.image_length;
  read_into_ = &image_;
  checking_ = false;
  step_done_ = nullptr;
  settling_ = false;
  suspects_.Clear();
  ledger_.NewStep();
  SetProgress(0);
  if (!port_.IsOpen()) return;
  StartExchange();
  SendReadRequest();
}

void Exchange::ReadBack(ConfigImage& into, int from, int end, StepDone done) {
  state_.offset = from;
  state_.ticks = 0;
  end_ = end;
  read_into_ = &into;
  checking_ = true;
  step_done_ = std::move(done);
  settling_ = false;
  suspects_.Clear();
  ledger_.NewStep();
  SetProgress(from);
  if (!port_.IsOpen()) return;
  StartExchange();
  SendReadRequest();
}

void Exchange::SendReadRequest(bool hold) {
  SendBufferBytes& b = state_.send_buffer;
  PutRequestHeader(b, kReadRequestSize, state_.sequence, kReadRequest);
  PutRequestOffset(b, state_.offset);
  constexpr size_t kCount = kRequestData + kOffsetBytes;
  b[kCount] = kReadBlock;
  b[kCount + 1] = 0;  // the CRC's place, cleared as it always was
  if (!hold) SendBuffer();
}

void Exchange::OnReadReply(std::span<const uint8_t> frame) {
  const size_t last = Length(frame);
  const std::span<const uint8_t> data = frame.subspan(7, last >= 7 ? last - 6 : 0);
  if (settling_) return OnSettleReply(data, ledger_.Accepted(frame[4], suspects_.Next()));
  const int from = state_.offset;
  int shown = -1;
  for (const uint8_t byte : data) {
    shown = state_.offset;
    if (state_.offset >= end_) break;  // nothing is stored past the image
    (*read_into_)[state_.offset++] = byte;
  }
  if (shown >= 0) SetProgress(shown);
  const ReadPlace place{from, state_.offset};
  if (ledger_.Accepted(frame[4], place))
    suspects_.Mark(place, std::span<const uint8_t>(read_into_->bytes().data() + from,
                                                   static_cast<size_t>(place.end - from)));
  ++state_.sequence;  // wraps 255 -> 0
  if (port_.IsOpen() && state_.offset < end_) {
    SendReadRequest(/*hold=*/empty_run_ >= kEmptyRun);
    return;
  }
  if (suspects_.Pending()) {
    if (port_.IsOpen()) {
      settling_ = true;
      SendSettleRequest();
      return;
    }
    // Ended short where the doubt begins: what lies before it is whole.
    state_.offset = std::min(state_.offset, suspects_.Earliest());
    suspects_.Clear();
  }
  EndRead();
}

void Exchange::SendSettleRequest() {
  state_.offset = suspects_.Next().from;
  SendReadRequest(/*hold=*/empty_run_ >= kEmptyRun);
}

// A block in doubt read again: settled when two reads agree, the agreed bytes stored.
void Exchange::OnSettleReply(std::span<const uint8_t> data, bool doubtful) {
  const ReadPlace place = suspects_.Next();
  ++state_.sequence;
  switch (suspects_.Reply(data, doubtful)) {
    case SuspectReads::Verdict::Settled:
      std::copy(suspects_.Agreed().begin(), suspects_.Agreed().end(),
                read_into_->bytes().begin() + place.from);
      break;
    case SuspectReads::Verdict::Again:
      break;
    case SuspectReads::Verdict::Disagree:
      settling_ = false;
      suspects_.Clear();
      disagreed_at_ = state_.offset = place.from;
      SetButtons(true);
      state_.send_buffer[1] = 0;
      EndStopped(kReadRequest, StopReason::Disagree);
      return;
  }
  if (!suspects_.Pending()) {
    settling_ = false;
    state_.offset = end_;
    EndRead();
    return;
  }
  if (!port_.IsOpen()) {
    // Ended short where the doubt begins: what lies before it is whole.
    settling_ = false;
    state_.offset = suspects_.Earliest();
    suspects_.Clear();
    EndRead();
    return;
  }
  SendSettleRequest();
}

void Exchange::EndRead() {
  SetButtons(true);
  state_.send_buffer[1] = 0;
  if (!checking_) {
    observer_.ReadEnded(state_.offset >= end_, state_.offset > 255);
    return;
  }
  const StepDone done = std::exchange(step_done_, nullptr);
  if (done) done(state_.offset >= end_ ? StepEnd::Complete : StepEnd::PortClosed);
}

// ---- Writing the whole image. ----

int Exchange::WriteStart(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->write_start : 0;
}

void Exchange::PrepareWrite() {
  write_from_ = &image_;
  if (const ModelSetup* setup = FindModelSetup(state_.DeviceModel))
    for (int i = setup->zero_from; i < setup->zero_end; ++i) image_[i] = 0;
}

void Exchange::ButtonWriteClick(StepDone done) {
  PrepareWrite();
  WriteRange(WriteStart(state_.DeviceModel), state_.image_length, std::move(done));
}

void Exchange::WriteRange(int from, int end, StepDone done) {
  step_done_ = std::move(done);
  state_.offset = from;
  state_.ticks = 0;
  end_ = end;
  SetProgress(0);
  if (!port_.IsOpen()) return;
  StartExchange();
  SendWriteBlock();
}

void Exchange::SendWriteBlock() {
  const int o = state_.offset;
  SendBufferBytes& b = state_.send_buffer;
  PutRequestHeader(b, kWriteRequestSize, state_.sequence, kWriteRequest);
  PutRequestOffset(b, o);
  for (int i = 0; i < kWriteBlock; ++i) {
    const int at = o + i;
    b[kRequestData + kOffsetBytes + static_cast<size_t>(i)] =
        at < kImageCapacity ? (*write_from_)[at] : 0;
  }
  SendBuffer();
}

void Exchange::OnWriteAck(std::span<const uint8_t> /*frame*/) {
  state_.offset += kWriteBlock;
  SetProgress(state_.offset);
  if (state_.offset >= end_) {
    SetButtons(true);
    EndWrite();
    return;
  }
  if (port_.IsOpen()) SendWriteBlock();  // the sequence number stays: one for the whole write
}

// ---- Key learning. ----

void Exchange::ButtonKeyClick() {
  state_.ticks = 0;
  state_.key_armed = false;
  edit_key_.clear();
  observer_.KeyText(edit_key_);
  if (!port_.IsOpen() || !buttons_enabled_) return;
  step_done_ = nullptr;
  StartExchange();
  observer_.KeyPollingStarted();
  PutRequestHeader(state_.send_buffer, kKeyRequestSize, state_.sequence, kKeyRequest);
  // The first poll clears positions 7 to 12: its data, its CRC's place, the byte sent after
  // it, and what a read request left beyond.
  constexpr size_t kClearedByFirstPoll = 6;
  std::fill_n(state_.send_buffer.begin() + kRequestData, kClearedByFirstPoll, uint8_t{0});
  SendBuffer();
}

void Exchange::SendKeyPoll() {
  PutRequestHeader(state_.send_buffer, kKeyRequestSize, state_.sequence, kKeyRequest);
  state_.send_buffer[kRequestData] = 0;
  SendBuffer();
}

void Exchange::OnKeyReply(std::span<const uint8_t> frame) {
  const size_t last = Length(frame);
  // A reply without data bytes (L = 6) carries no key; position 7 would be its CRC.
  if (last < 7 || frame[7] == 0 || !state_.key_armed) {
    SendKeyPoll();
    state_.key_armed = true;  // the first reply after the start is always polled again
    return;
  }
  edit_key_.clear();
  size_t taken = 0;
  for (size_t j = last; j >= 7; --j) {
    if (taken < key_buffer_.size()) key_buffer_[taken++] = frame[j];
    keys::AppendHex(edit_key_, frame[j]);
  }
  observer_.KeyText(edit_key_);
  SetButtons(true);
  observer_.KeyRead();
}

void Exchange::ButtonStopKeyClick() {
  observer_.KeyStopped();
  SetButtons(true);
  state_.stop = true;
  state_.send_buffer[1] = 0;
}

std::string Exchange::KeyText() const {
  return keys::LearntKeyText(key_buffer_, state_.DeviceModel);
}

// ---- The no-answer watch, every 100 ms. ----

// A hang-up closes the port under us; the exchange under way can never be answered, and the
// question that guards it is not asked for a closed port, so it is ended here and said.
void Exchange::WatchLine() {
  const bool open = port_.IsOpen();
  const bool lost = line_open_ && !open && port_.LastError() == LinkError::HungUp;
  line_open_ = open;
  if (!lost) return;
  const uint8_t command = state_.send_buffer[1] != 0 ? state_.send_buffer[6] : 0;
  state_.send_buffer[1] = 0;
  SetButtons(true);
  EndStopped(command, StopReason::LineLost);
}

void Exchange::EndWrite() {
  const StepDone done = std::exchange(step_done_, nullptr);
  if (done)
    done(StepEnd::Complete);
  else
    observer_.WriteEnded(true);
}

// A step with a callback hears of its own end; given up at the question it keeps the callback,
// since a late reply may take it up again. A line lost while nothing was outstanding is no
// step's.
void Exchange::EndStopped(uint8_t request, StopReason reason) {
  if (!step_done_ || request == 0) {
    observer_.Stopped(request, reason);
    return;
  }
  // Reads that never agreed are not taken up by a late reply either.
  const StepDone done = reason == StopReason::LineLost || reason == StopReason::Disagree
                            ? std::exchange(step_done_, nullptr)
                            : step_done_;
  done(reason == StopReason::Abandoned  ? StepEnd::Abandoned
       : reason == StopReason::GaveUp   ? StepEnd::GaveUp
       : reason == StopReason::LineLost ? StepEnd::LineLost
                                        : StepEnd::Disagree);
}

void Exchange::Timer1Timer() {
  // Bytes that arrived are on their way to this thread: the tick measures the device, not a
  // loop held by other work, so it waits for them to be delivered.
  if (port_.InputPending()) return;
  // A network port's round trip delays the answer as a whole: both watches wait that much
  // longer (nothing longer on a local port).
  const int allowance = AllowanceTicks(port_);
  ++state_.ticks;
  // A frame whose bytes stopped is given up.
  if (++quiet_ticks_ > 2 + allowance) reassembler_.Reset();
  if (!state_.prompt) WatchLine();  // an open question learns of it when it closes
  if (!port_.IsOpen() || state_.ticks <= 10 + allowance || state_.prompt ||
      state_.send_buffer[1] == 0)
    return;
  // A device that keeps talking, but never to the request, would be asked about for ever.
  futile_questions_ = Talking() ? futile_questions_ + 1 : 0;
  if (futile_questions_ >= kGiveUpAfter) {
    const uint8_t command = state_.send_buffer[6];
    futile_questions_ = 0;
    state_.send_buffer[1] = 0;
    SetButtons(true);
    EndStopped(command, StopReason::GaveUp);
    return;
  }
  state_.prompt = true;
  // The question may run a nested loop: replies and ticks go on arriving meanwhile.
  if (observer_.AskContinue()) {
    if (state_.send_buffer[1] != 0) SendBuffer();  // a reply may have come in the meantime
    state_.stop = false;
    state_.ticks = 0;
  } else {
    const uint8_t command = state_.send_buffer[6];
    state_.send_buffer[1] = 0;
    SetButtons(true);
    EndStopped(command, StopReason::Abandoned);
  }
  state_.prompt = false;
}

}  // namespace lovar
