// The main window's menus "Файл", "Правка" and "Справка" and its exchange buttons: each item's
// and button's handler (the window's, under the form's names) and shortcut, the items the code
// adds to the form's ("Записать всё", "Поиск прибора…"), and the menus' letters under any
// keyboard layout (menu_keys.h).
//
// Threads: window thread only.
#pragma once

#include <QAction>

namespace lovar {

class TForm1;

struct MainMenuItems {
  QAction* write_all = nullptr;    // "Файл" → "Записать всё"
  QAction* find_device = nullptr;  // "Файл" → "Поиск прибора…"
};

MainMenuItems SetUpMainMenu(TForm1& window);

}  // namespace lovar
