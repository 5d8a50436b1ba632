// The main window's menu "Файл" for files: where its files live (the per-model folders and the
// archive), "Считать" from a file, "Сохранить" to one, "Сравнить с файлом…" and "Архив…".
// The session loads and saves and keeps the image's standing; this asks for the files and says
// what happened.
//
// Threads: window thread only.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "page.h"
#include "port_switch.h"
#include "session/session.h"
#include "window_status.h"

namespace lovar {

class FileMenu {
 public:
  // display: the window shows the image as it now stands (the display routine).
  FileMenu(QWidget& window, PageHost& host, Session& session, const PortSwitch& port,
           WindowStatus& status, std::function<void()> display);

  // Where the file dialogs' default folders and the archive live: the program's folder, or,
  // where no file can be made there (an installed program), the user's documents, "Ловар".
  void SetProgramFolder(const QString& folder);
  std::filesystem::path FilesFolder();
  // The archive of the device on the port; a demo device's is a temporary one of this run.
  std::filesystem::path ArchivePath();
  // The port is a built-in demo device.
  bool IsDemo() const;

  void Open();     // "Считать"
  void Save();     // "Сохранить"; only a whole image
  void Compare();  // "Сравнить с файлом…"; only a whole image
  void Archive();  // "Архив…": the archive's list, and a load from it
  // A configuration file into the window (whole_image: the archive's, keys included).
  bool Load(const QString& file, bool whole_image);
  // The file given on the command line: asked whether to load it, then loaded as "Считать".
  void Offer(const QString& file);
  // The line was lost with changes kept only in the window: said (said.status), and asked
  // whether to save them in a file before the device is found again.
  void OfferToKeepChanges(const QString& caption, const QString& said);

  // Refused for an image that is not whole, said in a message box.
  void RefuseIncomplete(const QString& caption, const QString& what);

 private:
  QWidget& window_;
  PageHost& host_;
  Session& session_;
  const PortSwitch& port_;
  WindowStatus& status_;
  std::function<void()> display_;
  QString program_folder_;
  std::optional<std::filesystem::path> files_folder_;
  std::unique_ptr<QTemporaryDir> demo_files_;  // the demo devices' archive
};

// "Программирование УО ЛОВАРТ " and the file's whole path: the window holds what it holds.
QString FileTitle(const QString& file);

}  // namespace lovar
