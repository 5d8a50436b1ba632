#include "form1.h"

#include "utf8.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "compare_dialog.h"
#include "files/config_file.h"
#include "form_key.h"
#include "model/regions.h"
#include "ui_form1.h"
#include "ui_form_key.h"

namespace lovar {
namespace {

// The tab sheets in the order of PageControl1.
constexpr std::string_view kTabSheets[] = {"TabSheet1", "TabSheet2", "TabSheet3",
                                           "TabSheet6", "TabSheet7", "TabSheet8"};
// The order in which the display routine fills the pages.
constexpr std::string_view kDisplayOrder251[] = {"TabSheet1", "TabSheet6", "TabSheet2", "TabSheet7",
                                                 "TabSheet8"};
constexpr std::string_view kDisplayOrder250[] = {"TabSheet3", "TabSheet2", "TabSheet1"};

std::filesystem::path ToPath(const QString& file) {
  return std::filesystem::path(QFile::encodeName(file).toStdString());
}

QString ToQString(const std::filesystem::path& path) {
  return QFile::decodeName(path.c_str());
}

// Puts a scroll area into the tab sheet and returns the widget inside it, on which the page
// builds its form. A tab widget is as large as the largest minimum size of all its pages, hidden
// tabs included; inside a scroll area a page can no longer push the window past its model's
// size, and a page taller than the window scrolls instead of being cut off.
QWidget* ScrolledContent(QWidget& sheet) {
  auto* layout = new QVBoxLayout(&sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* area = new QScrollArea(&sheet);
  area->setObjectName(sheet.objectName() + QStringLiteral("Scroll"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  // Not a tab stop of its own; a focus moved by Tab still scrolls into view.
  area->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(area);
  auto* content = new QWidget;
  // Named before the page's form is set up on it, so it keeps a name of its own and the tab
  // sheet stays the only widget called e.g. "TabSheet2".
  content->setObjectName(sheet.objectName() + QStringLiteral("Content"));
  area->setWidget(content);
  return content;
}

// A hidden widget that keeps its place in the layout, so the rows around it do not move.
void KeepPlaceWhenHidden(QWidget& widget) {
  QSizePolicy policy = widget.sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget.setSizePolicy(policy);
}

void CentreOnScreen(QWidget& window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
  }
}

}  // namespace

TForm1::TForm1(TFormKey& form_key, Dialogs& dialogs)
    : ui_(std::make_unique<Ui::TForm1>()),
      form_key_(form_key),
      dialogs_(dialogs),
      port_(window_thread_),
      exchange_(port_, image_, verified_) {
  ui_->setupUi(this);
  // The top row keeps its height whether the password is asked or not; the pages' area below
  // the progress bar stays, empty, while the pages are hidden.
  for (QWidget* part :
       {static_cast<QWidget*>(ui_->PanelPassword), static_cast<QWidget*>(ui_->Label106),
        static_cast<QWidget*>(ui_->EditPassword)})
    KeepPlaceWhenHidden(*part);
  verified_.Attach(exchange_, image_);
  program_folder_ = QCoreApplication::applicationDirPath();
  for (std::string_view tab : kTabSheets) {
    QWidget* sheet = findChild<QWidget*>(Q(tab));
    if (PageFactory factory = FindPageFactory(tab); factory && sheet != nullptr)
      pages_.emplace(std::string(tab), factory(*this, ScrolledContent(*sheet)));
  }
  port_.OnReceive = [this](const TMessageDevice& message) { exchange_.Cport1Receive(message); };

  connect(ui_->ButtonRead, &QPushButton::clicked, this, [this] { ButtonReadClick(); });
  connect(ui_->ButtonWrite, &QPushButton::clicked, this, [this] { ButtonWriteClick(); });
  connect(ui_->N2, &QAction::triggered, this, [this] { N2Click(); });
  connect(ui_->N3, &QAction::triggered, this, [this] { N3Click(); });
  connect(ui_->N4, &QAction::triggered, this, [this] {
    CommitPages();  // what was typed into the focused control counts
    CompareWithFile(this, *this, program_folder_);
  });
  // The way back to the search window, e.g. after the line was lost.
  ui_->N1->addSeparator();
  find_device_ = ui_->N1->addAction(QStringLiteral("Поиск прибора…"));
  find_device_->setObjectName(QStringLiteral("NFindDevice"));
  connect(find_device_, &QAction::triggered, this, [this] { FindDeviceClick(); });
  connect(ui_->EditPassword, &QLineEdit::textChanged, this, [this] { EditPasswordChange(); });
  ui_->EditPassword->installEventFilter(this);
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (!programmatic_page_change_) PageControl1Changing();
  });
  timer1_.setInterval(100);
  connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  timer1_.start();

  resize(562, 634);
  CentreOnScreen(*this);
}

TForm1::~TForm1() {
  timer1_.stop();
  port_.CloseDevice();
}

Page* TForm1::FindPage(std::string_view tab_sheet) const {
  auto it = pages_.find(tab_sheet);
  return it == pages_.end() ? nullptr : it->second.get();
}

// ---- The display routine. ----

void TForm1::UpDate() {
  show();
  form_key_.hide();
  const int model = exchange_.DeviceModel();
  if (model != 252) {
    // The gate compares with the stored password as it was before this display.
    if (ui_->EditPassword->text() == stored_password_)
      ui_->PageControl1->show();
    else
      ui_->EditPassword->show();
  }
  if (!IsKnownModel(model)) return;
  const int firmware = exchange_.FirmwareVersion();
  const std::span<const std::string_view> order =
      model == 251 ? std::span<const std::string_view>(kDisplayOrder251)
                   : std::span<const std::string_view>(kDisplayOrder250);
  for (std::string_view tab : order)
    if (Page* page = FindPage(tab)) page->Display(image_, model, firmware);
  if (model != 251) {
    // The first user code as the codes grid shows it becomes the next read's password.
    std::optional<QString> first;
    if (Page* codes = FindPage("TabSheet3")) first = codes->FirstUserCode();
    stored_password_ = first ? *first : Q(codes::DigitsText(image_[0], image_[1]));
  }
}

// ---- Buttons, menu and gate. ----

namespace {

const QString kFindAgain =
    QStringLiteral("Подключите прибор и найдите его снова: «Файл» → «Поиск прибора…».");
const QString kPortClosed = QStringLiteral("Порт закрыт. ") + kFindAgain;
const QString kUntilWhole = QStringLiteral(
    "Запись в УО и сохранение недоступны до полного чтения или загрузки файла.");

}  // namespace

void TForm1::ButtonReadClick() {
  if (port_.IsOpen()) {
    // From its first reply on, the read overwrites the image from offset 0.
    coverage_.Read(0);
    UpdateWriteButton();
    ShowStatus(QStringLiteral("Чтение из УО…"));
  } else {
    ShowStatus(kPortClosed);
  }
  exchange_.ButtonReadClick();
}

void TForm1::ButtonWriteClick() {
  // What was typed or ticked into the control that still has the focus goes in first.
  CommitPages();
  if (!ImageWhole()) {
    RefuseIncomplete(QStringLiteral("Запись в УО невозможна"),
                     QStringLiteral("Записать её — значит стереть в приборе всё, что не считано."));
    return;
  }
  if (!port_.IsOpen()) {
    ShowStatus(kPortClosed);
    return;
  }
  verified_.Start();
}

void TForm1::FindDeviceClick() {
  form_key_.show();
  form_key_.raise();
  form_key_.activateWindow();
}

QString TForm1::PartialRead(const QString& why) {
  coverage_.Read(exchange_.state().offset);
  UpdateWriteButton();
  const QString read = QStringLiteral("Конфигурация считана не полностью (%1 из %2 байт)")
                           .arg(coverage_.known())
                           .arg(exchange_.ImageLength());
  return why.isEmpty() ? read : read + QStringLiteral(": ") + why;
}

void TForm1::RefuseIncomplete(const QString& caption, const QString& what) {
  const QString why =
      coverage_.known() == 0
          ? QStringLiteral("Конфигурация не считана из УО и не загружена из файла.")
          : QStringLiteral("Конфигурация считана из УО не полностью (%1 из %2 байт).")
                .arg(coverage_.known())
                .arg(exchange_.ImageLength());
  SayFailure(caption, why + QLatin1Char(' ') + what +
                          QStringLiteral(" Считайте её из УО полностью или загрузите файл."));
}

void TForm1::SayFailure(const QString& caption, const QString& text, const QString& status) {
  ShowStatus(status.isEmpty() ? text : status);
  dialogs_.Message(caption, text, true);
}

void TForm1::UpdateWriteButton() {
  ui_->ButtonWrite->setEnabled(buttons_enabled_ && ImageWhole());
}

void TForm1::CommitPages() {
  for (std::string_view tab : kTabSheets)
    if (Page* page = FindPage(tab)) page->Commit();
}

void TForm1::N2Click() {
  const int model = exchange_.DeviceModel();
  const std::filesystem::path folder =
      PrepareDefaultFolder(ToPath(program_folder_), model, /*for_save=*/false);
  const QString file =
      dialogs_.OpenFileName(ToQString(folder), QStringLiteral("*.dat"), QStringLiteral("*.dat"));
  if (file.isEmpty()) return;
  const FileResult result = LoadConfigFile(ToPath(file), model, image_);
  if (result.error != FileError::CannotOpen)
    setWindowTitle(QStringLiteral("Программирование УО ЛОВАРТ ") +
                   QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
  if (result.ok()) {
    coverage_.Loaded(FileImageLength(model));
    UpdateWriteButton();
    ShowStatus(QStringLiteral("Файл загружен: ") + QFileInfo(file).fileName());
  } else {
    const FileMessage message = MessageFor(result);
    dialogs_.Message(Q(message.caption), Q(message.text), false);
    ShowStatus(QStringLiteral("Файл не принят: ") + Q(DescribeError(result)));
  }
  // The window shows the image as it now stands, also after a refusal.
  UpDate();
}

void TForm1::N3Click() {
  const int model = exchange_.DeviceModel();
  if (IsKnownModel(model) && !ImageWhole()) {
    RefuseIncomplete(QStringLiteral("Сохранение невозможно"),
                     QStringLiteral("В файле не хватало бы настроек прибора."));
    return;
  }
  QString folder, filter, suffix, name;
  if (IsKnownModel(model)) {
    const FileDefaults defaults = DefaultsFor(model);
    const std::filesystem::path model_folder =
        PrepareDefaultFolder(ToPath(program_folder_), model, /*for_save=*/true);
    folder = defaults.save_dialog_in_model_folder ? ToQString(model_folder) : QDir::currentPath();
    filter = QStringLiteral("*.dat");
    suffix = QStringLiteral("dat");
    name = Q(defaults.file_name);
  }
  CommitPages();
  const QString file = dialogs_.SaveFileName(folder, filter, suffix, name);
  if (file.isEmpty()) return;
  const FileResult result = SaveConfigFile(ToPath(file), model, image_);
  if (result.ok()) {
    ShowStatus(QStringLiteral("Файл сохранён: ") + QFileInfo(file).fileName());
    return;
  }
  const FileMessage message = MessageFor(result);
  if (result.error == FileError::CannotWrite) {
    dialogs_.Message(Q(message.caption), Q(message.text), true);
  } else {
    dialogs_.Message(QStringLiteral("Ошибка"), Q(DescribeError(result)), true);
  }
  ShowStatus(QStringLiteral("Файл не сохранён: ") + Q(DescribeError(result)));
}

void TForm1::EditPasswordEnter() {
  if (ui_->EditPassword->text() == stored_password_) ui_->PageControl1->show();
}

void TForm1::EditPasswordChange() {
  if (ui_->EditPassword->text() == stored_password_) {
    ui_->PageControl1->show();
    ui_->PanelPassword->hide();
  }
}

void TForm1::PageControl1Changing() {
  for (auto& [name, page] : pages_) page->PageChanging();
  SetVisibleByName("PanelSetKey", false);
  SetVisibleByName("PanelKey", false);
  exchange_.SetButtonsEnabled(true);
  exchange_.StopExchange();
  // A write under way stops after the block last sent: the status line says how far it got.
  verified_.Stop(WriteReport::Cause::PageChanged);
}

void TForm1::Timer1Timer() {
  exchange_.Timer1Timer();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->EditPassword && event->type() == QEvent::FocusIn) EditPasswordEnter();
  // "Пароль" stands only beside its edit: alone beside the buttons it reads as a field to find.
  if (watched == ui_->EditPassword &&
      (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
    ui_->Label106->setVisible(event->type() == QEvent::ShowToParent);
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  if (closing_) return;
  closing_ = true;
  exchange_.StopExchange();
  port_.CloseDevice();
  form_key_.show();
  form_key_.ui().ButtonCreate->hide();
  form_key_.SetMainWindowReady(false);
  form_key_.close();  // the application's main window: the program ends
  closing_ = false;
}

// ---- PageHost. ----

void TForm1::ResetProgress() {
  ui_->ProgressBar1->setValue(0);
}

void TForm1::ShowStatus(const QString& text) {
  ui_->StatusBar1->showMessage(text);
  ui_->StatusBar1->setToolTip(text);  // a long line is cut at the window's edge
}

// ---- ExchangeView. ----

bool TForm1::AskContinue() {
  return dialogs_.AskContinue();
}

void TForm1::SetExchangeButtonsEnabled(bool enabled) {
  buttons_enabled_ = enabled;
  ui_->ButtonRead->setEnabled(enabled);
  UpdateWriteButton();  // and only for a whole image
  // Not while an exchange runs: a search would send into the middle of it.
  find_device_->setEnabled(enabled);
  for (auto& [name, page] : pages_) page->SetExchangeButtonsEnabled(enabled);
  if (QWidget* key = findChild<QWidget*>(QStringLiteral("ButtonKey"))) key->setEnabled(enabled);
}

void TForm1::SetProgressMaximum(int maximum) {
  ui_->ProgressBar1->setMaximum(maximum);
  form_key_.ui().ProgressBar1->setMaximum(maximum);
}

void TForm1::SetProgressPosition(int position) {
  ui_->ProgressBar1->setValue(std::min(position, ui_->ProgressBar1->maximum()));
  form_key_.ui().ProgressBar1->setValue(std::min(position, form_key_.ui().ProgressBar1->maximum()));
}

void TForm1::AddDeviceLine(const std::string& utf8_line) {
  form_key_.ui().ListBoxDevice->addItem(Q(utf8_line));
}

void TForm1::SetVisibleByName(std::string_view name, bool visible) {
  const QString object_name = Q(name);
  QTabWidget* tabs = ui_->PageControl1;
  for (int i = 0; i < tabs->count(); ++i) {
    if (tabs->widget(i)->objectName() == object_name) {
      programmatic_page_change_ = true;
      tabs->setTabVisible(i, visible);
      programmatic_page_change_ = false;
      return;
    }
  }
  if (QWidget* widget = findChild<QWidget*>(object_name)) widget->setVisible(visible);
}

void TForm1::ApplySetupTable(const ModelSetup& setup) {
  for (const ControlVisibility& item : setup.visibility)
    SetVisibleByName(item.control, item.visibility == Visibility::Shown);
  if (setup.window_height > 0) resize(width(), setup.window_height);
  if (setup.image_length > 0) SetProgressMaximum(setup.image_length);
  if (setup.hide_password_panel) ui_->PanelPassword->hide();
  if (setup.stored_password_from_edit) stored_password_ = ui_->EditPassword->text();
  for (auto& [name, page] : pages_) page->ApplyModelSetup(setup);
}

void TForm1::ApplyModelSetup(const ModelSetup& setup) {
  if (setup.model != setup_model_) {
    // Another model than before: back to the window as created, then this model's column.
    // The password panel comes back too, or a model-250 device after a model-252 one could
    // never be unlocked. The image belongs to the other model: nothing of it is to be written.
    coverage_.Reset();
    UpdateWriteButton();
    ApplySetupTable(CreationSetup());
    if (setup_model_ != 0) ui_->PanelPassword->show();
    setup_model_ = setup.model;
  }
  ApplySetupTable(setup);
}

void TForm1::ShowStartEnableSearch() {
  form_key_.ui().ButtonCreate->show();
  form_key_.ui().ButtonFind->setEnabled(true);
}

void TForm1::HideSearchWindow() {
  form_key_.hide();
}

void TForm1::HidePasswordAndPages() {
  ui_->EditPassword->hide();
  ui_->PageControl1->hide();
}

void TForm1::ReadEnded(bool complete, bool display) {
  coverage_.Read(exchange_.state().offset);
  UpdateWriteButton();
  if (display) {
    UpDate();
    if (exchange_.DeviceModel() == 252) ui_->PageControl1->show();
  }
  if (complete)
    ShowStatus(QStringLiteral("Конфигурация считана из УО (%1 байт)").arg(exchange_.ImageLength()));
  else
    ShowStatus(PartialRead(QStringLiteral("порт закрыт")));
}

void TForm1::Abandoned(uint8_t command) {
  switch (command) {
    case kReadRequest:
      ShowStatus(PartialRead(QStringLiteral("прибор не отвечает")));
      break;
    case kKeyRequest:
      ShowStatus(QStringLiteral("Считывание ключа прервано: прибор не отвечает"));
      break;
    default:
      ShowStatus(QStringLiteral("Прибор не отвечает"));
      form_key_.ShowStatus(QStringLiteral("Прибор не отвечает."));  // the search window's
      break;
  }
}

void TForm1::GaveUp(uint8_t command) {
  const QString caption = QStringLiteral("Прибор отвечает не на запросы");
  switch (command) {
    case kReadRequest:
      SayFailure(caption, PartialRead(QStringLiteral("прибор отвечает, но не на запросы.")) +
                              QLatin1Char(' ') + kUntilWhole);
      break;
    case kKeyRequest:
      KeyStopped();
      SayFailure(caption, QStringLiteral("Считывание ключа остановлено: прибор отвечает, но не "
                                         "на запросы."));
      break;
    default:
      SayFailure(caption, QStringLiteral("Прибор отвечает, но не на запросы."));
      break;
  }
}

void TForm1::LineLost(uint8_t command) {
  const QString caption = QStringLiteral("Связь с портом потеряна");
  QString what = kFindAgain;
  QString status = caption;
  if (command == kReadRequest) {
    status = PartialRead(QStringLiteral("связь с портом потеряна"));
    what = PartialRead({}) + QStringLiteral(". ") + kUntilWhole + QLatin1Char(' ') + kFindAgain;
  }
  if (command == kKeyRequest) {
    KeyStopped();
    what = QStringLiteral("Считывание ключа прервано. ") + kFindAgain;
  }
  SayFailure(caption, caption + QStringLiteral(". ") + what, status);
}

void TForm1::WriteStageChanged(WriteStage stage) {
  switch (stage) {
    case WriteStage::Writing:
      ShowStatus(QStringLiteral("Запись в УО…"));
      break;
    case WriteStage::Checking:
      ShowStatus(QStringLiteral("Проверка записи…"));
      break;
    case WriteStage::Repairing:
      ShowStatus(QStringLiteral("Исправление записи…"));
      break;
  }
}

void TForm1::WriteFinished(const WriteReport& report) {
  const QString text = Q(WriteReportText(report));
  using C = WriteReport::Cause;
  // Done, or stopped by the installer's own page change: the status line says it.
  if (report.ok() || report.cause == C::PageChanged) {
    ShowStatus(text);
    return;
  }
  if (report.cause == C::LineLost) {
    SayFailure(QStringLiteral("Связь с портом потеряна"), text + QLatin1Char(' ') + kFindAgain);
    return;
  }
  SayFailure(report.outcome == WriteReport::Outcome::WriteStopped
                 ? QStringLiteral("Запись в УО прервана")
                 : QStringLiteral("Запись в УО не подтверждена"),
             text);
}

void TForm1::SetEditKey(const std::string& text) {
  for (auto& [name, page] : pages_) page->SetEditKey(Q(text));
}

void TForm1::KeyPollingStarted() {
  for (auto& [name, page] : pages_) page->KeyPollingStarted();
}

void TForm1::KeyRead() {
  for (auto& [name, page] : pages_) page->KeyRead();
}

void TForm1::KeyStopped() {
  for (auto& [name, page] : pages_) page->KeyStopped();
}

}  // namespace lovar
