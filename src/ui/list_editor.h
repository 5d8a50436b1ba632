// The list boxes the installer may type into (the loop types, output modes, protocols and test
// kinds): a choice from the list (the mouse, the arrows) is stored at once by the page's change
// handler; a typed text only when the box is left, and only when it names one of the box's
// entries. A text that names none is refused: a message names the field, the text and the
// entries, and the box shows again what the field holds. The stored value never changes unsaid.
//
// Threads: window thread only.
#pragma once

#include <QComboBox>
#include <functional>

#include "model/catalog.h"
#include "page.h"

namespace lovar {

// Whether the box holds typed text not yet taken: the change handlers store nothing then.
bool TypingInto(const QComboBox* combo);

// The box's entry a text names: its own entry in any case, or what the catalog reads the text
// as (a text the window shows for it, look-alike letters); -1 for none.
int EntryNamed(const QComboBox* combo, const Field& field, const QString& text);

// On leaving the box: a typed text that names an entry selects it (the change handler stores
// it); one that names none is refused with the message, and reshow puts back what the field
// holds. Nothing when nothing was typed.
void TakeTypedEntry(PageHost& host, QComboBox* combo, const Field& field,
                    const std::function<void()>& reshow);

}  // namespace lovar
