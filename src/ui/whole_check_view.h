// The window's side of a write of the changes: "Файл" → "Записать всё" (every block, for a
// device of unknown history), the progress bar while the whole range is read back behind the
// write, and the words for that check's end. The session decides; this shows and forwards.
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QString>
#include <functional>

#include "session_texts.h"

namespace lovar {

// "Записать всё" added to the file menu before `before` (at its end when null); triggers
// write_all.
QAction* AddWriteAllAction(QMenu& file_menu, QAction* before, std::function<void()> write_all);

// The progress bar says "Полная проверка…" with its per cent while the check runs; back to the
// per cent alone after it.
void ShowWholeCheck(QProgressBar& bar, bool running);

// A proven check and a stop by the installer's next act go to the status line; a lost line or
// a difference that stayed also to a warning box. archived: what the record of what was read
// back adds, when the check found another configuration.
Said WholeCheckEndSaid(const WriteReport& report, const std::string& text,
                       const QString& archived = {});

// A read asked for while the check runs: the changes are written; only the check is left.
extern const QString kWholeCheckCaption;
QString StopWholeCheckQuestion();
// The check found another configuration in the device (the status line's words, said): write
// the window's over it?
extern const QString kStaleCaption;
// What the record of what was read back adds to the status line.
QString ReadBackArchivedNote(const KeptRecord& record, bool demo);
QString OverwriteQuestion(const QString& said);

}  // namespace lovar
