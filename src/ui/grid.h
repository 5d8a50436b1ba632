// String-grid helpers shared by the key, code and filter grids: cell texts, the fixed heading
// cells, the grid's frame and column widths, the mark drawn in a marked cell, and the in-place
// editor with its key filter.
//
// Threads: window thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <functional>
#include <initializer_list>
#include <set>
#include <span>
#include <utility>

class QLineEdit;

namespace lovar {

namespace grid {

// Rights cells: the entry rows (from 1) of the eight columns from first_rights_column.
inline bool IsRightsCell(const QTableWidget* table, int row, int column, int first_rights_column) {
  return row >= 1 && column >= first_rights_column && column < first_rights_column + 8 &&
         column < table->columnCount();
}
// A mouse press or the space bar on a rights cell: an empty cell becomes "  +", a marked one
// empty.
void ToggleMark(QTableWidget* table, int row, int column);

// A grid with a box frame and rows of row_height pixels whose columns may be narrow.
void PrepareGrid(QTableWidget* table, int row_height);
// Sets the widths of the first columns from widths; a column named in fit is made at least as
// wide as its text needs in the grid's font. Returns the width of all columns and the frame.
int SetColumnWidths(QTableWidget* table, std::span<const int> widths,
                    std::initializer_list<std::pair<int, QString>> fit = {});

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
  // accepts(cell text so far, character): whether a typed character goes in (one past the
  // editor's maximum length never does). Backspace always does. accept_text(row, column, new
  // text): whether the text may replace the cell's (false keeps the old one; it reports why
  // itself). say(limit): typing stopped at the cell's limit (typing_limits.h): the filter's
  // `allowed`, or the length.
  using KeyFilter = std::function<bool(const QString&, QChar)>;
  using TextCheck = std::function<bool(int row, int column, const QString&)>;
  using OnLimit = std::function<void(const QString& limit)>;

  explicit Delegate(QObject* parent) : QStyledItemDelegate(parent) {}

  void SetMarkColumns(std::set<int> columns) { mark_columns_ = std::move(columns); }
  void SetEditor(int max_length, KeyFilter filter, TextCheck check) {
    max_length_ = max_length;
    filter_ = std::move(filter);
    check_ = std::move(check);
  }
  void SayLimits(QString allowed, OnLimit say) {
    allowed_ = std::move(allowed);
    say_ = std::move(say);
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
  QString allowed_;
  OnLimit say_;
  mutable QPointer<QLineEdit> open_editor_;
  mutable QPersistentModelIndex open_index_;
};

}  // namespace grid

}  // namespace lovar
