// The write of the changes alone and the whole check behind it: Session's members that decide
// which blocks a write sends and when the device's image counts as proven.
#include <algorithm>

#include "session/session.h"

namespace lovar {

void Session::StartWrite(bool verify, bool whole, bool read_prior, int own_end) {
  // Beyond what the image holds of its own, the bytes are the device's (read before the write).
  verified_.SetOwnEnd(own_end);
  // Unknown what the device holds (and no read before the write to learn it): every block.
  if (whole || (!device_holds_ && !read_prior)) {
    verified_.Start(verify, read_prior, device_holds_ ? &*device_holds_ : nullptr);
    return;
  }
  // In the window the blocks written are proven at once and the rest behind; lovar-cli and
  // batch wait for the whole range, as for a whole write.
  const bool whole_check = Unattended() || !verify;
  verified_.StartChanged(device_holds_ ? *device_holds_ : image_, verify, read_prior, whole_check);
}

// Also with nothing written: "no changes" rests on one read until the check behind.
bool Session::WholeCheckDue(const WriteReport& report) const {
  return report.ok() && report.blocks_only;
}

void Session::KnowWritten(const WriteReport& report) {
  if (report.ok()) {
    TakeKept();
    device_holds_ = verified_.Sent();
    behind_due_ = WholeCheckDue(report);
    if (behind_due_) behind_report_ = report;
  } else if (report.outcome != WriteReport::Outcome::NotStarted &&
             report.outcome != WriteReport::Outcome::Stale) {
    device_holds_.reset();  // it may hold a mix
  }
}

// The device's own bytes that a write kept, not what was read before it, go into the image: it
// took them from the device, and shows them as the device holds them (no edit).
void Session::TakeKept() {
  if (verified_.Kept().empty()) return;
  CaptureEdits();  // what was typed meanwhile is an edit of its own
  const ConfigImage before = image_;
  for (const ReadPlace& place : verified_.Kept())
    std::copy(verified_.Sent().bytes().begin() + place.from,
              verified_.Sent().bytes().begin() + place.end, image_.bytes().begin() + place.from);
  if (image_ == before) return;
  Absorb(history_.snapshot());
  observer_.ImageChanged();
}

std::optional<KeptRecord> Session::KnowStale() {
  const ConfigImage& held = verified_.ReadBackImage();
  device_holds_ = held;
  baselines_.DeviceHolds(held);
  recorded_ = false;
  if (recorder_ == nullptr) return std::nullopt;
  std::optional<KeptRecord> kept = recorder_->DeviceRead(Record(), held);
  recorded_ = kept->ok;
  return kept;
}

void Session::StartWholeCheck() {
  behind_due_ = false;
  // Another operation began from inside the write's end, or the line is gone: the blocks
  // written stay proven, the rest unchecked (the image is not counted as proven).
  if (run_ || !port_.IsOpen()) {
    // The write's record said the changed blocks only: its check's end is said all the same.
    if (recorder_ == nullptr) return;
    WriteReport report = behind_report_;
    report.outcome = WriteReport::Outcome::CheckStopped;
    report.cause = port_.IsOpen()                         ? WriteReport::Cause::Interrupted
                   : port_.LastError() != LinkError::None ? WriteReport::Cause::LineLost
                                                          : WriteReport::Cause::PortClosed;
    report.stopped_at = report.from;
    report.blocks_only = false;
    report.whole_check = true;
    recorder_->DeviceWritten(Record(), verified_.Sent(), report);
    return;
  }
  behind_ = true;
  verified_.CheckWhole();
}

void Session::StopWholeCheck(WriteReport::Cause cause) {
  if (!behind_) return;
  engine_.StopExchange();
  verified_.Stop(cause);  // ends it through WriteFinished
  behind_ = false;
}

void Session::IdleChanged(bool idle) {
  // The check behind a write leaves the window free: its steps keep the buttons enabled.
  if (behind_ && !idle) {
    engine_.SetButtonsEnabled(true);
    return;
  }
  observer_.IdleChanged(idle);
}

void Session::EndWholeCheck(const WriteReport& report) {
  behind_ = false;
  using O = WriteReport::Outcome;
  using C = WriteReport::Cause;
  std::optional<KeptRecord> record;
  if (report.ok()) {
    // The device holds the whole snapshot written: the image as written counts as kept.
    TakeKept();
    device_holds_ = verified_.Sent();
    baselines_.DeviceWritten(verified_.Sent(), report.from, report.end);
  } else if (report.outcome == O::Stale) {
    record = KnowStale();
  } else if (report.outcome == O::Differs) {
    baselines_.DeviceUnknown();
    device_holds_.reset();
  } else {
    if (report.cause == C::LineLost || report.cause == C::PortClosed) device_holds_.reset();
    // A late reply must not take the check up again once its end is said.
    if (report.cause == C::NoAnswer || report.cause == C::GaveUp) engine_.StopExchange();
  }
  // The write's record said the changed blocks were proven; this one says how the whole ended
  // (proven, repaired, a difference that stayed, another configuration, stopped).
  if (recorder_ != nullptr)
    recorder_->DeviceWritten(
        Record(), report.outcome == O::Stale ? verified_.ReadBackImage() : verified_.Sent(),
        report);
  engine_.SetButtonsEnabled(port_.IsOpen());
  observer_.WholeCheckEnded(report, WriteReportText(report), record);
}

}  // namespace lovar
