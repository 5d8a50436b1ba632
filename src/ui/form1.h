// TForm1, the main window "Программирование УО ЛОВАР": the exchange buttons, the password gate,
// the progress bar, the pages of PageControl1 and the menus "Файл" and "Правка". It owns the
// port Cport1, the configuration image, the exchange engine (whose writes VerifiedWrite proves)
// and the pages, and is the engine's view. The status line always says what is under way, then
// how it ended; a failure also gets a message box that says what the device or file now holds.
//
// The safety net around the image:
// - Every change an editor makes (a key learnt or deleted included) is one step of the undo
//   history (EditHistory): after each user event the image is compared with the history's
//   snapshot, so no page has to report its edits. "Правка" → "Отменить" / "Повторить" (Ctrl+Z,
//   Ctrl+Y) name the field; in a line edit that holds typing not yet stored, Ctrl+Z and Ctrl+Y
//   are the edit's own. The display's corrections of out-of-range bytes (models 250, 252) and
//   the bytes a write sends as 0 are no edits: they are absorbed, never undone.
// - The title is marked "* " while the image is kept neither in the device nor in a file
//   (ImageBaselines); a new read, a load, another device and closing the window ask first.
// - Every complete read goes to the archive (files/archive.h) in FilesFolder(); a write to a
//   device whose image is not there reads it first (and takes from it what the image lacks).
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/config_image.h"
#include "model/edit_history.h"
#include "model/image_baselines.h"
#include "model/image_coverage.h"
#include "page.h"
#include "port_switch.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "qt_window_thread.h"

namespace Ui {
class TForm1;
}

namespace lovar {

class TFormKey;

class TForm1 : public QMainWindow, public VerifiedWriteView, public PageHost {
  Q_OBJECT
 public:
  // Created hidden by the search window's first "Поиск".
  TForm1(TFormKey& form_key, Dialogs& dialogs);
  ~TForm1() override;

  Ui::TForm1& ui() { return *ui_; }
  PortSwitch& Cport1() { return port_; }
  Page* FindPage(std::string_view tab_sheet) const;

  // The password gate's stored password.
  const QString& StoredPassword() const { return stored_password_; }
  void SetStoredPassword(const QString& password) { stored_password_ = password; }

  // The display routine: the whole image into the controls, the main window shown, the search
  // window hidden, the password decision.
  void UpDate();

  // Handlers, under the form's names.
  // Asks first when the image holds changes kept nowhere; false when the installer kept them
  // (nothing read).
  bool ButtonReadClick();
  // Writes only a whole image (a complete read or a file), and proves it on the device. A
  // device whose image is not in the archive (not read since it was identified) is read first.
  void ButtonWriteClick();
  // "Отмена" (Esc) while a read or a write runs: a read keeps what it has read, as at the
  // no-answer question; a write is said with what the device may now hold.
  void ButtonCancelClick();
  void N2Click();  // "Файл" → "Считать"
  void N3Click();  // "Файл" → "Сохранить"; only a whole image
  void N5Click();  // "Файл" → "Архив…": the archive's list, and a load from it
  // "Файл" → "Поиск прибора…": the search window again, to find the device once more.
  void FindDeviceClick();
  void NAboutClick();  // "Справка" → "О программе"
  void UndoClick();  // "Правка" → "Отменить"
  void RedoClick();  // "Правка" → "Повторить"
  void EditPasswordEnter();
  void EditPasswordChange();
  void PageControl1Changing();
  void Timer1Timer();

  // The model's height, or the screen's available height if that is less (the pages scroll).
  void FitHeight(int wanted);

  // Whether the image holds one whole configuration.
  bool ImageWhole() const { return coverage_.Whole(exchange_.ImageLength()); }

  // Where the file dialogs' default folders and the archive live: the program's folder, or,
  // where no file can be made there (an installed program), the user's documents, "Ловар".
  void SetProgramFolder(const QString& folder);
  std::filesystem::path FilesFolder();
  // The archive of the device on the port; a demo device's is a temporary one of this run.
  std::filesystem::path ArchivePath();

  // Whether some of the image is kept neither in the device nor in a file (what typed into the
  // focused control counts). The title shows it.
  bool HasUnsavedChanges();
  // Asks "Изменения не записаны в УО и не сохранены в файл. Продолжить?" when there are
  // unsaved changes (not again for the same image once answered Yes); true to go on.
  bool MayLoseChanges();
  // The question before the window closes, once.
  bool ConfirmClose();

  // PageHost.
  ConfigImage& Image() override { return image_; }
  int DeviceModel() const override { return exchange_.DeviceModel(); }
  int FirmwareVersion() const override { return exchange_.FirmwareVersion(); }
  void ResetProgress() override;
  Exchange& exchange() override { return exchange_; }
  Dialogs& dialogs() override { return dialogs_; }
  void ShowStatus(const QString& text) override;
  bool PagesShowImage() const override { return pages_show_image_; }

  // ExchangeView.
  bool AskContinue() override;
  void SetExchangeButtonsEnabled(bool enabled) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  void AddDeviceLine(const std::string& utf8_line) override;
  void ApplyModelSetup(const ModelSetup& setup) override;
  void ShowStartEnableSearch() override;
  void HideSearchWindow() override;
  void HidePasswordAndPages() override;
  void ReadEnded(bool complete, bool display) override;
  void Abandoned(uint8_t command) override;
  void GaveUp(uint8_t command) override;
  void LineLost(uint8_t command) override;
  void WriteStageChanged(WriteStage stage) override;
  void WriteFinished(const WriteReport& report) override;
  bool PriorImageRead(const ConfigImage& prior) override;
  void SetEditKey(const std::string& text) override;
  void KeyPollingStarted() override;
  void KeyRead() override;
  void KeyStopped() override;

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormClose();
  void ApplySetupTable(const WindowSetup& setup);
  void CommitPages();
  void SetVisibleByName(std::string_view name, bool visible);
  // A read that ended early, and why (when given): how much of the image is now the device's
  // (the write button follows).
  QString PartialRead(const QString& why);
  // A read is over: the history starts anew, the baselines follow.
  void ReadSettled(bool complete);
  // The complete read into the archive; what to add to the status line.
  QString ArchiveRead();
  bool LoadFile(const QString& file, bool whole_image);
  // The part of the image a file holds is the configuration's (saving and comparing need it).
  bool HeadWhole() const;
  // Whether a write may start: a whole image, or one whose rest the device gives first.
  bool ImageWritable() const;
  void UpdateWriteButton();
  // The port is a built-in demo device.
  bool IsDemo() const;

  // The undo history: edits captured after user events, changes that are no edit absorbed.
  void ScheduleCapture();
  void CaptureEdits();
  void TakeNonEdits();
  void Step(bool undo);
  // The pages shown from the image, in the display routine's order; alone (after an undo, or a
  // part of the image taken from the device) without the password gate.
  void DisplayPages();
  void ShowPageOf(const Field& field);
  void UpdateEditActions();
  // An undo step's name, a grid's row numbered as the grid numbers it.
  QString StepLabel(const EditStep& step) const;
  void SetBaseTitle(const QString& title);
  void UpdateTitle();
  // Ctrl+Z and Ctrl+Y in a line edit: the edit's own while it holds typing not yet stored.
  bool UndoKeyInEdit(QLineEdit* edit, QKeyEvent* key, bool press);
  void NoteFocus(QObject* watched);
  // Writing or saving an image that is not whole is refused with this message box.
  void RefuseIncomplete(const QString& caption, const QString& what);
  // A failure said in a message box and in the status line (status, or the same text).
  void SayFailure(const QString& caption, const QString& text, const QString& status = {});
  // The file given on the command line, offered after the first complete read.
  void OfferFile();

  std::unique_ptr<Ui::TForm1> ui_;
  TFormKey& form_key_;
  Dialogs& dialogs_;
  QtWindowThread window_thread_;  // before the port: deliveries need it while the port lives
  PortSwitch port_;
  ConfigImage image_;
  VerifiedWrite verified_{*this};  // the engine's view; passes on what is not its own
  Exchange exchange_;
  ImageCoverage coverage_;
  QAction* find_device_ = nullptr;
  EditHistory history_;
  ImageBaselines baselines_;
  bool reading_ = false;          // a read stores into the image
  // The pages show the image (displayed since it last changed other than by their editors);
  // only then may they store into it.
  bool pages_show_image_ = false;
  bool device_archived_ = false;  // the device identified last has its image in the archive
  std::optional<ConfigImage> agreed_loss_;  // the image the installer agreed to lose
  bool close_confirmed_ = false;
  bool capture_pending_ = false;
  QString prior_refusal_;  // why the device's image read before a write was not archived
  QString base_title_;
  QString device_line_;  // the device identified last, as the search window lists it
  std::optional<std::filesystem::path> files_folder_;
  std::unique_ptr<QTemporaryDir> demo_files_;  // the demo devices' archive
  // The line edit with the focus and its text when it got it: typing not yet stored.
  QPointer<QLineEdit> typing_edit_;
  QString typing_entry_text_;
  QTimer timer1_;
  std::map<std::string, std::unique_ptr<Page>, std::less<>> pages_;
  QString stored_password_;
  QString program_folder_;
  int setup_model_ = 0;  // the model the window is set up for; 0 = as created
  bool programmatic_page_change_ = false;
  bool closing_ = false;
};

}  // namespace lovar
