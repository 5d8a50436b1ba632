// SearchLink: what the main window TForm1 may ask of the search window TFormKey, which
// implements it. The main window neither includes the search window nor reaches into its
// controls; the search window owns the main window.
//
// Threads: window thread only.
#pragma once

#include <QString>

namespace lovar {

class SearchLink {
 public:
  virtual ~SearchLink() = default;

  // Shown above the main window and given the focus ("Найти прибор"), or hidden (a read began).
  virtual void ShowSearch() = 0;
  virtual void HideSearch() = 0;
  // The status line under the device list.
  virtual void ShowStatus(const QString& text) = 0;
  // The read's progress, and its per cent while a transfer runs.
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressTextVisible(bool visible) = 0;
  // A device answered: its line listed, "Старт" offered, "Поиск" free again.
  virtual void DeviceAnswered(const QString& line) = 0;
  // The main window is gone: "Старт" withdrawn, and the search window closes, which ends the
  // program.
  virtual void MainWindowClosed() = 0;
  // The file given on the command line, still to offer after the first complete read, or empty;
  // FileOffered once it was asked about.
  virtual const QString& FileToOffer() const = 0;
  virtual void FileOffered() = 0;
};

}  // namespace lovar
