#include "gprs_page.h"

#include "ip_edit.h"
#include "number_editors.h"
#include "utf8.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "model/regions.h"
#include "typing_limits.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet8, GprsPage)

GprsPage::GprsPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  // Typing and pasting stop at the field's width.
  ui_.EditInit->setMaxLength(gprs::kInitWriteWidth);
  ui_.EditNameIP->setMaxLength(gprs::kLoginWidth);
  ui_.EditPasIP->setMaxLength(gprs::kLoginWidth);
  // The page's fields as the first model that has the page holds them.
  ShowRangesInToolTips(tab, FirstModelWith(FieldPage::Gprs));
  editors_.Add(ui_.EditInit, nullptr, [this] { EditInitExit(); });
  for (QLineEdit* login : {ui_.EditNameIP, ui_.EditPasIP})
    editors_.Add(login, nullptr, [this, login] { EditNameIPExit(login); });
  editors_.Add(
      ui_.EditIPPCO, [this](const QString& key) { return IpEditKey(ui_.EditIPPCO, key); },
      [this] { EditIPPCOExit(); });
  editors_.Add(ui_.EditPortPCO, nullptr, [this] { EditPortPCOExit(); });
  editors_.SayLimits([this](QWidget* control, const QString& limit) {
    SayTypingLimit(this->host(), control, limit);
  });
}

void GprsPage::Commit() {
  editors_.CommitFocused();
}

const Field* GprsPage::FieldOf(const QObject* control) const {
  return ControlField(host().DeviceModel(), control);
}

// ---- Editors. ----

void GprsPage::EditInitExit() {
  // At most 50 characters and always their zero byte, inside the 60 bytes the display reads, so
  // the next display shows what was typed and no older bytes behind it.
  if (const Field* f = FieldOf(ui_.EditInit)) EditText(host(), ui_.EditInit, *f);
}

void GprsPage::EditNameIPExit(QLineEdit* edit) {
  if (const Field* f = FieldOf(edit)) EditText(host(), edit, *f);
}

void GprsPage::EditIPPCOExit() {
  const Field* f = FieldOf(ui_.EditIPPCO);
  if (f == nullptr) return;
  QLineEdit* edit = ui_.EditIPPCO;
  ConfigImage& image = host().Image();
  if (std::string why; StoreIp(*f, image, edit->text().toStdString(), why)) {
    edit->setText(Q(FieldText(*f, image)));
    return;
  }
  // Refused: the address stays as it was, the text as typed, so it can be mended.
  host().dialogs().Message(
      QStringLiteral("IP адрес"),
      QStringLiteral("«%1» — не IP адрес. Введите четыре числа от 0 до 255 через точку, "
                     "например 192.168.1.10. Адрес в конфигурации не изменён: %2.")
          .arg(edit->text(), Q(FieldText(*f, image))),
      true);
}

void GprsPage::EditPortPCOExit() {
  // An empty text stores 0; a text that is no integer is refused and the port stays.
  if (const Field* f = FieldOf(ui_.EditPortPCO)) EditNumber(host(), ui_.EditPortPCO, *f);
}

// ---- Display. ----

void GprsPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (!ModelHas(model, FieldPage::Gprs)) return;
  // The texts up to their terminators (the initialisation string up to all its 60 bytes), the
  // port in decimal, the address as four numbers joined by ".".
  for (QLineEdit* edit : {ui_.EditInit, ui_.EditNameIP, ui_.EditPasIP, ui_.EditPortPCO})
    if (const Field* f = ControlField(model, edit)) ShowField(edit, *f, image);
  if (const Field* f = ControlField(model, ui_.EditIPPCO))
    ui_.EditIPPCO->setText(Q(FieldText(*f, image)));
}

}  // namespace lovar
