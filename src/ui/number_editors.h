// What the pages share to edit numbers, texts and lists and to read and set their controls: a
// control's binding (its catalog field), the digit filter and the byte editor (the parameters
// page's numeric edits and the directions page's test periods), the decimal conversion with its
// message and the text-field editor.
//
// Threads: window thread only.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "binding.h"
#include "model/catalog.h"
#include "page.h"

namespace lovar {

// The control's binding for the model: the catalog field it shows and edits, found by its object
// name (BoundField); null when the model binds it to nothing.
inline const Field* ControlField(int model, const QObject* control, int row = -1, int column = -1) {
  return BoundField(model, control->objectName().toStdString(), row, column);
}

inline bool IsBackspace(QChar c) {
  return c == QChar(QChar::SpecialCharacter(8));
}

// The digit filter, on a key press: sets the progress bar to 0; "0" to "9" and backspace pass.
// True when the key is dropped.
bool DigitFilterDrops(PageHost& host, const QString& key);

// A decimal integer in the signed 32-bit range, as the number editors accept it.
bool ParseInteger(const QString& text, int& value);
// "'%s' is not a valid integer value", in a message box.
void ReportNotAnInteger(PageHost& host, const QString& text);
// The number editors' start: an empty text becomes "0"; a text that is no integer is refused
// with the message (false), and the text stays as typed.
bool ParseOrComplain(PageHost& host, QLineEdit* edit, int& value);

// A value the field's store refused: a message names the field, what was typed, why (its range
// and unit) and the value the field keeps; the edit then shows that value.
void RefuseEdit(PageHost& host, QLineEdit* edit, const Field& field, const std::string& why);

// A grid's commit that refused some cells (each line "Строка 3: Код: why"): one message, said
// after the focus change that ran the commit, naming the cells that kept their value.
void SayRefusedCellsLater(PageHost& host, QObject* context, const QString& caption,
                          const std::vector<std::string>& lines);

// The byte editor, on leaving: the number goes to the field through the field's own store (the
// one import and batch use), and the edit then shows what is stored. A number outside the
// field's range is refused (RefuseEdit), a text that is no integer with the message above; the
// field keeps its value either way.
void EditNumber(PageHost& host, QLineEdit* edit, const Field& field);

// The text-field editor: stores the edit's text through the field's store (a shorter text is
// followed by one zero byte); a character the device's code page lacks is refused (RefuseEdit).
void EditText(PageHost& host, QLineEdit* edit, const Field& field);

// Every numeric edit under root that the model binds to a Number field gets a tooltip naming
// its range and unit from the catalog ("Число от 0 до 255 (секунды)").
void ShowRangesInToolTips(QWidget* root, int model);

// What an edit shows of its field: a Number in decimal, a Text up to its terminator, a telephone
// number as its edit writes it ("  + " and the digits), an IP address as four numbers.
void ShowField(QLineEdit* edit, const Field& field, const ConfigImage& image);

// Shows entry index of the combo's list; an index that selects no entry shows an empty text.
void ShowEntry(QComboBox* combo, int index);

}  // namespace lovar
