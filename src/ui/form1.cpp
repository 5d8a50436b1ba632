#include "form1.h"

#include "utf8.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>

#include "about.h"
#include "binding.h"
#include "codes_page.h"
#include "compare_dialog.h"
#include "file_paths.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "form_key.h"
#include "model/image_normalize.h"
#include "recent_folders.h"
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

// The line edit a key or focus event was sent to: the edit itself, or an editable combo box's.
QLineEdit* LineEditOf(QObject* watched) {
  if (auto* combo = qobject_cast<QComboBox*>(watched); combo && combo->isEditable())
    return combo->lineEdit();
  return qobject_cast<QLineEdit*>(watched);
}

const QString kTitle = QStringLiteral("Программирование УО ЛОВАР");
constexpr int kWindowWidth = 562;  // the pages fit it at the default font

// The window holds what the file holds.
QString FileTitle(const QString& file) {
  return QStringLiteral("Программирование УО ЛОВАРТ ") +
         QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
}

// The status line shortened in the middle when it is longer than the window is wide: its end
// (how a step ended, what the device now holds) stays in view. The tooltip holds it whole.
class ElidingStatusBar : public QStatusBar {
 protected:
  void paintEvent(QPaintEvent* event) override {
    const QString message = currentMessage();
    if (message.isEmpty()) {
      QStatusBar::paintEvent(event);
      return;
    }
    QPainter painter(this);
    const int grip = isSizeGripEnabled() ? style()->pixelMetric(QStyle::PM_SizeGripSize) : 0;
    const QRect area = rect().adjusted(6, 0, -6 - grip, 0);
    painter.setPen(palette().windowText().color());
    painter.drawText(area, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(message, Qt::ElideMiddle, area.width()));
  }
};

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
  auto* status = new ElidingStatusBar;
  status->setObjectName(QStringLiteral("StatusBar1"));
  setStatusBar(status);  // deletes the form's
  ui_->StatusBar1 = status;
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
  connect(ui_->ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
  ui_->ButtonCancel->setShortcut(QKeySequence(Qt::Key_Escape));
  ui_->ButtonRead->setShortcut(QKeySequence(Qt::Key_F5));
  ui_->ButtonRead->setToolTip(QStringLiteral("Считать конфигурацию из УО (F5)"));
  connect(ui_->N2, &QAction::triggered, this, [this] { N2Click(); });
  connect(ui_->N3, &QAction::triggered, this, [this] { N3Click(); });
  connect(ui_->N4, &QAction::triggered, this, [this] {
    CommitPages();  // what was typed into the focused control counts
    // A half-read image against a file would show stale bytes as differences.
    if (IsKnownModel(DeviceModel()) && !HeadWhole()) {
      RefuseIncomplete(QStringLiteral("Сравнение невозможно"),
                       QStringLiteral("Сравнивать было бы не с чем."));
      return;
    }
    CompareWithFile(this, *this, ToQString(FilesFolder()));
  });
  connect(ui_->N5, &QAction::triggered, this, [this] { N5Click(); });
  ui_->NUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  ui_->NRedo->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  connect(ui_->NUndo, &QAction::triggered, this, [this] { UndoClick(); });
  connect(ui_->NRedo, &QAction::triggered, this, [this] { RedoClick(); });
  // The way back to the search window, e.g. after the line was lost.
  ui_->N1->addSeparator();
  find_device_ = ui_->N1->addAction(QStringLiteral("&Поиск прибора…"));
  find_device_->setObjectName(QStringLiteral("NFindDevice"));
  connect(find_device_, &QAction::triggered, this, [this] { FindDeviceClick(); });
  connect(ui_->NAbout, &QAction::triggered, this, [this] { NAboutClick(); });
  connect(ui_->EditPassword, &QLineEdit::textChanged, this, [this] { EditPasswordChange(); });
  ui_->EditPassword->installEventFilter(this);
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (!programmatic_page_change_) PageControl1Changing();
  });
  timer1_.setInterval(100);
  connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  timer1_.start();

  // Every user event may have been an edit; the image is compared once it has been handled.
  qApp->installEventFilter(this);
  base_title_ = kTitle;
  baselines_.LetGo(image_);  // nothing read yet: nothing to lose
  history_.Reset(image_);

  resize(kWindowWidth, 634);
  CentreOnScreen(*this);
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  timer1_.stop();
  port_.CloseDevice();
}

void TForm1::SetProgramFolder(const QString& folder) {
  program_folder_ = folder;
  files_folder_.reset();
}

std::filesystem::path TForm1::FilesFolder() {
  if (!files_folder_) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const std::filesystem::path user_folder =
        documents.isEmpty() ? std::filesystem::path() : ToPath(documents + QStringLiteral("/Ловар"));
    files_folder_ = FilesRoot(ToPath(program_folder_), user_folder,
                              IsInstalledProgramFolder(program_folder_));
  }
  return *files_folder_;
}

std::filesystem::path TForm1::ArchivePath() {
  // A demo device's sample is no site's configuration: its reads go to an archive of this run's
  // own, which goes with the program, never among the real devices'.
  if (IsDemo()) {
    if (!demo_files_) demo_files_ = std::make_unique<QTemporaryDir>();
    if (demo_files_->isValid()) return ArchiveFolder(ToPath(demo_files_->path()));
  }
  return ArchiveFolder(FilesFolder());
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
  DisplayPages();
  if (model != 251) {
    // The first user code as the codes grid shows it becomes the next read's password.
    std::optional<QString> first;
    if (Page* codes = FindPage("TabSheet3")) first = codes->FirstUserCode();
    stored_password_ = first ? *first : InstallerCodeText(image_, model);
  }
}

// ---- Buttons, menu and gate. ----

namespace {

const QString kFindAgain =
    QStringLiteral("Подключите прибор и найдите его снова: «Файл» → «Поиск прибора…».");
const QString kPortClosed = QStringLiteral("Порт закрыт. ") + kFindAgain;
const QString kUntilWhole =
    QStringLiteral("Запись в УО и сохранение недоступны до полного чтения или загрузки файла.");

}  // namespace

bool TForm1::ButtonReadClick() {
  if (port_.IsOpen()) {
    if (!MayLoseChanges()) {
      ShowStatus(QStringLiteral("Чтение не начато: изменения остались в окне."));
      return false;
    }
    // From its first reply on, the read overwrites the image from offset 0: the pages no longer
    // show it until a display.
    reading_ = true;
    pages_show_image_ = false;
    SetBaseTitle(kTitle + QStringLiteral(" — ") + device_line_);
    coverage_.Read(0);
    UpdateWriteButton();
    UpdateEditActions();
    ShowStatus(QStringLiteral("Чтение из УО…"));
  } else {
    ShowStatus(kPortClosed);
  }
  exchange_.ButtonReadClick();
  return true;
}

void TForm1::ButtonWriteClick() {
  // What was typed or ticked into the control that still has the focus goes in first.
  CommitPages();
  CaptureEdits();
  if (!ImageWritable()) {
    RefuseIncomplete(QStringLiteral("Запись в УО невозможна"),
                     QStringLiteral("Записать её — значит стереть в приборе всё, что не считано."));
    return;
  }
  if (!port_.IsOpen()) {
    ShowStatus(kPortClosed);
    return;
  }
  // The device's image goes to the archive before anything is written to it; one not read
  // since it was identified is read now (which also gives what the image lacks of it).
  prior_refusal_.clear();
  verified_.Start(/*check=*/true, /*read_prior=*/!device_archived_ || !ImageWhole());
}

void TForm1::ButtonCancelClick() {
  if (verified_.Running()) {
    exchange_.StopExchange();
    exchange_.SetButtonsEnabled(true);
    // The report says how far the write got and that the device may hold a mix.
    verified_.Stop(WriteReport::Cause::Interrupted);
  } else if (reading_) {
    exchange_.StopExchange();
    exchange_.SetButtonsEnabled(true);
    ShowStatus(PartialRead(QStringLiteral("чтение отменено")));
  }
}

void TForm1::FindDeviceClick() {
  if (!MayLoseChanges()) return;
  form_key_.show();
  form_key_.raise();
  form_key_.activateWindow();
}

QString TForm1::PartialRead(const QString& why) {
  coverage_.Read(exchange_.state().offset);
  ReadSettled(false);
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

void TForm1::ReadSettled(bool complete) {
  reading_ = false;
  history_.Reset(image_);
  if (complete)
    baselines_.DeviceHolds(image_);
  else
    baselines_.LetGo(image_);  // what the installer agreed to replace is half replaced
  agreed_loss_.reset();
  UpdateEditActions();
  UpdateTitle();
}

QString TForm1::ArchiveRead() {
  const ArchiveResult kept = SaveToArchive(ArchivePath(), DeviceModel(), image_, LocalTimeNow());
  device_archived_ = kept.ok;
  if (kept.ok && IsDemo()) return QStringLiteral(", копия — во временном архиве демо-приборов");
  if (kept.ok) return QStringLiteral(", копия — в архиве");
  return QStringLiteral(". Копия в архив не сохранена: ") + Q(kept.message);
}

bool TForm1::HeadWhole() const {
  return coverage_.known() >= FileImageLength(exchange_.DeviceModel());
}

bool TForm1::ImageWritable() const {
  return coverage_.Writable(exchange_.ImageLength(), FileImageLength(exchange_.DeviceModel()));
}

void TForm1::UpdateWriteButton() {
  ui_->ButtonWrite->setEnabled(exchange_.ButtonsEnabled() && ImageWritable());
}

void TForm1::CommitPages() {
  // Controls that show another image (a read that ended early, another model's) would copy it
  // into this one.
  if (!pages_show_image_) return;
  for (std::string_view tab : kTabSheets)
    if (Page* page = FindPage(tab)) page->Commit();
}

void TForm1::N2Click() {
  const int model = exchange_.DeviceModel();
  const std::filesystem::path folder =
      PrepareDefaultFolder(FilesFolder(), model, /*for_save=*/false);
  const QString file =
      dialogs_.OpenFileName(QStringLiteral("Считать конфигурацию из файла"),
                            StartFolder(FileKind::Configuration, model, ToQString(folder)),
                            QStringLiteral("*.dat"), QStringLiteral("*.dat"));
  if (file.isEmpty()) return;
  NoteChosenFile(FileKind::Configuration, model, file);
  LoadFile(file, /*whole_image=*/false);
}

void TForm1::N5Click() {
  const std::filesystem::path folder = ArchivePath();
  const std::vector<ArchiveEntry> entries = ListArchive(folder);
  std::vector<ArchivedRow> rows;
  for (const ArchiveEntry& e : entries)
    rows.push_back({Q(ArchiveTimeText(e.time)), Q(ModelName(e.model)), Q(e.object)});
  const int chosen = dialogs_.ChooseArchived(ToQString(folder), rows);
  if (chosen < 0 || chosen >= static_cast<int>(entries.size())) return;
  // The archive's file holds the whole image, a model 251 device's keys included.
  LoadFile(ToQString(entries[static_cast<size_t>(chosen)].path), /*whole_image=*/true);
}

bool TForm1::LoadFile(const QString& file, bool whole_image) {
  const int model = exchange_.DeviceModel();
  CommitPages();
  CaptureEdits();
  // Checked aside first: a refused file changes nothing, so it asks nothing.
  ConfigImage loaded = image_;
  int bytes = FileImageLength(model);
  const FileResult result = whole_image ? LoadWholeImage(ToPath(file), model, loaded, bytes)
                                        : LoadConfigFile(ToPath(file), model, loaded);
  if (result.ok() && !MayLoseChanges()) {
    ShowStatus(QStringLiteral("Файл не загружен: изменения остались в окне."));
    return false;
  }
  if (result.ok()) {
    image_ = loaded;
    SetBaseTitle(FileTitle(file));
    coverage_.Loaded(bytes);
    UpdateWriteButton();
    ShowStatus(QStringLiteral("Файл загружен: ") + QFileInfo(file).fileName());
  } else {
    const FileMessage message = MessageFor(result);
    dialogs_.Message(Q(message.caption), Q(message.text), false);
    ShowStatus(QStringLiteral("Файл не принят: ") + Q(DescribeError(result)));
  }
  // The window shows the image as it now stands, also after a refusal.
  UpDate();
  if (result.ok()) {
    history_.Reset(image_);
    baselines_.FileHolds(image_, bytes);
    agreed_loss_.reset();
    UpdateEditActions();
  } else {
    TakeNonEdits();
  }
  UpdateTitle();
  return result.ok();
}

void TForm1::N3Click() {
  const int model = exchange_.DeviceModel();
  if (IsKnownModel(model) && !HeadWhole()) {
    RefuseIncomplete(QStringLiteral("Сохранение невозможно"),
                     QStringLiteral("В файле не хватало бы настроек прибора."));
    return;
  }
  QString folder, filter, suffix, name;
  if (IsKnownModel(model)) {
    const FileDefaults defaults = DefaultsFor(model);
    const std::filesystem::path model_folder =
        PrepareDefaultFolder(FilesFolder(), model, /*for_save=*/true);
    folder = StartFolder(
        FileKind::Configuration, model,
        defaults.save_dialog_in_model_folder ? ToQString(model_folder) : QDir::currentPath());
    filter = QStringLiteral("*.dat");
    suffix = QStringLiteral("dat");
    name = Q(defaults.file_name);
  }
  CommitPages();
  CaptureEdits();
  const QString file = dialogs_.SaveFileName(QStringLiteral("Сохранить конфигурацию в файл"),
                                             folder, filter, suffix, name);
  if (file.isEmpty()) return;
  NoteChosenFile(FileKind::Configuration, model, file);
  const FileResult result = SaveConfigFile(ToPath(file), model, image_);
  if (result.ok()) {
    baselines_.FileHolds(image_, FileImageLength(model));
    SetBaseTitle(FileTitle(file));
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

void TForm1::NAboutClick() {
  dialogs_.Message(QString::fromUtf8(kAboutCaption), AboutText(), false);
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
  switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      QLineEdit* edit = LineEditOf(watched);
      if (edit != nullptr && widget->window() == this &&
          UndoKeyInEdit(edit, static_cast<QKeyEvent*>(event), event->type() == QEvent::KeyPress))
        return true;
      if (event->type() == QEvent::KeyPress) ScheduleCapture();
      break;
    }
    case QEvent::FocusIn:
      NoteFocus(watched);
      ScheduleCapture();
      break;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
    case QEvent::FocusOut:
      ScheduleCapture();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closing_ && !ConfirmClose()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

bool TForm1::ConfirmClose() {
  if (!close_confirmed_) close_confirmed_ = MayLoseChanges();
  return close_confirmed_;
}

bool TForm1::HasUnsavedChanges() {
  if (reading_) return false;  // the installer agreed to replace the image when the read began
  CommitPages();
  CaptureEdits();
  return baselines_.WouldLose(image_, exchange_.ImageLength());
}

bool TForm1::MayLoseChanges() {
  if (!HasUnsavedChanges() || (agreed_loss_ && *agreed_loss_ == image_)) return true;
  if (!dialogs_.AskLoseChanges()) return false;
  agreed_loss_ = image_;
  return true;
}

// ---- The undo history. ----

void TForm1::ScheduleCapture() {
  if (capture_pending_ || !isVisible()) return;
  capture_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    capture_pending_ = false;
    CaptureEdits();
  });
}

void TForm1::CaptureEdits() {
  const int model = exchange_.DeviceModel();
  if (reading_ || !IsKnownModel(model)) return;
  if (history_.Capture(image_, model, exchange_.ImageLength())) UpdateEditActions();
  UpdateTitle();
}

void TForm1::TakeNonEdits() {
  const int length = exchange_.ImageLength();
  const ConfigImage before = history_.snapshot();
  if (history_.Absorb(image_, length).empty()) return;
  baselines_.Absorb(before, image_, length);
  UpdateEditActions();
  UpdateTitle();
}

void TForm1::UndoClick() {
  Step(/*undo=*/true);
}

void TForm1::RedoClick() {
  Step(/*undo=*/false);
}

void TForm1::Step(bool undo) {
  if (reading_) return;
  // What is typed but not stored is an edit of its own, taken back first.
  CommitPages();
  CaptureEdits();
  const EditStep step = undo ? history_.Undo(image_) : history_.Redo(image_);
  if (step.runs.empty()) return;
  DisplayPages();
  TakeNonEdits();
  if (step.field != nullptr) ShowPageOf(*step.field);
  ShowStatus((undo ? QStringLiteral("Отменено: ") : QStringLiteral("Повторено: ")) +
             StepLabel(step));
  UpdateEditActions();
  UpdateTitle();
}

void TForm1::DisplayPages() {
  const int model = exchange_.DeviceModel();
  if (!IsKnownModel(model)) return;
  // The pages show the image as it is: its out-of-range bytes are put right first.
  NormalizeImage(model, image_);
  const std::span<const std::string_view> order =
      model == 251 ? std::span<const std::string_view>(kDisplayOrder251)
                   : std::span<const std::string_view>(kDisplayOrder250);
  for (std::string_view tab : order)
    if (Page* page = FindPage(tab)) page->Display(image_, model, exchange_.FirmwareVersion());
  pages_show_image_ = true;
  if (typing_edit_ != nullptr) typing_entry_text_ = typing_edit_->text();
}

void TForm1::ShowPageOf(const Field& field) {
  // A page change stops an exchange: not while one runs.
  if (!exchange_.ButtonsEnabled() || ui_->PageControl1->isHidden()) return;
  QTabWidget* tabs = ui_->PageControl1;
  const QString tab = Q(TabSheetOf(field.page));
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->objectName() == tab && tabs->isTabVisible(i)) tabs->setCurrentIndex(i);
}

void TForm1::UpdateEditActions() {
  const EditStep* undo = reading_ ? nullptr : history_.NextUndo();
  const EditStep* redo = reading_ ? nullptr : history_.NextRedo();
  ui_->NUndo->setEnabled(undo != nullptr);
  // "&" marks the menu's accelerator; one in a field's name is no mark.
  const auto name = [this](const EditStep& step) {
    return StepLabel(step).replace(QLatin1Char('&'), QStringLiteral("&&"));
  };
  ui_->NUndo->setText(undo ? QStringLiteral("&Отменить: ") + name(*undo)
                           : QStringLiteral("&Отменить"));
  ui_->NRedo->setEnabled(redo != nullptr);
  ui_->NRedo->setText(redo ? QStringLiteral("&Повторить: ") + name(*redo)
                           : QStringLiteral("&Повторить"));
}

QString TForm1::StepLabel(const EditStep& step) const {
  // The catalog counts a grid's rows from 1 ("Ключ 1: Имя"); the grids number them their own
  // way (keys from 0, or 2, 4… on model 250; codes 0, 1, 3…), and the label says what the
  // installer sees in the row's first cell.
  QString label = Q(step.label);
  if (step.field == nullptr) return label;
  const ControlPlace place = PlaceOf(*step.field);
  if (place.row < 1) return label;
  const auto* grid = findChild<QTableWidget*>(Q(place.control));
  const QTableWidgetItem* head = grid != nullptr ? grid->item(place.row, 0) : nullptr;
  const qsizetype colon = label.indexOf(QStringLiteral(": "));
  const qsizetype space = colon > 0 ? label.lastIndexOf(QLatin1Char(' '), colon - 1) : -1;
  if (head == nullptr || space < 0 ||
      label.mid(space + 1, colon - space - 1) != QString::number(place.row))
    return label;
  return label.left(space + 1) + head->text().trimmed() + label.mid(colon);
}

void TForm1::SetBaseTitle(const QString& title) {
  base_title_ = title;
  UpdateTitle();
}

void TForm1::UpdateTitle() {
  const bool changed = !reading_ && baselines_.WouldLose(image_, exchange_.ImageLength());
  setWindowTitle(changed ? QStringLiteral("* ") + base_title_ : base_title_);
}

void TForm1::NoteFocus(QObject* watched) {
  QLineEdit* edit = LineEditOf(watched);
  if (edit == nullptr || edit->window() != this) return;
  typing_edit_ = edit;
  typing_entry_text_ = edit->text();
}

bool TForm1::UndoKeyInEdit(QLineEdit* edit, QKeyEvent* key, bool press) {
  const QKeyCombination combination = key->keyCombination();
  const bool undo = combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Z);
  const bool redo =
      combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Y) ||
      combination == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
  if (!undo && !redo) return false;
  const bool typing = edit == typing_edit_ && edit->text() != typing_entry_text_;
  if (press) {
    // Ctrl+Y is not the edit's own redo on every system: made so while it holds typing.
    if (!typing || !redo) return false;
    edit->redo();
    return true;
  }
  // Accepted, the key goes to the edit; ignored, it is the window's shortcut.
  if (typing)
    key->accept();
  else
    key->ignore();
  return true;
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
  ui_->StatusBar1->setToolTip(text);  // a long line is shortened in the middle
}

// ---- ExchangeView. ----

bool TForm1::AskContinue() {
  return dialogs_.AskContinue();
}

void TForm1::SetExchangeButtonsEnabled(bool enabled) {
  ui_->ButtonRead->setEnabled(enabled);
  // "Отмена" and the per cent while a read or a write runs (not a key poll: it has its own
  // "Остановить").
  const bool transfer = !enabled && (reading_ || verified_.Running());
  ui_->ButtonCancel->setVisible(transfer);
  ui_->ProgressBar1->setTextVisible(transfer);
  form_key_.ui().ProgressBar1->setTextVisible(transfer);
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
  // "COM5: Ловар-М Версия 2.2": which port the device answered on (the Windows spooler's
  // names end in a colon of their own; a demo entry already names its model).
  QString port = IsDemo() ? QStringLiteral("Демо") : Q(port_.NameDevice());
  if (port.endsWith(QLatin1Char(':'))) port.chop(1);
  device_line_ = port + QStringLiteral(": ") + Q(utf8_line);
  form_key_.ui().ListBoxDevice->addItem(device_line_);
}

bool TForm1::IsDemo() const {
  return PortSwitch::DemoModel(port_.NameDevice()).has_value();
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

void TForm1::FitHeight(int wanted) {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    resize(width(), wanted);
    return;
  }
  // A laptop's 768 pixels hold less than model 251's window: the pages scroll instead. The
  // frame is known once the window is shown; until then a title bar's worth is kept free.
  constexpr int kTitleBar = 40;
  const QRect area = screen->availableGeometry();
  const int frame = std::max(frameGeometry().height() - height(), kTitleBar);
  const int room = area.height() - frame;
  // A page that scrolls gives its scroll bar's width: the window gives it back.
  const int scroll_bar = wanted > room ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
  resize(kWindowWidth + scroll_bar, std::min(wanted, room));
  // Wholly on the screen: moved up as far as its bottom edge needs (pos() is the frame's).
  const int highest = area.bottom() + 1 - frame - height();
  if (pos().y() > highest) move(x(), std::max(area.top(), highest));
}

void TForm1::ApplySetupTable(const WindowSetup& setup) {
  for (const ControlVisibility& item : setup.visibility)
    SetVisibleByName(item.control, item.visibility == Visibility::Shown);
  if (setup.window_height > 0) FitHeight(setup.window_height);
  if (setup.hide_password_panel) ui_->PanelPassword->hide();
  if (setup.stored_password_from_edit) stored_password_ = ui_->EditPassword->text();
  for (auto& [name, page] : pages_) page->ApplyModelSetup(setup);
}

void TForm1::ApplyModelSetup(const ModelSetup& setup) {
  // Perhaps another device: its image is not in the archive, and no bytes of the one before
  // that no file holds (a model 251 device's keys) may go into it.
  device_archived_ = false;
  if (setup.model != setup_model_) {
    // Another model than before: back to the window as created, then this model's column.
    // The password panel comes back too, or a model-250 device after a model-252 one could
    // never be unlocked. The image belongs to the other model: nothing of it is to be written,
    // and its edits are no steps of this model's fields.
    coverage_.Reset();
    pages_show_image_ = false;
    history_.Reset(image_);
    UpdateEditActions();
    ApplySetupTable(CreationWindowSetup());
    if (setup_model_ != 0) ui_->PanelPassword->show();
    setup_model_ = setup.model;
  } else {
    coverage_.NewDevice(FileImageLength(setup.model));
  }
  UpdateWriteButton();
  if (const WindowSetup* window = FindWindowSetup(setup.model)) ApplySetupTable(*window);
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
  if (complete) SetProgressPosition(exchange_.ImageLength());  // the last piece's offset is 8 short
  UpdateWriteButton();
  // The device's bytes as read, before the display corrects any.
  const QString archived = complete ? ArchiveRead() : QString();
  if (display) {
    UpDate();
    if (exchange_.DeviceModel() == 252) ui_->PageControl1->show();
  }
  if (complete) {
    ReadSettled(true);
    ShowStatus(QStringLiteral("Конфигурация считана из УО (%1 байт)").arg(exchange_.ImageLength()) +
               archived);
  } else {
    ShowStatus(PartialRead(QStringLiteral("порт закрыт")));
  }
  // Asked once, after the first complete read: the device's model is then known, and what the
  // file does not hold (a model 251 file is half the image) is the device's own. Asked after
  // the receive handler has returned, so the question's event loop does not run inside it.
  if (complete && display && !form_key_.FileToOffer().isEmpty())
    QTimer::singleShot(0, this, [this] { OfferFile(); });
}

void TForm1::OfferFile() {
  const QString file = form_key_.FileToOffer();
  if (file.isEmpty()) return;
  form_key_.FileOffered();
  if (dialogs_.AskYesNo(QStringLiteral("Файл конфигурации"),
                        QStringLiteral("Загрузить в окно файл «%1»?\nВ УО он попадёт только по "
                                       "кнопке «Записать в УО».")
                            .arg(QDir::toNativeSeparators(file))))
    LoadFile(file, /*whole_image=*/false);
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
    const QString read = PartialRead({});
    status = read + QStringLiteral(": связь с портом потеряна");
    what = read + QStringLiteral(". ") + kUntilWhole + QLatin1Char(' ') + kFindAgain;
  }
  if (command == kKeyRequest) {
    KeyStopped();
    what = QStringLiteral("Считывание ключа прервано. ") + kFindAgain;
  }
  SayFailure(caption, caption + QStringLiteral(". ") + what, status);
}

void TForm1::WriteStageChanged(WriteStage stage) {
  switch (stage) {
    case WriteStage::ReadingPrior:
      ShowStatus(QStringLiteral("Чтение из УО перед записью: прежняя конфигурация — в архив…"));
      break;
    case WriteStage::Writing:
      TakeNonEdits();  // the bytes a write sends as 0 (models 250, 252)
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

bool TForm1::PriorImageRead(const ConfigImage& prior) {
  CaptureEdits();
  const ArchiveResult kept = SaveToArchive(ArchivePath(), DeviceModel(), prior, LocalTimeNow());
  if (!kept.ok) {
    prior_refusal_ = Q(kept.message);
    return false;
  }
  device_archived_ = true;
  baselines_.DeviceHolds(prior);
  const int length = exchange_.ImageLength();
  if (!coverage_.Whole(length)) {
    // What no file holds (a model 251 device's keys and their names) is the device's own.
    const int from = coverage_.known();
    std::copy(prior.bytes().begin() + from, prior.bytes().begin() + length,
              image_.bytes().begin() + from);
    coverage_.Filled(length);
    DisplayPages();
    TakeNonEdits();
  }
  return true;
}

void TForm1::WriteFinished(const WriteReport& report) {
  const QString text = Q(WriteReportText(report));
  using C = WriteReport::Cause;
  using O = WriteReport::Outcome;
  if (report.ok()) {
    baselines_.DeviceWritten(verified_.Sent(), report.from, report.end);
    SetProgressPosition(exchange_.ImageLength());
  } else if (report.outcome != O::NotStarted) {
    baselines_.DeviceUnknown();  // it may hold a mix
  }
  UpdateTitle();
  UpdateWriteButton();
  if (report.outcome == O::NotStarted && report.cause == C::Refused) {
    SayFailure(QStringLiteral("Запись в УО не начата"),
               QStringLiteral("Конфигурация прибора не сохранена в архив: %1. Запись не начата, "
                              "прибор не изменён.")
                   .arg(prior_refusal_));
    return;
  }
  // Done, or stopped by the installer's own page change: the status line says it.
  if (report.ok() || report.cause == C::PageChanged) {
    ShowStatus(text);
    return;
  }
  if (report.cause == C::LineLost) {
    const QString caption = QStringLiteral("Связь с портом потеряна");
    ShowStatus(text);
    // The edits are in this window only now: kept in a file before the search, they survive
    // whatever comes next.
    if (HasUnsavedChanges()) {
      if (dialogs_.AskYesNo(caption, text +
                                         QStringLiteral("\n\nИзменения есть только в окне. "
                                                        "Сохранить их в файл? Затем ") +
                                         kFindAgain.left(1).toLower() + kFindAgain.mid(1)))
        N3Click();
      return;
    }
    dialogs_.Message(caption, text + QLatin1Char(' ') + kFindAgain, true);
    return;
  }
  SayFailure(report.outcome == O::WriteStopped ? QStringLiteral("Запись в УО прервана")
             : report.outcome == O::NotStarted ? QStringLiteral("Запись в УО не начата")
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
