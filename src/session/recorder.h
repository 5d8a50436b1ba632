// Where a session keeps what it learns of a device: every complete read (a read, and the read
// of the device before a write), and every write's end. The session calls one Recorder; the
// archive of configuration files (ArchiveRecorder) is the first, a registry of sites may take
// its place or stand beside it.
//
// Threads: called on the session's (window) thread.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "model/config_image.h"
#include "protocol/verified_write.h"

namespace lovar {

// A write let past the check's errors, as its records say it: "Записано несмотря на ошибки
// проверки («Записать всё равно»): [loop-not-reported] …; [object-number-empty] …". how: what
// let them pass.
inline constexpr std::string_view kOverrideMark = "Записано несмотря на ошибки проверки";
std::string OverrideText(const std::vector<Finding>& let_pass, std::string_view how);
// Whether two images of model hold the same configuration where a write puts it: the values
// of its fields from the write's first byte on (a device's internal bytes aside).
bool SameConfiguration(int model, const ConfigImage& a, const ConfigImage& b);
// The note of a read whose device holds what a write let past the check's errors put there.
std::string OverrideReadNote(std::string_view when, std::string_view text);

// The device a record is of, as the session knows it.
struct DeviceRecord {
  std::string port;  // the port's name
  int model = 0;
  int firmware = 0;
  std::string line;  // "Ловар-М Версия 2.2"
};

struct KeptRecord {
  bool ok = true;
  std::filesystem::path path;  // where it was kept, when it is a file
  std::string message;         // why not, in Russian, when not ok
  // A read: what the records know of the configuration read, worth saying (it was written
  // despite the check's errors: when, and which), in Russian; empty when nothing.
  std::string note;
};

class Recorder {
 public:
  virtual ~Recorder() = default;
  // The device's whole image as read, before anything corrects it. A write whose read before it
  // cannot be kept does not begin.
  virtual KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) = 0;
  // A write is over, however it ended: the image as sent (for a write not begun, the image it
  // was to send; for one that found another configuration in the device, what was read back)
  // and what the device may now hold. A write of the changes proven block by block
  // (report.blocks_only) is said twice: at its end, and when the whole check behind it ends
  // (report.whole_check), however that ends.
  virtual void DeviceWritten(const DeviceRecord& /*device*/, const ConfigImage& /*sent*/,
                             const WriteReport& /*report*/) {}
  // Whether a write must begin with a read of the device when its image is not recorded yet
  // (the archive keeps what a write replaces); a recorder that only follows the writes says no.
  virtual bool ReadsBeforeWrite() const { return true; }
  // The next write on port was let past the check's errors (the installer's "Записать всё
  // равно", lovar-cli's --allow-check): its records carry text (OverrideText, check_gate.h).
  // Said just before the write; forgotten once it is over.
  virtual void NoteOverride(const std::string& /*port*/, const std::string& /*text*/) {}
};

// The archive (files/archive.h): each complete read kept as a file, the newest kArchiveKeep.
// A write let past the check's errors that the device holds, proven, is kept too: the image
// written, with the override's text after it (ArchiveNote); a read of the site whose image is
// still that one says so in its note.
class ArchiveRecorder : public Recorder {
 public:
  // folder: asked at each record (the window's depends on the port: a demo device's archive is
  // a temporary one of the run).
  explicit ArchiveRecorder(std::function<std::filesystem::path()> folder)
      : folder_(std::move(folder)) {}
  explicit ArchiveRecorder(std::filesystem::path folder)
      : folder_([folder = std::move(folder)] { return folder; }) {}

  KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) override;
  void DeviceWritten(const DeviceRecord& device, const ConfigImage& sent,
                     const WriteReport& report) override;
  void NoteOverride(const std::string& port, const std::string& text) override;

 private:
  std::function<std::filesystem::path()> folder_;
  // Per port (a batch writes many at once): the next write's override text; a write of the
  // changes's, kept for the whole check behind it.
  std::map<std::string, std::string> overrides_;
  std::map<std::string, std::string> checks_;
};

}  // namespace lovar
