// The page "Параметры" (TabSheet1): loops, outputs, sounder, siren, board address, direction,
// protocol, level and the model-251 group GroupBox13. Its editors write straight into the
// image: edit boxes and check boxes when they are left, combo boxes at every choice (a typed
// text when it is left, list_editor.h). Each
// control shows and edits the catalog field the device's model binds it to (BoundField): the
// bytes, bits and lists of both layouts come from there, only the display's order and the
// controls' visibility are the page's.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QString>

#include "editor_events.h"
#include "model/catalog.h"
#include "page.h"
#include "ui_parameters_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace lovar {

class ParametersPage : public QObject, public Page {
  Q_OBJECT
 public:
  ParametersPage(PageHost& host, QWidget* tab);

  void ApplyModelSetup(const WindowSetup& setup) override;
  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;

  Ui::ParametersPage& ui() { return ui_; }
  // The field a control of the page shows and edits for the device's model; null for none.
  const Field* FieldOf(const QObject* control) const;

  // The editors, each serving a family of like controls, named after the family's first member.
  // Returns true when the key is dropped.
  bool EditTimeIn1KeyPress(QLineEdit* edit, const QString& key);  // digit filter
  void EditTimeIn1Exit(QLineEdit* edit);                          // byte editor
  void EditNumPlataExit();                                        // board address
  void EditNumNaprExit();                                         // direction number
  void CheckRele11Exit(QCheckBox* box);                           // output and sounder by loop
  void CheckBoxSir1Exit(QCheckBox* box);          // model 251: siren, re-arming, technological loop
  void CheckRele11Click();                        // first-row check boxes: progress to 0
  void ComboBoxTypeShl1Change(QComboBox* combo);  // loop types and protocol
  void ComboBoxTypeRele1Change(QComboBox* combo);  // output modes
  void ComboBoxLevelChange();
  void EditNameShl1Exit(QLineEdit* edit);  // text fields, cut to their width as typed

 private:
  // The digit filter of a numeric edit.
  EditorEvents::KeyFilter DigitFilter(QLineEdit* edit);
  void DisplayBranchA(const ConfigImage& image, int model);
  void DisplayBranchB(const ConfigImage& image, const ModelSetup& setup, int firmware);
  // The display of one control from its field; a control the model binds to nothing is left
  // as it is. A list shows its entry; ShowList first replaces the list with the field's
  // captions, the last one left out unless last_entry.
  void Show(QLineEdit* edit, const ConfigImage& image, int model);
  void Show(QCheckBox* box, const ConfigImage& image, int model);
  void Show(QComboBox* combo, const ConfigImage& image, int model);
  void ShowList(QComboBox* combo, const ConfigImage& image, int model, bool last_entry = true);
  // One list box again from the image, after a typed text was refused.
  void Reshow(QComboBox* combo);
  void ShowProtocol(const ConfigImage& image, int model);
  // The value of the list the control shows (0 when the model binds it to nothing).
  unsigned ListValue(QComboBox* combo, const ConfigImage& image, int model);
  void ShowTimeHeading();

  Ui::ParametersPage ui_;
  QWidget* tab_;
  EditorEvents editors_;
  bool displaying_ = false;
};

}  // namespace lovar
