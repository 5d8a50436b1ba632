#include "undo_menu.h"

#include <QTableWidget>

#include "binding.h"
#include "utf8.h"

namespace lovar {

QString StepLabel(const EditStep& step, const QWidget& window) {
  // The grids number their rows their own way (keys from 0, or 2, 4… on model 250; codes 0, 1,
  // 3…), and the label says what the installer sees in the row's first cell.
  QString label = Q(step.label);
  if (step.field == nullptr) return label;
  const ControlPlace place = PlaceOf(*step.field);
  if (place.row < 1) return label;
  const auto* grid = window.findChild<QTableWidget*>(Q(place.control));
  const QTableWidgetItem* head = grid != nullptr ? grid->item(place.row, 0) : nullptr;
  const qsizetype colon = label.indexOf(QStringLiteral(": "));
  const qsizetype space = colon > 0 ? label.lastIndexOf(QLatin1Char(' '), colon - 1) : -1;
  if (head == nullptr || space < 0 ||
      label.mid(space + 1, colon - space - 1) != QString::number(place.row))
    return label;
  return label.left(space + 1) + head->text().trimmed() + label.mid(colon);
}

void ShowEditActions(QAction& undo, QAction& redo, const EditHistory& history, bool reading,
                     const QWidget& window) {
  const EditStep* next_undo = reading ? nullptr : history.NextUndo();
  const EditStep* next_redo = reading ? nullptr : history.NextRedo();
  // "&" marks the menu's accelerator; one in a field's name is no mark.
  const auto name = [&window](const EditStep& step) {
    return StepLabel(step, window).replace(QLatin1Char('&'), QStringLiteral("&&"));
  };
  undo.setEnabled(next_undo != nullptr);
  undo.setText(next_undo ? QStringLiteral("&Отменить: ") + name(*next_undo)
                         : QStringLiteral("&Отменить"));
  redo.setEnabled(next_redo != nullptr);
  redo.setText(next_redo ? QStringLiteral("&Повторить: ") + name(*next_redo)
                         : QStringLiteral("&Повторить"));
}

}  // namespace lovar
