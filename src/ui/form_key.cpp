#include "form_key.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>

#include "fit_content.h"
#include "form1.h"
#include "port_switch.h"
#include "serial/link_error.h"
#include "serial/net_address.h"
#include "ui_form_key.h"
#include "utf8.h"
#include "window_frame.h"

namespace lovar {

TFormKey::TFormKey(Dialogs& dialogs, std::vector<std::string> ports)
    : ui_(std::make_unique<Ui::TFormKey>()), dialogs_(dialogs) {
  ui_->setupUi(this);
  caption_ = windowTitle();
  on_program_end = [] { QCoreApplication::quit(); };
  connect(ui_->ButtonFind, &QPushButton::clicked, this, [this] { ButtonFindClick(); });
  // Enter in the port box searches, as "Поиск" does.
  connect(ui_->ComboBoxComs->lineEdit(), &QLineEdit::returnPressed, this, [this] {
    if (ui_->ButtonFind->isEnabled()) ButtonFindClick();
  });
  connect(ui_->ButtonCreate, &QPushButton::clicked, this, [this] { ButtonCreateClick(); });
  connect(ui_->ListBoxDevice, &QListWidget::itemClicked, this, [this] { ListBoxDeviceClick(); });
  connect(ui_->ListBoxDevice->model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int, int last) {
            const QString line = ui_->ListBoxDevice->item(last)->text();
            // A network port's line ("socket://…: Ловар-М Версия 2.2") is shown whole.
            WidenToShow(*this, *ui_->ListBoxDevice->viewport(),
                        ui_->ListBoxDevice->fontMetrics().horizontalAdvance(line));
            ShowStatus(QStringLiteral("Найден: %1. Нажмите «Старт».").arg(line));
          });
  FormCreate(std::move(ports));
  resize(258, 190);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TFormKey::~TFormKey() = default;

void TFormKey::FormCreate(std::vector<std::string> ports) {
  // The serial ports first, as the system lists them; the first becomes the text.
  for (const std::string& name : ports) ui_->ComboBoxComs->addItem(QString::fromStdString(name));
  for (const std::string& name : PortSwitch::DemoNames())
    ui_->ComboBoxComs->addItem(QString::fromStdString(name));
  ui_->ComboBoxComs->setCurrentIndex(0);
}

bool TFormKey::ChooseDemo(int model) {
  const int index =
      ui_->ComboBoxComs->findText(QString::fromStdString(PortSwitch::DemoName(model)));
  if (index < 0) return false;
  ui_->ComboBoxComs->setCurrentIndex(index);
  return true;
}

void TFormKey::ShowStatus(const QString& text) {
  ui_->LabelStatus->setText(text);
}

void TFormKey::OfferFileAfterRead(const QString& file) {
  file_to_offer_ = file;
  setWindowTitle(QStringLiteral("%1 — %2").arg(caption_, QFileInfo(file).fileName()));
  ResizeWithin(*this, {std::max(width(), TitleWidth(*this, windowTitle())), height()});
  if (!isVisible()) CentreOnScreen(*this);
}

void TFormKey::FileOffered() {
  file_to_offer_.clear();
  setWindowTitle(caption_);
}

bool TFormKey::IsPortName(const QString& text) {
  // Windows port names begin with "C" ("COM3"), POSIX ones are device paths.
  return text.startsWith(QLatin1Char('C')) || text.startsWith(QLatin1Char('/')) ||
         PortSwitch::DemoModel(text.toStdString()).has_value() ||
         IsNetworkPortName(text.toStdString());
}

QString TFormKey::ServerOf(const QString& text) {
  const std::optional<NetAddress> address = ParseNetAddress(text.toStdString());
  if (!address) return text;
  const QString host = Q(address->host);
  return QStringLiteral("%1:%2")
      .arg(host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host)
      .arg(address->port);
}

void TFormKey::KeepTypedPort(const QString& text) {
  QComboBox* box = ui_->ComboBoxComs;
  if (box->findText(text) >= 0) return;
  // Before the demo entries, after the ports the system lists.
  int at = box->count();
  while (at > 0 && PortSwitch::DemoModel(box->itemText(at - 1).toStdString())) --at;
  box->insertItem(at, text);
  box->setCurrentIndex(at);
  WidenToShow(*this, *box->lineEdit(), box->fontMetrics().horizontalAdvance(text));
}

void TFormKey::SetSearchEnabled(bool enabled) {
  ui_->ButtonFind->setEnabled(enabled);
  ui_->ComboBoxComs->setEnabled(enabled);
}

void TFormKey::ButtonFindClick() {
  if (!main_window_ready_) {
    if (!form1_) {
      form1_ = std::make_unique<TForm1>(*this, dialogs_);
      if (!program_folder_.isEmpty()) form1_->SetProgramFolder(program_folder_);
    }
    form1_->hide();
    main_window_ready_ = true;
  }
  Session& session = form1_->session();
  // The list names the devices this search finds, nothing older; "Старт" comes with a line.
  ui_->ListBoxDevice->clear();
  ui_->ButtonCreate->hide();
  ui_->ProgressBar1->setValue(0);
  PortInterface& port = form1_->Cport1();
  const QString text = ui_->ComboBoxComs->currentText();
  if (text.isEmpty()) {
    ShowStatus(QStringLiteral("Выберите порт из списка."));
  } else if (!IsPortName(text)) {
    ShowStatus(QStringLiteral("«%1» — не имя порта. Выберите порт из списка.").arg(text));
  } else {
    const std::string name = text.toStdString();
    // Another port is another device: the changes in the main window could no longer reach
    // the one they were made for. Kept, they are shown again.
    if (!port.NameDevice().empty() && name != port.NameDevice() && !form1_->MayLoseChanges()) {
      form1_->show();
      hide();
      form1_->ShowStatus(
          QStringLiteral("Поиск на %1 не начат: изменения остались в окне.").arg(text));
      return;
    }
    KeepTypedPort(text);
    // A network port may take seconds to connect: the window goes on painting and says so.
    const bool network = IsNetworkPortName(name);
    if (network) {
      ShowStatus(QStringLiteral("Соединение с %1…").arg(ServerOf(text)));
      SetSearchEnabled(false);
    }
    show();
    form1_->hide();
    session.OpenAsync(name, [this, text, network](bool open) {
      if (network) SetSearchEnabled(true);
      if (open) {
        ShowStatus(QStringLiteral("Поиск прибора на %1…").arg(text));
        form1_->session().Identify();
      } else {
        ShowStatus(QStringLiteral("%1: %2.").arg(text, Q(ErrorText(form1_->Cport1().LastError()))));
      }
    });
    return;
  }
  show();
  form1_->hide();
  if (port.IsOpen()) session.Identify();
}

void TFormKey::ShowSearch() {
  show();
  raise();
  activateWindow();
}

void TFormKey::SetProgressMaximum(int maximum) {
  ui_->ProgressBar1->setMaximum(maximum);
}

void TFormKey::SetProgressPosition(int position) {
  ui_->ProgressBar1->setValue(std::min(position, ui_->ProgressBar1->maximum()));
}

void TFormKey::SetProgressTextVisible(bool visible) {
  ui_->ProgressBar1->setTextVisible(visible);
}

void TFormKey::DeviceAnswered(const QString& line) {
  ui_->ListBoxDevice->addItem(line);
  ui_->ButtonCreate->show();
  ui_->ButtonFind->setEnabled(true);
}

void TFormKey::MainWindowClosed() {
  show();
  ui_->ButtonCreate->hide();
  main_window_ready_ = false;
  close();  // the application's main window: the program ends
}

void TFormKey::ButtonCreateClick() {
  if (!form1_ || !form1_->Cport1().IsOpen() || !main_window_ready_) return;
  form1_->show();
  hide();
  form1_->ButtonReadClick();
}

void TFormKey::ListBoxDeviceClick() {
  if (!form1_) return;  // the list has lines only once a search created the main window
  if (form1_->Cport1().IsOpen() && main_window_ready_ && form1_->ButtonReadClick()) {
    form1_->LockPagesWith(Q(kServicePassword));
  }
  main_window_ready_ = true;
  form1_->show();
  hide();
}

void TFormKey::closeEvent(QCloseEvent* event) {
  // Closing ends the program: the main window's changes are asked about first.
  if (!closing_ && main_window_ready_ && form1_ && !form1_->ConfirmClose()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TFormKey::FormClose() {
  if (closing_) return;
  closing_ = true;
  if (main_window_ready_ && form1_) form1_->close();  // closes the port
  if (form1_) form1_->Cport1().CloseDevice();
  hide();
  closing_ = false;
  if (on_program_end) on_program_end();
}

}  // namespace lovar
