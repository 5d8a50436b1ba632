#include "form1.h"

#include "utf8.h"

#include <QCloseEvent>
#include <QTabWidget>
#include <algorithm>

#include "about.h"
#include "app_settings.h"
#include "binding.h"
#include "codes_page.h"
#include "focus_view.h"
#include "main_menu.h"
#include "model/regions.h"
#include "search_link.h"
#include "session_texts.h"
#include "ui_form1.h"
#include "undo_menu.h"
#include "whole_check_view.h"
#include "window_frame.h"

namespace lovar {
namespace {

const QString kTitle = QStringLiteral("Программирование УО ЛОВАР");
constexpr int kWindowWidth = 562;  // the pages fit it at the default font
// With the "Проверка" panel beside the pages: 862 fits a laptop's 1366.
constexpr int kFullWidth = kWindowWidth + CheckView::kWidth;

}  // namespace

TForm1::TForm1(SearchLink& search, Dialogs& dialogs)
    : ui_(std::make_unique<Ui::TForm1>()),
      search_(search),
      dialogs_(dialogs),
      port_(window_thread_),
      session_(port_, *this, SessionOptions{.normalize = true}) {
  ui_->setupUi(this);
  ui_->StatusBar1 = InstallElidingStatusBar(*this);
  // The top row keeps its height whether the password is asked or not; the pages' area below
  // the progress bar stays, empty, while the pages are hidden.
  for (QWidget* part :
       {static_cast<QWidget*>(ui_->PanelPassword), static_cast<QWidget*>(ui_->Label106),
        static_cast<QWidget*>(ui_->EditPassword)})
    KeepPlaceWhenHidden(*part);
  pages_ = std::make_unique<PagesHost>(*this, *ui_->PageControl1);
  setup_ = std::make_unique<WindowShaper>(*this, *ui_->PageControl1, *pages_, kFullWidth);
  status_ = std::make_unique<WindowStatus>(*this, *ui_->StatusBar1, *ui_->NUndo, *ui_->NRedo,
                                           dialogs_, session_);
  files_ = std::make_unique<FileMenu>(*this, *this, session_, port_, *status_, [this] {
    UpdateWriteButton();
    UpDate();
  });
  status_->SetBaseTitle(kTitle);
  sites_ = std::make_unique<SitesMenu>(*this, *ui_->N1, ui_->N5, session_, *files_, *status_,
                                       dialogs_, archive_);
  session_.SetRecorder(&sites_->recorder());
  sites_->OnDrift([this](const DriftFound& found) {
    check_->ShowDrift(found);
    // "не сравнено" and the drift beside the read's own end.
    if (const std::string text = DriftFoundText(found); !text.empty()) status_->ShowBeside(Q(text));
  });
  // Every user event may have been an edit; the image is compared once it has been handled.
  watch_ = std::make_unique<EditWatch>(*this, session_, [this] {
    status_->Refresh();
    check_->Refresh();
  });
  check_ = std::make_unique<CheckView>(*this, *ui_->PageControl1, session_,
                                       [this](const Field& field) { ShowPageOf(field); });
  new FocusFrame(*ui_->PageControl1);  // shows where a finding's click put the focus
  ApplyCompanyRulesSetting();
  connect(sites_.get(), &SitesMenu::SettingsKept, this, [this] { ApplyCompanyRulesSetting(); });

  const MainMenuItems menu = SetUpMainMenu(*this);
  write_all_ = menu.write_all;
  find_device_ = menu.find_device;
  gate_ = std::make_unique<PasswordGate>(*ui_->PanelPassword, *ui_->Label106, *ui_->EditPassword,
                                         *ui_->PageControl1);
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (!setup_->ChangingTabs()) PageControl1Changing();
  });
  timer1_.setInterval(100);
  connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  timer1_.start();

  resize(kFullWidth, 634);
  CentreOnScreen(*this);
}

TForm1::~TForm1() {
  timer1_.stop();
  session_.SetRecorder(&archive_);  // the registry's recorder goes before the session
  port_.CloseDevice();
}

// ---- The display routine. ----

void TForm1::UpDate() {
  show();
  search_.HideSearch();
  const int model = DeviceModel();
  if (HasPasswordGate(model)) {
    gate_->AtDisplay();  // with the stored password as it was before this display
  }
  if (!IsKnownModel(model)) return;
  DisplayPages();
  if (PasswordFromCodes(model)) {
    // The first user code as the codes grid shows it becomes the next read's password.
    std::optional<QString> first;
    if (Page* codes = FindPage("TabSheet3")) first = codes->FirstUserCode();
    gate_->SetStored(first ? *first : InstallerCodeText(Image(), model));
  }
}

void TForm1::DisplayPages() {
  if (!IsKnownModel(DeviceModel())) return;
  pages_->Display(Image(), DeviceModel(), FirmwareVersion());
  pages_show_image_ = true;
  watch_->Displayed();
  check_->Refresh();
}

void TForm1::ApplyCompanyRulesSetting() {
  const QString file = CompanyRulesFile();
  if (file.isEmpty())
    SetCompanyRules(std::nullopt);
  else
    LoadCompanyRules(file);
}

bool TForm1::LoadCompanyRules(const QString& path) {
  const QString why = check_->LoadCompanyRules(path);
  if (!why.isEmpty()) ShowStatus(QStringLiteral("Правила компании не загружены: ") + why);
  return why.isEmpty();
}

// ---- Buttons, menu and gate. ----

bool TForm1::ButtonReadClick() {
  sites_->AskTechnicianOnce();
  if (!session_.Read()) return false;  // the installer kept the changes: nothing read
  search_.HideSearch();
  return true;
}

void TForm1::WriteAsked(bool whole) {
  // Asked only of a write that would start (one refused says so itself); a write supersedes
  // whatever runs, as the read does.
  if (!sites_->AskWriteOverDrift()) return;
  if (session_.Writable() && !sites_->AskReason()) {
    ShowStatus(QStringLiteral("Запись в УО отменена: в УО ничего не записано."));
    return;
  }
  session_.Write(true, whole);
}

void TForm1::FindDeviceClick() {
  if (!MayLoseChanges()) return;
  search_.ShowSearch();
}

void TForm1::NAboutClick() {
  dialogs_.Message(QString::fromUtf8(kAboutCaption), AboutText(), false);
}

void TForm1::PageControl1Changing() {
  pages_->ForEach([](Page& page) { page.PageChanging(); });
  setup_->SetVisibleByName("PanelSetKey", false);
  setup_->SetVisibleByName("PanelKey", false);
  session_.PageChanged();
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

void TForm1::FormClose() {
  if (closing_) return;
  closing_ = true;
  session_.Close();
  // The records of the session's end are queued by now.
  sites_->Close();
  search_.MainWindowClosed();
  closing_ = false;
}

// ---- The undo history. ----

void TForm1::Step(bool undo) {
  const EditStep step = undo ? session_.Undo() : session_.Redo();
  if (step.runs.empty()) return;
  DisplayPages();
  if (step.field != nullptr) ShowPageOf(*step.field);
  ShowStatus((undo ? QStringLiteral("Отменено: ") : QStringLiteral("Повторено: ")) +
             StepLabel(step, *this));
  status_->Refresh();
}

void TForm1::ShowPageOf(const Field& field) {
  // A page change stops an exchange: not while one runs.
  if (!exchange().ButtonsEnabled() || ui_->PageControl1->isHidden()) return;
  QTabWidget* tabs = ui_->PageControl1;
  const QString tab = Q(TabSheetOf(field.page));
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->objectName() == tab && tabs->isTabVisible(i)) tabs->setCurrentIndex(i);
}

void TForm1::ResetProgress() {
  ui_->ProgressBar1->setValue(0);
}

void TForm1::UpdateWriteButton() {
  ui_->ButtonWrite->setEnabled(exchange().ButtonsEnabled() && session_.Writable());
  if (write_all_ != nullptr) write_all_->setEnabled(ui_->ButtonWrite->isEnabled());
}

// ---- Model set-up. ----

void TForm1::ApplySetupTable(const WindowSetup& setup) {
  setup_->Apply(setup);
  if (setup.hide_password_panel) gate_->HidePanel();
  if (setup.stored_password_from_edit) gate_->KeepTyped();
}

void TForm1::SetProgressMaximum(int maximum) {
  ui_->ProgressBar1->setMaximum(maximum);
  search_.SetProgressMaximum(maximum);
}

void TForm1::SetProgressPosition(int position) {
  ui_->ProgressBar1->setValue(std::min(position, ui_->ProgressBar1->maximum()));
  search_.SetProgressPosition(position);
}

// ---- What the session says. ----

void TForm1::FlushEdits() {
  // Controls that show another image (a read that ended early, another model's) would copy it
  // into this one.
  if (pages_show_image_) pages_->Commit();
}

void TForm1::Started(Operation operation) {
  const QString text = StartedText(operation);
  if (!text.isEmpty()) ShowStatus(text);
  if (operation != Operation::Read) return;
  sites_->DeviceReading();
  // From its first reply on, the read overwrites the image: the pages no longer show it.
  pages_show_image_ = false;
  status_->SetBaseTitle(kTitle + QStringLiteral(" — ") + device_line_);
  UpdateWriteButton();
  ui_->EditPassword->hide();
  ui_->PageControl1->hide();
}

void TForm1::Stage(SessionStage stage) {
  if (stage == SessionStage::Writing) status_->Refresh();  // the bytes sent as 0 are no edit
  if (stage == SessionStage::WholeCheck) ShowWholeCheck(*ui_->ProgressBar1, true);
  const QString text = StageText(stage);
  if (!text.isEmpty()) ShowStatus(text);
}

void TForm1::IdleChanged(bool idle) {
  ui_->ButtonRead->setEnabled(idle);
  // "Отмена" and the per cent while a read or a write runs (not a key poll: it has its own
  // "Остановить").
  const bool transfer = !idle && session_.Busy();
  ui_->ButtonCancel->setVisible(transfer);
  ui_->ProgressBar1->setTextVisible(transfer || session_.WholeCheckRunning());
  search_.SetProgressTextVisible(transfer);
  UpdateWriteButton();  // and only for a whole image
  // Not while an exchange runs: a search would send into the middle of it.
  find_device_->setEnabled(idle);
  pages_->ForEach([idle](Page& page) { page.SetExchangeButtonsEnabled(idle); });
}

void TForm1::Identified(const DeviceIdentity& device, bool new_model) {
  device_line_ = DeviceListLine(device, files_->IsDemo());
  if (const ModelSetup* setup = FindModelSetup(device.model)) {
    SetProgressMaximum(setup->image_length);
    if (new_model) {
      // Another model than before: back to the window as created, then this model's column.
      // The password panel comes back too, or a model-250 device after a model-252 one could
      // never be unlocked.
      pages_show_image_ = false;
      ApplySetupTable(CreationWindowSetup());
      if (setup_model_ != 0) gate_->ShowPanel();
      setup_model_ = setup->model;
      status_->Refresh();
    }
    UpdateWriteButton();
    if (const WindowSetup* window = FindWindowSetup(device.model)) ApplySetupTable(*window);
  }
  search_.DeviceAnswered(device_line_);
}

void TForm1::ImageChanged() {
  DisplayPages();
  status_->Refresh();
}

void TForm1::Disconnected() {
  status_->Say({kLineLost, kLineLost + QStringLiteral(". ") + kFindAgain, kLineLost});
}

void TForm1::KeyText(const std::string& text) {
  pages_->ForEach([&text](Page& page) { page.SetEditKey(Q(text)); });
}

void TForm1::Ended(const SessionEnd& end) {
  if (closing_) return;
  switch (end.operation) {
    case Operation::Identify:
      status_->Say(IdentifyEndSaid(end));
      if (end.cause == EndCause::NoAnswer)
        search_.ShowStatus(QStringLiteral("Прибор не отвечает."));  // the search window's
      return;
    case Operation::Read:
      return ReadEnded(end);
    case Operation::Write:
      return WriteEnded(end);
    case Operation::LearnKey:
      // The key panel closes on a failure that stopped the poll.
      if (end.cause == EndCause::GaveUp || end.cause == EndCause::LineLost) KeyStopped();
      return status_->Say(KeyEndSaid(end, Q(session_.KeyText())));
  }
}

bool TForm1::AskStopWholeCheck() {
  return dialogs_.AskYesNo(kWholeCheckCaption, StopWholeCheckQuestion());
}

void TForm1::WholeCheckEnded(const WriteReport& report, const std::string& text,
                             const std::optional<KeptRecord>& record) {
  ShowWholeCheck(*ui_->ProgressBar1, false);
  if (closing_) return;
  if (report.ok()) SetProgressPosition(report.end);
  status_->Refresh();
  const QString archived = record ? ReadBackArchivedNote(*record, files_->IsDemo()) : QString();
  const Said said = WholeCheckEndSaid(report, text, archived);
  if (report.outcome != WriteReport::Outcome::Stale) return status_->Say(said);
  ShowStatus(said.text);
  // Asked once the receive handler has returned, so the question's loop does not run in it.
  QTimer::singleShot(0, this, [this, question = said.text] { OfferOverwrite(question); });
}

void TForm1::OfferOverwrite(const QString& said) {
  if (closing_ || session_.Running()) return;
  if (dialogs_.AskYesNo(kStaleCaption, OverwriteQuestion(said))) WriteAsked(false);
}

void TForm1::ReadEnded(const SessionEnd& end) {
  check_->ReadEnded(end);
  const bool complete = end.cause == EndCause::None;
  if (complete) SetProgressPosition(end.length);  // the last piece's offset is 8 short
  UpdateWriteButton();
  if (end.display) {
    UpDate();
    if (!HasPasswordGate(DeviceModel())) ui_->PageControl1->show();
  }
  status_->Refresh();
  const QString archived =
      complete && end.record ? ArchivedNote(*end.record, files_->IsDemo()) : QString();
  status_->Say(ReadEndSaid(end, archived, session_.Saveable()));
  // Asked once, after the first complete read: the device's model is then known, and what the
  // file does not hold (a model 251 file is half the image) is the device's own. Asked after
  // the receive handler has returned, so the question's event loop does not run inside it.
  if (complete && end.display && !search_.FileToOffer().isEmpty())
    QTimer::singleShot(0, this, [this] { OfferFile(); });
}

void TForm1::OfferFile() {
  const QString file = search_.FileToOffer();
  if (file.isEmpty()) return;
  search_.FileOffered();
  files_->Offer(file);
}

void TForm1::WriteEnded(const SessionEnd& end) {
  if (end.report && end.report->ok()) SetProgressPosition(end.length);
  status_->Refresh();
  UpdateWriteButton();
  const Said said = WriteEndSaid(end);
  // The edits are in this window only now: kept in a file before the search, they survive
  // whatever comes next.
  if (said.caption == kLineLost && session_.HasUnsavedChanges())
    return files_->OfferToKeepChanges(said.caption, said.status);
  status_->Say(said);
}

}  // namespace lovar
