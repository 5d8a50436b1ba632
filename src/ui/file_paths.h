// Paths between the windows (QString) and the core (std::filesystem::path).
#pragma once

#include <QString>
#include <filesystem>

namespace lovar {

// Through UTF-16: on Windows that is the path's own encoding, so a name in any script stays
// whole (a narrow string would go through the ANSI code page); on POSIX it becomes UTF-8.
std::filesystem::path ToPath(const QString& file);
QString ToQString(const std::filesystem::path& path);

// Whether folder is where an installer put the program (below /usr, or Program Files). Its
// files then go to the user's documents even where the folder is writable (run as root or as
// an administrator), so that no configuration lands among the system's programs.
bool IsInstalledProgramFolder(const QString& folder);

}  // namespace lovar
