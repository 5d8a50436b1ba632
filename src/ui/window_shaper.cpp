#include "window_shaper.h"

#include "utf8.h"
#include "window_frame.h"

namespace lovar {

WindowShaper::WindowShaper(QMainWindow& window, QTabWidget& tabs, const PagesHost& pages, int width)
    : window_(window), tabs_(tabs), pages_(pages), width_(width) {}

void WindowShaper::Apply(const WindowSetup& setup) {
  for (const ControlVisibility& item : setup.visibility)
    SetVisibleByName(item.control, item.visibility == Visibility::Shown);
  if (setup.window_height > 0) FitHeight(setup.window_height);
  pages_.ForEach([&setup](Page& page) { page.ApplyModelSetup(setup); });
}

void WindowShaper::SetVisibleByName(std::string_view name, bool visible) {
  const QString object_name = Q(name);
  for (int i = 0; i < tabs_.count(); ++i) {
    if (tabs_.widget(i)->objectName() == object_name) {
      changing_tabs_ = true;
      tabs_.setTabVisible(i, visible);
      changing_tabs_ = false;
      return;
    }
  }
  if (QWidget* widget = window_.findChild<QWidget*>(object_name)) widget->setVisible(visible);
}

void WindowShaper::FitHeight(int wanted) {
  lovar::FitHeight(window_, width_, wanted);
}

}  // namespace lovar
