#include "combo_width.h"

#include <QComboBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace lovar {

int ComboWidthFor(const QComboBox& combo, const QStringList& entries) {
  const QFontMetrics metrics = combo.fontMetrics();
  int longest = 0;
  for (const QString& entry : entries)
    longest = std::max(longest, metrics.horizontalAdvance(entry.trimmed()));
  QStyleOptionComboBox option;
  option.initFrom(&combo);
  option.editable = combo.isEditable();
  return combo.style()
      ->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(longest, metrics.height()), &combo)
      .width();
}

}  // namespace lovar
