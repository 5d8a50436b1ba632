#include "recording/registry_recorder.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "model/image_diff.h"
#include "store/local_time.h"

namespace lovar {
namespace {

// How a write of the changes says the check behind it (verified_write.cpp).
constexpr std::string_view kWholeCheckDue = ". Полная проверка…";

RecordInfo InfoOf(const DeviceRecord& device, RecordOperation operation) {
  RecordInfo info;
  info.port = device.port;
  info.model = device.model;
  info.device_line = device.line;
  info.operation = operation;
  return info;
}

void SetImage(SiteRecord& record, const ConfigImage& image) {
  const int length = std::clamp(ImageLength(record.info.model), 0, int(image.bytes().size()));
  record.image.assign(image.bytes().begin(), image.bytes().begin() + length);
  record.info.object = ObjectNumber(record.info.model, image);
}

}  // namespace

SiteRecord ReadSiteRecord(const DeviceRecord& device, const ConfigImage& image) {
  SiteRecord record;
  record.info = InfoOf(device, RecordOperation::Read);
  record.info.outcome = RecordOutcome::Holds;
  record.info.message = "Конфигурация считана из УО";
  SetImage(record, image);
  return record;
}

SiteRecord WriteSiteRecord(const DeviceRecord& device, const ConfigImage* prior,
                           const ConfigImage& sent, const WriteReport& report,
                           RecordOperation operation) {
  using O = WriteReport::Outcome;
  SiteRecord record;
  record.info = InfoOf(device, operation);
  record.info.message = WriteReportText(report);
  const int length = ImageLength(device.model);
  // What the device holds from the write's first byte on is what was sent; before it (model
  // 252's first 100 bytes), and beyond where a stopped write reached, what it held before.
  const auto device_image = [&](int written_end) {
    ConfigImage image = prior != nullptr ? *prior : sent;
    const int from = std::clamp(report.from, 0, length);
    const int end = std::clamp(written_end, from, length);
    std::copy(sent.bytes().begin() + from, sent.bytes().begin() + end,
              image.bytes().begin() + from);
    return image;
  };
  switch (report.outcome) {
    case O::Verified:
      if (report.blocks_only) {
        // The changed blocks proven, the rest resting on an earlier read until the whole check
        // behind says so (its own record).
        record.info.outcome = RecordOutcome::Unproven;
        std::string& text = record.info.message;
        if (const size_t at = text.rfind(kWholeCheckDue); at != std::string::npos) text.erase(at);
        text += ": изменённые блоки проверены, остальное не проверено";
      } else {
        record.info.outcome = RecordOutcome::Holds;
      }
      SetImage(record, device_image(length));
      break;
    case O::Unchecked:
    case O::Differs:
    case O::CheckStopped:
    case O::Stale:  // sent is then what was read back: the other configuration, part written
      record.info.outcome = RecordOutcome::Unproven;
      SetImage(record, sent);
      break;
    case O::WriteStopped:
      record.info.outcome = RecordOutcome::Stopped;
      SetImage(record, device_image(report.stopped_at));
      break;
    case O::NotStarted:
      if (prior != nullptr) {
        record.info.outcome = RecordOutcome::NotWritten;
        SetImage(record, *prior);
      } else {
        // The device's image was never known: the site is the one the write was meant for.
        record.info.outcome = RecordOutcome::Failed;
        record.info.object = ObjectNumber(device.model, sent);
      }
      break;
  }
  return record;
}

KeptRecord SiteRecorder::DeviceRead(const DeviceRecord& device, const ConfigImage& image) {
  read_[device.port] = image;
  priors_.erase(device.port);  // a read of its own, not one made for a write
  KeptRecord kept;
  kept.note = ReadNote(device, image);
  KeepWith(ReadSiteRecord(device, image), nullptr, std::nullopt, /*read=*/true);
  return kept;
}

void SiteRecorder::NoteOverride(const std::string& port, const std::string& text) {
  overrides_[port] = text;
}

void SiteRecorder::ReadIsPrior(const std::string& port) {
  priors_.insert(port);
}

void SiteRecorder::DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                                 const WriteReport& report) {
  // The device's image before the write is known when the write began with a read of it that
  // ended whole (recorded here just before); a read of the port at another time may have been
  // of another device.
  if (report.whole_check) {
    // The check behind a write of the changes: a record of its own, complete in itself, with
    // what the write's record knew (the image before it, the check's errors let past).
    const auto check = checks_.find(device.port);
    if (check == checks_.end()) return;  // its write was not recorded here
    const WriteBehind behind = std::move(check->second);
    checks_.erase(check);
    SiteRecord record = WriteSiteRecord(device, behind.prior ? &*behind.prior : nullptr, sent,
                                        report, write_operation_);
    if (!behind.override_text.empty()) record.info.message += ". " + behind.override_text;
    KeepWith(std::move(record), behind.prior ? &*behind.prior : nullptr, behind.note);
    return;
  }
  checks_.erase(device.port);  // a new write: an old check's end is not awaited any more
  const auto read = read_.find(device.port);
  const bool made_for_it = priors_.erase(device.port) != 0;
  const bool read_whole =
      made_for_it || (report.prior_read && (report.outcome != WriteReport::Outcome::NotStarted ||
                                            report.cause == WriteReport::Cause::Refused));
  const ConfigImage* prior = read_whole && read != read_.end() ? &read->second : nullptr;
  SiteRecord record = WriteSiteRecord(device, prior, sent, report, write_operation_);
  std::string override_text;
  if (const auto noted = overrides_.find(device.port); noted != overrides_.end()) {
    // A write never begun let nothing past: the device is as it was.
    if (report.outcome != WriteReport::Outcome::NotStarted) {
      record.info.message += ". " + noted->second;
      override_text = std::move(noted->second);
    }
    overrides_.erase(noted);
  }
  std::optional<std::string> note = std::exchange(write_note_, std::nullopt);
  if (report.blocks_only && report.ok())
    checks_[device.port] = {prior ? std::optional<ConfigImage>(*prior) : std::nullopt,
                            std::move(override_text), note};
  KeepWith(std::move(record), prior, note);
  read_.erase(device.port);  // the device holds something else now
}

void SiteRecorder::StepFailed(const DeviceRecord& device, const std::string& object,
                              const std::string& message) {
  SiteRecord record;
  record.info = InfoOf(device, write_operation_);
  record.info.outcome = RecordOutcome::Failed;
  record.info.object = object;
  record.info.message = message;
  KeepWith(std::move(record));
}

void SiteRecorder::KeepWith(SiteRecord record, const ConfigImage* prior,
                            const std::optional<std::string>& note, bool read) {
  const auto port_site = port_sites_.find(record.info.port);
  record.info.site = port_site != port_sites_.end() ? port_site->second : context_.site;
  record.info.technician = context_.technician;
  record.info.note = note ? *note : context_.note;
  // The site is found by the number the device had before the write, so that its history
  // stays one.
  if (prior != nullptr) {
    const std::string before = ObjectNumber(record.info.model, *prior);
    if (before != record.info.object) record.info.prior_object = before;
  }
  if (read)
    KeepRead(std::move(record));
  else
    Keep(std::move(record));
}

void SiteRecorder::CompareRead(const DriftSeen& seen, Registry* registry,
                               const std::string& failure, SiteRecord& read) {
  const DriftFound found =
      registry != nullptr ? CompareWithSite(*registry, read) : NotCompared(read, failure);
  MarkDrift(found, read);
  if (seen) seen(found);
}

void RegistryRecorder::KeepRead(SiteRecord record) {
  CompareRead(drift_seen(), &registry_, {}, record);
  Keep(std::move(record));
}

void RecordInto(Registry& registry, SiteRecord record, bool& may_wait,
                std::vector<std::string>& notes) {
  const RecordResult kept = registry.Record(std::move(record));
  switch (kept.kept) {
    case RecordResult::Kept::Nowhere:
    case RecordResult::Kept::Pending:
    case RecordResult::Kept::Waiting:
      if (!kept.message.empty()) notes.push_back(kept.message);
      may_wait = may_wait || kept.kept == RecordResult::Kept::Waiting;
      return;
    case RecordResult::Kept::InRegistry:
      if (!kept.note.empty()) notes.push_back(kept.note);
      break;
  }
  // The server took a record: what waited for it on this station goes now.
  if (!registry.Shared() || !may_wait) return;
  may_wait = false;
  if (registry.WaitingCount() == 0) return;
  const SyncResult sync = registry.Sync();
  if (sync.sent + sync.already > 0)
    notes.push_back("Отправлено на сервер записей, ждавших на этой станции: " +
                    std::to_string(sync.sent + sync.already));
  if (!sync.result.ok()) {
    may_wait = true;
    notes.push_back("Ждущие записи не отправлены: " + sync.result.message + " (осталось " +
                    std::to_string(sync.left) + ")");
  }
}

std::string RegistryRecorder::ReadNote(const DeviceRecord& device, const ConfigImage& image) {
  return OverrideNoteOf(registry_, device, image);
}

std::string OverrideNoteOf(Registry& registry, const DeviceRecord& device,
                           const ConfigImage& image) {
  std::vector<RecordInfo> history;
  if (!registry.History(device.model, ObjectNumber(device.model, image), history).ok()) return {};
  for (auto it = history.rbegin(); it != history.rend(); ++it) {
    if (it->operation == RecordOperation::Read || it->outcome != RecordOutcome::Holds) continue;
    const size_t at = it->message.find(kOverrideMark);
    if (at == std::string::npos) return {};  // the newest proven write let nothing past
    std::vector<uint8_t> bytes;
    // The written image's codes are compared, not shown; still a read of them in clear, logged
    // (a file only read is read as it is).
    const bool read = registry.ClearImage(it->id, CodesAccess::Show, {}, bytes).ok() ||
                      registry.Image(it->image_hash, bytes).ok();
    if (!read || bytes.size() < static_cast<size_t>(ImageLength(device.model))) return {};
    ConfigImage written;
    std::copy(bytes.begin(), bytes.begin() + ImageLength(device.model), written.bytes().begin());
    if (!SameConfiguration(device.model, written, image)) return {};
    return OverrideReadNote(LocalTimeText(it->time), it->message.substr(at));
  }
  return {};
}

std::vector<std::string> RegistryRecorder::TakeNotes() {
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

KeptRecord RecorderPair::DeviceRead(const DeviceRecord& device, const ConfigImage& image) {
  KeptRecord kept;
  if (first_ != nullptr) kept = first_->DeviceRead(device, image);
  if (second_ != nullptr) {
    const KeptRecord beside = second_->DeviceRead(device, image);
    if (kept.note.empty()) kept.note = beside.note;
  }
  return kept;
}

void RecorderPair::DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                                 const WriteReport& report) {
  if (first_ != nullptr) first_->DeviceWritten(device, sent, report);
  if (second_ != nullptr) second_->DeviceWritten(device, sent, report);
}

void RecorderPair::NoteOverride(const std::string& port, const std::string& text) {
  if (first_ != nullptr) first_->NoteOverride(port, text);
  if (second_ != nullptr) second_->NoteOverride(port, text);
}

bool RecorderPair::ReadsBeforeWrite() const {
  return (first_ != nullptr && first_->ReadsBeforeWrite()) ||
         (second_ != nullptr && second_->ReadsBeforeWrite());
}

}  // namespace lovar
