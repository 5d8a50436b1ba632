#include "file_paths.h"

#include <QStandardPaths>

#include "files/config_file.h"

namespace lovar {

std::filesystem::path ToPath(const QString& file) {
  return std::filesystem::path(file.toStdU16String());
}

QString ToQString(const std::filesystem::path& path) {
  return QString::fromStdU16String(path.u16string());
}

std::filesystem::path DialogFolder(const QString& program_folder, int model, bool for_save) {
  const std::filesystem::path beside =
      PrepareDefaultFolder(ToPath(program_folder), model, for_save);
  std::error_code error;
  if (std::filesystem::is_directory(beside, error)) return beside;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (documents.isEmpty()) return beside;
  return PrepareDefaultFolder(ToPath(documents + QStringLiteral("/Ловар")), model, for_save);
}

}  // namespace lovar
