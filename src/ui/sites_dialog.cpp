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
#include <utility>

#include "app_settings.h"
#include "card_dialog.h"
#include "compare_dialog.h"
#include "files/diff_report.h"
#include "fit_content.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "recording/site_match.h"
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
  auto* filter_label = new QLabel(QStringLiteral("Поиск:"), this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("EditSiteFilter"));
  filter_->setPlaceholderText(
      QStringLiteral("начало номера объекта, часть названия, заказчика, телефона или договора"));
  filter_->setClearButtonEnabled(true);
  filter_label->setBuddy(filter_);
  filter_row->addWidget(filter_label);
  filter_row->addWidget(filter_, 1);
  layout->addLayout(filter_row);

  auto* split = new QSplitter(Qt::Vertical, this);
  sites_ = MakeTable(
      split, "TableSites",
      {QStringLiteral("Объект"), QStringLiteral("Модель"), QStringLiteral("Название"),
       QStringLiteral("Заказчик"), QStringLiteral("Состояние"), QStringLiteral("Последняя запись"),
       QStringLiteral("Результат"), QStringLiteral("Станция"), QStringLiteral("Техник")});
  sites_->setSelectionMode(QAbstractItemView::SingleSelection);
  card_ = new QLabel(split);
  card_->setObjectName(QStringLiteral("LabelCard"));
  card_->setWordWrap(true);
  card_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  card_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  history_ =
      MakeTable(split, "TableHistory",
                {QStringLiteral("Дата"), QStringLiteral("Действие"), QStringLiteral("Результат"),
                 QStringLiteral("Станция"), QStringLiteral("Оператор"), QStringLiteral("Порт"),
                 QStringLiteral("Сообщение")});
  // Two versions to compare: a click and a Ctrl-click.
  history_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  split->addWidget(sites_);
  split->addWidget(card_);
  split->addWidget(history_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 0);
  split->setStretchFactor(2, 3);
  layout->addWidget(split, 1);
  record_ = new QLabel(this);
  record_->setObjectName(QStringLiteral("LabelRecord"));
  record_->setWordWrap(true);
  record_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(record_);

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
  card_button_ = new QPushButton(QStringLiteral("Карточка…"), this);
  card_button_->setObjectName(QStringLiteral("ButtonEditCard"));
  card_button_->setToolTip(QStringLiteral("Изменить карточку объекта (прежние версии хранятся)"));
  note_ = new QPushButton(QStringLiteral("Примечание…"), this);
  note_->setObjectName(QStringLiteral("ButtonAddNote"));
  note_->setToolTip(QStringLiteral("Добавить примечание к выбранной записи"));
  assign_ = new QPushButton(QStringLiteral("Отнести к объекту…"), this);
  assign_->setObjectName(QStringLiteral("ButtonAssignRecords"));
  assign_->setToolTip(QStringLiteral("Отнести выбранные записи к объекту реестра"));
  buttons->addWidget(compare_);
  buttons->addWidget(card_button_);
  buttons->addWidget(note_);
  buttons->addWidget(assign_);
  buttons->addStretch(1);
  buttons->addWidget(load_);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(filter_, &QLineEdit::textChanged, this, [this] {
    last_change_.clear();  // a new search: the word of a change before it is done with
    ShowSites({});
  });
  connect(sites_, &QTableWidget::itemSelectionChanged, this, [this] {
    ShowCard();
    FillHistory();
  });
  connect(history_, &QTableWidget::itemSelectionChanged, this, [this] {
    UpdateButtons();
    ShowRecord();
  });
  connect(card_button_, &QPushButton::clicked, this, [this] { EditCard(); });
  connect(note_, &QPushButton::clicked, this, [this] { AddNote(); });
  connect(assign_, &QPushButton::clicked, this, [this] { AssignSelected(); });
  connect(history_, &QTableWidget::cellDoubleClicked, this, [this] { LoadSelected(); });
  connect(compare_, &QPushButton::clicked, this, [this] { CompareSelected(); });
  connect(load_, &QPushButton::clicked, this, [this] { LoadSelected(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  QStringList notes;
  for (const std::string& note : registry_.Notes()) notes << Q(note);
  notes_ = notes.join(QLatin1Char('\n'));
  Say({});
  resize(900, 600);
  FillSites();
}

void SitesDialog::Say(const QString& text) {
  // Nothing else to say: the last change's word, else the registry's own notes (an unencrypted
  // connection) stay in view.
  const QString shown = !text.isEmpty() ? text : !last_change_.isEmpty() ? last_change_ : notes_;
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
  auto rows = std::make_shared<std::vector<SiteEntry>>();
  auto unplaced = std::make_shared<std::vector<RecordInfo>>();
  auto result = std::make_shared<StoreResult>();
  Ask(
      [rows, unplaced, result](Registry& registry) {
        *result = registry.SiteList(*rows);
        if (result->ok()) *result = registry.SiteHistory(0, *unplaced);
      },
      [this, asked, rows, unplaced, result] {
        if (asked != sites_asked_) return;  // read again since
        all_sites_ = std::move(*rows);
        unplaced_ = static_cast<int>(unplaced->size());
        ShowSites(*result);
      });
}

std::vector<const SiteEntry*> SitesDialog::Fitting() const {
  const QString wanted = filter_->text().trimmed();
  const std::string prefix = wanted.toStdString();
  std::vector<const SiteEntry*> fitting;
  for (const SiteEntry& site : all_sites_) {
    const SiteCard& c = site.card;
    if (wanted.isEmpty() || site.last.object.rfind(prefix, 0) == 0 ||
        Q(c.name).contains(wanted, Qt::CaseInsensitive) ||
        Q(c.customer).contains(wanted, Qt::CaseInsensitive) ||
        Q(c.phones).contains(wanted, Qt::CaseInsensitive) ||
        Q(c.contract).contains(wanted, Qt::CaseInsensitive))
      fitting.push_back(&site);
  }
  return fitting;
}

void SitesDialog::ShowSites(const StoreResult& r) {
  const std::vector<const SiteEntry*> fitting = Fitting();
  const bool all = filter_->text().trimmed().isEmpty();
  if (!r.ok())
    Say(QStringLiteral("Список объектов не прочитан: ") + Q(r.message));
  else if (fitting.empty() && (!all || unplaced_ == 0))
    Say(all ? QStringLiteral("В реестре нет объектов.") : QStringLiteral("Нет таких объектов."));
  else if (static_cast<int>(fitting.size()) > kShown)
    Say(QStringLiteral("Показаны первые %1 объектов из %2: уточните поиск.")
            .arg(kShown)
            .arg(fitting.size()));
  else if (!Asking())
    Say({});
  site_rows_.clear();
  std::vector<QStringList> rows;
  for (const SiteEntry* s : fitting) {
    if (static_cast<int>(rows.size()) == kShown) break;
    site_rows_.push_back(*s);
    const bool recorded = !s->last.id.empty();
    rows.push_back({recorded ? ObjectText(s->last.object) : QString(),
                    recorded ? Q(ModelNameAndCode(s->last.model)) : QString(), Q(s->card.name),
                    Q(s->card.customer), CardDialog::StatusText(s->card.status),
                    recorded ? Q(LocalTimeText(s->last.time)) : QString(),
                    recorded ? Outcome(s->last) : QString(), Q(s->last.station),
                    Q(s->last.technician)});
  }
  // The records of no site, to be put under one: listed while nothing is searched.
  if (all && unplaced_ > 0) {
    site_rows_.push_back({});
    rows.push_back({QStringLiteral("(объект не указан)"), QString(),
                    QStringLiteral("записей: %1").arg(unplaced_)});
  }
  Fill(sites_, rows);
  FitWidth();
  // The site chosen, or the one site found: its history at once.
  int select = site_rows_.size() == 1 ? 0 : -1;
  for (size_t i = 0; chosen_site_ && i < site_rows_.size(); ++i)
    if (site_rows_[i].last.model == chosen_site_->first &&
        site_rows_[i].last.object == chosen_site_->second && !site_rows_[i].last.id.empty())
      select = static_cast<int>(i);
  for (size_t i = 0; reselect_ >= 0 && i < site_rows_.size(); ++i)
    if (site_rows_[i].card.site == reselect_) select = static_cast<int>(i);
  reselect_ = -1;
  if (select >= 0) {
    chosen_site_.reset();
    sites_->selectRow(select);
  } else {
    ShowCard();
    FillHistory();
  }
}

void SitesDialog::ShowCard() {
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  const SiteEntry* site =
      selected.isEmpty() ? nullptr : &site_rows_[static_cast<size_t>(selected.front()->row())];
  card_button_->setEnabled(site != nullptr && site->card.site != 0);
  if (site == nullptr || site->card.site == 0) {
    card_->setText(site == nullptr ? QString()
                                   : QStringLiteral("Записи без объекта: выберите их и нажмите "
                                                    "«Отнести к объекту…»."));
    card_->setVisible(site != nullptr);
    return;
  }
  const SiteCard& c = site->card;
  QStringList parts{QStringLiteral("№ %1 «%2»").arg(c.site).arg(Q(c.name))};
  const auto add = [&parts](const char* label, const std::string& value) {
    if (!value.empty()) parts << QString::fromUtf8(label) + Q(value);
  };
  add("заказчик: ", c.customer);
  add("телефоны: ", c.phones);
  add("договор: ", c.contract);
  parts << QStringLiteral("состояние: ") + CardDialog::StatusText(c.status);
  add("установлен: ", c.installed);
  add("примечание: ", c.remark);
  QString text = parts.join(QStringLiteral("; "));
  if (c.at != 0)
    text += QStringLiteral(" (карточка от ") + Q(LocalTimeText(c.at)) +
            (c.technician.empty() ? QString() : QStringLiteral(", ") + Q(c.technician)) +
            QLatin1Char(')');
  card_->setText(text);
  card_->setVisible(true);
}

void SitesDialog::FillHistory() {
  const uint64_t asked = ++history_asked_;
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  if (selected.isEmpty()) {
    history_rows_.clear();
    return ShowHistory();
  }
  const int64_t site = site_rows_[static_cast<size_t>(selected.front()->row())].card.site;
  auto rows = std::make_shared<std::vector<RecordInfo>>();
  auto notes = std::make_shared<std::vector<RecordNote>>();
  auto result = std::make_shared<StoreResult>();
  Ask(
      [site, rows, notes, result](Registry& registry) {
        *result = registry.SiteHistory(site, *rows);
        if (result->ok()) *result = registry.SiteNotes(site, *notes);
      },
      [this, asked, rows, notes, result] {
        if (asked != history_asked_) return;
        history_rows_ = std::move(*rows);
        notes_shown_ = std::move(*notes);
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
  ShowRecord();
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

// ---- What the dialog adds to the registry. ----

void SitesDialog::ShowRecord() {
  const QModelIndexList rows = history_->selectionModel()->selectedRows();
  note_->setEnabled(rows.size() == 1);
  assign_->setEnabled(!rows.isEmpty());
  if (rows.size() != 1) {
    record_->clear();
    record_->hide();
    return;
  }
  const RecordInfo& r = history_rows_[static_cast<size_t>(rows.front().row())];
  QStringList parts{QStringLiteral("Техник: ") +
                    (r.technician.empty() ? QStringLiteral("не указан") : Q(r.technician))};
  if (!r.note.empty()) parts << QStringLiteral("причина: ") + Q(r.note);
  for (const RecordNote& n : notes_shown_)
    if (n.record == r.id)
      parts << QStringLiteral("примечание ") + Q(LocalTimeText(n.at)) +
                   (n.technician.empty() ? QString() : QStringLiteral(", ") + Q(n.technician)) +
                   QStringLiteral(": ") + Q(n.text);
  record_->setText(parts.join(QStringLiteral("; ")));
  record_->show();
}

std::vector<std::string> SitesDialog::SelectedRecords() const {
  std::vector<std::string> ids;
  for (const QModelIndex& row : history_->selectionModel()->selectedRows())
    ids.push_back(history_rows_[static_cast<size_t>(row.row())].id);
  return ids;
}

void SitesDialog::Change(std::function<StoreResult(Registry&)> change, const QString& kept) {
  auto result = std::make_shared<StoreResult>();
  Ask([change = std::move(change), result](Registry& registry) { *result = change(registry); },
      [this, result, kept] {
        // Said once the list is read again (its reading would clear a word said now).
        last_change_ = result->ok() ? kept : QStringLiteral("Не сохранено: ") + Q(result->message);
        FillSites();
      });
}

void SitesDialog::EditCard() {
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  if (selected.isEmpty()) return;
  const SiteEntry& site = site_rows_[static_cast<size_t>(selected.front()->row())];
  if (site.card.site == 0) return;
  std::optional<SiteCard> edited;
  if (card_edit) {
    edited = card_edit(site.card);
  } else {
    CardDialog dialog(site.card, this);
    if (dialog.exec() == QDialog::Accepted) edited = dialog.card();
  }
  if (!edited) return;
  edited->site = site.card.site;
  edited->technician = TechnicianSetting().toStdString();
  reselect_ = site.card.site;
  const SiteCard card = *edited;
  Change([card](Registry& registry) { return registry.AddCard(card); },
         QStringLiteral("Карточка объекта № %1 сохранена").arg(card.site));
}

void SitesDialog::AddNote() {
  const std::vector<std::string> records = SelectedRecords();
  if (records.size() != 1) return;
  QString text;
  if (!dialogs_.AskLine(
          QStringLiteral("Примечание"),
          QStringLiteral("Примечание к записи (запишется с вашим именем и временем):"), text) ||
      text.trimmed().isEmpty())
    return;
  const std::string record = records.front();
  const std::string note = text.trimmed().toStdString();
  const std::string technician = TechnicianSetting().toStdString();
  reselect_ = CurrentSite();
  Change([record, note,
          technician](Registry& registry) { return registry.AddNote(record, note, technician); },
         QStringLiteral("Примечание добавлено"));
}

void SitesDialog::AssignSelected() {
  const std::vector<std::string> records = SelectedRecords();
  if (records.empty()) return;
  QString wanted;
  if (!dialogs_.AskLine(QStringLiteral("Отнести к объекту"),
                        QStringLiteral("Объект реестра: его № или название"), wanted) ||
      wanted.trimmed().isEmpty())
    return;
  const std::string site_named = wanted.trimmed().toStdString();
  const std::string technician = TechnicianSetting().toStdString();
  reselect_ = CurrentSite();
  Change(
      [records, site_named, technician](Registry& registry) {
        int64_t site = 0;
        const StoreResult found = registry.FindSite(site_named, site);
        return found.ok() ? FileUnderSite(registry, records, site, technician) : found;
      },
      QStringLiteral("Записей отнесено к объекту «%1»: %2")
          .arg(wanted.trimmed())
          .arg(records.size()));
}

int64_t SitesDialog::CurrentSite() const {
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  return selected.isEmpty() ? -1
                            : site_rows_[static_cast<size_t>(selected.front()->row())].card.site;
}

}  // namespace lovar
