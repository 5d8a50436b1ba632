// The main window shaped for a device model (its table in window_setup.h): its pages' tabs and its
// controls shown or hidden by object name, its height, and the pages' own items. The password
// panel and the progress bars are the window's.
//
// Threads: window thread only.
#pragma once

#include <QMainWindow>
#include <QTabWidget>
#include <string_view>

#include "pages_host.h"
#include "window_setup.h"

namespace lovar {

class WindowShaper {
 public:
  // width: the window's width at the default font.
  WindowShaper(QMainWindow& window, QTabWidget& tabs, const PagesHost& pages, int width);

  void Apply(const WindowSetup& setup);
  // A tab sheet's tab, or any other control of the window, by object name.
  void SetVisibleByName(std::string_view name, bool visible);
  // The model's height, or the screen's available height if that is less (the pages scroll).
  void FitHeight(int wanted);
  // A tab's visibility is being changed here: a current page that changes with it is no
  // installer's page change.
  bool ChangingTabs() const { return changing_tabs_; }

 private:
  QMainWindow& window_;
  QTabWidget& tabs_;
  const PagesHost& pages_;
  int width_;
  bool changing_tabs_ = false;
};

}  // namespace lovar
