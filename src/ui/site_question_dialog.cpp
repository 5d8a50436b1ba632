#include "site_question_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "model/catalog.h"
#include "page.h"
#include "utf8.h"

namespace lovar {
namespace {

// "Ленина, 5 (№ 12): совпадает 7 из 9"
QString ChoiceText(const SiteChoice& choice, bool scored) {
  QString text = (choice.name.empty() ? QStringLiteral("(без названия)") : Q(choice.name)) +
                 QStringLiteral(" (№ %1)").arg(choice.site);
  if (scored)
    text += QStringLiteral(": совпадает %1 из %2").arg(choice.score.same).arg(choice.score.of);
  return text;
}

}  // namespace

SiteQuestionDialog::SiteQuestionDialog(SiteQuestion question, int model, Dialogs& dialogs,
                                       QWidget* parent)
    : QDialog(parent), question_(std::move(question)), dialogs_(dialogs) {
  setObjectName(QStringLiteral("SiteQuestionDialog"));
  setWindowTitle(QStringLiteral("Объект прибора"));
  auto* layout = new QVBoxLayout(this);
  QString said = QStringLiteral("Считан прибор %1. К какому объекту реестра он относится?")
                     .arg(Q(ModelNameAndCode(model)));
  if (question_.best.empty())
    said +=
        QStringLiteral("\nСовпадений по ключам, кодам и телефонам с записанными объектами нет.");
  else
    said += QStringLiteral("\nПервыми — объекты, чьи ключи, коды и телефоны совпадают с прибором.");
  if (question_.bounded)
    said += QStringLiteral(" Сравнены только последние записанные объекты; остальные — поиском.");
  auto* label = new QLabel(said, this);
  label->setWordWrap(true);
  layout->addWidget(label);

  auto* search_row = new QHBoxLayout;
  auto* search_label = new QLabel(QStringLiteral("Поиск по названию:"), this);
  search_ = new QLineEdit(this);
  search_->setObjectName(QStringLiteral("EditSiteSearch"));
  search_->setPlaceholderText(QStringLiteral("часть названия или адреса"));
  search_->setClearButtonEnabled(true);
  search_label->setBuddy(search_);
  search_row->addWidget(search_label);
  search_row->addWidget(search_, 1);
  layout->addLayout(search_row);

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("ListSiteChoices"));
  layout->addWidget(list_, 1);
  more_ = new QLabel(this);
  more_->setObjectName(QStringLiteral("LabelMoreSites"));
  layout->addWidget(more_);

  auto* buttons = new QDialogButtonBox(this);
  choose_ = buttons->addButton(QStringLiteral("Выбрать"), QDialogButtonBox::AcceptRole);
  choose_->setObjectName(QStringLiteral("ButtonChooseSite"));
  new_ = buttons->addButton(QStringLiteral("Новый объект…"), QDialogButtonBox::ActionRole);
  new_->setObjectName(QStringLiteral("ButtonNewSite"));
  QPushButton* none =
      buttons->addButton(QStringLiteral("Не указывать"), QDialogButtonBox::RejectRole);
  none->setToolTip(
      QStringLiteral("Запись останется «объект не указан»; отнести её к объекту "
                     "можно позже"));
  layout->addWidget(buttons);
  // Enter chooses; the buttons' own roles would accept without an answer.
  choose_->setDefault(true);
  connect(choose_, &QPushButton::clicked, this, [this] { ChooseSelected(); });
  connect(new_, &QPushButton::clicked, this, [this] { NewSite(); });
  connect(none, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { ChooseSelected(); });
  connect(list_, &QListWidget::currentRowChanged, this,
          [this](int row) { choose_->setEnabled(row >= 0); });
  connect(search_, &QLineEdit::textChanged, this, [this] { Fill(); });
  Fill();
  resize(560, 420);
}

void SiteQuestionDialog::Fill() {
  const QString wanted = search_->text().trimmed();
  const auto fits = [&](const SiteChoice& choice) {
    return wanted.isEmpty() || Q(choice.name).contains(wanted, Qt::CaseInsensitive) ||
           QString::number(choice.site) == wanted;
  };
  list_->clear();
  const auto add = [this](const SiteChoice& choice, bool scored) {
    auto* item = new QListWidgetItem(ChoiceText(choice, scored), list_);
    item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(choice.site));
  };
  for (const SiteChoice& choice : question_.best)
    if (fits(choice)) add(choice, true);
  int listed = 0, left = 0;
  for (const SiteChoice& choice : question_.sites) {
    // The best matches are listed once, first.
    const bool best = std::any_of(question_.best.begin(), question_.best.end(),
                                  [&](const SiteChoice& b) { return b.site == choice.site; });
    if (best || !fits(choice)) continue;
    if (listed == kListed) {
      ++left;
      continue;
    }
    add(choice, false);
    ++listed;
  }
  more_->setText(left > 0 ? QStringLiteral("Ещё объектов: %1 — уточните поиск.").arg(left)
                 : list_->count() == 0 ? QStringLiteral("Таких объектов нет.")
                                       : QString());
  more_->setVisible(!more_->text().isEmpty());
  if (list_->count() > 0) list_->setCurrentRow(0);
  choose_->setEnabled(list_->currentRow() >= 0);
}

void SiteQuestionDialog::ChooseSelected() {
  QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  chosen_site_ = item->data(Qt::UserRole).toLongLong();
  chosen_name_.clear();
  for (const SiteChoice& choice : question_.sites)
    if (choice.site == chosen_site_) chosen_name_ = choice.name;
  accept();
}

void SiteQuestionDialog::NewSite() {
  QString name = search_->text().trimmed();
  if (!dialogs_.AskLine(QStringLiteral("Новый объект"),
                        QStringLiteral("Название объекта (обычно адрес):"), name))
    return;
  if (name.trimmed().isEmpty()) return;
  chosen_site_ = 0;
  chosen_name_ = name.trimmed().toStdString();
  accept();
}

}  // namespace lovar
