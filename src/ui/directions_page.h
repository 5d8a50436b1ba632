// The page "Параметры передачи" (TabSheet6, model 251): the five report directions, each with
// its telephone number, report protocol, test message and period, routing of the four loops,
// listen-in and name. The editors write straight into the image: the edits and the listen-in
// boxes when they are left, the combo boxes at every change. There is no commit of the page as a
// whole; Commit() runs the editor of the control that holds the focus. Each control shows and
// edits its catalog field; the telephone numbers and the protocol and test kinds keep the page's
// own display rules over the field's bits.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <array>

#include "editor_events.h"
#include "model/catalog.h"
#include "model/regions.h"
#include "page.h"
#include "ui_directions_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace lovar {

class DirectionsPage : public QObject, public Page {
  Q_OBJECT
 public:
  DirectionsPage(PageHost& host, QWidget* tab);

  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;

  Ui::DirectionsPage& ui() { return ui_; }

  // The controls of direction d (0 to 4).
  struct Direction {
    QLineEdit* phone;
    QComboBox* protocol;
    QComboBox* test;
    QLineEdit* period;
    std::array<QComboBox*, 4> routing;  // ШС1 to ШС4
    QCheckBox* listen;
    QLineEdit* name;
  };
  const Direction& direction(int d) const { return directions_[static_cast<size_t>(d)]; }

  // The editors, named after the first member of their family. Key filters return true when the
  // key is dropped.
  bool EditPhone1KeyPress(const QString& key);
  void EditPhone1Exit(QLineEdit* edit);
  void ComboBoxTest5Change(QComboBox* combo);   // protocol and test kind
  void ComboBoxShl1T1Change(QComboBox* combo);  // routing
  void CheckBoxUP1Exit(QCheckBox* box);
  void EditTimeTest1Exit(QLineEdit* edit);  // the byte editor
  void EditNaPhone1Exit(QLineEdit* edit);   // the name, cut to its width as typed

 private:
  // The field the device's model binds the control to; null (on models 250 and 252) makes every
  // editor of the page store nothing.
  const Field* FieldOf(const QObject* control) const;
  // Direction d's test and protocol boxes from the image, as the display shows them.
  void ShowKinds(const ConfigImage& image, int model, int d);

  Ui::DirectionsPage ui_;
  std::array<Direction, directions::kCount> directions_{};
  EditorEvents editors_;
  bool displaying_ = false;
};

}  // namespace lovar
