#include "list_editor.h"

#include <QLineEdit>
#include <QStringList>

#include "utf8.h"

namespace lovar {

bool TypingInto(const QComboBox* combo) {
  return combo->lineEdit() != nullptr && combo->lineEdit()->isModified();
}

int EntryNamed(const QComboBox* combo, const Field& field, const QString& text) {
  const int own = combo->findText(text.trimmed(), Qt::MatchFixedString);
  if (own >= 0) return own;
  unsigned value = 0;
  bool named = ListValueOf(field, text.toStdString(), value);
  for (size_t i = 0; !named && i < field.aliases.size(); ++i)
    if (Q(field.aliases[i]).compare(text.trimmed(), Qt::CaseInsensitive) == 0) {
      value = static_cast<unsigned>(i);
      named = true;
    }
  if (!named) return -1;
  for (const directions::Entry& e : field.entries)
    if (e.nibble == value) return combo->findText(Q(e.caption));
  // An index list: the box may offer fewer entries than the field has (firmware before 10).
  return field.entries.empty() && static_cast<int>(value) < combo->count() ? static_cast<int>(value)
                                                                           : -1;
}

void TakeTypedEntry(PageHost& host, QComboBox* combo, const Field& field,
                    const std::function<void()>& reshow) {
  if (!TypingInto(combo)) return;
  const QString typed = combo->currentText();
  const int entry = EntryNamed(combo, field, typed);
  combo->lineEdit()->setModified(false);
  if (entry >= 0) {
    combo->setCurrentIndex(entry);
    combo->setEditText(combo->itemText(entry));  // the entry's own spelling, stored as chosen
    return;
  }
  reshow();
  QStringList entries;
  for (int i = 0; i < combo->count(); ++i)
    if (!entries.contains(combo->itemText(i))) entries << combo->itemText(i);
  host.dialogs().Message(
      QStringLiteral("Неверное значение"),
      QStringLiteral("%1: «%2» не принято: такого значения нет в списке. Можно выбрать: «%3». В "
                     "поле осталось прежнее значение: «%4».")
          .arg(Q(field.caption), typed, entries.join(QStringLiteral("», «")), combo->currentText()),
      true);
}

}  // namespace lovar
