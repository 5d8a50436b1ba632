#include "check_panel.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "qt_dialogs.h"
#include "utf8.h"

namespace lovar {
CheckPanel::CheckPanel(QWidget* parent)
    : QWidget(parent),
      summary_(new QLabel(this)),
      note_(new QLabel(this)),
      list_(new QListWidget(this)) {
  setObjectName(QStringLiteral("CheckPanel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(summary_);
  layout->addWidget(note_);
  layout->addWidget(list_);
  summary_->setWordWrap(true);
  note_->setWordWrap(true);
  note_->setObjectName(QStringLiteral("CheckNote"));
  note_->hide();
  list_->setWordWrap(true);
  list_->setTextElideMode(Qt::ElideNone);
  list_->setSpacing(3);  // the findings apart, each of several lines
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  // A click, and Enter or a double click: turning to the same field twice does no harm.
  connect(list_, &QListWidget::itemClicked, this, &CheckPanel::Choose);
  connect(list_, &QListWidget::itemActivated, this, &CheckPanel::Choose);
  SetFindings({});
}

void CheckPanel::SetFindings(std::vector<Finding> findings) {
  findings_ = std::move(findings);
  nothing_ = false;
  Show();
}

void CheckPanel::SetDrift(std::vector<Finding> drift) {
  drift_ = std::move(drift);
  if (!nothing_) Show();
}

void CheckPanel::Show() {
  list_->clear();
  const FindingCounts counts = CountFindings(findings_);
  QString summary = QStringLiteral("Проверка: ") + Q(CountsText(counts));
  if (!drift_.empty())
    summary += QStringLiteral("; изменено не через Ловар: %1").arg(drift_.size());
  summary_->setText(summary);
  for (const Finding& f : drift_) {
    auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxInformation),
                                     Q(f.text) + QStringLiteral("\n") + Q(f.hint), list_);
    item->setData(Qt::UserRole, f.fields.empty() ? QString() : Q(f.fields.front()));
    item->setToolTip(QStringLiteral("Изменено в приборе не через Ловар"));
  }
  for (const Finding& f : findings_) {
    const bool error = f.severity == Severity::Error;
    auto* item = new QListWidgetItem(
        style()->standardIcon(error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning),
        Q(SeverityText(f.severity)) + QStringLiteral(": ") + Q(f.text) +
            QStringLiteral("\nКак исправить: ") + Q(f.hint),
        list_);
    item->setData(Qt::UserRole, f.fields.empty() ? QString() : Q(f.fields.front()));
    item->setToolTip(QStringLiteral("Правило ") + Q(f.rule));
  }
}

void CheckPanel::SetNothing(const QString& why) {
  findings_.clear();
  nothing_ = true;
  list_->clear();
  summary_->setText(QStringLiteral("Проверка: ") + why);
}

void CheckPanel::SetNote(const QString& note) {
  note_->setText(QStringLiteral("Внимание: ") + note);
  note_->setVisible(!note.isEmpty());
}

void CheckPanel::Choose(QListWidgetItem* item) {
  const QString field = item != nullptr ? item->data(Qt::UserRole).toString() : QString();
  if (!field.isEmpty()) emit FieldChosen(field);
}

QString WriteDespiteErrorsText(const std::vector<Finding>& findings) {
  QStringList lines;
  int errors = 0;
  for (const Finding& f : findings) {
    if (f.severity != Severity::Error) continue;
    if (++errors <= kListedErrors) lines << QStringLiteral("• ") + Q(f.text);
  }
  if (errors > kListedErrors)
    lines << QStringLiteral("…и ещё %1 (все — на панели «Проверка»)").arg(errors - kListedErrors);
  return QStringLiteral(
             "Проверка нашла ошибки (%1): с ними объект может остаться без защиты "
             "или не передать извещения.\n\n")
             .arg(errors) +
         lines.join(QLatin1Char('\n')) +
         QStringLiteral("\n\nЗаписать конфигурацию в УО всё равно?");
}

std::unique_ptr<QMessageBox> WriteDespiteErrorsBox(const std::vector<Finding>& findings) {
  auto box = QtDialogs::MakeBox(QMessageBox::Warning, QStringLiteral("Записать в УО"),
                                WriteDespiteErrorsText(findings), QMessageBox::NoButton);
  box->addButton(QStringLiteral("Записать всё равно"), QMessageBox::AcceptRole);
  QPushButton* back = box->addButton(QStringLiteral("Вернуться"), QMessageBox::RejectRole);
  box->setDefaultButton(back);  // Enter returns to the pages; writing takes a deliberate choice
  box->setEscapeButton(back);
  return box;
}

bool AskWriteDespiteErrors(const std::vector<Finding>& findings) {
  const std::unique_ptr<QMessageBox> box = WriteDespiteErrorsBox(findings);
  box->exec();
  return box->clickedButton() != nullptr && box->clickedButton() != box->escapeButton();
}

}  // namespace lovar
