#include "session/recorder.h"

#include "files/archive.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "protocol/exchange.h"

namespace lovar {

std::string OverrideText(const std::vector<Finding>& let_pass, std::string_view how) {
  std::string text = std::string(kOverrideMark) + " (" + std::string(how) + "):";
  for (size_t i = 0; i < let_pass.size(); ++i)
    text += (i == 0 ? " [" : "; [") + let_pass[i].rule + "] " + let_pass[i].text;
  return text;
}

bool SameConfiguration(int model, const ConfigImage& a, const ConfigImage& b) {
  const int length = ImageLength(model);
  const std::vector<uint8_t> bits = ValueBits(model, a, length);
  for (int i = Exchange::WriteStart(model); i < length; ++i)
    if (((a[i] ^ b[i]) & bits[static_cast<size_t>(i)]) != 0) return false;
  return true;
}

std::string OverrideReadNote(std::string_view when, std::string_view text) {
  return "УО хранит конфигурацию, записанную " + std::string(when) +
         " несмотря на ошибки: " + std::string(text);
}

KeptRecord ArchiveRecorder::DeviceRead(const DeviceRecord& device, const ConfigImage& image) {
  const std::filesystem::path folder = folder_();
  // The site's newest write kept with a note, when the device still holds what it wrote.
  std::string note;
  const std::string object = ObjectNumber(device.model, image);
  for (const ArchiveEntry& e : ListArchive(folder)) {
    if (e.model != device.model || e.object != object || e.note.empty()) continue;
    ConfigImage written;
    int bytes = 0;
    if (LoadWholeImage(e.path, e.model, written, bytes).ok() && bytes == ImageLength(e.model) &&
        SameConfiguration(e.model, written, image))
      note = OverrideReadNote(ArchiveTimeText(e.time), e.note);
    break;
  }
  const ArchiveResult kept = SaveToArchive(folder, device.model, image, LocalTimeNow());
  return {kept.ok, kept.path, kept.message, note};
}

void ArchiveRecorder::NoteOverride(const std::string& port, const std::string& text) {
  overrides_[port] = text;
}

void ArchiveRecorder::DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                                    const WriteReport& report) {
  std::string text;
  if (report.whole_check) {
    if (const auto noted = checks_.find(device.port); noted != checks_.end()) {
      text = std::move(noted->second);
      checks_.erase(noted);
    }
  } else {
    checks_.erase(device.port);
    if (const auto noted = overrides_.find(device.port); noted != overrides_.end()) {
      text = std::move(noted->second);
      overrides_.erase(noted);
    }
    // The changed blocks proven: the device holds the whole only once the check behind says so.
    if (report.blocks_only && report.ok()) {
      if (!text.empty()) checks_[device.port] = std::move(text);
      return;
    }
  }
  // Only what the device holds, proven: a write that stopped or was not proven left the
  // device's image unknown, and the archive keeps what the device held.
  if (text.empty() || report.outcome != WriteReport::Outcome::Verified) return;
  SaveToArchive(folder_(), device.model, sent, LocalTimeNow(), kArchiveKeep, text);
}

}  // namespace lovar
