// The session's image side: what may be written or saved, the check, loads and saves, the undo
// history and the unsaved-changes marker.
#include "model/image_normalize.h"
#include "session/session.h"

namespace lovar {

std::vector<Finding> Session::CheckImage() const {
  const int model = DeviceModel();
  if (!IsKnownModel(model) || reading_ || !Saveable()) return {};
  // Beyond a file's bytes only when the image holds the device's own (a model 251's keys).
  const int firmware = device_.model == model ? device_.firmware : -1;
  return CheckConfiguration(Whole() ? DeviceCheckInput(model, image_, firmware, nullptr, company_)
                                    : FileCheckInput(model, image_, nullptr, company_));
}

bool Session::Writable() const {
  const int model = DeviceModel();
  return IsKnownModel(model) && coverage_.Writable(ImageLength(), FileImageLength(model));
}

Session::Loaded Session::LoadFile(const std::filesystem::path& path, bool whole_image) {
  const int model = DeviceModel();
  CommitEdits();
  // Checked aside first: a refused file changes nothing, so it asks nothing.
  ConfigImage loaded = image_;
  Loaded out;
  out.bytes = FileImageLength(model);
  out.result = whole_image ? LoadWholeImage(path, model, loaded, out.bytes)
                           : LoadConfigFile(path, model, loaded);
  if (!out.result.ok()) return out;
  if (!MayLoseChanges()) {
    out.declined = true;
    return out;
  }
  image_ = loaded;
  if (options_.normalize) NormalizeImage(model, image_);
  coverage_.Loaded(out.bytes);
  history_.Reset(image_);
  baselines_.FileHolds(image_, out.bytes);
  agreed_loss_.reset();
  return out;
}

FileResult Session::SaveFile(const std::filesystem::path& path) {
  CommitEdits();
  const int model = DeviceModel();
  const FileResult result = SaveConfigFile(path, model, image_);
  if (result.ok()) baselines_.FileHolds(image_, FileImageLength(model));
  return result;
}

bool Session::CaptureEdits() {
  const int model = DeviceModel();
  if (reading_ || !IsKnownModel(model)) return false;
  return history_.Capture(image_, model, ImageLength());
}

bool Session::CommitEdits() {
  observer_.FlushEdits();
  return CaptureEdits();
}

EditStep Session::Undo() {
  if (reading_) return {};
  CommitEdits();  // what is typed but not stored is an edit of its own, taken back first
  return history_.Undo(image_);
}

EditStep Session::Redo() {
  if (reading_) return {};
  CommitEdits();
  return history_.Redo(image_);
}

bool Session::Unsaved() const {
  return !reading_ && baselines_.WouldLose(image_, ImageLength());
}

bool Session::HasUnsavedChanges() {
  if (reading_) return false;  // the owner agreed to replace the image when the read began
  CommitEdits();
  return baselines_.WouldLose(image_, ImageLength());
}

bool Session::MayLoseChanges() {
  if (!HasUnsavedChanges() || (agreed_loss_ && *agreed_loss_ == image_)) return true;
  if (!observer_.AskLoseChanges()) return false;
  agreed_loss_ = image_;
  return true;
}

// Changes that are no edit (the bytes a write sends as 0, the device's bytes a write takes):
// into the history's snapshot without a step, and into every baseline that held the byte.
void Session::Absorb(const ConfigImage& before_ref) {
  const ConfigImage before = before_ref;
  const int length = ImageLength();
  if (history_.Absorb(image_, length).empty()) return;
  baselines_.Absorb(before, image_, length);
}

}  // namespace lovar
