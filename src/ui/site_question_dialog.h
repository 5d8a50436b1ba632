// "Объект прибора": asked after the read of a device the registry cannot place by itself (models
// 250 and 252, a model 251 whose number is new): which site of the registry this device is.
// The sites whose newest image matches the device's best (keys, codes, telephone numbers; ranked
// by the core, recording/site_match.h) come first, then every site by name, narrowed as a name
// is typed; "Новый объект…" asks the new site's name (usually the address). Esc leaves the
// records "объект не указан".
//
// A view: it shows the question and gives back the answer; the owner files the records.
//
// Threads: window thread only.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "recording/site_match.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lovar {

class Dialogs;

class SiteQuestionDialog : public QDialog {
  Q_OBJECT
 public:
  SiteQuestionDialog(SiteQuestion question, int model, Dialogs& dialogs, QWidget* parent);

  QLineEdit* search() const { return search_; }
  QListWidget* list() const { return list_; }
  QPushButton* choose_button() const { return choose_; }
  QPushButton* new_button() const { return new_; }
  const SiteQuestion& question() const { return question_; }

  // The answer, once accepted: the site chosen, or (chosen_site 0) a new site's name.
  int64_t chosen_site() const { return chosen_site_; }
  const std::string& chosen_name() const { return chosen_name_; }

  // The most sites listed at once besides the best matches; a search narrows the rest.
  static constexpr int kListed = 200;

  // "Выбрать": the site of the row selected.
  void ChooseSelected();
  // "Новый объект…": its name asked; accepted once given.
  void NewSite();

 private:
  void Fill();

  SiteQuestion question_;
  Dialogs& dialogs_;
  int64_t chosen_site_ = 0;
  std::string chosen_name_;
  QLineEdit* search_;
  QListWidget* list_;
  QLabel* more_;
  QPushButton* choose_;
  QPushButton* new_;
};

}  // namespace lovar
