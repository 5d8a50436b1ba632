#include "number_editors.h"

#include <algorithm>
#include <cstdint>

#include <QTimer>

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

void RefuseEdit(PageHost& host, QLineEdit* edit, const Field& field, const std::string& why) {
  const QString typed = edit->text();
  ShowField(edit, field, host.Image());
  host.dialogs().Message(QStringLiteral("Неверное значение"),
                         QStringLiteral("%1: «%2» не принято: %3. В поле осталось прежнее "
                                        "значение: «%4».")
                             .arg(Q(field.caption), typed, Q(why), edit->text()),
                         true);
}

void SayRefusedCellsLater(PageHost& host, QObject* context, const QString& caption,
                          const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  QString text;
  for (const std::string& line : lines) text += Q(line) + QStringLiteral(".\n");
  text += QStringLiteral("Эти ячейки не приняты: в них осталось прежнее значение.");
  QTimer::singleShot(0, context,
                     [&host, caption, text] { host.dialogs().Message(caption, text, true); });
}

void EditNumber(PageHost& host, QLineEdit* edit, const Field& field) {
  int value = 0;
  if (!ParseOrComplain(host, edit, value)) return;
  std::string why;
  if (!StoreNumber(field, host.Image(), value, why)) return RefuseEdit(host, edit, field, why);
  ShowField(edit, field, host.Image());
}

void EditText(PageHost& host, QLineEdit* edit, const Field& field) {
  std::string why;
  if (!StoreTypedText(field, host.Image(), edit->text().toStdString(), why))
    return RefuseEdit(host, edit, field, why);
  ShowField(edit, field, host.Image());
}

void ShowRangesInToolTips(QWidget* root, int model) {
  const QString prefix = QStringLiteral("Число ");
  for (QLineEdit* edit : root->findChildren<QLineEdit*>()) {
    if (edit->isReadOnly()) continue;
    const Field* f = ControlField(model, edit);
    if (f != nullptr && f->kind == FieldKind::Number)
      edit->setToolTip(prefix + Q(RangeText(*f)));
    else if (edit->toolTip().startsWith(prefix))
      edit->setToolTip(QString());  // the range of another model's binding
  }
}

void ShowField(QLineEdit* edit, const Field& field, const ConfigImage& image) {
  switch (field.kind) {
    case FieldKind::Text:
      edit->setText(Q(image.Text(field.offset, field.width)));
      break;
    case FieldKind::Phone:
      edit->setText(
          Q(directions::PhoneText(FieldBytes(field, image).first<directions::kPhoneBytes>())));
      break;
    case FieldKind::Ip:
      edit->setText(Q(FieldText(field, image)));
      break;
    default:
      edit->setText(QString::number(FieldBits(field, image)));
  }
}

void ShowEntry(QComboBox* combo, int index) {
  if (index >= 0 && index < combo->count()) {
    combo->setCurrentIndex(index);
    // The same index again does not put back a text typed over it.
    if (combo->isEditable()) combo->setEditText(combo->itemText(index));
  } else {
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) combo->setEditText(QString());
  }
}

}  // namespace lovar
