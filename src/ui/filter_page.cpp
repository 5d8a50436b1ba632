#include "filter_page.h"

#include "utf8.h"

#include <QApplication>
#include <QHeaderView>

#include "model/regions.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet7, FilterPage)

namespace {

constexpr int kColumnWidths[] = {280, 26, 27, 29, 29, 22};
constexpr int kRowHeight = 19;
constexpr int kDirections = directions::kCount;  // columns 1 to 5

}  // namespace

FilterPage::FilterPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  QTableWidget* g = ui_.StringGridFiltr;
  grid::PrepareGrid(g, kRowHeight);
  const QString heading = QStringLiteral("  5");
  const int width = grid::SetColumnWidths(
      g, kColumnWidths, {{1, heading}, {2, heading}, {3, heading}, {4, heading}, {5, heading}});
  g->setFixedSize(width, kRowHeight * (filter::kEvents + 1) + 2 * g->frameWidth());
  grid::MakeFixedCells(g);
  for (int e = 1; e <= filter::kEvents; ++e) grid::SetCell(g, e, 0, Q(filter::kEventNames[e - 1]));
  auto* delegate = new grid::Delegate(g);
  delegate->SetMarkColumns({1, 2, 3, 4, 5});
  g->setItemDelegate(delegate);
  g->setCurrentCell(1, 1);

  connect(g, &QTableWidget::cellClicked, this,
          [this](int row, int column) { StringGridFiltrClick(row, column); });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    QTableWidget* g = ui_.StringGridFiltr;
    if (old != nullptr && grid::Inside(old, g) && !grid::Inside(now, g)) StringGridFiltrExit();
  });
}

void FilterPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (model != 251) return;
  QTableWidget* g = ui_.StringGridFiltr;
  for (int c = 1; c <= kDirections; ++c) {
    grid::SetCell(g, 0, c, QStringLiteral("  %1").arg(c));
    const uint16_t mask = filter::Mask(image, c - 1);
    for (int e = 1; e <= filter::kEvents; ++e)
      grid::SetCell(g, e, c, (mask >> (e - 1)) & 1 ? QStringLiteral("  + ") : QString());
  }
}

void FilterPage::StringGridFiltrClick(int row, int column) {
  if (row < 1 || column < 1) return;
  QTableWidget* g = ui_.StringGridFiltr;
  grid::SetCell(g, row, column, grid::Marked(g, row, column) ? QString() : QStringLiteral(" + "));
}

void FilterPage::StringGridFiltrExit() {
  if (host().DeviceModel() != 251) return;
  QTableWidget* g = ui_.StringGridFiltr;
  for (int c = 1; c <= kDirections; ++c) {
    uint16_t mask = 0;
    for (int e = 1; e <= filter::kEvents; ++e)
      if (grid::Marked(g, e, c)) mask |= static_cast<uint16_t>(1u << (e - 1));
    filter::SetMask(host().Image(), c - 1, mask);
  }
}

void FilterPage::Commit() {
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr && grid::Inside(focus, ui_.StringGridFiltr)) StringGridFiltrExit();
}

}  // namespace lovar
