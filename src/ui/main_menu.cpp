#include "main_menu.h"

#include <QMainWindow>

#include "menu_keys.h"
#include "ui_form1.h"
#include "whole_check_view.h"

namespace lovar {

MainMenuItems SetUpMainMenu(Ui::TForm1& ui, const MainMenuHandlers& handlers) {
  QMenu& file = *ui.N1;
  auto on = [&file](QAction* action, const std::function<void()>& handler) {
    QObject::connect(action, &QAction::triggered, &file, [handler] { handler(); });
  };
  on(ui.N2, handlers.open);
  on(ui.N3, handlers.save);
  on(ui.N4, handlers.compare);
  on(ui.N5, handlers.archive);
  ui.NUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  ui.NRedo->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  on(ui.NUndo, handlers.undo);
  on(ui.NRedo, handlers.redo);
  on(ui.NAbout, handlers.about);
  MainMenuItems items;
  items.write_all = AddWriteAllAction(file, nullptr, handlers.write_all);
  // The way back to the search window, e.g. after the line was lost.
  file.addSeparator();
  items.find_device = file.addAction(QStringLiteral("&Поиск прибора…"));
  items.find_device->setObjectName(QStringLiteral("NFindDevice"));
  on(items.find_device, handlers.find_device);
  MenuLettersAnyLayout(*ui.MainMenu1);
  return items;
}

}  // namespace lovar
