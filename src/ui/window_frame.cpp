#include "window_frame.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace lovar {

void ElidingStatusBar::paintEvent(QPaintEvent* event) {
  const QString message = currentMessage();
  if (message.isEmpty()) {
    QStatusBar::paintEvent(event);
    return;
  }
  QPainter painter(this);
  const int grip = isSizeGripEnabled() ? style()->pixelMetric(QStyle::PM_SizeGripSize) : 0;
  QRect area = rect().adjusted(6, 0, -6 - grip, 0);
  // Up to the widgets kept at the right (the technician's name).
  for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child->isVisible() && child->x() > width() / 2)
      area.setRight(std::min(area.right(), child->x() - 6));
  painter.setPen(palette().windowText().color());
  painter.drawText(area, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                   fontMetrics().elidedText(message, Qt::ElideMiddle, area.width()));
}

namespace {

// A menu item under the pointer sends its status tip, empty for ours, which Qt shows in place
// of the status line: the outcome of a read or a write would vanish as a menu opens.
class KeepStatusLine : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    return event->type() == QEvent::StatusTip;
  }
};

}  // namespace

QStatusBar* InstallElidingStatusBar(QMainWindow& window) {
  auto* status = new ElidingStatusBar;
  status->setObjectName(QStringLiteral("StatusBar1"));
  window.setStatusBar(status);  // deletes the form's
  window.installEventFilter(new KeepStatusLine(&window));
  return status;
}

void KeepPlaceWhenHidden(QWidget& widget) {
  QSizePolicy policy = widget.sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget.setSizePolicy(policy);
}

void CentreOnScreen(QWidget& window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
  }
}

void FitHeight(QWidget& window, int width, int wanted) {
  QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    window.resize(window.width(), wanted);
    return;
  }
  // A laptop's 768 pixels hold less than model 251's window: the pages scroll instead. The
  // frame is known once the window is shown; until then a title bar's worth is kept free.
  constexpr int kTitleBar = 40;
  const QRect area = screen->availableGeometry();
  const int frame = std::max(window.frameGeometry().height() - window.height(), kTitleBar);
  const int room = area.height() - frame;
  // A page that scrolls gives its scroll bar's width: the window gives it back.
  const int scroll_bar =
      wanted > room ? window.style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
  window.resize(width + scroll_bar, std::min(wanted, room));
  // Wholly on the screen: moved up as far as its bottom edge needs (pos() is the frame's).
  const int highest = area.bottom() + 1 - frame - window.height();
  if (window.pos().y() > highest) window.move(window.x(), std::max(area.top(), highest));
}

}  // namespace lovar
