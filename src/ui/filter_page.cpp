#include "filter_page.h"

#include "utf8.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>

#include "model/regions.h"
#include "number_editors.h"

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
  g->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    QTableWidget* g = ui_.StringGridFiltr;
    if (old != nullptr && grid::Inside(old, g) && !grid::Inside(now, g)) StringGridFiltrExit();
  });
}

void FilterPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (!ModelHas(model, FieldPage::Filter)) return;
  QTableWidget* g = ui_.StringGridFiltr;
  for (int c = 1; c <= kDirections; ++c) {
    grid::SetCell(g, 0, c, QStringLiteral("  %1").arg(c));
    for (int e = 1; e <= filter::kEvents; ++e)
      if (const Field* f = ControlField(model, g, e, c))
        grid::SetCell(g, e, c, FieldBits(*f, image) != 0 ? QStringLiteral("  + ") : QString());
  }
}

void FilterPage::StringGridFiltrClick(int row, int column) {
  if (row < 1 || column < 1) return;
  QTableWidget* g = ui_.StringGridFiltr;
  grid::SetCell(g, row, column, grid::Marked(g, row, column) ? QString() : QStringLiteral(" + "));
}

bool FilterPage::eventFilter(QObject* watched, QEvent* event) {
  // The space bar toggles the current cell, as a click does.
  if (watched == ui_.StringGridFiltr && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    QTableWidget* g = ui_.StringGridFiltr;
    StringGridFiltrClick(g->currentRow(), g->currentColumn());
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void FilterPage::StringGridFiltrExit() {
  // Every cell is the flag of its event and direction; on models 250 and 252 none is bound.
  if (!host().PagesShowImage()) return;
  QTableWidget* g = ui_.StringGridFiltr;
  for (int c = 1; c <= kDirections; ++c)
    for (int e = 1; e <= filter::kEvents; ++e)
      if (const Field* f = ControlField(host().DeviceModel(), g, e, c))
        SetFieldBits(*f, host().Image(), grid::Marked(g, e, c) ? 1 : 0);
}

void FilterPage::Commit() {
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr && grid::Inside(focus, ui_.StringGridFiltr)) StringGridFiltrExit();
}

}  // namespace lovar
