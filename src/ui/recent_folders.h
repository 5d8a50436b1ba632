// Where the file dialogs start: the folder a file of the same kind was last chosen in during this
// run (a configuration file of the same model, or a comparison report), else the dialog's usual
// folder. Nothing is kept between runs.
//
// Threads: window thread only.
#pragma once

#include <QString>

namespace lovar {

enum class FileKind { Configuration, Report };

// The folder the dialog for `kind` (and, for configurations, `model`) starts in.
QString StartFolder(FileKind kind, int model, const QString& usual);
// A file of that kind was chosen (opened or saved): its folder is where the next dialog starts.
void NoteChosenFile(FileKind kind, int model, const QString& file);

}  // namespace lovar
