// The exchange engine: identification, reading and writing the whole configuration image, key
// learning, and the no-answer watch. Reply-driven: each good reply triggers at most one next
// request, and the reply's command code decides what comes next.
//
// Threads: window thread only. Cport1Receive is the port's OnReceive, Timer1Timer must be
// called every 100 ms, and the buttons' handlers on user action. On a network port the watches
// of Timer1Timer (the no-answer question 10 ticks after the request, a half frame given up 2
// ticks after its last byte) wait the port's round trip longer (answer_allowance.h); on a local
// port they are exactly that. A tick counts nothing while the port holds input not yet
// delivered (PortInterface::InputPending), and ticks missed while the thread was held are not
// made up: the watches measure the device's silence, not the machine's load. The engine tells
// its owner (the session) what happens only through ExchangeObserver.
//
// A read reply carries only the sequence number and the data, so a late answer to an earlier
// request under the same number would be taken for the data asked now. Every read (a whole
// read, ReadBack) therefore notes the blocks taken under a number that still owes answers, and
// those a duplicated reply puts in doubt (reply_ledger.h), and reads them again at its end until
// two reads agree (read_agreement.h): a read ends only with every block it took in agreement,
// or stops (Disagree). A partly received frame is dropped when an exchange begins.
//
// A read reply without data moves nothing but the sequence number; the next request goes at
// once, up to kEmptyRun such replies in a row at one offset. Then the next request waits for
// the no-answer question, which comes as for silence, and counts as talk that answers nothing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "model/config_image.h"
#include "model/model_setup.h"
#include "protocol/frame.h"
#include "protocol/read_agreement.h"
#include "protocol/reply_ledger.h"
#include "serial/message_device.h"
#include "serial/port_interface.h"

namespace lovar {

// Why an exchange ended before its last reply.
enum class StopReason : uint8_t {
  Abandoned,  // the owner gave up at the no-answer question
  GaveUp,     // the device kept answering, but for Exchange::kGiveUpAfter questions in a row
              // never with a frame that answers the request: given up without asking again
  LineLost,   // the line hung up or the adapter was unplugged (seen by Timer1Timer)
  Disagree,   // a read's block in doubt was read again, and its reads never agreed
};

// How a step started with a callback (ReadBack, WriteRange, ButtonWriteClick with one) ended.
enum class StepEnd : uint8_t {
  Complete,    // its last reply came
  PortClosed,  // a read-back ended short: the port was closed under it
  Abandoned,   // as StopReason
  GaveUp,
  LineLost,
  Disagree,
};
// A step's end, on the window thread. A step given up at the question (Abandoned, GaveUp) may
// be taken up again by a late reply, as a whole read is: its callback then hears its end once
// more.
using StepDone = std::function<void(StepEnd end)>;

// What happens in the exchange, as the device protocol sees it. Every call comes on the window
// thread; all but the question default to nothing.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;

  // "Прибор не отвечает" / "Продолжить?" with OK (true) and Cancel (false). May run a nested
  // event loop: receive events and ticks keep arriving while it is open.
  virtual bool AskContinue() = 0;

  // The engine takes a new exchange (idle), or one runs: the three exchange buttons' state.
  virtual void IdleChanged(bool /*idle*/) {}
  // The current offset of the read or write under way (the progress bars' position; their
  // maximum is ImageLength()).
  virtual void Progress(int /*position*/) {}
  // An identification reply: model and firmware byte. For models 250, 251 and 252 the image
  // length is already the model's. The 212 that follows it has been sent.
  virtual void Identified(int /*model*/, int /*firmware*/) {}
  // A whole read (ButtonReadClick) is over. complete: the offset reached the image length.
  // display: at least 256 bytes were stored, so the image is to be shown.
  virtual void ReadEnded(bool /*complete*/, bool /*display*/) {}
  // A whole write started without a callback is over; complete: the last block acknowledged.
  virtual void WriteEnded(bool /*complete*/) {}
  // An exchange without a callback ended before its last reply; request is the one that went
  // unanswered (200 read, 202 write, 206 key poll, 208/212 identification), 0 when the line
  // was lost while none was outstanding. The exchange buttons are enabled again.
  virtual void Stopped(uint8_t /*request*/, StopReason /*reason*/) {}

  // Key learning: the key text (EditKey) changed; polling started; a key was read; stopped.
  virtual void KeyText(const std::string& /*text*/) {}
  virtual void KeyPollingStarted() {}
  virtual void KeyRead() {}
  virtual void KeyStopped() {}
};

// The exchange's state; one instance for the main window's lifetime, all zero at start.
struct ExchangeState {
  uint8_t sequence = 0;  // byte 4 of every request; advanced only by an accepted read reply
  int offset = 0;        // image offset of the next block to read or write
  int ticks = 0;         // 100 ms ticks since the last SendBuffer or exchange start
  bool stop = false;     // while set nothing is sent and receive events are ignored
  bool key_armed = false;
  bool prompt = false;            // the no-answer question is open
  SendBufferBytes send_buffer{};  // byte 1 = N, the outstanding-request marker
  int DeviceModel = 0;
  int FirmwareVersion = 0;
  int image_length = 256;  // the progress bars' maximum
};

class Exchange {
 public:
  Exchange(PortInterface& port, ConfigImage& image, ExchangeObserver& observer);

  // Buttons and the receive handler.
  void ButtonReadClick();
  // With done, the write's end goes to it instead of the observer's WriteEnded and Stopped.
  void ButtonWriteClick(StepDone done = nullptr);
  // What every write does to the image before its first block: the bytes the model's write
  // sends as 0 (model_setup.h: 127 to 130 of models 250 and 252) become 0, and the blocks come
  // from the image again. ButtonWriteClick begins
  // with it; a write of chosen blocks (WriteRange) calls it itself.
  void PrepareWrite();
  void ButtonKeyClick();
  void ButtonStopKeyClick();
  void Cport1Receive(const TMessageDevice& MessDev);
  void Timer1Timer();

  // Checking a write: reads device bytes from `from` up to `end` into `into` with the read's
  // requests and replies (Progress follows), leaving the image alone. Ends with done.
  void ReadBack(ConfigImage& into, int from, int end, StepDone done);
  // Writes the 16-byte blocks from `from` up to `end` again with the write's requests and
  // sequence rules (bytes 127 to 130 are not zeroed again). Ends with done.
  void WriteRange(int from, int end, StepDone done);
  // The blocks of the write under way, and of WriteRange, come from `source` instead of the
  // image until the next ButtonWriteClick: a verified write sends one snapshot, so an edit made
  // meanwhile is not half sent.
  void WriteFrom(const ConfigImage& source) { write_from_ = &source; }
  // Ctrl-C: from now on nothing is sent, but the reply to the request in flight is still taken,
  // so that the offset says what the device holds. The next exchange's start clears it.
  void SendNoMore() { hold_ = true; }

  // The search window's identification request (command 208); clears the stop flag first.
  void SendIdentification();
  // A page change or the main window closing: no request outstanding, stop flag set.
  void StopExchange();
  // No request is outstanding any more, without stopping: a reply that no step needs (the
  // answer to the 212 after an identification) is no longer awaited by the no-answer watch.
  void ForgetRequest() { state_.send_buffer[1] = 0; }
  // The search window enables the three exchange buttons once it has opened the port, and
  // disables them when it moves to another port.
  void SetButtonsEnabled(bool enabled) { SetButtons(enabled); }

  // Turns the send buffer into a frame on the wire; resets the tick counter even when it
  // sends nothing (port closed or stop flag set).
  void SendBuffer();

  // The key read last, as EditKey shows it (last key byte first) and as the key grid stores it
  // for the identified model (16 hex digits for 251, 8 for 250 and 252).
  const std::string& EditKeyText() const { return edit_key_; }
  std::string KeyText() const;
  const std::array<uint8_t, 8>& KeyBuffer() const { return key_buffer_; }

  // Read only: the engine alone moves its state (the tests reach it through ExchangeTestAccess).
  const ExchangeState& state() const { return state_; }
  int DeviceModel() const { return state_.DeviceModel; }
  int FirmwareVersion() const { return state_.FirmwareVersion; }
  int ImageLength() const { return state_.image_length; }
  bool RequestOutstanding() const { return state_.send_buffer[1] != 0; }
  bool PortOpen() const { return port_.IsOpen(); }
  bool ButtonsEnabled() const { return buttons_enabled_; }
  // Frames taken as the answer to a request, since the engine was made (the reply to the frame
  // in flight has come).
  uint64_t AnsweredFrames() const { return answered_; }
  // Of those, the ones that moved the exchange on (not a read reply without data): a
  // watchdog's measure of progress.
  uint64_t ProgressFrames() const { return progress_; }
  // Good frames since the request was last sent that answered nothing (a device that talks, but
  // not to the request).
  int StrayFramesSinceSend() const { return stray_since_send_; }
  // The device talks but the exchange does not move: stray frames since the send, or a run of
  // read replies without data.
  bool Talking() const { return stray_since_send_ > 0 || empty_run_ >= kEmptyRun; }
  // Where the reads of a block in doubt never agreed (StopReason::Disagree).
  int DisagreedAt() const { return disagreed_at_; }

  // Questions in a row, each after the device answered only with frames that answer nothing,
  // before the exchange is given up (GaveUp) instead of asking again.
  static constexpr int kGiveUpAfter = 5;
  // Read replies without data in a row at one offset that are answered with the next request
  // at once.
  static constexpr int kEmptyRun = 8;

  // Where a write starts (model_setup.h): 100 for model 252, 0 for the others and for an
  // unknown model.
  static int WriteStart(int model);

 private:
  void OnFrame(std::span<const uint8_t> frame);
  bool Answers(std::span<const uint8_t> frame) const;
  void StartExchange();
  void WatchLine();
  void OnIdentifyReply(std::span<const uint8_t> frame);
  void OnReadReply(std::span<const uint8_t> frame);
  void OnWriteAck(std::span<const uint8_t> frame);
  void OnKeyReply(std::span<const uint8_t> frame);
  // hold: built and outstanding, but left for the no-answer question to send.
  void SendReadRequest(bool hold = false);
  // The blocks in doubt read again; the read's end.
  void OnSettleReply(std::span<const uint8_t> data, bool doubtful);
  void SendSettleRequest();
  void EndRead();
  void SendWriteBlock();
  void SendKeyPoll();
  void SetButtons(bool enabled);
  void SetProgress(int position);
  // The end of the step under way: to its callback, or to the observer.
  void EndWrite();
  void EndStopped(uint8_t request, StopReason reason);
  friend struct ExchangeTestAccess;

  PortInterface& port_;
  ConfigImage& image_;
  ExchangeObserver& observer_;
  ExchangeState state_;
  Reassembler reassembler_;
  std::array<uint8_t, 8> key_buffer_{};
  std::string edit_key_;
  bool buttons_enabled_ = false;
  // The read or write under way: where it ends, where a read stores, whether it checks a write.
  int end_ = 256;
  ConfigImage* read_into_ = &image_;
  const ConfigImage* write_from_ = &image_;
  bool checking_ = false;
  StepDone step_done_;      // the step's own end, when it was started with one
  bool hold_ = false;       // SendNoMore
  bool line_open_ = false;  // the port was open at the last tick or send
  uint64_t answered_ = 0;
  uint64_t progress_ = 0;
  int stray_since_send_ = 0;
  int futile_questions_ = 0;
  // Ticks since the last byte arrived (or the request went): a half frame is given up when its
  // bytes stop, not when its request is old. A loaded machine delivers a reply in pieces.
  int quiet_ticks_ = 0;
  int empty_run_ = 0;  // read replies without data in a row
  ReplyLedger ledger_;
  SuspectReads suspects_;  // the read's blocks in doubt
  bool settling_ = false;  // they are being read again
  int disagreed_at_ = -1;
};

// The search window's device-list line for an identification reply, in UTF-8:
// "Ловар-Т Версия 2.2", "Ловар-Т2  Версия 1.5", "Ловар-М Версия 2.2", "Неизвестный тип 99Версия
// 25".
std::string DeviceLine(int model, int version);

}  // namespace lovar
