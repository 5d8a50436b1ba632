#include "gprs_page.h"

#include "number_editors.h"
#include "utf8.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "model/regions.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet8, GprsPage)

namespace {

// The key filters stop typing one character short of the field (39 of 50, 19 of 20).
constexpr int kInitTypedLimit = 39;
constexpr int kLoginTypedLimit = 19;

}  // namespace

GprsPage::GprsPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  // What is pasted is cut to the field's width in the image (the initialisation string is read
  // up to 60 bytes and written up to 50).
  ui_.EditInit->setMaxLength(gprs::kInitReadWidth);
  ui_.EditNameIP->setMaxLength(gprs::kLoginWidth);
  ui_.EditPasIP->setMaxLength(gprs::kLoginWidth);
  ui_.EditIPPCO->setText(QString());  // "   .   .   .   "
  editors_.Add(
      ui_.EditInit, [this](const QString& key) { return EditInitKeyPress(key); },
      [this] { EditInitExit(); });
  for (QLineEdit* login : {ui_.EditNameIP, ui_.EditPasIP})
    editors_.Add(
        login, [this, login](const QString& key) { return EditNameIPKeyPress(login, key); },
        [this, login] { EditNameIPExit(login); });
  editors_.Add(ui_.EditIPPCO, nullptr, [this] { EditIPPCOExit(); });
  editors_.Add(ui_.EditPortPCO, nullptr, [this] { EditPortPCOExit(); });
}

void GprsPage::Commit() {
  editors_.CommitFocused();
}

// ---- Editors. ----

bool GprsPage::EditInitKeyPress(const QString& key) {
  if (key.size() == 1 && IsBackspace(key.front())) return false;
  return ui_.EditInit->text().size() >= kInitTypedLimit && !ui_.EditInit->hasSelectedText();
}

void GprsPage::EditInitExit() {
  if (host().DeviceModel() != 251) return;
  host().Image().SetText(gprs::kInitOffset, gprs::kInitWriteWidth,
                         ui_.EditInit->text().toStdString());
}

bool GprsPage::EditNameIPKeyPress(QLineEdit* edit, const QString& key) {
  if (key.size() == 1 && IsBackspace(key.front())) return false;
  return edit->text().size() >= kLoginTypedLimit && !edit->hasSelectedText();
}

void GprsPage::EditNameIPExit(QLineEdit* edit) {
  if (host().DeviceModel() != 251) return;
  host().Image().SetText(Tag(edit), gprs::kLoginWidth, edit->text().toStdString());
}

void GprsPage::EditIPPCOExit() {
  if (host().DeviceModel() != 251) return;
  gprs::SetIpFromMaskedText(host().Image(), ui_.EditIPPCO->displayText().toStdString());
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
}

// ---- Display. ----

QString GprsPage::MaskedIpText(const ConfigImage& image) {
  QString text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += QLatin1Char('.');
    text += QStringLiteral("%1").arg(image[gprs::kIpOffset + i], 3, 10, QLatin1Char(' '));
  }
  return text;
}

void GprsPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (model != 251) return;
  ui_.EditInit->setText(Q(image.Text(gprs::kInitOffset, gprs::kInitReadWidth)));
  ui_.EditNameIP->setText(Q(image.Text(gprs::kUserOffset, gprs::kLoginWidth)));
  ui_.EditPasIP->setText(Q(image.Text(gprs::kPasswordOffset, gprs::kLoginWidth)));
  ui_.EditIPPCO->setText(MaskedIpText(image));
  ui_.EditPortPCO->setText(QString::number(gprs::Port(image)));
}

}  // namespace lovar
