#include "file_paths.h"

#include <QDir>

namespace lovar {

std::filesystem::path ToPath(const QString& file) {
  // Qt's "/" become the system's separators here, so that a name the core builds on it
  // ("C:\…\Ловар\Архив") is written one way.
  return std::filesystem::path(QDir::toNativeSeparators(file).toStdU16String());
}

QString ToQString(const std::filesystem::path& path) {
  return QString::fromStdU16String(path.u16string());
}

namespace {

// Either separator, on every system: the rule is the same wherever it is tested.
QString Slashed(QString path) {
  return QDir::cleanPath(path.replace(QLatin1Char('\\'), QLatin1Char('/')));
}

}  // namespace

bool IsInstalledProgramFolder(const QString& folder) {
  const QString path = Slashed(folder);
  if (path.startsWith(QStringLiteral("/usr/"))) return true;
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
    const QString root = Slashed(qEnvironmentVariable(variable));
    if (!root.isEmpty() && (path.compare(root, Qt::CaseInsensitive) == 0 ||
                            path.startsWith(root + QLatin1Char('/'), Qt::CaseInsensitive)))
      return true;
  }
  return false;
}

}  // namespace lovar
