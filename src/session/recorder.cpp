#include "session/recorder.h"

#include "files/archive.h"

namespace lovar {

KeptRecord ArchiveRecorder::DeviceRead(const DeviceRecord& device, const ConfigImage& image) {
  const ArchiveResult kept = SaveToArchive(folder_(), device.model, image, LocalTimeNow());
  return {kept.ok, kept.path, kept.message};
}

}  // namespace lovar
