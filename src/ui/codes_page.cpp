#include "codes_page.h"

#include "utf8.h"

#include "editor_events.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>

#include "number_editors.h"
#include "typing_limits.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet3, CodesPage)

namespace {

constexpr int kRows = codes::kCount;  // entry rows 1 to 20
constexpr int kColumnWidths[] = {25, 53, 61, 25, 25, 25, 25, 25, 25, 25, 25};
constexpr int kRowHeight = 19;
constexpr int kDigits = 4;
const QString kDigitsOnly = QStringLiteral("только цифры");

bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsCodeCell(int row, int column) {
  return row >= 1 && (column == 1 || (column == 2 && row != 1));
}

bool IsDigits(const QString& text) {
  return std::all_of(text.begin(), text.end(), IsDigit);
}

// A code cell's text as the catalog writes a code: the cells show the digits 10 to 15 a device
// may hold as ':' to '?', the catalog as "A" to "F".
std::string CatalogDigits(const QString& cell) {
  std::string text = cell.toStdString();
  for (char& c : text)
    if (c >= ':' && c <= '?') c = static_cast<char>('A' + (c - ':'));
  return text;
}

}  // namespace

QString CodeCellText(const Field& field, const ConfigImage& image) {
  std::string text = FieldText(field, image);
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(':' + (c - 'A'));
  return Q(text);
}

QString InstallerCodeText(const ConfigImage& image, int model) {
  const Field* f = BoundField(model, "StringGridCode", 1, 1);
  return f != nullptr ? CodeCellText(*f, image) : QString();
}

CodesPage::CodesPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  QTableWidget* g = ui_.StringGridCode;
  g->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                     QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  grid::PrepareGrid(g, kRowHeight);
  const int width = grid::SetColumnWidths(g, kColumnWidths, {{0, QStringLiteral("п/н")}});
  g->setFixedSize(width, kRowHeight * (kRows + 1) + 2 * g->frameWidth());
  grid::MakeFixedCells(g);
  // "Взятие" and "Снятие" stand over their four columns each.
  const int arm_x = g->frameWidth() + g->columnWidth(0) + g->columnWidth(1) + g->columnWidth(2);
  ui_.PanelCodeHeads->setFixedWidth(width);
  ui_.LabelCodeArm->setGeometry(arm_x, 0, 4 * kColumnWidths[3], 20);
  ui_.LabelCodeDisarm->setGeometry(arm_x + 4 * kColumnWidths[3], 0, 4 * kColumnWidths[3], 20);

  grid::SetCell(g, 0, 0, QStringLiteral("п/н"));
  grid::SetCell(g, 0, 1, QStringLiteral("Код"));
  grid::SetCell(g, 0, 2, QStringLiteral("К.Прин."));
  for (int c = kFirstRightsColumn; c < kFirstRightsColumn + 8; ++c)
    grid::SetCell(g, 0, c, QStringLiteral(" %1").arg((c - kFirstRightsColumn) % 4 + 1));
  // 0 is the installer's code, odd numbers the user codes (the keys of model 250 are even).
  for (int r = 1; r <= kRows; ++r) grid::SetCell(g, r, 0, QString::number(r == 1 ? 0 : 2 * r - 3));
  grid::SetCell(g, 1, 2, InstallerCell());
  for (int r = 1; r <= kRows; ++r)
    for (int c : {1, 2})
      if (IsCodeCell(r, c))
        g->item(r, c)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);

  delegate_ = new grid::Delegate(g);
  std::set<int> marks;
  for (int c = kFirstRightsColumn; c < kFirstRightsColumn + 8; ++c) marks.insert(c);
  delegate_->SetMarkColumns(std::move(marks));
  delegate_->SetEditor(
      kDigits, [](const QString&, QChar c) { return IsDigit(c); },
      [this](int row, int column, const QString& text) { return AcceptCode(row, column, text); });
  delegate_->SayLimits(kDigitsOnly, [this](const QString& limit) {
    SayCellLimit(this->host(), ui_.StringGridCode, limit);
  });
  g->setItemDelegate(delegate_);
  g->setCurrentCell(1, 1);
  g->installEventFilter(this);

  connect(g, &QTableWidget::cellPressed, this,
          [this](int row, int column) { StringGridCodeMouseDown(row, column); });
  connect(g, &QTableWidget::cellClicked, this, [this] { this->host().ResetProgress(); });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    QTableWidget* g = ui_.StringGridCode;
    if (old != nullptr && grid::Inside(old, g) && !grid::Inside(now, g)) StringGridCodeExit();
  });
}

// A code reaches the cell through the in-place editor, whose key filter admits digits only; a
// text pasted into the editor may hold anything, and is refused unless it is digits, so no
// other character is ever packed into a code's nibbles. What the code's store refuses (fewer
// than four digits) is refused as the cell is left, not only when the grid is.
bool CodesPage::AcceptCode(int row, int column, const QString& text) {
  QString said;
  const Field* f = ControlField(host().DeviceModel(), ui_.StringGridCode, row, column);
  std::string why;
  ConfigImage scratch = host().Image();
  if (!IsDigits(text))
    said = QStringLiteral(
               "Код может состоять только из цифр 0–9. Текст «%1» не принят, "
               "в ячейке осталось прежнее значение.")
               .arg(text);
  else if (f != nullptr && !StoreFieldText(*f, scratch, CatalogDigits(text), why))
    said = Q(f->caption) + QStringLiteral(": ") + Q(why) +
           QStringLiteral(". В ячейке осталось прежнее значение.");
  if (said.isEmpty()) return true;
  // Said after the editor has closed, not from inside its focus change.
  QTimer::singleShot(
      0, this, [this, said] { host().dialogs().Message(QStringLiteral("Коды"), said, true); });
  return false;
}

// ---- Display and commit. ----

void CodesPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  QTableWidget* g = ui_.StringGridCode;
  for (int r = 1; r <= kRows; ++r) {
    // The code cells show the digits 10 to 15 a device may hold as ':' to '?'; the installer's
    // row keeps "Код Уст" where the others have their duress code.
    for (int c : {1, 2})
      if (const Field* f = ControlField(model, g, r, c))
        grid::SetCell(g, r, c, CodeCellText(*f, image));
    if (const Field* f = ControlField(model, g, r, kFirstRightsColumn)) {
      unsigned arm = 0, disarm = 0;
      FieldRights(*f, image, arm, disarm);
      const unsigned rights = arm | disarm << 4;  // the columns' order: arming, then disarming
      for (int bit = 0; bit < 8; ++bit)
        grid::SetCell(g, r, kFirstRightsColumn + bit,
                      (rights >> bit) & 1 ? QStringLiteral(" +") : QString());
    }
  }
}

void CodesPage::StringGridCodeExit() {
  const int model = host().DeviceModel();
  if (committing_ || !host().PagesShowImage()) return;
  committing_ = true;
  QTableWidget* g = ui_.StringGridCode;
  ConfigImage& image = host().Image();
  // Each code through its field's store, the one import and batch use: four digits or none. A
  // code of fewer digits is refused and keeps its value, never stored as no code unsaid.
  std::vector<std::string> refused;
  for (int r = 1; r <= kRows; ++r) {
    if (ControlField(model, g, r, 1) == nullptr) continue;  // a layout without codes
    // The installer's row has no duress code: its bytes are always written as 0.
    if (r == 1)
      std::fill_n(image.bytes().begin() + codes::DuressOffset(0), codes::kCodeBytes, uint8_t{0});
    for (int c : {1, 2}) {
      const Field* f = ControlField(model, g, r, c);
      if (f == nullptr) continue;
      std::string why;
      if (StoreFieldText(*f, image, CatalogDigits(grid::Cell(g, r, c)), why)) continue;
      refused.push_back(f->caption + ": " + why);
      grid::SetCell(g, r, c, CodeCellText(*f, image));
    }
    const Field* rights_field = ControlField(model, g, r, kFirstRightsColumn);
    if (rights_field == nullptr) continue;
    unsigned rights = 0;  // arming in bits 0 to 3, disarming in bits 4 to 7, as the columns
    for (int bit = 0; bit < 8; ++bit) {
      const int c = kFirstRightsColumn + bit;
      const bool marked = grid::Marked(g, r, c);
      if (marked) rights |= 1u << bit;
      grid::SetCell(g, r, c, marked ? QStringLiteral("+") : QString());
    }
    StoreRights(*rights_field, image, rights & 0x0F, rights >> 4);
  }
  committing_ = false;
  SayRefusedCellsLater(host(), this, QStringLiteral("Коды"), refused);
}

void CodesPage::Commit() {
  QWidget* focus = QApplication::focusWidget();
  if (focus == nullptr || !grid::Inside(focus, ui_.StringGridCode)) return;
  delegate_->CommitOpenEditor();
  StringGridCodeExit();
}

std::optional<QString> CodesPage::FirstUserCode() const {
  return grid::Cell(ui_.StringGridCode, 1, 1);
}

// ---- Cell events. ----

void CodesPage::StringGridCodeMouseDown(int row, int column) {
  host().ResetProgress();
  if (grid::IsRightsCell(ui_.StringGridCode, row, column, kFirstRightsColumn))
    grid::ToggleMark(ui_.StringGridCode, row, column);
}

bool CodesPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched != ui_.StringGridCode || event->type() != QEvent::KeyPress)
    return QObject::eventFilter(watched, event);
  // StringGridCodeKeyPress: characters only; the arrows, Tab and the shortcuts work as usual.
  auto* key = static_cast<QKeyEvent*>(event);
  if (!IsCharacterKey(key)) return false;
  host().ResetProgress();
  QTableWidget* g = ui_.StringGridCode;
  const int row = g->currentRow(), column = g->currentColumn();
  if (IsCodeCell(row, column)) {
    if (key->key() == Qt::Key_Backspace) return false;
    const QChar c = key->text().front();
    const bool room = grid::Cell(g, row, column).size() < kDigits;
    if (IsDigit(c) && room) return false;
    SayCellLimit(host(), g, room ? kDigitsOnly : LengthLimitText(kDigits));
    return true;
  }
  if (grid::IsRightsCell(g, row, column, kFirstRightsColumn) && key->key() == Qt::Key_Space)
    grid::ToggleMark(g, row, column);
  return true;
}

}  // namespace lovar
