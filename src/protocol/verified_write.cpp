#include "protocol/verified_write.h"

#include <algorithm>
#include <utility>

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
    case WriteReport::Cause::Disagree:
      return "ответы прибора на одно смещение расходятся";
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

// "40 — поле «Строка 9: Код» на странице «Коды»", or "40 — байт вне полей".
std::string OffsetAndField(int model, int offset, uint8_t bits) {
  return std::to_string(offset) + " — " + ShownFieldsAt(model, offset, bits);
}

// "различается 1 блок", "различаются 3 блока", "различаются 12 блоков".
std::string DifferingBlocks(int n) {
  const int tens = n % 100, ones = n % 10;
  const bool one = ones == 1 && tens != 11;
  const bool few = ones >= 2 && ones <= 4 && (tens < 12 || tens > 14);
  return std::string(one ? "различается " : "различаются ") + std::to_string(n) +
         (one   ? " блок"
          : few ? " блока"
                : " блоков");
}

// The device's own bytes that were kept, said after a proven write.
std::string KeptText(const WriteReport& r) {
  if (r.kept_blocks == 0) return {};
  return ". Байты прибора, которых нет в файле, оставлены как в УО: чтение перед записью не "
         "подтвердилось на смещении " +
         OffsetAndField(r.model, r.first_kept, r.kept_bits) +
         " (блоков: " + std::to_string(r.kept_blocks) + ")";
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
        return "Изменений нет: конфигурация в УО та же, в УО ничего не записано" + KeptText(r) +
               (r.blocks_only ? ". Полная проверка…" : "");
      std::string text = "Конфигурация записана в УО";
      if (r.changed_only)
        text += std::string(r.blocks_only ? " (записано и проверено блоков: "
                                          : " (записано изменённых блоков: ") +
                std::to_string(r.written_blocks) + " из " + std::to_string(r.total_blocks) + ")";
      if (r.repaired_blocks != 0)
        text += " (блоков записано повторно: " + std::to_string(r.repaired_blocks) + ")";
      text += KeptText(r);
      if (r.blocks_only) text += ". Полная проверка…";
      return text;
    }
    case O::Unchecked:
      return "Конфигурация отправлена в УО, но не проверена: прибор не считан после записи";
    case O::Differs:
      if (r.held_changed)
        return "Запись не подтверждена: в УО изменились байты 0–99, которые запись не меняет, "
               "начиная со смещения " +
               OffsetAndField(r.model, r.first_difference, r.difference_bits) +
               "; различаются байт: " + std::to_string(r.differing_bytes) + ". " + kMix;
      if (r.astray)
        return "Запись не подтверждена: байты прибора, которых нет в файле, на смещении " +
               OffsetAndField(r.model, r.first_difference, r.difference_bits) +
               " не те, что считаны перед записью, и могут быть блоком записи, попавшим не на "
               "своё место; они не перезаписаны. " +
               kMix;
      return "Запись не подтверждена: прибор хранит не то, что записано, начиная со смещения " +
             OffsetAndField(r.model, r.first_difference, r.difference_bits) +
             "; различаются байт: " + std::to_string(r.differing_bytes) + ". " + kMix;
    case O::Stale:
      return "УО хранит не ту конфигурацию, что была считана: " + DifferingBlocks(r.stale_blocks) +
             ", первый на смещении " + OffsetAndField(r.model, r.first_stale, r.stale_bits) +
             ". Они не перезаписаны" +
             (r.written_blocks == 0 ? std::string(". В УО ничего не записано")
              : r.written_unproven
                  ? std::string("; изменённые блоки записаны, но не все "
                                "подтверждены. ") +
                        kMix
                  : std::string("; изменённые блоки записаны и проверены. ") + kMix);
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
  confirming_ = false;
  reading_held_ = false;
  report_ = WriteReport{};
  kept_.clear();
  report_.from = Exchange::WriteStart(engine_.DeviceModel());
  report_.end = engine_.ImageLength();
  report_.model = engine_.DeviceModel();
  report_.prior_read = read_prior;
  report_.total_blocks = (report_.end - report_.from + kBlock - 1) / kBlock;
  report_.changed_only = changed_;
  report_.blocks_only = !whole_check_;
  own_end_ = std::exchange(next_own_end_, kImageCapacity);
  checked_ = {{report_.from, report_.end}};
  sent_blocks_.assign(static_cast<size_t>(report_.total_blocks), false);
  // What the device held before the write's start is known, read first, or read before the
  // write as a whole (then taken from there).
  held_end_ = 0;
  const ConfigImage* known = changed_ ? &base_ : known_;
  known_ = nullptr;
  if (report_.from > 0 && known != nullptr && !read_prior) {
    held_ = *known;
    held_end_ = report_.from;
  }
  if (!read_prior && report_.from > 0 && held_end_ == 0 && check && engine_.PortOpen()) {
    // Nothing known of bytes 0 to 99: read them before anything is written.
    reading_held_ = true;
    report_.prior_read = true;
    SetStage(WriteStage::ReadingPrior);
    engine_.ReadBack(held_, 0, report_.from, Done());
    return;
  }
  if (!read_prior) {
    BeginWrite();
    return;
  }
  SetStage(WriteStage::ReadingPrior);
  engine_.ReadBack(prior_, 0, report_.end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::Start(bool check, bool read_prior, const ConfigImage* known) {
  changed_ = false;
  whole_check_ = true;
  known_ = known;
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
  base_known_ = changed_ || (report_.prior_read && !reading_held_);
  if (report_.prior_read && !reading_held_) {
    base_ = prior_;
    if (report_.from > 0) {
      held_ = prior_;
      held_end_ = report_.from;
    }
  }
  if (reading_held_) held_end_ = report_.from;
  reading_held_ = false;
  if (held_end_ > 0) checked_ = {{0, report_.end}};  // bytes 0 to 99 are read back too
  // Every block from one snapshot: bytes 127 to 130 of models 250 and 252 go out as 0, and an
  // edit made meanwhile is not half sent.
  engine_.PrepareWrite();
  sent_ = image_;
  engine_.WriteFrom(sent_);
  own_end_ = std::clamp(own_end_, report_.from, report_.end);
  if (changed_)
    ranges_ = ChangedBlocks(base_, sent_, report_.from, report_.end, kBlock);
  else if (own_end_ > report_.from)
    ranges_ = {{report_.from, own_end_}};  // the rest is the device's own: not sent
  else
    ranges_.clear();
  for (const Range& r : ranges_) MarkSent(r.from, r.end);
  report_.written_blocks = BlockCount(ranges_, kBlock);
  if (!whole_check_) checked_ = ranges_;
  // Said after the zeroing, so that the owner sees the image as it goes out.
  SetStage(WriteStage::Writing);
  if (ranges_.empty()) {
    // The device holds every byte already, as far as a read said: a whole check still reads
    // the range back before that is said.
    if (check_ && whole_check_) {
      WriteEnded();
      return;
    }
    Finish(WriteReport::Outcome::Verified, WriteReport::Cause::None);
    return;
  }
  next_range_ = 0;
  engine_.WriteRange(ranges_[0].from, ranges_[0].end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::CheckWhole() {
  running_ = true;
  resumable_ = false;
  round_ = 0;
  confirming_ = false;
  report_.outcome = WriteReport::Outcome::Verified;
  report_.cause = WriteReport::Cause::None;
  report_.repaired_blocks = 0;
  report_.first_difference = report_.found_difference = -1;
  report_.differing_bytes = 0;
  report_.held_changed = report_.astray = report_.written_unproven = false;
  report_.stale_blocks = report_.kept_blocks = 0;
  report_.first_stale = report_.first_kept = -1;
  kept_.clear();
  report_.blocks_only = false;
  report_.whole_check = true;
  whole_check_ = true;
  checked_ = {{held_end_ > 0 ? 0 : report_.from, report_.end}};
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
      Stopped(engine_.Talking() ? WriteReport::Cause::GaveUp : WriteReport::Cause::NoAnswer);
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
    case StepEnd::Disagree:
      if (Owns()) Stopped(WriteReport::Cause::Disagree);
      return;
  }
}

void VerifiedWrite::WriteEnded() {
  if ((stage_ == WriteStage::Repairing || stage_ == WriteStage::Writing) &&
      ++next_range_ < ranges_.size()) {
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
  engine_.ReadBack(confirming_ ? confirm_ : readback_, range.from, range.end, Done());
  if (!engine_.PortOpen()) Stopped(WriteReport::Cause::PortClosed);
}

void VerifiedWrite::CheckReadEnded(bool complete) {
  if (!complete) {
    Stopped(WriteReport::Cause::PortClosed);
    return;
  }
  if (stage_ == WriteStage::ReadingPrior) {
    if (reading_held_ || observer_.PriorImageRead(prior_))
      BeginWrite();
    else
      Finish(WriteReport::Outcome::NotStarted, WriteReport::Cause::Refused);
    return;
  }
  if (++next_range_ < ranges_.size()) {
    CheckNext();
    return;
  }
  if (confirming_)
    ConfirmEnded();
  else
    Compare();
}

ReadPlace VerifiedWrite::BlockAt(int at) const {
  if (at < report_.from) {
    const int block = at / kBlock * kBlock;
    return {block, std::min(block + kBlock, report_.from)};
  }
  const int block = report_.from + (at - report_.from) / kBlock * kBlock;
  return {block, std::min(block + kBlock, report_.end)};
}

bool VerifiedWrite::WasSent(const ReadPlace& block) const {
  if (block.from < report_.from) return false;
  const size_t index = static_cast<size_t>((block.from - report_.from) / kBlock);
  return index < sent_blocks_.size() && sent_blocks_[index];
}

void VerifiedWrite::MarkSent(int from, int end) {
  for (int at = from; at < end; at += kBlock) {
    const size_t index = static_cast<size_t>((at - report_.from) / kBlock);
    if (at >= report_.from && index < sent_blocks_.size()) sent_blocks_[index] = true;
  }
}

std::vector<BlockRange> VerifiedWrite::SentRanges() const {
  std::vector<BlockRange> ranges;
  for (size_t i = 0; i < sent_blocks_.size(); ++i) {
    if (!sent_blocks_[i]) continue;
    const int from = report_.from + static_cast<int>(i) * kBlock;
    const int end = std::min(from + kBlock, report_.end);
    if (!ranges.empty() && ranges.back().end == from)
      ranges.back().end = end;
    else
      ranges.push_back({from, end});
  }
  return ranges;
}

std::vector<ReadPlace> VerifiedWrite::Differing() const {
  std::vector<ReadPlace> places;
  for (const Range& checked : checked_)
    for (int at = checked.from; at < checked.end; ++at) {
      if (readback_[at] == Expected(at)) continue;
      const ReadPlace place = BlockAt(at);
      if (places.empty() || !(places.back() == place)) places.push_back(place);
    }
  return places;
}

// Every byte sent is compared (those sent as 0 as 0), and model 252's bytes 0 to 99 with what
// the device held; model 252's last block carries bytes past the image, which are not
// compared. Places not sent that differ are read again first.
void VerifiedWrite::Compare() {
  std::vector<ReadPlace> unsent;
  for (const ReadPlace& place : Differing())
    if (!WasSent(place)) unsent.push_back(place);
  if (!unsent.empty()) {
    Confirm(unsent);
    return;
  }
  Resolve();
}

void VerifiedWrite::Confirm(const std::vector<ReadPlace>& places) {
  doubts_.clear();
  for (const ReadPlace& p : places) {
    std::vector<uint8_t> assumed, read;
    for (int at = p.from; at < p.end; ++at) {
      assumed.push_back(Expected(at));
      read.push_back(readback_[at]);
    }
    std::vector<std::vector<uint8_t>> reads;
    reads.push_back(std::move(assumed));
    reads.push_back(std::move(read));
    doubts_.push_back({p, ReadAgreement(std::move(reads))});
  }
  confirming_ = true;
  ConfirmNext();
}

void VerifiedWrite::ConfirmNext() {
  ranges_.clear();
  for (const Doubt& d : doubts_) {
    if (d.reads.Agreed()) continue;
    if (!ranges_.empty() && ranges_.back().end == d.place.from)
      ranges_.back().end = d.place.end;
    else
      ranges_.push_back({d.place.from, d.place.end});
  }
  next_range_ = 0;
  CheckNext();
}

void VerifiedWrite::ConfirmEnded() {
  bool pending = false;
  for (Doubt& d : doubts_) {
    if (d.reads.Agreed()) continue;
    const std::span<const uint8_t> again(confirm_.bytes().data() + d.place.from,
                                         static_cast<size_t>(d.place.end - d.place.from));
    if (d.reads.Offer(again)) {
      std::copy(d.reads.Bytes().begin(), d.reads.Bytes().end(),
                readback_.bytes().begin() + d.place.from);
    } else if (d.reads.Exhausted()) {
      confirming_ = false;
      report_.stopped_at = d.place.from;
      Finish(WriteReport::Outcome::CheckStopped, WriteReport::Cause::Disagree);
      return;
    } else {
      pending = true;
    }
  }
  if (pending) {
    ConfirmNext();
    return;
  }
  confirming_ = false;
  Resolve();
}

// The blocks sent whose frame may have gone elsewhere: those not found at their own place, and
// those whose place held their bytes already (or may have: nothing was known of it), which a
// frame gone astray leaves looking written.
std::vector<BlockRange> VerifiedWrite::MayHaveStrayed() const {
  std::vector<BlockRange> out;
  for (const BlockRange& r : SentRanges())
    for (int x = r.from; x < r.end; x += kBlock) {
      const int end = std::min(x + kBlock, r.end);
      bool missing = false, unchanged = true;
      for (int at = x; at < end; ++at) {
        missing = missing || readback_[at] != sent_[at];
        unchanged = unchanged && base_[at] == sent_[at];
      }
      if (base_known_ && !missing && !unchanged) continue;
      if (!out.empty() && out.back().end == x)
        out.back().end = end;
      else
        out.push_back({x, end});
    }
  return out;
}

void VerifiedWrite::Resolve() {
  std::vector<Range> repair;
  const std::vector<BlockRange> sent_ranges = SentRanges();
  const std::vector<BlockRange> candidates = MayHaveStrayed();
  int first = -1, count = 0;
  uint8_t bits = 0;
  int unproven = -1;  // the first difference that can be neither written again nor kept
  uint8_t unproven_bits = 0;
  int stale = 0;
  for (const ReadPlace& place : Differing()) {
    int first_byte = -1, last_byte = -1;
    for (int at = place.from; at < place.end; ++at) {
      if (readback_[at] == Expected(at)) continue;
      if (first_byte < 0) first_byte = at;
      last_byte = at;
      ++count;
    }
    const uint8_t place_bits = static_cast<uint8_t>(readback_[first_byte] ^ Expected(first_byte));
    if (first < 0) {
      first = first_byte;
      bits = place_bits;
    }
    const auto unprovable = [&] {
      if (unproven >= 0) return;
      unproven = first_byte;
      unproven_bits = place_bits;
    };
    if (WasSent(place)) {
      repair.push_back({place.from, place.end});
    } else if (place.from < report_.from) {
      unprovable();  // model 252's bytes 0 to 99: never written, only said
    } else if (LandedAstray(readback_, sent_, candidates, sent_ranges, first_byte, last_byte,
                            report_.end, kBlock)) {
      // A block of ours may have landed here: the owner's bytes go back; the device's own
      // bytes, of which only one read was ever made, cannot.
      if (place.from < own_end_) {
        repair.push_back({place.from, place.end});
      } else {
        report_.astray = unproven < 0;
        unprovable();
      }
    } else if (place.from < own_end_) {
      if (stale++ == 0) {
        report_.first_stale = first_byte;
        report_.stale_bits = place_bits;
      }
    } else {
      // The device's own bytes, not what was read before the write: they stay.
      if (report_.kept_blocks++ == 0) {
        report_.first_kept = first_byte;
        report_.kept_bits = place_bits;
      }
      kept_.push_back(place);
      std::copy(readback_.bytes().begin() + place.from, readback_.bytes().begin() + place.end,
                sent_.bytes().begin() + place.from);
    }
  }
  if (stale > 0) {
    report_.stale_blocks = stale;
    report_.written_unproven = !repair.empty();
    Finish(WriteReport::Outcome::Stale, WriteReport::Cause::None);
    return;
  }
  if (unproven >= 0) {
    report_.held_changed = unproven < report_.from;
    report_.astray = report_.astray && !report_.held_changed;
    report_.first_difference = unproven;
    report_.difference_bits = unproven_bits;
    report_.differing_bytes = count;
    Finish(WriteReport::Outcome::Differs, WriteReport::Cause::None);
    return;
  }
  if (!repair.empty() && round_ == 0) {
    report_.found_difference = first;
    report_.found_bits = bits;
  }
  if (repair.empty()) {
    Finish(WriteReport::Outcome::Verified, WriteReport::Cause::None);
    return;
  }
  if (round_ == kRepairRounds) {
    report_.first_difference = first;
    report_.difference_bits = bits;
    report_.differing_bytes = count;
    Finish(WriteReport::Outcome::Differs, WriteReport::Cause::None);
    return;
  }
  ++round_;
  // Neighbours together.
  ranges_.clear();
  for (const Range& r : repair) {
    MarkSent(r.from, r.end);
    report_.repaired_blocks += (r.end - r.from + kBlock - 1) / kBlock;
    if (!ranges_.empty() && ranges_.back().end >= r.from)
      ranges_.back().end = r.end;
    else
      ranges_.push_back(r);
  }
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
  confirming_ = false;
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
