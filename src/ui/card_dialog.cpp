#include "card_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "utf8.h"

namespace lovar {

QString CardDialog::StatusText(const std::string& status) {
  if (status == "active") return QStringLiteral("действует");
  if (status == "suspended") return QStringLiteral("приостановлен");
  if (status == "removed") return QStringLiteral("снят");
  return Q(status);
}

CardDialog::CardDialog(const SiteCard& card, QWidget* parent) : QDialog(parent), card_(card) {
  setObjectName(QStringLiteral("CardDialog"));
  setWindowTitle(QStringLiteral("Карточка объекта № %1").arg(card.site));
  const auto line = [this](const std::string& text, const char* name) {
    auto* edit = new QLineEdit(Q(text), this);
    edit->setObjectName(QLatin1String(name));
    return edit;
  };
  name_ = line(card.name, "EditCardName");
  name_->setPlaceholderText(QStringLiteral("обычно адрес"));
  customer_ = line(card.customer, "EditCardCustomer");
  phones_ = line(card.phones, "EditCardPhones");
  phones_->setPlaceholderText(QStringLiteral("через запятую"));
  contract_ = line(card.contract, "EditCardContract");
  installed_ = line(card.installed, "EditCardInstalled");
  installed_->setPlaceholderText(QStringLiteral("дд.мм.гггг"));
  status_ = new QComboBox(this);
  status_->setObjectName(QStringLiteral("ComboCardStatus"));
  for (std::string_view code : kSiteStatuses) {
    status_->addItem(StatusText(std::string(code)), Q(std::string(code)));
    if (code == card.status) status_->setCurrentIndex(status_->count() - 1);
  }
  remark_ = new QPlainTextEdit(Q(card.remark), this);
  remark_->setObjectName(QStringLiteral("EditCardRemark"));
  remark_->setTabChangesFocus(true);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Название:"), name_);
  form->addRow(QStringLiteral("Заказчик:"), customer_);
  form->addRow(QStringLiteral("Телефоны:"), phones_);
  form->addRow(QStringLiteral("Договор или счёт:"), contract_);
  form->addRow(QStringLiteral("Состояние:"), status_);
  form->addRow(QStringLiteral("Установлен:"), installed_);
  form->addRow(QStringLiteral("Примечание:"), remark_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  QPushButton* keep = buttons->addButton(QStringLiteral("Сохранить"), QDialogButtonBox::AcceptRole);
  keep->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (!name_->text().trimmed().isEmpty()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A card without a name is no card: the registry refuses it, so it cannot be kept here.
  connect(name_, &QLineEdit::textChanged, this,
          [this, keep] { keep->setEnabled(!name_->text().trimmed().isEmpty()); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(480, sizeHint().height());
}

SiteCard CardDialog::card() const {
  SiteCard card = card_;
  card.name = name_->text().trimmed().toStdString();
  card.customer = customer_->text().trimmed().toStdString();
  card.phones = phones_->text().trimmed().toStdString();
  card.contract = contract_->text().trimmed().toStdString();
  card.status = status_->currentData().toString().toStdString();
  card.installed = installed_->text().trimmed().toStdString();
  card.remark = remark_->toPlainText().trimmed().toStdString();
  return card;
}

}  // namespace lovar
