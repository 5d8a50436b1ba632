#include "sites_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "compare_dialog.h"
#include "files/diff_report.h"
#include "fit_content.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "store/local_time.h"
#include "utf8.h"

namespace lovar {
namespace {

QTableWidget* MakeTable(QWidget* parent, const char* name, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setObjectName(QLatin1String(name));
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setWordWrap(false);
  return table;
}

void Fill(QTableWidget* table, const std::vector<QStringList>& rows) {
  table->setUpdatesEnabled(false);
  table->clearContents();
  table->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const QStringList& row = rows[static_cast<size_t>(r)];
    for (int c = 0; c < row.size(); ++c) {
      auto* item = new QTableWidgetItem(row[c]);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      item->setToolTip(row[c]);
      table->setItem(r, c, item);
    }
  }
  // The last column takes the rest of the width (a long message shows whole in its tooltip).
  for (int c = 0; c + 1 < table->columnCount(); ++c) table->resizeColumnToContents(c);
  table->setUpdatesEnabled(true);
}

// The width that shows every column of the table whole, its last one's text included.
int ContentWidth(const QTableWidget& table) {
  int width = 2 * table.frameWidth() + table.verticalScrollBar()->sizeHint().width();
  const QAbstractItemView& view = table;  // where the cells' width hint is public
  for (int c = 0; c < table.columnCount(); ++c)
    width += std::max(view.sizeHintForColumn(c), table.horizontalHeader()->sectionSizeHint(c));
  return width;
}

QString ObjectText(const std::string& object) {
  return object.empty() ? QStringLiteral("(без номера)") : Q(object);
}

// A record corrected by a later one says so: it is kept, never edited.
QString Outcome(const RecordInfo& r) {
  const QString text = Q(OutcomeText(r.operation, r.outcome));
  return r.superseded_by.empty() ? text : text + QStringLiteral(" (заменена)");
}

// "Версия от 01.03.2024 10:00:00 (чтение, считано)"
std::string VersionName(const RecordInfo& r) {
  return "версия от " + LocalTimeText(r.time) + " (" + std::string(OperationText(r.operation)) +
         ", " + std::string(OutcomeText(r.operation, r.outcome)) + ", станция " + r.station + ")";
}

}  // namespace

SitesDialog::SitesDialog(Registry& registry, Dialogs& dialogs, QWidget* parent, Runner run)
    : QDialog(parent), registry_(registry), dialogs_(dialogs), run_(std::move(run)) {
  setObjectName(QStringLiteral("SitesDialog"));
  setWindowTitle(QStringLiteral("Объекты"));
  auto* layout = new QVBoxLayout(this);

  auto* where = new QLabel(QStringLiteral("Реестр: ") + Q(registry_.Where()), this);
  where->setObjectName(QStringLiteral("LabelRegistry"));
  where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(where);
  auto* filter_row = new QHBoxLayout;
  auto* filter_label = new QLabel(QStringLiteral("Номер объекта:"), this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("EditSiteFilter"));
  filter_->setPlaceholderText(QStringLiteral("начало номера"));
  filter_->setClearButtonEnabled(true);
  filter_label->setBuddy(filter_);
  filter_row->addWidget(filter_label);
  filter_row->addWidget(filter_, 1);
  layout->addLayout(filter_row);

  auto* split = new QSplitter(Qt::Vertical, this);
  sites_ = MakeTable(
      split, "TableSites",
      {QStringLiteral("Объект"), QStringLiteral("Модель"), QStringLiteral("Последняя запись"),
       QStringLiteral("Результат"), QStringLiteral("Станция"), QStringLiteral("Оператор")});
  sites_->setSelectionMode(QAbstractItemView::SingleSelection);
  history_ =
      MakeTable(split, "TableHistory",
                {QStringLiteral("Дата"), QStringLiteral("Действие"), QStringLiteral("Результат"),
                 QStringLiteral("Станция"), QStringLiteral("Оператор"), QStringLiteral("Порт"),
                 QStringLiteral("Сообщение")});
  // Two versions to compare: a click and a Ctrl-click.
  history_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  split->addWidget(sites_);
  split->addWidget(history_);
  layout->addWidget(split, 1);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("LabelSitesStatus"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_);

  auto* buttons = new QHBoxLayout;
  compare_ = new QPushButton(QStringLiteral("Сравнить"), this);
  compare_->setObjectName(QStringLiteral("ButtonCompareVersions"));
  compare_->setToolTip(QStringLiteral("Выберите в истории две версии (Ctrl + щелчок)"));
  load_ = new QPushButton(QStringLiteral("Загрузить в окно"), this);
  load_->setObjectName(QStringLiteral("ButtonLoadVersion"));
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  buttons->addWidget(compare_);
  buttons->addStretch(1);
  buttons->addWidget(load_);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(filter_, &QLineEdit::textChanged, this, [this] { FillSites(); });
  connect(sites_, &QTableWidget::itemSelectionChanged, this, [this] { FillHistory(); });
  connect(history_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(history_, &QTableWidget::cellDoubleClicked, this, [this] { LoadSelected(); });
  connect(compare_, &QPushButton::clicked, this, [this] { CompareSelected(); });
  connect(load_, &QPushButton::clicked, this, [this] { LoadSelected(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  QStringList notes;
  for (const std::string& note : registry_.Notes()) notes << Q(note);
  notes_ = notes.join(QLatin1Char('\n'));
  Say({});
  resize(760, 520);
  FillSites();
}

void SitesDialog::Say(const QString& text) {
  // Nothing else to say: the registry's own notes (an unencrypted connection) stay in view.
  const QString shown = text.isEmpty() ? notes_ : text;
  status_->setText(shown);
  status_->setVisible(!shown.isEmpty());
}

void SitesDialog::Ask(std::function<void(Registry&)> work, std::function<void()> done) {
  if (!run_) {
    work(registry_);
    done();
    return;
  }
  ++asking_;
  Say(QStringLiteral("Запрос к реестру…"));
  QPointer<SitesDialog> self(this);
  run_([self, work = std::move(work), done = std::move(done)](Registry& registry) {
    work(registry);
    // Back on the window thread, through an object that outlives the dialog.
    QMetaObject::invokeMethod(
        qApp,
        [self, done] {
          if (!self) return;
          --self->asking_;
          if (self->asking_ == 0) self->Say({});
          done();
        },
        Qt::QueuedConnection);
  });
}

void SitesDialog::FillSites() {
  const uint64_t asked = ++sites_asked_;
  const std::string prefix = filter_->text().trimmed().toStdString();
  auto rows = std::make_shared<std::vector<SiteSummary>>();
  auto result = std::make_shared<StoreResult>();
  Ask([prefix, rows, result](Registry& registry) { *result = registry.Sites(prefix, *rows); },
      [this, asked, rows, result] {
        if (asked != sites_asked_) return;  // a newer prefix is on its way
        site_rows_ = std::move(*rows);
        ShowSites(*result);
      });
}

void SitesDialog::ShowSites(const StoreResult& r) {
  if (!r.ok())
    Say(QStringLiteral("Список объектов не прочитан: ") + Q(r.message));
  else if (site_rows_.empty())
    Say(filter_->text().isEmpty() ? QStringLiteral("В реестре нет объектов.")
                                  : QStringLiteral("Нет объектов с таким началом номера."));
  else if (!Asking())
    Say({});
  std::vector<QStringList> rows;
  for (const SiteSummary& s : site_rows_)
    rows.push_back({ObjectText(s.object), Q(ModelNameAndCode(s.model)),
                    Q(LocalTimeText(s.last.time)), Outcome(s.last), Q(s.last.station),
                    Q(s.last.operator_name)});
  Fill(sites_, rows);
  FitWidth();
  // The site chosen, or the one site found: its history at once.
  int select = site_rows_.size() == 1 ? 0 : -1;
  for (size_t i = 0; chosen_site_ && i < site_rows_.size(); ++i)
    if (site_rows_[i].model == chosen_site_->first && site_rows_[i].object == chosen_site_->second)
      select = static_cast<int>(i);
  if (select >= 0) {
    chosen_site_.reset();
    sites_->selectRow(select);
  } else {
    FillHistory();
  }
}

void SitesDialog::FillHistory() {
  const uint64_t asked = ++history_asked_;
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  if (selected.isEmpty()) {
    history_rows_.clear();
    return ShowHistory();
  }
  const SiteSummary site = site_rows_[static_cast<size_t>(selected.front()->row())];
  auto rows = std::make_shared<std::vector<RecordInfo>>();
  auto result = std::make_shared<StoreResult>();
  Ask([site, rows,
       result](Registry& registry) { *result = registry.History(site.model, site.object, *rows); },
      [this, asked, rows, result] {
        if (asked != history_asked_) return;
        history_rows_ = std::move(*rows);
        if (!result->ok())
          Say(QStringLiteral("История объекта не прочитана: ") + Q(result->message));
        ShowHistory();
      });
}

void SitesDialog::ShowHistory() {
  std::vector<QStringList> rows;
  // Newest first: the version a person looks for is mostly a recent one.
  for (auto it = history_rows_.rbegin(); it != history_rows_.rend(); ++it)
    rows.push_back({Q(LocalTimeText(it->time)), Q(OperationText(it->operation)), Outcome(*it),
                    Q(it->station), Q(it->operator_name), Q(it->port), Q(it->message)});
  std::reverse(history_rows_.begin(), history_rows_.end());
  Fill(history_, rows);
  if (!rows.empty()) history_->selectRow(0);
  UpdateButtons();
  FitWidth();
}

void SitesDialog::FitWidth() {
  // Wider as the tables need, within the screen; never narrower, so that it does not jump while
  // the installer goes from site to site.
  const QMargins margins = layout()->contentsMargins();
  const int wanted =
      std::max(ContentWidth(*sites_), ContentWidth(*history_)) + margins.left() + margins.right();
  if (wanted > width()) ResizeWithin(*this, {wanted, height()});
}

std::vector<int> SitesDialog::SelectedVersions() const {
  std::vector<int> rows;
  for (const QTableWidgetItem* item : history_->selectedItems())
    if (item->column() == 0 && !history_rows_[static_cast<size_t>(item->row())].image_hash.empty())
      rows.push_back(item->row());
  // Rows are newest first: the larger row is the older version.
  std::sort(rows.rbegin(), rows.rend());
  return rows;
}

void SitesDialog::UpdateButtons() {
  const std::vector<int> versions = SelectedVersions();
  const int selected = static_cast<int>(history_->selectionModel()->selectedRows().size());
  compare_->setEnabled(selected == 2 && versions.size() == 2);
  load_->setEnabled(selected == 1 && versions.size() == 1);
}

CompareDialog* SitesDialog::CompareSelected() {
  const std::vector<int> rows = SelectedVersions();
  if (rows.size() != 2) return nullptr;
  const RecordInfo older = history_rows_[static_cast<size_t>(rows[0])];
  const RecordInfo newer = history_rows_[static_cast<size_t>(rows[1])];
  auto images = std::make_shared<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>>();
  auto result = std::make_shared<StoreResult>();
  CompareDialog* shown = nullptr;
  Ask(
      [older, newer, images, result](Registry& registry) {
        // Shown with their codes: each read is kept in the registry's access log.
        *result = registry.ClearImage(older.id, CodesAccess::Show, {}, images->first);
        if (result->ok())
          *result = registry.ClearImage(newer.id, CodesAccess::Show, {}, images->second);
      },
      [this, older, newer, images, result, &shown, sync = !run_] {
        if (!result->ok()) return Say(QStringLiteral("Версия не прочитана: ") + Q(result->message));
        Compare(older, newer, images->first, images->second);
        if (sync) shown = compare_shown_;
      });
  return shown;
}

void SitesDialog::Compare(const RecordInfo& older, const RecordInfo& newer,
                          const std::vector<uint8_t>& a_bytes,
                          const std::vector<uint8_t>& b_bytes) {
  ConfigImage a, b;
  std::copy(a_bytes.begin(), a_bytes.end(), a.bytes().begin());
  std::copy(b_bytes.begin(), b_bytes.end(), b.bytes().begin());
  DiffReport report;
  report.label_a = "Раньше";
  report.label_b = "Позже";
  report.source_a = "объект " + older.object + ", " + VersionName(older);
  report.source_b = "объект " + newer.object + ", " + VersionName(newer);
  report.object_a = older.object;
  report.object_b = newer.object;
  report.date = NowText();
  auto* dialog = new CompareDialog(DiffImages(older.model, a, static_cast<int>(a_bytes.size()), b,
                                              static_cast<int>(b_bytes.size())),
                                   std::move(report), dialogs_, this);
  dialog->setWindowTitle(QStringLiteral("Сравнение версий объекта ") + ObjectText(older.object));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  compare_shown_ = dialog;
}

void SitesDialog::LoadSelected() {
  const std::vector<int> rows = SelectedVersions();
  if (rows.size() != 1) return;
  auto version =
      std::make_shared<Version>(Version{history_rows_[static_cast<size_t>(rows[0])], {}});
  auto result = std::make_shared<StoreResult>();
  Ask(
      [version, result](Registry& registry) {
        // Loaded to be written again: kept in the access log as a restore.
        *result = registry.ClearImage(version->info.id, CodesAccess::Restore, {}, version->image);
      },
      [this, version, result] {
        if (!result->ok()) return Say(QStringLiteral("Версия не прочитана: ") + Q(result->message));
        chosen_ = std::move(*version);
        accept();
      });
}

}  // namespace lovar
