// Where a session keeps what it learns of a device: every complete read (a read, and the read
// of the device before a write), and every write's end. The session calls one Recorder; the
// archive of configuration files (ArchiveRecorder) is the first, a registry of sites may take
// its place or stand beside it.
//
// Threads: called on the session's (window) thread.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "model/config_image.h"
#include "protocol/verified_write.h"

namespace lovar {

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
};

class Recorder {
 public:
  virtual ~Recorder() = default;
  // The device's whole image as read, before anything corrects it. A write whose read before it
  // cannot be kept does not begin.
  virtual KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) = 0;
  // A write is over, however it ended: the image as sent (for a write not begun, the image it
  // was to send; for one that found another configuration in the device, what was read back)
  // and what the device may now hold.
  virtual void DeviceWritten(const DeviceRecord& /*device*/, const ConfigImage& /*sent*/,
                             const WriteReport& /*report*/) {}
  // Whether a write must begin with a read of the device when its image is not recorded yet
  // (the archive keeps what a write replaces); a recorder that only follows the writes says no.
  virtual bool ReadsBeforeWrite() const { return true; }
};

// The archive (files/archive.h): each complete read kept as a file, the newest kArchiveKeep.
class ArchiveRecorder : public Recorder {
 public:
  // folder: asked at each record (the window's depends on the port: a demo device's archive is
  // a temporary one of the run).
  explicit ArchiveRecorder(std::function<std::filesystem::path()> folder)
      : folder_(std::move(folder)) {}
  explicit ArchiveRecorder(std::filesystem::path folder)
      : folder_([folder = std::move(folder)] { return folder; }) {}

  KeptRecord DeviceRead(const DeviceRecord& device, const ConfigImage& image) override;

 private:
  std::function<std::filesystem::path()> folder_;
};

}  // namespace lovar
