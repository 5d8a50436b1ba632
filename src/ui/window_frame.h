// Small pieces of the main window's frame: its status line, its place on the screen and its
// height per model.
//
// Threads: window thread only.
#pragma once

#include <QMainWindow>
#include <QStatusBar>
#include <QWidget>

namespace lovar {

// The status line shortened in the middle when it is longer than the window is wide: its end
// (how a step ended, what the device now holds) stays in view. The tooltip holds it whole.
class ElidingStatusBar : public QStatusBar {
 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Puts an ElidingStatusBar in the window's place of its status bar (named "StatusBar1", as the
// form's), which goes; returns it. The menus' status tips no longer replace its line.
QStatusBar* InstallElidingStatusBar(QMainWindow& window);

// A hidden widget that keeps its place in the layout, so the rows around it do not move.
void KeepPlaceWhenHidden(QWidget& widget);

void CentreOnScreen(QWidget& window);

// The model's height, or the screen's available height if that is less (the pages scroll, and
// the window gives back their scroll bar's width beside `width`); moved up as far as its bottom
// edge needs.
void FitHeight(QWidget& window, int width, int wanted);

}  // namespace lovar
