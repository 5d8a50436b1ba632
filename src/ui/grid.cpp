#include "grid.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "typing_limits.h"

namespace lovar {

namespace grid {

void ToggleMark(QTableWidget* table, int row, int column) {
  SetCell(table, row, column, Marked(table, row, column) ? QString() : QStringLiteral("  +"));
}

void PrepareGrid(QTableWidget* table, int row_height) {
  table->setFrameShape(QFrame::Box);
  // Tab goes on to the next control; the arrows move between the cells.
  table->setTabKeyNavigation(false);
  table->horizontalHeader()->setMinimumSectionSize(8);
  table->verticalHeader()->setDefaultSectionSize(row_height);
  table->verticalHeader()->setMinimumSectionSize(row_height);
}

int SetColumnWidths(QTableWidget* table, std::span<const int> widths,
                    std::initializer_list<std::pair<int, QString>> fit) {
  const int columns = std::min(table->columnCount(), static_cast<int>(widths.size()));
  for (int c = 0; c < columns; ++c) table->setColumnWidth(c, widths[static_cast<size_t>(c)]);
  // Headings and codes must show whole in the window's font.
  for (const auto& [column, text] : fit)
    if (column < columns)
      table->setColumnWidth(column, std::max(table->columnWidth(column),
                                             table->fontMetrics().horizontalAdvance(text) + 10));
  int width = 2 * table->frameWidth();
  for (int c = 0; c < table->columnCount(); ++c) width += table->columnWidth(c);
  return width;
}

QString Cell(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item == nullptr ? QString() : item->text();
}

void SetCell(QTableWidget* table, int row, int column, const QString& text) {
  if (row >= table->rowCount() || column >= table->columnCount()) return;
  QTableWidgetItem* item = table->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table->setItem(row, column, item);
  } else {
    item->setText(text);
  }
}

void MakeFixedCells(QTableWidget* table) {
  // Texts are clipped at the cell's edge, never shortened to "…".
  table->setTextElideMode(Qt::ElideNone);
  table->horizontalHeader()->hide();
  table->verticalHeader()->hide();
  table->setWordWrap(false);
  const QBrush fixed = table->palette().button();
  for (int r = 0; r < table->rowCount(); ++r) {
    for (int c = 0; c < table->columnCount(); ++c) {
      if (table->item(r, c) == nullptr) SetCell(table, r, c, QString());
      QTableWidgetItem* item = table->item(r, c);
      if (r == 0 || c == 0) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(fixed);
      }
    }
  }
}

bool Inside(const QWidget* widget, const QWidget* container) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
    if (w == container) return true;
  return false;
}

void Delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                     const QModelIndex& index) const {
  if (index.row() == 0 || !mark_columns_.contains(index.column())) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // A rights cell: its background as usual, then a tick in a box when marked; the blanks and
  // the plus sign the page writes stay in the text, unseen.
  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  plain.text.clear();
  QStyle* style = plain.widget != nullptr ? plain.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
  if (index.data().toString().isEmpty()) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  const int side = std::min(option.rect.width(), option.rect.height()) - 6;
  QRectF box(0, 0, side, side);
  box.moveCenter(QRectF(option.rect).center());
  painter->setPen(QPen(QColor(0, 90, 0), 1));
  painter->setBrush(QColor(210, 240, 210));
  painter->drawRect(box);
  QPainterPath tick;
  tick.moveTo(box.left() + side * 0.2, box.top() + side * 0.52);
  tick.lineTo(box.left() + side * 0.42, box.top() + side * 0.75);
  tick.lineTo(box.left() + side * 0.8, box.top() + side * 0.25);
  painter->setPen(QPen(QColor(0, 110, 0), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter->setBrush(Qt::NoBrush);
  painter->drawPath(tick);
  painter->restore();
}

QWidget* Delegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    // What is pasted is cut to the cell's width like what is typed.
    if (max_length_ > 0) line->setMaxLength(max_length_);
    open_editor_ = line;
    open_index_ = index;
  }
  return editor;
}

void Delegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                            const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  // An editor closed with the cell's own text changes nothing and is not checked: a code read
  // from a device as "????" must not be refused only because its cell was opened.
  if (line != nullptr && line->text() == index.data(Qt::EditRole).toString()) return;
  if (line != nullptr && check_ && !check_(index.row(), index.column(), line->text()))
    return;  // the cell keeps its text
  QStyledItemDelegate::setModelData(editor, model, index);
}

void Delegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
  if (editor == open_editor_) open_editor_ = nullptr;  // closed: nothing left to commit
  QStyledItemDelegate::destroyEditor(editor, index);
}

void Delegate::CommitOpenEditor() {
  QLineEdit* line = open_editor_;
  if (line == nullptr || !open_index_.isValid()) return;
  open_editor_ = nullptr;
  setModelData(line, const_cast<QAbstractItemModel*>(open_index_.model()), open_index_);
  emit closeEditor(line, QAbstractItemDelegate::NoHint);
}

bool Delegate::eventFilter(QObject* object, QEvent* event) {
  auto* line = qobject_cast<QLineEdit*>(object);
  if (event->type() == QEvent::KeyPress && filter_ && line != nullptr) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto say = [this](const QString& limit) {
      if (say_ && !limit.isEmpty()) say_(limit);
    };
    const QString text = key->text();
    const bool character = text.size() == 1 && text[0].isPrint() &&
                           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (key->matches(QKeySequence::Paste))
      say(LengthLimitOf(line, QApplication::clipboard()->text()));
    if (character) {
      // A character replaces the selection, so the selection does not count as held.
      QString held = line->text();
      if (line->hasSelectedText()) held.remove(line->selectionStart(), line->selectedText().size());
      if (const QString limit = LengthLimitOf(line, text); !limit.isEmpty()) {
        say(limit);
        return true;
      }
      if (!filter_(held, text[0])) {
        say(allowed_);
        return true;
      }
    }
  }
  return QStyledItemDelegate::eventFilter(object, event);
}

}  // namespace grid

}  // namespace lovar
