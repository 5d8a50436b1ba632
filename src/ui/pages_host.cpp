#include "pages_host.h"

#include <QScrollArea>
#include <QVBoxLayout>
#include <span>

#include "utf8.h"
#include "window_setup.h"

namespace lovar {
namespace {

// The tab sheets in the order of PageControl1.
constexpr std::string_view kTabSheets[] = {"TabSheet1", "TabSheet2", "TabSheet3",
                                           "TabSheet6", "TabSheet7", "TabSheet8"};

// Puts a scroll area into the tab sheet and returns the widget inside it, on which the page
// builds its form. A tab widget is as large as the largest minimum size of all its pages, hidden
// tabs included; inside a scroll area a page can no longer push the window past its model's
// size, and a page taller than the window scrolls instead of being cut off.
QWidget* ScrolledContent(QWidget& sheet) {
  auto* layout = new QVBoxLayout(&sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* area = new QScrollArea(&sheet);
  area->setObjectName(sheet.objectName() + QStringLiteral("Scroll"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  // Not a tab stop of its own; a focus moved by Tab still scrolls into view.
  area->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(area);
  auto* content = new QWidget;
  // Named before the page's form is set up on it, so it keeps a name of its own and the tab
  // sheet stays the only widget called e.g. "TabSheet2".
  content->setObjectName(sheet.objectName() + QStringLiteral("Content"));
  area->setWidget(content);
  return content;
}

}  // namespace

PagesHost::PagesHost(PageHost& host, QTabWidget& tabs) {
  for (std::string_view tab : kTabSheets) {
    QWidget* sheet = tabs.findChild<QWidget*>(Q(tab));
    if (PageFactory factory = FindPageFactory(tab); factory && sheet != nullptr)
      pages_.emplace(std::string(tab), factory(host, ScrolledContent(*sheet)));
  }
}

Page* PagesHost::Find(std::string_view tab_sheet) const {
  auto it = pages_.find(tab_sheet);
  return it == pages_.end() ? nullptr : it->second.get();
}

void PagesHost::Display(const ConfigImage& image, int model, int firmware) const {
  const WindowSetup* window = FindWindowSetup(model);
  if (!IsKnownModel(model) || window == nullptr) return;
  for (std::string_view tab : window->display_order)
    if (Page* page = Find(tab)) page->Display(image, model, firmware);
}

void PagesHost::Commit() const {
  for (std::string_view tab : kTabSheets)
    if (Page* page = Find(tab)) page->Commit();
}

}  // namespace lovar
