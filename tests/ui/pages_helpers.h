// Helpers for the tests of the keys, codes, directions, filter and GPRS pages: reaching the
// pages, moving the real input focus (the grids commit when the focus leaves them), clicking and
// typing into grid cells, and pasting into editors.
#pragma once

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTableWidget>

#include "codes_page.h"
#include "directions_page.h"
#include "filter_page.h"
#include "gprs_page.h"
#include "harness.h"
#include "keys_page.h"
#include "sim/device_sim.h"

namespace lovar::testing {

// The pages by their tab sheets: Keys(s), Codes(s)...
#define LOVAR_PAGE(Class, Name, tab)                      \
  inline Class& Name(UiSession& s) {                      \
    return *static_cast<Class*>(s.form1().FindPage(tab)); \
  }
LOVAR_PAGE(KeysPage, Keys, "TabSheet2")
LOVAR_PAGE(CodesPage, Codes, "TabSheet3")
LOVAR_PAGE(DirectionsPage, Directions, "TabSheet6")
LOVAR_PAGE(FilterPage, Filter, "TabSheet7")
LOVAR_PAGE(GprsPage, Gprs, "TabSheet8")
#undef LOVAR_PAGE

// Shows the tab sheet and gives the window the input focus, so focus changes are real.
inline bool ShowTab(UiSession& s, const char* tab) {
  QTabWidget* tabs = s.ui().PageControl1;
  tabs->setCurrentWidget(tabs->findChild<QWidget*>(tab));
  s.form1().activateWindow();
  return WaitFor([&] { return s.form1().isActiveWindow(); }, 5000);
}

// Shows the tab sheet that holds the control.
inline bool ShowTabOf(UiSession& s, QWidget* control) {
  QTabWidget* tabs = s.ui().PageControl1;
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->isAncestorOf(control))
      return ShowTab(s, tabs->widget(i)->objectName().toUtf8().constData());
  return false;
}

// Identifies the model's demo device, gives it `image`, reads it ("Старт") and shows the tab
// sheet, if one is named.
inline bool ReadDemo(UiSession& s, int model, const ConfigImage& image, const char* tab = nullptr) {
  if (!s.Identify(model)) return false;
  s.demo(model).device().image() = image;
  return s.Start() && (tab == nullptr || ShowTab(s, tab));
}

inline bool FocusOn(QWidget* widget) {
  widget->setFocus(Qt::OtherFocusReason);
  return WaitFor([&] { return QApplication::focusWidget() == widget; }, 5000);
}

// Moves the focus out of a grid (to the tab bar), which commits it.
inline bool LeaveGrid(UiSession& s) {
  return FocusOn(s.ui().PageControl1->tabBar());
}

inline QString CellText(const QTableWidget* g, int row, int column) {
  const QTableWidgetItem* item = g->item(row, column);
  return item == nullptr ? QString() : item->text();
}

// A mouse click on the cell (press and release).
inline void ClickCell(QTableWidget* g, int row, int column) {
  QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::NoModifier,
                    g->visualItemRect(g->item(row, column)).center());
}

// Makes the cell current and types into it key by key, as the keyboard would: each key goes to
// the widget with the focus (the grid, then its in-place editor). The editor is then closed by
// moving the focus out of the grid.
inline void TypeIntoCell(QTableWidget* g, int row, int column, const QString& text) {
  g->setFocus(Qt::OtherFocusReason);
  g->setCurrentCell(row, column);
  for (QChar c : text) {
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : g;
    Type(target, QString(c));
  }
}

// The open in-place editor of a grid, if any.
inline QLineEdit* OpenEditor(QTableWidget* g) {
  auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  return edit != nullptr && edit->parentWidget() == g->viewport() ? edit : nullptr;
}

// Pastes text into an edit through the clipboard, replacing what it holds.
inline void Paste(QLineEdit* edit, const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  edit->selectAll();
  edit->paste();
}

// Opens the cell's in-place editor and pastes text into it.
inline QLineEdit* PasteIntoCell(QTableWidget* g, int row, int column, const QString& text) {
  g->setFocus(Qt::OtherFocusReason);
  g->setCurrentCell(row, column);
  g->editItem(g->item(row, column));
  QLineEdit* editor = nullptr;
  WaitFor([&] { return (editor = OpenEditor(g)) != nullptr; }, 5000);
  if (editor != nullptr) Paste(editor, text);
  return editor;
}

inline std::vector<uint8_t> Bytes(const ConfigImage& image, int offset, int count) {
  return {image.bytes().begin() + offset, image.bytes().begin() + offset + count};
}

}  // namespace lovar::testing
