// TForm1, the main window "Программирование УО ЛОВАР": the exchange buttons, the password gate
// (password_gate.h), the progress bar, the pages of PageControl1 and the menus "Файл" and "Правка".
// It owns the port Cport1 and the session (session/session.h) on it, which holds the image and
// decides every policy: the window shows the session and forwards the installer's acts. The status
// line always says what is under way, then how it ended; a failure also gets a message box that
// says what the device or file now holds (session_texts.h).
//
// The undo history is the session's: after each user event the image is compared with the
// history's snapshot, so no page has to report its edits. "Правка" → "Отменить" / "Повторить"
// (Ctrl+Z, Ctrl+Y) name the field; in a line edit that holds typing not yet stored, Ctrl+Z and
// Ctrl+Y are the edit's own (edit_watch.h). The title is marked "* " while the image is kept
// neither in the device nor in a file (window_status.h); a new read, a load, another device
// and closing the window ask first. Every complete read goes to the archive in FilesFolder()
// (a demo device's to a temporary one; file_menu.h).
//
// Threads: window thread only.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string_view>

#include "check_view.h"
#include "edit_watch.h"
#include "file_menu.h"
#include "page.h"
#include "pages_host.h"
#include "password_gate.h"
#include "port_switch.h"
#include "qt_window_thread.h"
#include "session/session.h"
#include "sites_menu.h"
#include "window_shaper.h"
#include "window_status.h"

namespace Ui {
class TForm1;
}

namespace lovar {

class SearchLink;

class TForm1 : public QMainWindow, public PageHost, private SessionObserver {
  Q_OBJECT
 public:
  // Created hidden by the search window's first "Поиск".
  TForm1(SearchLink& search, Dialogs& dialogs);
  ~TForm1() override;

  Ui::TForm1& ui() { return *ui_; }
  SitesMenu& sites() { return *sites_; }
  PortSwitch& Cport1() { return port_; }
  // The engine, as the tests watch it.
  const Exchange& exchange() const { return session_.engine(); }
  Page* FindPage(std::string_view tab_sheet) const { return pages_->Find(tab_sheet); }

  // The company's rules, checked on the "Проверка" panel and before a write (nullopt: none).
  void SetCompanyRules(std::optional<CompanyRules> rules) {
    check_->SetCompanyRules(std::move(rules));
  }
  // The same from a rules file; a file refused leaves none in force and the status line says
  // why. True when taken.
  bool LoadCompanyRules(const QString& path);
  // The rules file the settings name ("Настройки…"), or none; at the start and when they change.
  void ApplyCompanyRulesSetting();
  CheckView& check() { return *check_; }

  // The password gate's stored password.
  const QString& StoredPassword() const { return gate_->Stored(); }
  void SetStoredPassword(const QString& password) { gate_->SetStored(password); }
  // The pages hidden until the password is typed (the search window's "Старт" on a listed
  // device asks for the service password).
  void LockPagesWith(const QString& password) { gate_->Lock(password); }

  // The display routine: the whole image into the controls, the main window shown, the search
  // window hidden, the password decision.
  void UpDate();

  // Handlers, under the form's names.
  // Asks first when the image holds changes kept nowhere; false when the installer kept them
  // (nothing read).
  bool ButtonReadClick();
  // Asks over drift, then "Причина" (a real device's write); "Нет" or Esc writes nothing.
  void ButtonWriteClick() { WriteAsked(false); }
  // "Отмена" (Esc) while a read or a write runs.
  void ButtonCancelClick() { session_.Cancel(); }
  void N2Click() { files_->Open(); }     // "Файл" → "Считать"
  void N3Click() { files_->Save(); }     // "Файл" → "Сохранить"; only a whole image
  void N4Click() { files_->Compare(); }  // "Файл" → "Сравнить с файлом…"
  void WriteAllClick() { WriteAsked(true); }  // "Файл" → "Записать всё"
  // "Файл" → "Архив…": the device's history in the registry (the archive's list without one).
  void N5Click() { sites_->History(); }
  // "Файл" → "Поиск прибора…": the search window again, to find the device once more.
  void FindDeviceClick();
  void NAboutClick();                         // "Справка" → "О программе"
  void UndoClick() { Step(/*undo=*/true); }   // "Правка" → "Отменить"
  void RedoClick() { Step(/*undo=*/false); }  // "Правка" → "Повторить"
  void PageControl1Changing();
  void Timer1Timer() { session_.Timer1Timer(); }

  // The model's height, or the screen's available height if that is less (the pages scroll).
  void FitHeight(int wanted) { setup_->FitHeight(wanted); }

  // Where the file dialogs' default folders and the archive live: the program's folder, or,
  // where no file can be made there (an installed program), the user's documents, "Ловар".
  void SetProgramFolder(const QString& folder) { files_->SetProgramFolder(folder); }
  std::filesystem::path FilesFolder() { return files_->FilesFolder(); }
  // The archive of the device on the port; a demo device's is a temporary one of this run.
  std::filesystem::path ArchivePath() { return files_->ArchivePath(); }

  // "Изменения не записаны в УО и не сохранены в файл. Продолжить?" when there are unsaved
  // changes (not again for the same image once answered Yes); true to go on.
  bool MayLoseChanges() { return session_.MayLoseChanges(); }
  // The question before the window closes, once.
  bool ConfirmClose();

  // PageHost.
  ConfigImage& Image() override { return session_.image(); }
  int DeviceModel() const override { return session_.DeviceModel(); }
  int FirmwareVersion() const override { return session_.FirmwareVersion(); }
  void ResetProgress() override;
  Session& session() override { return session_; }
  Dialogs& dialogs() override { return dialogs_; }
  void ShowStatus(const QString& text) override { status_->Show(text); }
  bool PagesShowImage() const override { return pages_show_image_; }

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose

 private:
  // SessionObserver: what the session says, shown.
  bool AskContinue() override { return dialogs_.AskContinue(); }
  bool AskLoseChanges() override { return dialogs_.AskLoseChanges(); }
  bool AskStopWholeCheck() override;
  bool AskWriteDespiteErrors(const std::vector<Finding>& findings) override {
    return check_->AskWriteDespiteErrors(dialogs_, sites_->recorder(), findings);
  }
  void FlushEdits() override;
  void Started(Operation operation) override;
  void Stage(SessionStage stage) override;
  void Progress(int position, int /*maximum*/) override { SetProgressPosition(position); }
  void IdleChanged(bool idle) override;
  void Identified(const DeviceIdentity& device, bool new_model) override;
  void ImageChanged() override;
  void Disconnected() override;
  void KeyText(const std::string& text) override;
  void KeyPollingStarted() override {
    pages_->ForEach([](Page& page) { page.KeyPollingStarted(); });
  }
  void KeyRead() override {
    pages_->ForEach([](Page& page) { page.KeyRead(); });
  }
  void KeyStopped() override {
    pages_->ForEach([](Page& page) { page.KeyStopped(); });
  }
  void Ended(const SessionEnd& end) override;
  void WholeCheckEnded(const WriteReport& report, const std::string& text,
                       const std::optional<KeptRecord>& record) override;

  void FormClose();
  // A write, once its reason is asked (Esc: none, said).
  void WriteAsked(bool whole);
  void ReadEnded(const SessionEnd& end);
  void WriteEnded(const SessionEnd& end);
  void ApplySetupTable(const WindowSetup& setup);
  void SetProgressMaximum(int maximum);
  void SetProgressPosition(int position);
  void UpdateWriteButton();
  void Step(bool undo);
  // The pages shown from the image (alone, without the password gate).
  void DisplayPages();
  void ShowPageOf(const Field& field);
  // The file given on the command line, offered after the first complete read.
  void OfferFile();
  // The whole check found another configuration in the device: write the window's over it?
  void OfferOverwrite(const QString& said);

  std::unique_ptr<Ui::TForm1> ui_;
  SearchLink& search_;
  Dialogs& dialogs_;
  QtWindowThread window_thread_;  // before the port: deliveries need it while the port lives
  PortSwitch port_;
  ArchiveRecorder archive_{[this] { return ArchivePath(); }};
  Session session_;  // after the port: it closes the port when it goes
  std::unique_ptr<PagesHost> pages_;
  std::unique_ptr<WindowShaper> setup_;
  std::unique_ptr<WindowStatus> status_;
  std::unique_ptr<FileMenu> files_;
  std::unique_ptr<EditWatch> watch_;
  std::unique_ptr<CheckView> check_;
  std::unique_ptr<SitesMenu> sites_;
  std::unique_ptr<PasswordGate> gate_;  // the registry: records, "Объекты…", "Настройки…"
  QAction* find_device_ = nullptr;
  QAction* write_all_ = nullptr;  // "Файл" → "Записать всё"
  // The pages show the image (displayed since it last changed other than by their editors);
  // only then may they store into it.
  bool pages_show_image_ = false;
  bool close_confirmed_ = false;
  QString device_line_;  // the device identified last, as the search window lists it
  QTimer timer1_;
  int setup_model_ = 0;  // the model the window is set up for; 0 = as created
  bool closing_ = false;
};

}  // namespace lovar
