// The windows' message boxes and file dialogs on Qt (the Dialogs of page.h).
#pragma once

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>
#include <memory>

#include "page.h"

namespace lovar {

class QtDialogs : public Dialogs {
 public:
  // The window a box belongs to: the active one, else (the program not in front) the newest
  // window of ours shown; null when none is.
  static QWidget* OwnerWindow();
  // Every message box of the windows, parented to OwnerWindow() (so it stands above it) and
  // wide enough to show its whole caption.
  static std::unique_ptr<QMessageBox> MakeBox(QMessageBox::Icon icon, const QString& caption,
                                              const QString& text,
                                              QMessageBox::StandardButtons buttons);
  // The no-answer question "Прибор не отвечает" / "Продолжить?", OK and Cancel.
  static std::unique_ptr<QMessageBox> ContinueBox();
  // The file dialogs as OpenFileName and SaveFileName show them.
  static std::unique_ptr<QFileDialog> OpenDialog(const QString& title, const QString& folder,
                                                 const QString& filter, const QString& file_name);
  // The question before changes are lost, Yes and No (No the default).
  static std::unique_ptr<QMessageBox> LoseChangesBox();
  static std::unique_ptr<QFileDialog> SaveDialog(const QString& title, const QString& folder,
                                                 const QString& filter,
                                                 const QString& default_suffix,
                                                 const QString& file_name);

  // The one-line question of AskLine ("Техник", "Причина").
  static std::unique_ptr<QInputDialog> LineDialog(const QString& caption, const QString& label,
                                                  const QString& text);

  bool AskContinue() override;
  void Message(const QString& caption, const QString& text, bool warning) override;
  bool AskYesNo(const QString& caption, const QString& text) override;
  QString OpenFileName(const QString& title, const QString& folder, const QString& filter,
                       const QString& file_name) override;
  QString SaveFileName(const QString& title, const QString& folder, const QString& filter,
                       const QString& default_suffix, const QString& file_name) override;
  bool AskLoseChanges() override;
  bool AskWriteDespiteErrors(const std::vector<Finding>& findings) override;
  int ChooseArchived(const QString& folder, const std::vector<ArchivedRow>& rows) override;
  bool AskLine(const QString& caption, const QString& label, QString& text) override;
};

}  // namespace lovar
