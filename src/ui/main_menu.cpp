#include "main_menu.h"

#include "form1.h"
#include "menu_keys.h"
#include "ui_form1.h"
#include "whole_check_view.h"

namespace lovar {

MainMenuItems SetUpMainMenu(TForm1& window) {
  Ui::TForm1& ui = window.ui();
  auto on = [&window](QAction* action, void (TForm1::*handler)()) {
    QObject::connect(action, &QAction::triggered, &window,
                     [&window, handler] { (window.*handler)(); });
  };
  on(ui.N2, &TForm1::N2Click);
  on(ui.N3, &TForm1::N3Click);
  on(ui.N4, &TForm1::N4Click);
  on(ui.N5, &TForm1::N5Click);
  ui.NUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  ui.NRedo->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  on(ui.NUndo, &TForm1::UndoClick);
  on(ui.NRedo, &TForm1::RedoClick);
  on(ui.NAbout, &TForm1::NAboutClick);
  MainMenuItems items;
  items.write_all = AddWriteAllAction(*ui.N1, nullptr, [&window] { window.WriteAllClick(); });
  // The way back to the search window, e.g. after the line was lost.
  ui.N1->addSeparator();
  items.find_device = ui.N1->addAction(QStringLiteral("&Поиск прибора…"));
  items.find_device->setObjectName(QStringLiteral("NFindDevice"));
  on(items.find_device, &TForm1::FindDeviceClick);
  MenuLettersAnyLayout(*ui.MainMenu1);

  QObject::connect(ui.ButtonRead, &QPushButton::clicked, &window,
                   [&window] { window.ButtonReadClick(); });
  QObject::connect(ui.ButtonWrite, &QPushButton::clicked, &window,
                   [&window] { window.ButtonWriteClick(); });
  QObject::connect(ui.ButtonCancel, &QPushButton::clicked, &window,
                   [&window] { window.ButtonCancelClick(); });
  ui.ButtonCancel->setShortcut(QKeySequence(Qt::Key_Escape));
  ui.ButtonRead->setShortcut(QKeySequence(Qt::Key_F5));
  ui.ButtonRead->setToolTip(QStringLiteral("Считать конфигурацию из УО (F5)"));
  return items;
}

}  // namespace lovar
