// A write is done only when the device holds it. A block's acknowledgement carries nothing but
// the write's one sequence number, so a duplicated or late acknowledgement is taken for the next
// block even when that block was lost on its way: counting acknowledgements proves nothing.
// VerifiedWrite therefore follows every write with a read-back of the range written, into a
// buffer of its own (the window's image stays as edited), compares it with the bytes sent, and
// writes the 16-byte blocks that differ again, at most kRepairRounds times. After each repair
// round the whole range is read back again, not only the blocks repaired: a repair frame whose
// offset was damaged on the line yet passed the CRC lands on a block already proven, and only a
// read of everything written finds it.
// All of it runs on the engine's own handlers and frames: ButtonWriteClick, WriteRange and
// ReadBack.
//
// A write may begin with a read of the whole device into a buffer of its own (ReadingPrior), so
// that the view can keep the device's prior image (the archive) and take from it what the image
// does not hold (a model 251 file's keys); the view may refuse, and then nothing is written.
//
// A write of the changes alone (StartChanged) sends only the blocks that differ from what the
// device is known to hold, reads back either those blocks or the whole range, and repairs as
// above; CheckWhole then reads the whole range back behind it, compared with the same snapshot.
// With nothing to send, a whole check still reads the range back: "no changes" is said of two
// reads, not one.
//
// Only blocks the write sent are ever written again. A block it did not send that reads back
// different means a read, or the device, is not what was assumed: it is read again until two
// reads agree (read_agreement.h), never written toward the first read. When the device holds
// other bytes there after all:
// - bytes that are a block of ours landed astray (block_diff.h: LandedAstray) are the owner's
//   bytes to write again where they are the owner's (below SetOwnEnd), and otherwise make the
//   write unproven (Differs);
// - beyond SetOwnEnd (the device's own bytes, a model 251 file's keys) the device's bytes are
//   kept and said (kept_blocks);
// - within it the image was stale: the device holds another configuration than the one read,
//   and nothing is written over it (Stale).
// Model 252's bytes 0 to 99 are never written: the whole check reads them back as well and holds
// them to what the device held before the write (read first when not known); a difference
// there is reported (Differs, held_changed), never repaired.
//
// It drives the engine's steps and hears their ends through the steps' own callbacks; the
// engine's other events go to the engine's observer as they always do. It tells its own
// observer the stages and the outcome. The session (src/session) runs every write through it.
//
// Threads: window thread only, like the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/config_image.h"
#include "protocol/block_diff.h"
#include "protocol/exchange.h"
#include "protocol/read_agreement.h"

namespace lovar {

enum class WriteStage {
  ReadingPrior,  // the device read before the write
  Writing,       // "Запись в УО…"
  Checking,      // "Проверка записи…": the read-back
  Repairing,     // blocks that differ are written again
};

// What a verified write left in the device.
struct WriteReport {
  enum class Outcome {
    Verified,      // the device holds every byte sent
    Unchecked,     // every block was acknowledged; nothing was read back, as asked
    Differs,       // the read-back still differs after the repair rounds
    WriteStopped,  // the write ended before its last block was acknowledged
    CheckStopped,  // every block was acknowledged, but the read-back ended early
    NotStarted,    // nothing written: the read before the write ended early, the view refused,
                   // or the port was closed before the first block
    Stale,         // blocks the write did not send hold, by two reads, other bytes than the
                   // image assumed: another configuration; nothing was written over them
  };
  // Why a write or a check stopped.
  enum class Cause {
    None,
    NoAnswer,     // given up at the no-answer question
    GaveUp,       // the device answered, but never to the request
    LineLost,     // the line hung up or the adapter was unplugged
    PortClosed,   // the port was not open
    PageChanged,  // the installer changed the page
    Interrupted,  // Ctrl-C or a request to end the program
    Refused,      // the view did not let the write begin (it says why itself)
    Disagree,     // the reads of one place never agreed
  };
  Outcome outcome = Outcome::Verified;
  Cause cause = Cause::None;
  int from = 0;                 // the first byte written (100 for model 252)
  int end = 0;                  // one past the last byte compared: the image length
  int stopped_at = 0;           // WriteStopped, CheckStopped, NotStarted: the offset reached
  int first_difference = -1;    // Differs
  uint8_t difference_bits = 0;  // Differs: the bits of the first differing byte that differ
  int differing_bytes = 0;      // Differs
  int model = 0;                // the device's, to name the field of an offset
  bool prior_read = false;      // the write began with a read of the device (NotStarted says it)
  int repaired_blocks = 0;      // blocks written again over all rounds
  // A write of the changes alone: only the blocks that differed from the device were written
  // (written_blocks of total_blocks; none: nothing was sent).
  bool changed_only = false;
  int written_blocks = 0;
  int total_blocks = 0;
  // The read-back covered only the blocks written (the whole range is to be checked behind).
  bool blocks_only = false;
  // The whole range read back behind a write of the changes (CheckWhole).
  bool whole_check = false;
  // The first difference the first comparison found, repaired or not (-1: none).
  int found_difference = -1;
  uint8_t found_bits = 0;
  // Differs: the first difference lies in model 252's bytes 0 to 99, which no write changes.
  bool held_changed = false;
  // Differs: in the device's own bytes, which may be a block of the write landed astray.
  bool astray = false;
  // Stale: the blocks not sent that hold other bytes, the first of them and its differing bits.
  int stale_blocks = 0;
  int first_stale = -1;
  uint8_t stale_bits = 0;
  bool written_unproven = false;  // and some of the blocks written read back different
  // Blocks of the device's own bytes (beyond what the owner's image holds) that turned out,
  // by two reads, not to be what was read before the write: kept as the device holds them.
  int kept_blocks = 0;
  int first_kept = -1;
  uint8_t kept_bits = 0;

  bool ok() const { return outcome == Outcome::Verified; }
};

// The one Russian text (UTF-8) for the window and the CLI, e.g. "Конфигурация записана в УО",
// or for a failure what happened and that the device may hold a mix of old and new
// configuration; an offset is named with the field that holds it.
std::string WriteReportText(const WriteReport& report);

// What a verified write tells its owner; every call on the window thread.
class VerifiedWriteObserver {
 public:
  virtual ~VerifiedWriteObserver() = default;
  virtual void WriteStageChanged(WriteStage /*stage*/) {}
  // The device's image as read before the write, just before the first block goes out. The
  // owner may complete the image from it; false: the write does not begin (NotStarted,
  // Refused).
  virtual bool PriorImageRead(const ConfigImage& /*prior*/) { return true; }
  // The verified write is over; the exchange buttons are enabled again.
  virtual void WriteFinished(const WriteReport& report) = 0;
};

class VerifiedWrite {
 public:
  static constexpr int kRepairRounds = 2;
  static constexpr int kBlock = kWriteBlock;

  // The engine it drives and the image it writes (the engine's).
  VerifiedWrite(Exchange& engine, const ConfigImage& image, VerifiedWriteObserver& observer)
      : engine_(engine), image_(image), observer_(observer) {}

  // "Записать в УО": with read_prior first the whole device into a buffer (PriorImageRead),
  // then the whole write of ButtonWriteClick (up to SetOwnEnd), then (with check) the
  // read-back, comparison and repairs. known: what the device is known to hold, for the bytes
  // before the write's start (model 252's 0 to 99; read first when neither known nor read).
  // Ends with WriteFinished, also when the port is closed.
  void Start(bool check = true, bool read_prior = false, const ConfigImage* known = nullptr);
  // A write of the changes alone: the blocks of the write's range whose bytes (as they go out)
  // differ from `device` (with read_prior: from the device's image read first). With
  // whole_check the whole range is read back after them, as Start does; otherwise only the
  // blocks written, and CheckWhole may follow. Nothing differing: Verified, nothing sent.
  void StartChanged(const ConfigImage& device, bool check, bool read_prior, bool whole_check);
  // The whole range of the last write read back, compared with what it sent, and repaired.
  // Only after a write of the changes that ended Verified; ends with WriteFinished.
  void CheckWhole();
  // The engine was stopped from outside (a page change, Ctrl-C): reports where the write stood.
  void Stop(WriteReport::Cause cause);
  // The owner's bytes end here (the next write only): the rest of the image is the device's
  // own, as read before the write (a model 251 file holds 2048 bytes). A whole write sends
  // only up to it. The whole image unless said.
  void SetOwnEnd(int end) { next_own_end_ = end; }

  bool Running() const { return running_; }
  WriteStage stage() const { return stage_; }
  // The image as it went out, with the device's own bytes it kept (kept_blocks); after a
  // Verified report, what the device holds from report.from.
  const ConfigImage& Sent() const { return sent_; }
  // Where the device's own bytes were kept (kept_blocks) by the last run.
  const std::vector<ReadPlace>& Kept() const { return kept_; }
  // The device's image as the last whole check read it (a Stale report: what it holds, every
  // byte by two reads or by what was sent).
  const ConfigImage& ReadBackImage() const { return readback_; }

 private:
  using Range = BlockRange;
  // The end of one of this object's engine steps.
  void StepEnded(StepEnd end);
  StepDone Done() {
    return [this](StepEnd end) { StepEnded(end); };
  }
  // Whether a step's end belongs to a run: one under way, or one given up at the question that
  // a late reply has taken up again.
  bool Owns();
  void SetStage(WriteStage stage);
  void BeginWrite();
  bool CanResume();
  void WriteEnded();
  void CheckNext();
  void CheckReadEnded(bool complete);
  void Compare();
  // The bytes the device is to hold at `at`: those sent, or before the write's start (model
  // 252's 0 to 99) those it held before.
  uint8_t Expected(int at) const { return at < report_.from ? held_[at] : sent_[at]; }
  ReadPlace BlockAt(int at) const;
  bool WasSent(const ReadPlace& block) const;
  void MarkSent(int from, int end);
  std::vector<BlockRange> SentRanges() const;
  std::vector<BlockRange> MayHaveStrayed() const;
  // The places compared that differ, in order.
  std::vector<ReadPlace> Differing() const;
  // Places not sent that differ, read again until two reads agree.
  void Confirm(const std::vector<ReadPlace>& places);
  void ConfirmNext();
  void ConfirmEnded();
  // Every difference confirmed: what to write again, what to keep, when to stop.
  void Resolve();
  void Finish(WriteReport::Outcome outcome, WriteReport::Cause cause);
  void Stopped(WriteReport::Cause cause);
  void Begin(bool check, bool read_prior);

  Exchange& engine_;
  const ConfigImage& image_;
  VerifiedWriteObserver& observer_;
  bool running_ = false;
  bool resumable_ = false;
  bool check_ = true;
  WriteStage stage_ = WriteStage::Writing;
  int round_ = 0;
  WriteReport report_;
  ConfigImage sent_;           // the image as it went out (bytes 127 to 130 zeroed for 250, 252)
  ConfigImage readback_;       // what the device holds, as read back
  ConfigImage prior_;          // the device's image before the write
  std::vector<Range> ranges_;  // the ranges the current step writes or reads, in order
  size_t next_range_ = 0;
  bool changed_ = false;          // StartChanged: the blocks that differ from base_
  bool whole_check_ = true;       // the read-back covers the whole range
  ConfigImage base_;              // StartChanged: what the device holds
  bool base_known_ = false;       // base_ holds what the device held before the write
  std::vector<Range> checked_;    // the ranges each read-back covers
  int own_end_ = kImageCapacity;  // this write's
  int next_own_end_ = kImageCapacity;
  std::vector<bool> sent_blocks_;  // per block from report_.from: sent by this write
  // Model 252: bytes 0 to report_.from held to what the device held before (held_end_ > 0).
  ConfigImage held_;
  int held_end_ = 0;
  const ConfigImage* known_ = nullptr;  // Start's, until the write begins
  bool reading_held_ = false;           // held_ is being read before the write
  struct Doubt {
    ReadPlace place;
    ReadAgreement reads;
  };
  std::vector<Doubt> doubts_;
  bool confirming_ = false;
  ConfigImage confirm_;  // the places in doubt, read again
  std::vector<ReadPlace> kept_;
};

}  // namespace lovar
