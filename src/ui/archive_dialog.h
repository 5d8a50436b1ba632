// "Файл" → "Архив…": the configurations kept from every complete read, newest first (date,
// model, object number), and the one to load.
//
// Threads: window thread only.
#pragma once

#include <QDialog>
#include <vector>

#include "page.h"

class QPushButton;
class QTableWidget;

namespace lovar {

class ArchiveDialog : public QDialog {
  Q_OBJECT
 public:
  ArchiveDialog(const QString& folder, const std::vector<ArchivedRow>& rows, QWidget* parent);

  QTableWidget* table() const { return table_; }
  // The row chosen, or -1.
  int chosen() const;

 private:
  QTableWidget* table_;
  QPushButton* load_;
};

}  // namespace lovar
