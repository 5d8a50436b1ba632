// The windows' message boxes and file dialogs on Qt (the Dialogs of page.h).
#pragma once

#include <QWidget>

#include "page.h"

namespace lovar {

class QtDialogs : public Dialogs {
 public:
  bool AskContinue() override;
  void Message(const QString& caption, const QString& text, bool warning) override;
  bool AskYesNo(const QString& caption, const QString& text) override;
  QString OpenFileName(const QString& folder, const QString& filter,
                       const QString& file_name) override;
  QString SaveFileName(const QString& folder, const QString& filter, const QString& default_suffix,
                       const QString& file_name) override;
};

}  // namespace lovar
