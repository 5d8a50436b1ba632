// Paths between the windows (QString) and the core (std::filesystem::path), and the folders
// the file dialogs start in.
#pragma once

#include <QString>
#include <filesystem>

namespace lovar {

// Through UTF-16: on Windows that is the path's own encoding, so a name in any script stays
// whole (a narrow string would go through the ANSI code page); on POSIX it becomes UTF-8.
std::filesystem::path ToPath(const QString& file);
QString ToQString(const std::filesystem::path& path);

// The model's folder for the file dialogs below program_folder, as the tool always kept them
// (created when missing). Where it cannot be made there (an installed program's folder belongs
// to the system: Program Files, /usr/bin) it is made in the user's documents, folder "Ловар",
// so the dialogs still start in the model's own folder.
std::filesystem::path DialogFolder(const QString& program_folder, int model, bool for_save);

}  // namespace lovar
