#include "archive_dialog.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "files/archive.h"

namespace lovar {

ArchiveDialog::ArchiveDialog(const QString& folder, const std::vector<ArchivedRow>& rows,
                             QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ArchiveDialog"));
  setWindowTitle(QStringLiteral("Архив"));
  auto* layout = new QVBoxLayout(this);
  auto* where = new QLabel(
      rows.empty()
          ? QStringLiteral("В архиве нет конфигураций. Каждая конфигурация, полностью считанная "
                           "из УО, сохраняется в папку\n%1")
                .arg(QDir::toNativeSeparators(folder))
          : QStringLiteral("Конфигурации, считанные из УО (хранятся %1 последних), в папке\n%2")
                .arg(kArchiveKeep)
                .arg(QDir::toNativeSeparators(folder)),
      this);
  where->setObjectName(QStringLiteral("LabelArchiveFolder"));
  where->setWordWrap(true);
  where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(where);

  table_ = new QTableWidget(static_cast<int>(rows.size()), 3, this);
  table_->setObjectName(QStringLiteral("TableArchive"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Дата"), QStringLiteral("Прибор"), QStringLiteral("Номер объекта")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (int r = 0; r < table_->rowCount(); ++r) {
    const ArchivedRow& row = rows[static_cast<size_t>(r)];
    int c = 0;
    for (const QString& text : {row.when, row.model, row.object}) {
      auto* item = new QTableWidgetItem(text);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      table_->setItem(r, c++, item);
    }
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setVisible(!rows.empty());
  layout->addWidget(table_, 1);

  auto* buttons = new QHBoxLayout;
  load_ = new QPushButton(QStringLiteral("Загрузить"), this);
  load_->setObjectName(QStringLiteral("ButtonLoadArchived"));
  load_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
  buttons->addStretch(1);
  buttons->addWidget(load_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(load_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(table_, &QTableWidget::cellDoubleClicked, this, &QDialog::accept);
  connect(table_, &QTableWidget::itemSelectionChanged, this,
          [this] { load_->setEnabled(chosen() >= 0); });
  if (!rows.empty()) table_->selectRow(0);
  load_->setEnabled(chosen() >= 0);
  resize(480, 360);
}

int ArchiveDialog::chosen() const {
  const QList<QTableWidgetItem*> selected = table_->selectedItems();
  return selected.isEmpty() ? -1 : selected.front()->row();
}

}  // namespace lovar
