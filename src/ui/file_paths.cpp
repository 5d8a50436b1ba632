#include "file_paths.h"

namespace lovar {

std::filesystem::path ToPath(const QString& file) {
  return std::filesystem::path(file.toStdU16String());
}

QString ToQString(const std::filesystem::path& path) {
  return QString::fromStdU16String(path.u16string());
}

}  // namespace lovar
