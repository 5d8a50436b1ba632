// Where the focus is on the pages, made plain: a frame drawn around the control that holds it
// (a click on a check finding turns to its field, and the installer sees at once which control
// that is, whatever the style draws for focus), and Tab that goes through a page's controls row
// by row, as they are read.
//
// Threads: window thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <initializer_list>

class QGridLayout;

namespace lovar {

// Follows the focus among the controls inside `area` (edits, lists, check boxes, buttons,
// grids); hidden while the focus is elsewhere. A child of the focused control's parent, so it
// moves and scrolls with it; it takes no mouse clicks.
class FocusFrame : public QWidget {
 public:
  explicit FocusFrame(QWidget& area);
  // The control framed now, or null.
  QWidget* target() const { return target_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow(QWidget* now);
  void Place();

  QWidget& area_;
  QPointer<QWidget> target_;
};

// Tab order through the grids' controls row by row, each row left to right, one grid after the
// other.
void TabInRows(std::initializer_list<QGridLayout*> grids);

}  // namespace lovar
