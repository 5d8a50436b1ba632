#include "focus_view.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>
#include <tuple>
#include <vector>

namespace lovar {
namespace {

constexpr int kMargin = 3;  // the frame's distance around the control
constexpr int kPen = 3;

bool IsField(const QWidget* w) {
  return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

}  // namespace

FocusFrame::FocusFrame(QWidget& area) : QWidget(&area), area_(area) {
  setObjectName(QStringLiteral("FocusFrame"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  hide();
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { Follow(now); });
}

void FocusFrame::Follow(QWidget* now) {
  // A popup (a list's drop-down, a message box) takes the focus for a moment: the frame stays.
  if (now != nullptr && now->window() != area_.window()) return;
  if (target_ != nullptr) target_->removeEventFilter(this);
  target_ = now != nullptr && area_.isAncestorOf(now) && IsField(now) ? now : nullptr;
  if (target_ == nullptr) return hide();
  target_->installEventFilter(this);
  Place();
}

void FocusFrame::Place() {
  if (target_ == nullptr || !target_->isVisible()) return hide();
  if (parentWidget() != target_->parentWidget()) setParent(target_->parentWidget());
  setGeometry(target_->geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin));
  raise();
  show();
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == target_) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::ParentChange:
        Place();
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FocusFrame::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(palette().color(QPalette::Highlight), kPen));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(rect()).adjusted(kPen / 2.0, kPen / 2.0, -kPen / 2.0, -kPen / 2.0),
                          3, 3);
}

void TabInRows(std::initializer_list<QGridLayout*> grids) {
  std::vector<QWidget*> order;
  for (QGridLayout* grid : grids) {
    std::vector<std::tuple<int, int, QWidget*>> cells;
    for (int i = 0; i < grid->count(); ++i) {
      QWidget* w = grid->itemAt(i)->widget();
      if (w == nullptr || !(w->focusPolicy() & Qt::TabFocus)) continue;
      int row = 0, column = 0, rows = 0, columns = 0;
      grid->getItemPosition(i, &row, &column, &rows, &columns);
      cells.emplace_back(row, column, w);
    }
    std::sort(cells.begin(), cells.end());
    for (const auto& cell : cells) order.push_back(std::get<2>(cell));
  }
  for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace lovar
