// "Карточка объекта": a site's card edited (name, usually the address; customer; contact
// telephones; contract or account number; status; installation date; remark). Accepted, card()
// is the next version to keep; the owner keeps it (the registry keeps every version).
//
// Threads: window thread only.
#pragma once

#include <QDialog>

#include "store/site_store.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace lovar {

class CardDialog : public QDialog {
  Q_OBJECT
 public:
  CardDialog(const SiteCard& card, QWidget* parent);

  // The card as the fields now say (site: the one given).
  SiteCard card() const;
  QLineEdit* name() const { return name_; }
  QLineEdit* customer() const { return customer_; }
  QComboBox* status() const { return status_; }

  // "Действует", "Приостановлен", "Снят" for the registry's codes.
  static QString StatusText(const std::string& status);

 private:
  SiteCard card_;
  QLineEdit* name_;
  QLineEdit* customer_;
  QLineEdit* phones_;
  QLineEdit* contract_;
  QComboBox* status_;
  QLineEdit* installed_;
  QPlainTextEdit* remark_;
};

}  // namespace lovar
