// "Правка" → "Отменить" / "Повторить": the actions named after the step they take back or do
// again, a grid's row numbered as the grid numbers it.
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <QString>
#include <QWidget>

#include "model/edit_history.h"

namespace lovar {

// An undo step's name as the installer sees the field in window: the catalog counts a grid's
// rows from 1 ("Ключ 1: Имя"), the grids number them their own way.
QString StepLabel(const EditStep& step, const QWidget& window);

// The two actions from the history; none enabled while a read stores into the image.
void ShowEditActions(QAction& undo, QAction& redo, const EditHistory& history, bool reading,
                     const QWidget& window);

}  // namespace lovar
