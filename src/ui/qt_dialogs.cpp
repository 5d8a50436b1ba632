#include "qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGridLayout>
#include <QTimer>
#include <algorithm>

#include "archive_dialog.h"
#include "check_panel.h"

namespace lovar {

QWidget* QtDialogs::OwnerWindow() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  // The program is not in front (another program's window, a loaded machine, Wine): the box
  // still belongs to a window of ours, and stands above it, never behind it. The newest shown
  // window is the one the installer works in (a dialog over the main window).
  QWidget* owner = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && !w->isMinimized() && !(w->windowFlags() & Qt::Popup) &&
        w->windowType() != Qt::ToolTip)
      owner = w;
  return owner;
}

std::unique_ptr<QMessageBox> QtDialogs::MakeBox(QMessageBox::Icon icon, const QString& caption,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons) {
  auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, OwnerWindow());
  // A box as narrow as a short text gets its caption cut ("Приб… чает") by the title bar: the
  // box is made as wide as the caption and the title bar's buttons need.
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  const int width = metrics.horizontalAdvance(caption) * 6 / 5 + 120;
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  return box;
}

bool QtDialogs::AskContinue() {
  const std::unique_ptr<QMessageBox> box = ContinueBox();
  // Raised and given the keyboard once shown: a question hidden under its window would stall
  // the exchange without a word.
  QTimer::singleShot(0, box.get(), [b = box.get()] {
    b->raise();
    b->activateWindow();
  });
  // exec() runs a nested event loop: receive deliveries and timer ticks keep being handled.
  return box->exec() == QMessageBox::Ok;
}

std::unique_ptr<QMessageBox> QtDialogs::ContinueBox() {
  return MakeBox(QMessageBox::Question, QStringLiteral("Прибор не отвечает"),
                 QStringLiteral("Продолжить?"), QMessageBox::Ok | QMessageBox::Cancel);
}

std::unique_ptr<QMessageBox> QtDialogs::LoseChangesBox() {
  auto box =
      MakeBox(QMessageBox::Question, QStringLiteral("Изменения не сохранены"),
              QStringLiteral("Изменения не записаны в УО и не сохранены в файл. Продолжить?"),
              QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::No);  // Enter keeps the changes
  return box;
}

bool QtDialogs::AskLoseChanges() {
  return LoseChangesBox()->exec() == QMessageBox::Yes;
}

bool QtDialogs::AskWriteDespiteErrors(const std::vector<Finding>& findings) {
  return lovar::AskWriteDespiteErrors(findings);
}

int QtDialogs::ChooseArchived(const QString& folder, const std::vector<ArchivedRow>& rows) {
  ArchiveDialog dialog(folder, rows, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted ? dialog.chosen() : -1;
}

std::unique_ptr<QInputDialog> QtDialogs::LineDialog(const QString& caption, const QString& label,
                                                    const QString& text) {
  auto dialog = std::make_unique<QInputDialog>(OwnerWindow());
  dialog->setWindowTitle(caption);
  dialog->setLabelText(label);
  dialog->setTextValue(text);
  dialog->setInputMode(QInputDialog::TextInput);
  // The label says the whole question: wide enough for it, and for a line typed.
  dialog->resize(std::max(dialog->sizeHint().width(), 460), dialog->sizeHint().height());
  return dialog;
}

bool QtDialogs::AskLine(const QString& caption, const QString& label, QString& text) {
  const std::unique_ptr<QInputDialog> dialog = LineDialog(caption, label, text);
  if (dialog->exec() != QDialog::Accepted) return false;
  text = dialog->textValue().trimmed();
  return true;
}

void QtDialogs::Message(const QString& caption, const QString& text, bool warning) {
  MakeBox(warning ? QMessageBox::Warning : QMessageBox::Information, caption, text, QMessageBox::Ok)
      ->exec();
}

bool QtDialogs::AskYesNo(const QString& caption, const QString& text) {
  return MakeBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No)
             ->exec() == QMessageBox::Yes;
}

std::unique_ptr<QFileDialog> QtDialogs::OpenDialog(const QString& title, const QString& folder,
                                                   const QString& filter,
                                                   const QString& file_name) {
  auto dialog = std::make_unique<QFileDialog>(QApplication::activeWindow(), title, folder, filter);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  if (!file_name.isEmpty() && file_name != filter) dialog->selectFile(file_name);
  return dialog;
}

std::unique_ptr<QFileDialog> QtDialogs::SaveDialog(const QString& title, const QString& folder,
                                                   const QString& filter,
                                                   const QString& default_suffix,
                                                   const QString& file_name) {
  auto dialog = std::make_unique<QFileDialog>(QApplication::activeWindow(), title, folder, filter);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setDefaultSuffix(default_suffix);
  if (!file_name.isEmpty()) dialog->selectFile(QDir(folder).filePath(file_name));
  return dialog;
}

namespace {

QString Chosen(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

QString QtDialogs::OpenFileName(const QString& title, const QString& folder, const QString& filter,
                                const QString& file_name) {
  return Chosen(*OpenDialog(title, folder, filter, file_name));
}

QString QtDialogs::SaveFileName(const QString& title, const QString& folder, const QString& filter,
                                const QString& default_suffix, const QString& file_name) {
  return Chosen(*SaveDialog(title, folder, filter, default_suffix, file_name));
}

}  // namespace lovar
