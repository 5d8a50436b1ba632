#include "gprs_page.h"

#include "ip_edit.h"
#include "number_editors.h"
#include "utf8.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "model/regions.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet8, GprsPage)

GprsPage::GprsPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  // Typing and pasting stop at the field's width.
  ui_.EditInit->setMaxLength(gprs::kInitWriteWidth);
  ui_.EditNameIP->setMaxLength(gprs::kLoginWidth);
  ui_.EditPasIP->setMaxLength(gprs::kLoginWidth);
  editors_.Add(ui_.EditInit, nullptr, [this] { EditInitExit(); });
  for (QLineEdit* login : {ui_.EditNameIP, ui_.EditPasIP})
    editors_.Add(login, nullptr, [this, login] { EditNameIPExit(login); });
  editors_.Add(
      ui_.EditIPPCO, [this](const QString& key) { return IpEditKey(ui_.EditIPPCO, key); },
      [this] { EditIPPCOExit(); });
  editors_.Add(ui_.EditPortPCO, nullptr, [this] { EditPortPCOExit(); });
}

void GprsPage::Commit() {
  editors_.CommitFocused();
}

// ---- Editors. ----

void GprsPage::EditInitExit() {
  if (host().DeviceModel() != 251) return;
  // At most 50 characters and always their zero byte, inside the 60 bytes the display reads, so
  // the next display shows what was typed and no older bytes behind it.
  StoreText(host(), ui_.EditInit, gprs::kInitOffset, gprs::kInitWriteWidth + 1);
}

void GprsPage::EditNameIPExit(QLineEdit* edit) {
  if (host().DeviceModel() != 251) return;
  StoreText(host(), edit, Tag(edit), gprs::kLoginWidth);
}

void GprsPage::EditIPPCOExit() {
  if (host().DeviceModel() != 251) return;
  QLineEdit* edit = ui_.EditIPPCO;
  ConfigImage& image = host().Image();
  if (gprs::SetIpText(image, edit->text().toStdString())) {
    edit->setText(Q(gprs::IpText(image)));
    return;
  }
  // Refused: the address stays as it was, the text as typed, so it can be mended.
  host().dialogs().Message(
      QStringLiteral("IP адрес"),
      QStringLiteral("«%1» — не IP адрес. Введите четыре числа от 0 до 255 через точку, "
                     "например 192.168.1.10. Адрес в конфигурации не изменён: %2.")
          .arg(edit->text(), Q(gprs::IpText(image))),
      true);
}

void GprsPage::EditPortPCOExit() {
  if (host().DeviceModel() != 251) return;
  const QString text = ui_.EditPortPCO->text();
  int value = 0;
  if (!text.isEmpty() && !ParseInteger(text, value)) {
    ReportNotAnInteger(host(), text);  // the stored port stays as it was
    return;
  }
  gprs::SetPort(host().Image(), static_cast<uint16_t>(value & 0xFFFF));
  ui_.EditPortPCO->setText(QString::number(gprs::Port(host().Image())));  // what is stored
}

// ---- Display. ----

void GprsPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (model != 251) return;
  ui_.EditInit->setText(Q(image.Text(gprs::kInitOffset, gprs::kInitReadWidth)));
  ui_.EditNameIP->setText(Q(image.Text(gprs::kUserOffset, gprs::kLoginWidth)));
  ui_.EditPasIP->setText(Q(image.Text(gprs::kPasswordOffset, gprs::kLoginWidth)));
  ui_.EditIPPCO->setText(Q(gprs::IpText(image)));
  ui_.EditPortPCO->setText(QString::number(gprs::Port(image)));
}

}  // namespace lovar
