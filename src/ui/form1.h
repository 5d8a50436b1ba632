// TForm1, the main window "Программирование УО ЛОВАР": the exchange buttons, the password gate,
// the progress bar, the pages of PageControl1 and the menu "Файл". It owns the port Cport1,
// the configuration image, the exchange engine (whose writes VerifiedWrite proves) and the
// pages, and is the engine's view. The status line always says what is under way, then how it
// ended; a failure also gets a message box that says what the device or file now holds.
//
// Threads: window thread only.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "model/config_image.h"
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
  void ButtonReadClick();
  // Writes only a whole image (a complete read or a file), and proves it on the device.
  void ButtonWriteClick();
  void N2Click();  // "Файл" → "Считать"
  void N3Click();  // "Файл" → "Сохранить"; only a whole image
  // "Файл" → "Поиск прибора…": the search window again, to find the device once more.
  void FindDeviceClick();
  void NAboutClick();  // "Справка" → "О программе"
  void EditPasswordEnter();
  void EditPasswordChange();
  void PageControl1Changing();
  void Timer1Timer();

  // Whether the image holds one whole configuration, so that it may be written or saved.
  bool ImageWhole() const { return coverage_.Whole(exchange_.ImageLength()); }

  // Where the file dialogs' default folders live: the program's folder (see DialogFolder).
  void SetProgramFolder(const QString& folder) { program_folder_ = folder; }

  // A file (given on the command line) to offer for loading once a read is complete: a
  // Yes/No question, and on Yes the file is loaded as "Файл" → "Считать" loads it.
  void OfferFileAfterRead(const QString& file) { file_to_offer_ = file; }
  const QString& FileToOffer() const { return file_to_offer_; }

  // PageHost.
  ConfigImage& Image() override { return image_; }
  int DeviceModel() const override { return exchange_.DeviceModel(); }
  int FirmwareVersion() const override { return exchange_.FirmwareVersion(); }
  void ResetProgress() override;
  Exchange& exchange() override { return exchange_; }
  Dialogs& dialogs() override { return dialogs_; }
  void ShowStatus(const QString& text) override;

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
  void SetEditKey(const std::string& text) override;
  void KeyPollingStarted() override;
  void KeyRead() override;
  void KeyStopped() override;

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormClose();
  void ApplySetupTable(const ModelSetup& setup);
  void CommitPages();
  void SetVisibleByName(std::string_view name, bool visible);
  // A read that ended early, and why (when given): how much of the image is now the device's
  // (the write button follows).
  QString PartialRead(const QString& why);
  void UpdateWriteButton();
  // Writing or saving an image that is not whole is refused with this message box.
  void RefuseIncomplete(const QString& caption, const QString& what);
  // A failure said in a message box and in the status line (status, or the same text).
  void SayFailure(const QString& caption, const QString& text, const QString& status = {});
  void LoadFile(const QString& file);
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
  bool buttons_enabled_ = false;
  QTimer timer1_;
  std::map<std::string, std::unique_ptr<Page>, std::less<>> pages_;
  QString stored_password_;
  QString program_folder_;
  QString file_to_offer_;
  int setup_model_ = 0;  // the model the window is set up for; 0 = as created
  bool programmatic_page_change_ = false;
  bool closing_ = false;
};

}  // namespace lovar
