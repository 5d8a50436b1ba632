#include "keys_page.h"

#include "utf8.h"

#include "editor_events.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include "number_editors.h"
#include "session/session.h"
#include "typing_limits.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet2, KeysPage)

// ---- The page. ----

namespace {

constexpr int kKeyRows = keys::kCount;  // grid rows 1 to 16
constexpr int kColumnWidths[] = {26, 110, 22, 21, 22, 22, 23, 22, 22, 21, 78};
constexpr int kRowHeight = 20;
constexpr int kNameWidth = keys::kNameWidth;

// The key filter of the name column: blank to "9", Latin letters.
bool NameCharacter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u' ' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

}  // namespace

KeysPage::KeysPage(PageHost& host, QWidget* tab) : Page(host), tab_(tab) {
  ui_.setupUi(tab);
  QTableWidget* g = ui_.StringGridKey;
  g->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                     QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  grid::PrepareGrid(g, kRowHeight);
  g->setFixedHeight(kRowHeight * (kKeyRows + 1) + 2 * g->frameWidth());
  delegate_ = new grid::Delegate(g);
  std::set<int> marks;
  for (int c = kFirstRightsColumn; c < kFirstRightsColumn + 8; ++c) marks.insert(c);
  delegate_->SetMarkColumns(std::move(marks));
  delegate_->SetEditor(
      kNameWidth, [](const QString&, QChar c) { return NameCharacter(c); }, nullptr);
  delegate_->SayLimits(
      QStringLiteral("только латинские буквы, цифры, пробел и знаки !\"#$%&'()*+,-./"),
      [this](const QString& limit) { SayCellLimit(this->host(), ui_.StringGridKey, limit); });
  g->setItemDelegate(delegate_);
  BuildColumns();
  FitWidth(CreationWindowSetup().key_grid_width);
  LabelRows();
  g->setCurrentCell(1, 1);
  g->installEventFilter(this);

  connect(g, &QTableWidget::cellPressed, this,
          [this](int row, int column) { StringGridCodeMouseDown(row, column); });
  connect(g, &QTableWidget::cellClicked, this,
          [this](int row, int column) { StringGridCodeClick(row, column); });
  connect(ui_.ButtonKey, &QPushButton::clicked, this, [this] { ButtonKeyClick(); });
  connect(ui_.ButtonStopKey, &QPushButton::clicked, this, [this] { ButtonStopKeyClick(); });
  ui_.ButtonStopKey->setShortcut(QKeySequence(Qt::Key_Escape));
  ui_.ButtonStopKey->setToolTip(QStringLiteral("Остановить считывание ключа (Esc)"));
  connect(ui_.ButtonWriteKey, &QPushButton::clicked, this, [this] { ButtonWriteKeyClick(); });
  connect(ui_.Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget* old, QWidget* now) { OnFocusChanged(old, now); });
}

KeysPage::~KeysPage() = default;

void KeysPage::BuildColumns() {
  QTableWidget* g = ui_.StringGridKey;
  const int columns = g->columnCount();
  // Sixteen digits of a model 251 key must show whole.
  grid::SetColumnWidths(g, kColumnWidths, {{1, QStringLiteral("0000000000000000")}});
  grid::MakeFixedCells(g);
  grid::SetCell(g, 0, 1, QStringLiteral("Код"));
  for (int c = kFirstRightsColumn; c < kFirstRightsColumn + 8 && c < columns; ++c)
    grid::SetCell(g, 0, c, QStringLiteral(" %1").arg((c - kFirstRightsColumn) % 4 + 1));
  SetNamesEditable(names_editable_);
}

void KeysPage::SetNamesEditable(bool editable) {
  names_editable_ = editable;
  QTableWidget* g = ui_.StringGridKey;
  if (kNameColumn >= g->columnCount()) return;
  // Only model 251 stores key names; elsewhere the column is there (the form's), but empty.
  const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  for (int r = 1; r <= kKeyRows; ++r)
    g->item(r, kNameColumn)->setFlags(editable ? flags | Qt::ItemIsEditable : flags);
}

void KeysPage::FitWidth(int wanted) {
  QTableWidget* g = ui_.StringGridKey;
  // Never narrower than its columns, or the last ones would be cut off.
  int columns_width = 2 * g->frameWidth();
  for (int c = 0; c < g->columnCount(); ++c) columns_width += g->columnWidth(c);
  g->setFixedWidth(std::max(wanted, columns_width));
  ui_.PanelKeyHeads->setFixedWidth(g->width());
  // The labels "Взятие ШС" and "Снятие  ШС" in their frames stand over their four columns.
  if (g->columnCount() < kFirstRightsColumn + 8) return;
  int x = g->frameWidth() + g->columnWidth(0) + g->columnWidth(1);
  for (auto [bevel, label] : {std::pair<QWidget*, QWidget*>{ui_.Bevel3, ui_.Label9},
                              std::pair<QWidget*, QWidget*>{ui_.Bevel4, ui_.Label10}}) {
    const int first = bevel == ui_.Bevel3 ? kFirstRightsColumn : kFirstRightsColumn + 4;
    int width = 0;
    for (int c = first; c < first + 4; ++c) width += g->columnWidth(c);
    bevel->setGeometry(x, 0, width + 1, ui_.PanelKeyHeads->height());
    label->setGeometry(x + 1, 1, width - 1, ui_.PanelKeyHeads->height() - 2);
    x += width;
  }
}

void KeysPage::LabelRows() {
  for (int r = 1; r <= kKeyRows; ++r) {
    const int label = row_labels_ == KeyRowLabels::TwiceRow ? 2 * r : r - 1;
    grid::SetCell(ui_.StringGridKey, r, 0, QString::number(label));
  }
}

void KeysPage::ApplyModelSetup(const WindowSetup& setup) {
  QTableWidget* g = ui_.StringGridKey;
  if (setup.key_grid_columns > 0 && setup.key_grid_columns != g->columnCount()) {
    delegate_->CommitOpenEditor();
    g->setColumnCount(setup.key_grid_columns);
    BuildColumns();
  }
  if (setup.key_grid_width > 0) FitWidth(setup.key_grid_width);
  row_labels_ = setup.key_row_labels;
  LabelRows();
  const ModelSetup* has = FindModelSetup(setup.model);
  SetNamesEditable(has != nullptr && has->key_names);
  // Another model: what the grid showed was another image's.
  if (setup.model == 0) {
    for (int r = 1; r <= kKeyRows; ++r)
      for (int c = 1; c < g->columnCount(); ++c) grid::SetCell(g, r, c, QString());
  }
}

// ---- Display and commit. ----

void KeysPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  QTableWidget* g = ui_.StringGridKey;
  const WindowSetup* window = FindWindowSetup(model);
  const bool whole = window != nullptr && window->key_codes_whole;
  const QString mark = Q(window != nullptr ? window->rights_mark : " +");
  for (int r = 1; r <= kKeyRows; ++r) {
    // Model 251 shows a key's sixteen digits also when it holds none, the others an empty cell.
    if (const Field* code = FieldOfControl(model, g->objectName().toStdString(), r, 1))
      grid::SetCell(g, r, 1, Q(whole ? KeyCodeDigits(*code, image) : FieldText(*code, image)));
    const Field* name = ControlField(model, g, r, kNameColumn);
    if (whole) grid::SetCell(g, r, 0, QString::number(r - 1));
    if (name != nullptr)
      grid::SetCell(g, r, kNameColumn, Q(image.Text(name->offset, name->width)));
    else if (kNameColumn < g->columnCount())
      grid::SetCell(g, r, kNameColumn, QString());
    // Model 252's window shows no rights: its cells are left alone.
    const Field* rights =
        FieldOfControl(model, g->objectName().toStdString(), r, kFirstRightsColumn);
    if (rights == nullptr) continue;
    unsigned arm = 0, disarm = 0;
    FieldRights(*rights, image, arm, disarm);
    for (int n = 0; n < 4; ++n) {
      grid::SetCell(g, r, kFirstRightsColumn + n, (arm >> n) & 1 ? mark : QString());
      grid::SetCell(g, r, kFirstRightsColumn + 4 + n, (disarm >> n) & 1 ? mark : QString());
    }
  }
}

void KeysPage::StringGridKeyExit() {
  const int model = host().DeviceModel();
  if (!IsKnownModel(model) || committing_ || !host().PagesShowImage()) return;
  committing_ = true;
  QTableWidget* g = ui_.StringGridKey;
  ConfigImage& image = host().Image();
  // Each cell through its field's store, the one import and batch use; a cell it refuses
  // (a pasted name the device's code page cannot hold) keeps the field's value.
  std::vector<std::string> refused;
  const auto store = [&](int r, int c, auto&& stored) {
    const Field* f = ControlField(model, g, r, c);
    if (f == nullptr || c >= g->columnCount()) return;
    std::string why;
    if (stored(*f, grid::Cell(g, r, c).toStdString(), why)) return;
    refused.push_back(f->caption + ": " + why);
    grid::SetCell(g, r, c,
                  Q(c == kNameColumn ? image.Text(f->offset, f->width) : FieldText(*f, image)));
  };
  for (int r = 1; r <= kKeyRows; ++r) {
    store(r, 1, [&](const Field& f, const std::string& text, std::string& why) {
      return StoreFieldText(f, image, text, why);
    });
    // Model 252 shows no rights columns, so its rights bytes are written as 0.
    unsigned arm = 0, disarm = 0;
    for (int c = kFirstRightsColumn; c < kFirstRightsColumn + 8 && c < g->columnCount(); ++c) {
      if (!grid::Marked(g, r, c)) continue;
      grid::SetCell(g, r, c, QStringLiteral(" +"));
      const int n = (c - kFirstRightsColumn) % 4;
      if (c < kFirstRightsColumn + 4)
        arm |= 1u << n;
      else
        disarm |= 1u << n;
    }
    if (const Field* f = ControlField(model, g, r, kFirstRightsColumn))
      StoreRights(*f, image, arm, disarm);
    store(r, kNameColumn, [&](const Field& f, const std::string& text, std::string& why) {
      return StoreTypedText(f, image, text, why);
    });
  }
  committing_ = false;
  SayRefusedCellsLater(host(), this, QStringLiteral("Ключи"), refused);
}

void KeysPage::Commit() {
  delegate_->CommitOpenEditor();
  StringGridKeyExit();
}

void KeysPage::OnFocusChanged(QWidget* old, QWidget* now) {
  if (old == nullptr) return;
  QTableWidget* g = ui_.StringGridKey;
  // Leaving the grid (not into its own in-place editor), or leaving the page.
  const bool left_grid = grid::Inside(old, g) && !grid::Inside(now, g);
  const bool left_page = grid::Inside(old, tab_) && !grid::Inside(now, tab_);
  if (left_grid || left_page) StringGridKeyExit();
}

// ---- Cell events. ----

void KeysPage::StringGridCodeMouseDown(int row, int column) {
  host().ResetProgress();
  if (grid::IsRightsCell(ui_.StringGridKey, row, column, kFirstRightsColumn))
    grid::ToggleMark(ui_.StringGridKey, row, column);
}

void KeysPage::StringGridCodeClick(int row, int column) {
  host().ResetProgress();
  if (row >= 1 && column == 1 && !ui_.ButtonKey->isHidden()) ButtonKeyClick();
}

bool KeysPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched != ui_.StringGridKey || event->type() != QEvent::KeyPress)
    return QObject::eventFilter(watched, event);
  // StringGridKeyKeyPress: characters only; the arrows, Tab and the shortcuts work as usual.
  auto* key = static_cast<QKeyEvent*>(event);
  if (!IsCharacterKey(key)) return false;
  host().ResetProgress();
  QTableWidget* g = ui_.StringGridKey;
  const int row = g->currentRow(), column = g->currentColumn();
  if (column == kNameColumn && row >= 1 && names_editable_) return false;  // into the name
  if (grid::IsRightsCell(g, row, column, kFirstRightsColumn) && key->key() == Qt::Key_Space)
    grid::ToggleMark(g, row, column);
  return true;  // nothing else is typed into the grid
}

// ---- Key learning. ----

int KeysPage::CurrentKeyRow() const {
  const int row = ui_.StringGridKey->currentRow();
  return row >= 1 && row <= kKeyRows ? row : 1;
}

void KeysPage::ButtonKeyClick() {
  host().session().LearnKey();
}

void KeysPage::ButtonStopKeyClick() {
  host().session().StopKey();
}

void KeysPage::ButtonWriteKeyClick() {
  host().ResetProgress();
  delegate_->CommitOpenEditor();
  QTableWidget* g = ui_.StringGridKey;
  const QString key = Q(host().session().KeyText());
  bool kept_out = false;
  for (int r = 1; r <= kKeyRows; ++r) {
    if (grid::Cell(g, r, 1) != key) continue;
    if (host().dialogs().AskYesNo(QStringLiteral("Такой ключ уже есть"),
                                  QStringLiteral("Удалить старый?")))
      grid::SetCell(g, r, 1, QString());
    else
      kept_out = true;
  }
  if (!kept_out) grid::SetCell(g, CurrentKeyRow(), 1, key);
  StringGridKeyExit();
}

void KeysPage::Button2Click() {
  delegate_->CommitOpenEditor();
  grid::SetCell(ui_.StringGridKey, CurrentKeyRow(), 1, QString());
  StringGridKeyExit();
}

void KeysPage::SetExchangeButtonsEnabled(bool enabled) {
  ui_.ButtonKey->setEnabled(enabled);
}

void KeysPage::SetEditKey(const QString& text) {
  ui_.EditKey->setText(text);
}

void KeysPage::KeyPollingStarted() {
  ui_.ButtonStopKey->show();
  ui_.PanelSetKey->show();
  ui_.ButtonWriteKey->hide();
  ui_.PanelKey->show();
}

void KeysPage::KeyRead() {
  ui_.ButtonWriteKey->show();
  ui_.PanelSetKey->hide();
  ui_.ButtonStopKey->hide();
}

void KeysPage::KeyStopped() {
  ui_.PanelSetKey->hide();
  ui_.PanelKey->hide();
}

void KeysPage::PageChanging() {
  ui_.PanelSetKey->hide();
  ui_.PanelKey->hide();
}

}  // namespace lovar
