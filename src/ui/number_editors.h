// What the pages share to edit numbers, texts and lists and to read and set their controls: the
// digit filter and the byte editor (the parameters page's numeric edits and the directions page's
// test periods), the decimal conversion with its message, the text-field editor, a control's
// binding, and the rule for a list's entry.
//
// Threads: window thread only.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QString>

#include "page.h"

namespace lovar {

// The control's binding: the dynamic property "tag" of the form.
inline int Tag(const QObject* control) {
  return control->property("tag").toInt();
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

// The byte editor, on leaving: the low eight bits go to the byte of the edit's tag, and the edit
// then shows the stored byte. A refused text leaves the byte as it was.
void StoreByte(PageHost& host, QLineEdit* edit);

// The text-field editor: stores the edit's text as Text(width) at offset (a shorter text is
// followed by one zero byte), then shows what the image now holds, so a character the code page
// lacks shows as the "?" that was stored.
void StoreText(PageHost& host, QLineEdit* edit, int offset, int width);

// Shows entry index of the combo's list; an index that selects no entry shows an empty text.
void ShowEntry(QComboBox* combo, int index);

// The entry an editable list box stands for: the position of its text in its list; a text that
// is none of the entries (typed or cleared) stands for entry 0, on every page.
int EntryOf(const QComboBox* combo);
// Whether the user typed a text that is none of the combo's entries, so that on leaving it shows
// the entry that was stored instead.
bool HoldsTypedText(const QComboBox* combo);

}  // namespace lovar
