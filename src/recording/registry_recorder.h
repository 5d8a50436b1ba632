// A Recorder that keeps the session's ends in the registry of sites (store/registry.h):
//   a complete read                     -> Holds, the image as read;
//   a write proven                      -> Holds, the image now on the device;
//   a write of the changes, its blocks  -> Unproven, "изменённые блоки проверены, остальное не
//     proven (the window's fast write)     проверено"; the whole check behind it ends in a
//                                          record of its own (Holds once proven whole,
//                                          Unproven when it found a difference that stayed
//                                          or was stopped);
//   a write not begun                   -> NotWritten, the device's image when it was read;
//   a write not begun, its read failed  -> Failed, no image;
//   a write stopped midway (Ctrl-C too) -> Stopped, what the device may hold;
//   a write not proven (--no-verify)    -> Unproven, the image sent.
// A record the registry cannot keep never stops the work on the device: DeviceRead answers ok
// whatever the registry says, and what the records met is said through TakeNotes.
//
// Threads: the session's (window) thread; the registry's calls may wait for a server (up to
// its connection time-out), so the window records through a worker of its own instead.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "recording/drift_check.h"
#include "session/recorder.h"
#include "store/registry.h"

namespace lovar {

// The record of a complete read of the device.
SiteRecord ReadSiteRecord(const DeviceRecord& device, const ConfigImage& image);
// The record of a write's end. prior: the device's image read before it, when known.
SiteRecord WriteSiteRecord(const DeviceRecord& device, const ConfigImage* prior,
                           const ConfigImage& sent, const WriteReport& report,
                           RecordOperation operation);

// From the site's history: its newest write let past the check's errors, when the device holds
// what it wrote (OverrideReadNote); "" when none or not known.
std::string OverrideNoteOf(Registry& registry, const DeviceRecord& device,
                           const ConfigImage& image);

// Records one record into the registry; when the server took it and records of this station
// wait for it, sends them (Sync). may_wait: whether records may be waiting (kept between calls;
// start with true). What is to be said (a record held for later, one waiting, records sent)
// goes to notes, each a line in Russian. A record held is kept by the registry's KeepPending.
void RecordInto(Registry& registry, SiteRecord record, bool& may_wait,
                std::vector<std::string>& notes);

// What every record of a run says beside the device: the site chosen for it (0: found by its
// object number, else none), the technician and the reason.
struct RecordContext {
  int64_t site = 0;
  std::string technician;
  std::string note;
};

// The session's ends as records; where they go is the subclass's.
class SiteRecorder : public Recorder {
 public:
  // Every record from now on says so.
  void SetContext(RecordContext context) { context_ = std::move(context); }
  // The next write's records (its own, and its whole check's behind it) carry note as their
  // reason instead of the context's (the window's "Причина", asked before each write).
  void SetWriteNote(std::string note) { write_note_ = std::move(note); }
  // The records of the device on port go under site (a batch row's), whatever the context says.
  void SetPortSite(const std::string& port, int64_t site) { port_sites_[port] = site; }

  // write_operation: Write, or Batch for a batch.
  explicit SiteRecorder(RecordOperation write_operation = RecordOperation::Write)
      : write_operation_(write_operation) {}

  KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) override;
  void DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                     const WriteReport& report) override;
  // A write is recorded with the device's image read before it when there was one (a model
  // 251 file's write, the archive's); it does not make the device be read for it.
  bool ReadsBeforeWrite() const override { return false; }
  // The next write's record says text after the write's own message.
  void NoteOverride(const std::string& port, const std::string& text) override;
  // The read of port just recorded was made for the write that follows it on the same
  // session (lovar-cli write, a batch row): that write's record takes it as the image before
  // it, as it does for a read the write began with.
  void ReadIsPrior(const std::string& port);
  // A step that failed before the device's image was known (a batch row that never reached
  // its write): Failed, for the object number it was meant for.
  void StepFailed(const DeviceRecord& device, const std::string& object,
                  const std::string& message);

  // A read of the site whose device still holds what a write let past the check's errors put
  // there (SameConfiguration): the note that says so (OverrideReadNote); "" when none or not
  // known. Asked before the read is kept.
  virtual std::string ReadNote(const DeviceRecord& /*device*/, const ConfigImage& /*image*/) {
    return {};
  }

  // Each complete read is compared with its site's last proven record before it is kept
  // (drift_check.h); seen hears how (on the thread that compared: the registry's, for a
  // recorder that hands its records to a worker). Set before the first read.
  using DriftSeen = std::function<void(const DriftFound& found)>;
  void OnDrift(DriftSeen seen) { drift_seen_ = std::move(seen); }

 protected:
  virtual void Keep(SiteRecord record) = 0;
  // A complete read's record: compared first (CompareRead), then kept. A recorder whose
  // registry is another thread's compares there.
  virtual void KeepRead(SiteRecord record) { Keep(std::move(record)); }
  // On the registry's thread: compares read with its site (registry null: not compared, for
  // failure), marks the drift on it and tells drift_seen_.
  static void CompareRead(const DriftSeen& seen, Registry* registry, const std::string& failure,
                          SiteRecord& read);
  const DriftSeen& drift_seen() const { return drift_seen_; }

 private:
  // Keep, with the run's context; a write that changed the object number names the one before.
  // note: the reason, when not the context's; read: a complete read's record (KeepRead).
  void KeepWith(SiteRecord record, const ConfigImage* prior = nullptr,
                const std::optional<std::string>& note = std::nullopt, bool read = false);

  DriftSeen drift_seen_;

  RecordOperation write_operation_;
  RecordContext context_;
  std::map<std::string, int64_t> port_sites_;
  std::map<std::string, ConfigImage> read_;       // per port: the device's image read last
  std::map<std::string, std::string> overrides_;  // per port: the next write's override text
  std::optional<std::string> write_note_;         // SetWriteNote's, for the next write
  std::set<std::string> priors_;                  // the ports of ReadIsPrior (a batch's many)
  // Per port: a write of the changes whose whole check is still to end, with what its record
  // knew.
  struct WriteBehind {
    std::optional<ConfigImage> prior;
    std::string override_text;
    std::optional<std::string> note;
  };
  std::map<std::string, WriteBehind> checks_;
};

// Records straight into a registry, on the caller's thread.
class RegistryRecorder : public SiteRecorder {
 public:
  // registry: not owned, outlives the recorder.
  explicit RegistryRecorder(Registry& registry,
                            RecordOperation write_operation = RecordOperation::Write)
      : SiteRecorder(write_operation), registry_(registry) {}

  // What the records met since the last call, each a line in Russian: a record not kept, a
  // record waiting for the server, records sent when the server came back.
  std::vector<std::string> TakeNotes();
  // From the site's history: its newest write let past the check's errors, when the device
  // holds what it wrote.
  std::string ReadNote(const DeviceRecord& device, const ConfigImage& image) override;

 protected:
  void Keep(SiteRecord record) override {
    RecordInto(registry_, std::move(record), may_wait_, notes_);
  }
  void KeepRead(SiteRecord record) override;

 private:
  Registry& registry_;
  bool may_wait_ = true;
  std::vector<std::string> notes_;
};

// Two recorders in one: the first decides what the session is told (the archive, whose failure
// refuses a write); the second records beside it.
class RecorderPair : public Recorder {
 public:
  RecorderPair(Recorder* first, Recorder* second) : first_(first), second_(second) {}
  KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) override;
  void DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                     const WriteReport& report) override;
  bool ReadsBeforeWrite() const override;
  void NoteOverride(const std::string& port, const std::string& text) override;

 private:
  Recorder* first_;   // may be null
  Recorder* second_;  // may be null
};

}  // namespace lovar
