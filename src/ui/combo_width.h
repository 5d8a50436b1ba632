// The width a combo box needs so that none of its entries is shown cut off, in the box's font
// and style. For boxes whose lists are filled or replaced after the window is laid out (by the
// display, per model), where Qt's own size hint would follow the list held at the first layout.
//
// Threads: window thread only.
#pragma once

#include <QStringList>

class QComboBox;

namespace lovar {

int ComboWidthFor(const QComboBox& combo, const QStringList& entries);

}  // namespace lovar
