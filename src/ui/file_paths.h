// Paths between the windows (QString) and the core (std::filesystem::path).
#pragma once

#include <QString>
#include <filesystem>

namespace lovar {

// Through UTF-16: on Windows that is the path's own encoding, so a name in any script stays
// whole (a narrow string would go through the ANSI code page); on POSIX it becomes UTF-8.
std::filesystem::path ToPath(const QString& file);
QString ToQString(const std::filesystem::path& path);

}  // namespace lovar
