// The page "Ключи" (TabSheet2): the key grid StringGridKey with the keys' codes, their arming
// and disarming rights and, on model 251, their names; "Считать ключ" and "Удалить" beside it,
// and the key panel PanelKey of the key learning exchange ("Поднесите ключ" / "к считывателю",
// "Остановить", "Записать").
//
// The grid's cell texts are the working copy: the image changes only when the grid is committed
// (StringGridKeyExit), which happens when the grid or the page loses the focus, after a key is
// stored or deleted, and in Commit() before a write or a save.
//
// Also here: the string-grid helpers the key, code and filter grids share (fixed heading cells,
// the mark drawn in a marked cell, the in-place editor with its key filter).
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <functional>
#include <set>

#include "page.h"
#include "ui_keys_page.h"

class QLineEdit;

namespace lovar {

// ---- String-grid helpers. ----
namespace grid {

// The cell's text, empty for a cell that has no item.
QString Cell(const QTableWidget* table, int row, int column);
// Sets the cell's text, creating its item (editable or not as given) when missing.
void SetCell(QTableWidget* table, int row, int column, const QString& text);
// A cell counts as marked when its text is not empty.
inline bool Marked(const QTableWidget* table, int row, int column) {
  return !Cell(table, row, column).isEmpty();
}
// Makes row 0 and column 0 the grid's fixed heading cells: greyed, neither selectable nor
// editable. Every other cell gets an item that is selectable but not editable.
void MakeFixedCells(QTableWidget* table);
// True when the widget is the table or lies inside it (its viewport, an in-place editor).
bool Inside(const QWidget* widget, const QWidget* container);

// Draws marked cells of the mark columns as a tick in a box (the cell text stays what the page
// wrote) and gives the editable cells an in-place editor with a key filter and a check of what
// reaches the cell on closing the editor.
class Delegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  // accepts(cell text so far, character): whether a typed character goes in. Backspace always
  // does. accept_text(new text): whether the text may replace the cell's (false keeps the old
  // one; it reports why itself).
  using KeyFilter = std::function<bool(const QString&, QChar)>;
  using TextCheck = std::function<bool(const QString&)>;

  explicit Delegate(QObject* parent) : QStyledItemDelegate(parent) {}

  void SetMarkColumns(std::set<int> columns) { mark_columns_ = std::move(columns); }
  void SetEditor(int max_length, KeyFilter filter, TextCheck check) {
    max_length_ = max_length;
    filter_ = std::move(filter);
    check_ = std::move(check);
  }
  // Closes an open in-place editor, storing its text into the cell as leaving it would.
  void CommitOpenEditor();

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  std::set<int> mark_columns_;
  int max_length_ = 0;
  KeyFilter filter_;
  TextCheck check_;
  mutable QPointer<QLineEdit> open_editor_;
  mutable QPersistentModelIndex open_index_;
};

}  // namespace grid

class KeysPage : public QObject, public Page {
  Q_OBJECT
 public:
  KeysPage(PageHost& host, QWidget* tab);
  ~KeysPage() override;

  void ApplyModelSetup(const ModelSetup& setup) override;
  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;
  void SetExchangeButtonsEnabled(bool enabled) override;
  void SetEditKey(const QString& text) override;
  void KeyPollingStarted() override;
  void KeyRead() override;
  void KeyStopped() override;
  void PageChanging() override;

  Ui::KeysPage& ui() { return ui_; }

  // Handlers, under the form's names.
  void ButtonKeyClick();
  void ButtonStopKeyClick();
  void ButtonWriteKeyClick();
  void Button2Click();
  // The key grid as a whole into the image.
  void StringGridKeyExit();
  // Mouse press on a cell: a rights cell toggles.
  void StringGridCodeMouseDown(int row, int column);
  // Click on a cell: column 1 of a key row starts a key read.
  void StringGridCodeClick(int row, int column);

  // The key rows are grid rows 1 to 16; the rights columns 2 to 9 (arming ШС1..4, then
  // disarming ШС1..4); column 10 the name.
  static constexpr int kFirstRightsColumn = 2;
  static constexpr int kNameColumn = 10;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildColumns();
  void LabelRows();
  void FitWidth(int wanted);
  void Toggle(int row, int column);
  int CurrentKeyRow() const;
  void OnFocusChanged(QWidget* old, QWidget* now);

  Ui::KeysPage ui_;
  QWidget* tab_;
  grid::Delegate* delegate_;
  KeyRowLabels row_labels_ = KeyRowLabels::RowMinusOne;
  bool committing_ = false;
};

}  // namespace lovar
