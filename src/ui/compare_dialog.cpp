#include "compare_dialog.h"

#include "utf8.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "file_paths.h"
#include "files/config_file.h"
#include "fit_content.h"
#include "recent_folders.h"

namespace lovar {
namespace {

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

QString Summary(const ImageDiff& diff) {
  QStringList lines;
  if (diff.Equal())
    lines << QStringLiteral("Конфигурации совпадают (байты 0–%1).").arg(diff.extent - 1);
  else
    lines << QStringLiteral("Различающихся полей: %1.").arg(diff.fields.size());
  if (!diff.bytes.empty())
    lines << QStringLiteral("Различаются байты вне полей (смещения): %1.")
                 .arg(Q(RangesText(diff.bytes)));
  if (!diff.not_compared.empty())
    lines << QStringLiteral(
                 "Не сравнивались поля за пределами байтов 0–%1, которые хранит "
                 "файл: %2 (%3 … %4).")
                 .arg(diff.extent - 1)
                 .arg(diff.not_compared.size())
                 .arg(Q(diff.not_compared.front()->id), Q(diff.not_compared.back()->id));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

CompareDialog::CompareDialog(ImageDiff diff, DiffReport report, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), diff_(std::move(diff)), report_(std::move(report)), dialogs_(dialogs) {
  setObjectName(QStringLiteral("CompareDialog"));
  setWindowTitle(QStringLiteral("Сравнение с файлом"));
  auto* layout = new QVBoxLayout(this);
  auto* sources = new QLabel(
      QStringLiteral("%1: %2\n%3: %4")
          .arg(Q(report_.label_a), Q(report_.source_a), Q(report_.label_b), Q(report_.source_b)),
      this);
  sources->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(sources);

  table_ = new QTableWidget(static_cast<int>(diff_.fields.size()), 4, this);
  table_->setObjectName(QStringLiteral("TableDiff"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Страница"), QStringLiteral("Поле"), Q(report_.label_a), Q(report_.label_b)});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int r = 0; r < table_->rowCount(); ++r) {
    const FieldDifference& d = diff_.fields[static_cast<size_t>(r)];
    table_->setItem(r, 0, Cell(Q(PageOf(d.field->page).caption)));
    QTableWidgetItem* field = Cell(Q(d.field->caption));
    field->setToolTip(Q(d.field->id));
    table_->setItem(r, 1, field);
    table_->setItem(r, 2, Cell(Q(ShownValue(d.a))));
    table_->setItem(r, 3, Cell(Q(ShownValue(d.b))));
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setVisible(!diff_.fields.empty());
  layout->addWidget(table_, 1);

  summary_ = new QLabel(Summary(diff_), this);
  summary_->setObjectName(QStringLiteral("LabelDiffSummary"));
  summary_->setWordWrap(true);
  layout->addWidget(summary_);

  auto* buttons = new QHBoxLayout;
  auto* save = new QPushButton(QStringLiteral("Сохранить как HTML…"), this);
  save->setObjectName(QStringLiteral("ButtonSaveHtml"));
  auto* print = new QPushButton(QStringLiteral("Печать…"), this);
  print->setObjectName(QStringLiteral("ButtonPrint"));
  print->setToolTip(QStringLiteral("Открыть отчёт в браузере, чтобы напечатать его оттуда"));
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  buttons->addWidget(save);
  buttons->addWidget(print);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(save, &QPushButton::clicked, this, [this] { SaveClicked(); });
  connect(print, &QPushButton::clicked, this, [this] { PrintClicked(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  FitTable();
}

void CompareDialog::FitTable() {
  // As wide as the table's columns and as high as its rows, within the screen: a value is
  // never cut while the screen has room for it.
  int columns = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < table_->columnCount(); ++c) columns += table_->columnWidth(c);
  int rows = 2 * table_->frameWidth() + table_->horizontalHeader()->sizeHint().height() +
             table_->horizontalScrollBar()->sizeHint().height();
  for (int r = 0; r < table_->rowCount(); ++r) rows += table_->rowHeight(r);
  const QSize hint = layout()->sizeHint();
  const QMargins margins = layout()->contentsMargins();
  if (table_->isHidden()) return resize(std::max(720, hint.width()), hint.height());
  ResizeWithin(*this, {std::max({720, hint.width(), columns + margins.left() + margins.right()}),
                       std::max(480, hint.height() - table_->sizeHint().height() + rows)});
}

bool CompareDialog::SaveHtml(const QString& path) {
  const FileResult saved = SaveFileReplacing(ToPath(path), DiffHtml(report_, diff_));
  if (saved.ok()) return true;
  dialogs_.Message(QStringLiteral("Отчёт не сохранён"), Q(DescribeError(saved)), true);
  return false;
}

void CompareDialog::SaveClicked() {
  const QString path = dialogs_.SaveFileName(QStringLiteral("Сохранить отчёт о сравнении"),
                                             StartFolder(FileKind::Report, 0, QDir::currentPath()),
                                             QStringLiteral("*.html"), QStringLiteral("html"),
                                             QStringLiteral("Сравнение.html"));
  if (path.isEmpty()) return;
  NoteChosenFile(FileKind::Report, 0, path);
  SaveHtml(path);
}

void CompareDialog::PrintClicked() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
  const QString path =
      QDir(folder).filePath(QStringLiteral("lovar-сравнение-%1.html")
                                .arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss")));
  if (!SaveHtml(path)) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
    dialogs_.Message(QStringLiteral("Печать"),
                     QStringLiteral("Браузер не открылся. Отчёт сохранён в %1; откройте его и "
                                    "напечатайте оттуда.")
                         .arg(QDir::toNativeSeparators(path)),
                     true);
}

CompareDialog* CompareWithFile(QWidget* parent, PageHost& host, const QString& files_folder) {
  const int model = host.DeviceModel();
  const std::filesystem::path folder =
      PrepareDefaultFolder(ToPath(files_folder), model, /*for_save=*/false);
  const QString file =
      host.dialogs().OpenFileName(QStringLiteral("Сравнить с файлом"),
                                  StartFolder(FileKind::Configuration, model, ToQString(folder)),
                                  QStringLiteral("*.dat"), QStringLiteral("*.dat"));
  if (file.isEmpty()) return nullptr;
  NoteChosenFile(FileKind::Configuration, model, file);
  ConfigImage other;
  const FileResult loaded = LoadConfigFile(ToPath(file), model, other);
  if (!loaded.ok()) {
    const FileMessage message = MessageFor(loaded);
    host.dialogs().Message(Q(message.caption), Q(message.text), false);
    host.ShowStatus(QStringLiteral("Файл не сравнён: ") + Q(DescribeError(loaded)));
    return nullptr;
  }
  const ConfigImage& mine = host.Image();
  DiffReport report;
  report.label_a = "В окне";
  report.label_b = "В файле";
  report.source_a = "конфигурация, которую показывает окно";
  report.source_b =
      "файл " + QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()).toStdString();
  report.object_a = ObjectNumber(model, mine);
  report.object_b = ObjectNumber(model, other);
  report.date = NowText();
  auto* dialog =
      new CompareDialog(DiffImages(model, mine, ImageLength(model), other, FileImageLength(model)),
                        std::move(report), host.dialogs(), parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  host.ShowStatus(QStringLiteral("Сравнение с файлом: ") + QFileInfo(file).fileName());
  return dialog;
}

}  // namespace lovar
