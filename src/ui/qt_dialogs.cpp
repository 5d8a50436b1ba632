#include "qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace lovar {

bool QtDialogs::AskContinue() {
  // exec() runs a nested event loop: receive deliveries and timer ticks keep being handled.
  QMessageBox box(QMessageBox::Question, QStringLiteral("Прибор не отвечает"),
                  QStringLiteral("Продолжить?"), QMessageBox::Ok | QMessageBox::Cancel,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Ok;
}

void QtDialogs::Message(const QString& caption, const QString& text, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, caption, text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

bool QtDialogs::AskYesNo(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::OpenFileName(const QString& folder, const QString& filter,
                                const QString& file_name) {
  QFileDialog dialog(QApplication::activeWindow(), QString(), folder, filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!file_name.isEmpty() && file_name != filter) dialog.selectFile(file_name);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

QString QtDialogs::SaveFileName(const QString& folder, const QString& filter,
                                const QString& default_suffix, const QString& file_name) {
  QFileDialog dialog(QApplication::activeWindow(), QString(), folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(default_suffix);
  if (!file_name.isEmpty()) dialog.selectFile(QDir(folder).filePath(file_name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace lovar
