#include "typing_limits.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QToolTip>

#include "number_editors.h"
#include "utf8.h"

namespace lovar {
namespace {

void Say(PageHost& host, QWidget* control, const QRect& place, const Field* field,
         const QString& limit) {
  QString text = limit;
  if (field != nullptr && field->kind == FieldKind::Number)
    text += QStringLiteral(" (число ") + Q(RangeText(*field)) + QLatin1Char(')');
  if (field != nullptr) text = Q(field->caption) + QStringLiteral(": ") + text;
  host.ShowStatus(text);
  QToolTip::showText(control->mapToGlobal(place.bottomLeft()), text, control);
}

}  // namespace

QString LengthLimitText(int max_length) {
  return QStringLiteral("не больше %1 знаков").arg(max_length);
}

QString LengthLimitOf(const QLineEdit* edit, const QString& typed) {
  const qsizetype held = edit->text().size() - edit->selectedText().size();
  return held + typed.size() > edit->maxLength() ? LengthLimitText(edit->maxLength()) : QString();
}

void SayTypingLimit(PageHost& host, QWidget* control, const QString& limit) {
  if (limit.isEmpty()) return;
  Say(host, control, control->rect(), ControlField(host.DeviceModel(), control), limit);
}

void SayCellLimit(PageHost& host, QTableWidget* grid, const QString& limit) {
  if (limit.isEmpty()) return;
  const int row = grid->currentRow(), column = grid->currentColumn();
  const QRect cell = grid->visualRect(grid->model()->index(row, column));
  Say(host, grid->viewport(), cell, ControlField(host.DeviceModel(), grid, row, column), limit);
}

}  // namespace lovar
