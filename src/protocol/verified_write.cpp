#include "protocol/verified_write.h"

#include <algorithm>

#include "model/catalog.h"

namespace lovar {
namespace {

const char kMix[] = "Прибор может содержать смесь старой и новой конфигурации.";

std::string CauseText(WriteReport::Cause cause) {
  switch (cause) {
    case WriteReport::Cause::None:
      return {};
    case WriteReport::Cause::NoAnswer:
      return "прибор не отвечает";
    case WriteReport::Cause::GaveUp:
      return "прибор отвечает не на запросы";
    case WriteReport::Cause::LineLost:
      return "связь с портом потеряна";
    case WriteReport::Cause::PortClosed:
      return "порт закрыт";
    case WriteReport::Cause::PageChanged:
      return "остановлено сменой страницы";
    case WriteReport::Cause::Interrupted:
      return "прервано пользователем";
    case WriteReport::Cause::Refused:
      return {};
  }
  return {};
}

// The fields holding `bits` of the byte at offset, named as the window names them: "поле «Пароль»
// на странице «Параметры»"; "байт вне полей" for none.
std::string ShownFieldsAt(int model, int offset, uint8_t bits) {
  std::string text;
  int count = 0;
  for (const Field* f : FieldsAt(model, offset)) {
    if ((f->BitsAt(offset) & bits) == 0) continue;
    text += (count++ == 0 ? "" : ", ") + ("«" + f->caption + "» на странице «") +
            std::string(PageOf(f->page).caption) + "»";
  }
  if (count == 0) return "байт вне полей";
  return (count == 1 ? "поле " : "поля ") + text;
}

std::string At(const WriteReport& r) {
  return "на смещении " + std::to_string(r.stopped_at) + " из " + std::to_string(r.end);
}

}  // namespace

std::string WriteReportText(const WriteReport& r) {
  using O = WriteReport::Outcome;
  switch (r.outcome) {
    case O::Verified: {
      if (r.whole_check) {
        std::string text = "Конфигурация в УО проверена полностью";
        if (r.found_difference >= 0) {
          text += ": различие на смещении " + std::to_string(r.found_difference) + " — " +
                  ShownFieldsAt(r.model, r.found_difference, r.found_bits) + " — исправлено";
        }
        return text;
      }
      if (r.changed_only && r.written_blocks == 0)
        return "Изменений нет: конфигурация в УО та же, в УО ничего не записано";
      std::string text = "Конфигурация записана в УО";
      if (r.changed_only)
        text += std::string(r.blocks_only ? " (записано и проверено блоков: "
                                          : " (записано изменённых блоков: ") +
                std::to_string(r.written_blocks) + " из " + std::to_string(r.total_blocks) + ")";
      if (r.repaired_blocks != 0)
        text += " (блоков записано повторно: " + std::to_string(r.repaired_blocks) + ")";
      if (r.blocks_only) text += ". Полная проверка…";
      return text;
    }
    case O::Unchecked:
      return "Конфигурация отправлена в УО, но не проверена: прибор не считан после записи";
    case O::Differs: {
      return "Запись не подтверждена: прибор хранит не то, что записано, начиная со смещения " +
             std::to_string(r.first_difference) + " — " +
             ShownFieldsAt(r.model, r.first_difference, r.difference_bits) +
             "; различаются байт: " + std::to_string(r.differing_bytes) + ". " + kMix;
    }
    case O::WriteStopped:
      return "Запись прервана " + At(r) + " (" + CauseText(r.cause) + "). " + kMix;
    case O::CheckStopped:
      if (r.whole_check)
        return "Полная проверка прервана " + At(r) + " (" + CauseText(r.cause) +
               "): изменённые блоки записаны и проверены, остальная конфигурация повторно не "
               "проверена";
      return "Запись не проверена: проверка прервана " + At(r) + " (" + CauseText(r.cause) + "). " +
             kMix;
    case O::NotStarted:
      if (r.cause == WriteReport::Cause::Refused) return "Запись не начата. Прибор не изменён.";
      if (!r.prior_read) return "Запись не начата (" + CauseText(r.cause) + "). Прибор не изменён.";
      return "Запись не начата: чтение прибора перед записью остановлено " + At(r) + " (" +
             CauseText(r.cause) + "). Прибор не изменён.";
  }
  return {};
}

void VerifiedWrite::Begin(bool check, bool read_prior) {
  check_ = check;
  running_ = true;
  resumable_ = false;
  round_ = 0;
  report_ = WriteReport{};
  report_.from = Exchange::WriteStart(engine_.DeviceModel());
  report_.end = engine_.ImageLength();
  report_.model = engine_.DeviceModel();
  report_.prior_read = read_prior;
  report_.total_blocks = (report_.end - report_.from + kBlock - 1) / kBlock;
  report_.changed_only = changed_;
  report_.blocks_only = !whole_check_;
  checked_ = {{report_.from, report_.end}};
  if (!read_prior) {
    BeginWrite();
    return;
  }
  SetStage(WriteStage::ReadingPrior);
  engine_.ReadBack(prior_, 0, report_.end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::Start(bool check, bool read_prior) {
  changed_ = false;
  whole_check_ = true;
  Begin(check, read_prior);
}

void VerifiedWrite::StartChanged(const ConfigImage& device, bool check, bool read_prior,
                                 bool whole_check) {
  changed_ = true;
  whole_check_ = whole_check;
  base_ = device;
  Begin(check, read_prior);
}

void VerifiedWrite::BeginWrite() {
  // A line lost before the first block (a hang-up right after the identification) has left
  // the device as it was: said as a write not begun, never as one stopped part-way.
  if (!engine_.PortOpen()) {
    report_.stopped_at = Exchange::WriteStart(report_.model);
    Finish(WriteReport::Outcome::NotStarted, WriteReport::Cause::PortClosed);
    return;
  }
  if (changed_) {
    engine_.PrepareWrite();
    sent_ = image_;
    engine_.WriteFrom(sent_);
    if (report_.prior_read) base_ = prior_;
    ranges_ = ChangedBlocks(base_, sent_, report_.from, report_.end, kBlock);
    report_.written_blocks = BlockCount(ranges_, kBlock);
    if (!whole_check_) checked_ = ranges_;
    SetStage(WriteStage::Writing);
    if (ranges_.empty()) {
      // The device holds every byte already: nothing goes out, and nothing needs proving.
      Finish(WriteReport::Outcome::Verified, WriteReport::Cause::None);
      return;
    }
    next_range_ = 0;
    engine_.WriteRange(ranges_[0].from, ranges_[0].end, Done());
    if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
    return;
  }
  report_.written_blocks = report_.total_blocks;
  engine_.ButtonWriteClick(Done());  // zeroes bytes 127 to 130 of models 250 and 252 first
  // The first block has gone out of the image; the rest and every repair come from this copy.
  sent_ = image_;
  engine_.WriteFrom(sent_);
  // Said after the zeroing, so that the owner sees the image as it goes out.
  SetStage(WriteStage::Writing);
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::CheckWhole() {
  running_ = true;
  resumable_ = false;
  round_ = 0;
  report_.outcome = WriteReport::Outcome::Verified;
  report_.cause = WriteReport::Cause::None;
  report_.repaired_blocks = 0;
  report_.first_difference = report_.found_difference = -1;
  report_.differing_bytes = 0;
  report_.blocks_only = false;
  report_.whole_check = true;
  whole_check_ = true;
  checked_ = {{report_.from, report_.end}};
  ranges_ = checked_;
  next_range_ = 0;
  engine_.WriteFrom(sent_);  // a repair sends the snapshot written, not later edits
  SetStage(WriteStage::Checking);
  CheckNext();
}

void VerifiedWrite::Stop(WriteReport::Cause cause) {
  if (running_) Stopped(cause);
  resumable_ = false;
}

bool VerifiedWrite::Owns() {
  if (running_) return true;
  if (!resumable_) return false;
  // A reply that came after the question was given up carried the step on: so does this.
  running_ = true;
  resumable_ = false;
  SetStage(stage_);
  return true;
}

void VerifiedWrite::SetStage(WriteStage stage) {
  stage_ = stage;
  observer_.WriteStageChanged(stage);
}

void VerifiedWrite::StepEnded(StepEnd end) {
  switch (end) {
    case StepEnd::Complete:
    case StepEnd::PortClosed:
      if (!Owns()) return;
      if (stage_ == WriteStage::Writing || stage_ == WriteStage::Repairing)
        WriteEnded();
      else
        CheckReadEnded(end == StepEnd::Complete);
      return;
    case StepEnd::Abandoned:
      if (!Owns()) return;
      // Given up at the question: silence, or a device that answered only with frames that
      // answer nothing.
      Stopped(engine_.StrayFramesSinceSend() > 0 ? WriteReport::Cause::GaveUp
                                                 : WriteReport::Cause::NoAnswer);
      resumable_ = CanResume();
      return;
    case StepEnd::GaveUp:
      if (!Owns()) return;
      Stopped(WriteReport::Cause::GaveUp);
      resumable_ = CanResume();
      return;
    case StepEnd::LineLost:
      if (Owns()) Stopped(WriteReport::Cause::LineLost);
      return;
  }
}

void VerifiedWrite::WriteEnded() {
  if ((stage_ == WriteStage::Repairing || changed_) && ++next_range_ < ranges_.size()) {
    engine_.WriteRange(ranges_[next_range_].from, ranges_[next_range_].end, Done());
    return;
  }
  if (stage_ == WriteStage::Writing && !check_) {
    Finish(WriteReport::Outcome::Unchecked, WriteReport::Cause::None);
    return;
  }
  // Written: after the write and after every repair round, everything written is read back
  // (the whole range, or the blocks a write of the changes sent when the rest comes behind).
  ranges_ = checked_;
  SetStage(WriteStage::Checking);
  next_range_ = 0;
  CheckNext();
}

void VerifiedWrite::CheckNext() {
  const Range& range = ranges_[next_range_];
  engine_.ReadBack(readback_, range.from, range.end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::CheckReadEnded(bool complete) {
  if (!complete) {
    Stopped(WriteReport::Cause::PortClosed);
    return;
  }
  if (stage_ == WriteStage::ReadingPrior) {
    if (observer_.PriorImageRead(prior_))
      BeginWrite();
    else
      Finish(WriteReport::Outcome::NotStarted, WriteReport::Cause::Refused);
    return;
  }
  if (++next_range_ < ranges_.size()) {
    CheckNext();
    return;
  }
  Compare();
}
// Every byte sent is compared (those sent as 0 as 0); model 252's last block carries bytes past
// the image, which are not compared. Blocks that differ are written again, neighbours together.
void VerifiedWrite::Compare() {
  std::vector<Range> differing;
  int first = -1, count = 0;
  for (const Range& checked : checked_) {
    for (int at = checked.from; at < checked.end; ++at) {
      if (readback_[at] == sent_[at]) continue;
      ++count;
      if (first < 0) {
        first = at;
        report_.difference_bits = static_cast<uint8_t>(readback_[at] ^ sent_[at]);
      }
      const int block = report_.from + (at - report_.from) / kBlock * kBlock;
      const int block_end = std::min(block + kBlock, report_.end);
      if (!differing.empty() && differing.back().end >= block)
        differing.back().end = block_end;
      else
        differing.push_back({block, block_end});
    }
  }
  if (count > 0 && round_ == 0) {
    report_.found_difference = first;
    report_.found_bits = report_.difference_bits;
  }
  if (count == 0) {
    Finish(WriteReport::Outcome::Verified, WriteReport::Cause::None);
    return;
  }
  if (round_ == kRepairRounds) {
    report_.first_difference = first;
    report_.differing_bytes = count;
    Finish(WriteReport::Outcome::Differs, WriteReport::Cause::None);
    return;
  }
  ++round_;
  for (const Range& r : differing)
    report_.repaired_blocks += (r.end - r.from + kBlock - 1) / kBlock;
  ranges_ = std::move(differing);
  next_range_ = 0;
  SetStage(WriteStage::Repairing);
  engine_.WriteRange(ranges_[0].from, ranges_[0].end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

// A late reply carries a write or its check on; a write said not to have begun never begins
// after all: the engine stops taking replies.
bool VerifiedWrite::CanResume() {
  if (stage_ != WriteStage::ReadingPrior) return true;
  engine_.StopExchange();
  return false;
}

void VerifiedWrite::Stopped(WriteReport::Cause cause) {
  report_.stopped_at = engine_.state().offset;
  using O = WriteReport::Outcome;
  Finish(stage_ == WriteStage::Checking       ? O::CheckStopped
         : stage_ == WriteStage::ReadingPrior ? O::NotStarted
                                              : O::WriteStopped,
         cause);
}

void VerifiedWrite::Finish(WriteReport::Outcome outcome, WriteReport::Cause cause) {
  running_ = false;
  report_.outcome = outcome;
  report_.cause = cause;
  observer_.WriteFinished(report_);
}

}  // namespace lovar
