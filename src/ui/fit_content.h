// Windows sized to what they show, within the screen: as wide as their widest text needs (a
// device line, a file name in the title, a table's columns), never beyond the screen's
// available area, and never narrower than they were made.
//
// Threads: window thread only.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace lovar {

// The part of its screen a window may take: the available area less a margin for its frame.
QRect RoomFor(const QWidget& window);

// Resizes the window to `wanted`, at most the room; a window on the screen keeps its centre and
// stays wholly inside the room.
void ResizeWithin(QWidget& window, QSize wanted);

// Widens the window by what `inside` (a list's viewport, a box's edit) lacks to show a text
// text_width pixels wide.
void WidenToShow(QWidget& window, const QWidget& inside, int text_width);

// The width a window needs to show `title` whole in its frame (the title font, the frame's
// icon and buttons).
int TitleWidth(const QWidget& window, const QString& title);

}  // namespace lovar
