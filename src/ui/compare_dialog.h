// "Файл" → "Сравнить с файлом…": the differences between the window's image and a
// configuration file, field by field in a table (page, field, in the window, in the file), with
// the bytes no field covers and the fields the file does not hold said below it. The report
// can be saved as HTML, or opened in the system's browser to print it: the Windows build has
// no Qt print support, and a browser prints the same page on every system.
//
// Threads: window thread only.
#pragma once

#include <QDialog>
#include <QString>

#include "files/diff_report.h"
#include "model/image_diff.h"
#include "page.h"

class QLabel;
class QTableWidget;

namespace lovar {

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  CompareDialog(ImageDiff diff, DiffReport report, Dialogs& dialogs, QWidget* parent);

  QTableWidget* table() const { return table_; }
  QLabel* summary() const { return summary_; }
  const ImageDiff& diff() const { return diff_; }

  // "Сохранить как HTML…": asks for a file name, then saves.
  void SaveClicked();
  // "Печать…": the report into a temporary file, opened in the browser.
  void PrintClicked();
  // Writes the report; a failure is said in a message box. True when written.
  bool SaveHtml(const QString& path);

 private:
  void FitTable();

  ImageDiff diff_;
  DiffReport report_;
  Dialogs& dialogs_;
  QTableWidget* table_;
  QLabel* summary_;
};

// Asks for a file (starting in the model's folder below files_folder), compares it with the
// host's image and opens the dialog over parent, which owns it until it is closed. A file that
// cannot be loaded for the model is said as the load says it; nothing is shown then. Returns
// the dialog, or null.
CompareDialog* CompareWithFile(QWidget* parent, PageHost& host, const QString& files_folder);

}  // namespace lovar
