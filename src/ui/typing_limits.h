// What the installer is told when typing stops at a field's limit: a key the field does not take
// (a letter or a minus sign in a number, a character past the field's length) or a paste cut to
// its length. The status line says it with the field's name, and so does a tooltip at the
// control, at once; what was typed so far stays and typing goes on. A value out of its range is
// refused on leaving (number_editors.h); this is only what typing itself cannot put in.
//
// Threads: window thread only.
#pragma once

#include <QString>

#include "page.h"

class QLineEdit;
class QTableWidget;
class QWidget;

namespace lovar {

// "не больше 8 знаков".
QString LengthLimitText(int max_length);
// The limit a key's text or a paste would run into in the edit (what its maximum length cuts
// off), or empty when it fits.
QString LengthLimitOf(const QLineEdit* edit, const QString& typed);

// Says "caption: limit" of the field the control shows (its range added to a number's limit).
void SayTypingLimit(PageHost& host, QWidget* control, const QString& limit);
// The same for the current cell of a grid.
void SayCellLimit(PageHost& host, QTableWidget* grid, const QString& limit);

}  // namespace lovar
