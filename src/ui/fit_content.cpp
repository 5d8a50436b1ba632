#include "fit_content.h"

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace lovar {
namespace {

constexpr int kFrameMargin = 40;       // the window frame and a little air, on each axis
constexpr int kTextPadding = 12;       // an item's or an edit's own margins around its text
constexpr int kTitleDecoration = 160;  // the frame's icon and its three buttons

}  // namespace

QRect RoomFor(const QWidget& window) {
  const QScreen* screen =
      window.screen() != nullptr ? window.screen() : QApplication::primaryScreen();
  if (screen == nullptr) return {0, 0, 1024, 700};
  return screen->availableGeometry().adjusted(kFrameMargin / 2, kFrameMargin, -kFrameMargin / 2, 0);
}

void ResizeWithin(QWidget& window, QSize wanted) {
  const QRect room = RoomFor(window);
  const QSize size = wanted.boundedTo(room.size()).expandedTo(window.minimumSize());
  if (size == window.size()) return;
  const QPoint centre = window.geometry().center();
  window.resize(size);
  if (!window.isVisible()) return;
  QRect placed(QPoint(0, 0), size);
  placed.moveCenter(centre);
  placed.moveLeft(
      std::clamp(placed.left(), room.left(), std::max(room.left(), room.right() - size.width())));
  placed.moveTop(
      std::clamp(placed.top(), room.top(), std::max(room.top(), room.bottom() - size.height())));
  window.move(placed.topLeft());
}

void WidenToShow(QWidget& window, const QWidget& inside, int text_width) {
  const int lacking = text_width + kTextPadding - inside.width();
  if (lacking > 0) ResizeWithin(window, {window.width() + lacking, window.height()});
}

int TitleWidth(const QWidget& window, const QString& title) {
  QFont font = window.font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + kTitleDecoration;
}

}  // namespace lovar
