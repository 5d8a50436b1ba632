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
// a difference that stayed also to a warning box.
Said WholeCheckEndSaid(const WriteReport& report, const std::string& text);

}  // namespace lovar
