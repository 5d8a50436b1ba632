#include "number_editors.h"

#include <algorithm>
#include <cstdint>

#include "utf8.h"

namespace lovar {

bool DigitFilterDrops(PageHost& host, const QString& key) {
  host.ResetProgress();
  const QChar c = key.front();
  const bool passes =
      key.size() == 1 && ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || IsBackspace(c));
  return !passes;
}

bool ParseInteger(const QString& text, int& value) {
  if (text.isEmpty()) return false;
  qsizetype i = 0;
  bool negative = false;
  if (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+')) {
    negative = text[0] == QLatin1Char('-');
    i = 1;
  }
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    v = v * 10 + (c.unicode() - '0');
    if (v > int64_t{1} << 31) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

void ReportNotAnInteger(PageHost& host, const QString& text) {
  host.dialogs().Message(QStringLiteral("Ошибка"),
                         QStringLiteral("'%1' is not a valid integer value").arg(text), true);
}

bool ParseOrComplain(PageHost& host, QLineEdit* edit, int& value) {
  if (edit->text().isEmpty()) edit->setText(QStringLiteral("0"));
  if (ParseInteger(edit->text(), value)) return true;
  ReportNotAnInteger(host, edit->text());
  return false;
}

void StoreNumber(PageHost& host, QLineEdit* edit, const Field& field) {
  int value = 0;
  if (!ParseOrComplain(host, edit, value)) return;
  // The field keeps the low bits it holds: a number above 255 is stored modulo 256.
  SetFieldBits(field, host.Image(), static_cast<unsigned>(value));
  ShowField(edit, field, host.Image());
}

void StoreText(PageHost& host, QLineEdit* edit, const Field& field, int width) {
  ConfigImage& image = host.Image();
  image.SetText(field.offset, width < 0 ? field.width : width, edit->text().toStdString());
  ShowField(edit, field, image);
}

void ShowField(QLineEdit* edit, const Field& field, const ConfigImage& image) {
  if (field.kind == FieldKind::Text)
    edit->setText(Q(image.Text(field.offset, field.width)));
  else
    edit->setText(QString::number(FieldBits(field, image)));
}

void ShowEntry(QComboBox* combo, int index) {
  if (index >= 0 && index < combo->count()) {
    combo->setCurrentIndex(index);
  } else {
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) combo->setEditText(QString());
  }
}

int EntryOf(const QComboBox* combo) {
  return std::max(0, combo->findText(combo->currentText(), Qt::MatchFixedString));
}

bool HoldsTypedText(const QComboBox* combo) {
  return combo->lineEdit() != nullptr && combo->lineEdit()->isModified() &&
         combo->findText(combo->currentText(), Qt::MatchFixedString) < 0;
}

}  // namespace lovar
