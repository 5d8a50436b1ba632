// The main window's menus "Файл", "Правка" and "Справка": each item's handler and shortcut, the
// items the code adds to the form's ("Записать всё", "Поиск прибора…"), and the letters of all
// of them under any keyboard layout (menu_keys.h).
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <functional>

namespace Ui {
class TForm1;
}

namespace lovar {

struct MainMenuHandlers {
  std::function<void()> open, save, compare, archive, write_all, find_device, undo, redo, about;
};

struct MainMenuItems {
  QAction* write_all = nullptr;    // "Файл" → "Записать всё"
  QAction* find_device = nullptr;  // "Файл" → "Поиск прибора…"
};

MainMenuItems SetUpMainMenu(Ui::TForm1& ui, const MainMenuHandlers& handlers);

}  // namespace lovar
