// TFormKey, the search window "Поиск прибора" and the application's main window: the port list
// (serial ports that can be opened now, then the built-in demo devices), "Поиск", the list of
// devices that answered, the read progress and "Старт". The first "Поиск" creates the main
// window TForm1, which owns the port.
//
// Threads: window thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "page.h"
#include "search_link.h"

namespace Ui {
class TFormKey;
}

namespace lovar {

class TForm1;

class TFormKey : public QWidget, public SearchLink {
  Q_OBJECT
 public:
  // ports: the serial ports to list (FillComPorts()); the demo entries are added after them.
  TFormKey(Dialogs& dialogs, std::vector<std::string> ports);
  ~TFormKey() override;

  Ui::TFormKey& ui() { return *ui_; }
  TForm1* Form1() const { return form1_.get(); }
  bool MainWindowReady() const { return main_window_ready_; }
  void SetMainWindowReady(bool ready) { main_window_ready_ = ready; }

  // SearchLink: what the main window tells this one.
  void ShowSearch() override;
  void HideSearch() override { hide(); }
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  void SetProgressTextVisible(bool visible) override;
  void DeviceAnswered(const QString& line) override;
  void MainWindowClosed() override;

  // Makes the demo entry of the model the combo box's text (the --demo option).
  bool ChooseDemo(int model);

  // The status line under the list: what the search is doing or why it cannot.
  void ShowStatus(const QString& text) override;

  // A configuration file given on the command line: the main window offers to load it after
  // its first complete read (a Yes/No question; on Yes it is loaded as "Файл" → "Считать"
  // loads it). The caption names it meanwhile.
  void OfferFileAfterRead(const QString& file);
  // The file still to offer, or empty.
  const QString& FileToOffer() const override { return file_to_offer_; }
  // The main window has asked about the file: none is left to offer, the caption is the form's
  // again.
  void FileOffered() override;
  // The folder the main window keeps its files in (the program's folder unless set).
  void SetProgramFolder(const QString& folder) { program_folder_ = folder; }

  // Handlers, under the form's names.
  void ButtonFindClick();
  void ButtonCreateClick();
  void ListBoxDeviceClick();

  // Run when the search window closes, which ends the program; quits the application unless
  // replaced (the tests replace it).
  std::function<void()> on_program_end;

  // True for a name "Поиск" may open: a COM port, a device path, a demo entry, a network port
  // ("socket://HOST:PORT", "rfc2217://HOST:PORT").
  static bool IsPortName(const QString& text);
  // "HOST:PORT" of a network port name (the IPv6 address in brackets); other text as it is.
  static QString ServerOf(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose

 private:
  void FormCreate(std::vector<std::string> ports);
  void FormClose();
  // A port name typed into the box stays in its list for the rest of the run.
  void KeepTypedPort(const QString& text);
  // "Поиск" and the port box, off while a network port connects.
  void SetSearchEnabled(bool enabled);

  std::unique_ptr<Ui::TFormKey> ui_;
  Dialogs& dialogs_;
  std::unique_ptr<TForm1> form1_;
  QString file_to_offer_;
  QString caption_;  // the form's own caption
  bool main_window_ready_ = false;
  bool closing_ = false;
  QString program_folder_;
};

}  // namespace lovar
