#include "ip_edit.h"

#include <QLineEdit>

namespace lovar {
namespace {

constexpr qsizetype kOctetDigits = 3;
constexpr qsizetype kDots = 3;

bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The number around position pos: [start, end) between the dots.
struct Octet {
  qsizetype start, end;
};
Octet OctetAt(const QString& text, qsizetype pos) {
  const qsizetype start = pos == 0 ? 0 : text.lastIndexOf(QLatin1Char('.'), pos - 1) + 1;
  qsizetype end = text.indexOf(QLatin1Char('.'), pos);
  if (end < 0) end = text.size();
  return {start, end};
}

// Replaces the number [start, end) with text and puts the cursor after it.
void ReplaceOctet(QLineEdit* edit, Octet octet, const QString& text) {
  edit->setSelection(static_cast<int>(octet.start), static_cast<int>(octet.end - octet.start));
  edit->insert(text);  // an edit, not setText: it can be undone and counts as typed
}

bool Digit(QLineEdit* edit, QChar digit) {
  if (edit->hasSelectedText()) return false;  // the digit replaces the selection
  const QString text = edit->text();
  const qsizetype pos = edit->cursorPosition();
  Octet octet = OctetAt(text, pos);
  if (pos == octet.start && octet.end > octet.start) {
    ReplaceOctet(edit, octet, QString(digit));
    return true;
  }
  if (octet.end - octet.start < kOctetDigits) return false;  // typed into the number
  // A full number: a digit at its end starts the next one, anywhere else it is dropped.
  if (pos != octet.end || octet.end == text.size()) return true;
  ReplaceOctet(edit, OctetAt(text, octet.end + 1), QString(digit));
  return true;
}

bool Dot(QLineEdit* edit) {
  if (edit->hasSelectedText()) {
    edit->insert(QStringLiteral("."));
    return true;
  }
  const QString text = edit->text();
  const qsizetype pos = edit->cursorPosition();
  const qsizetype next_dot = text.indexOf(QLatin1Char('.'), pos);
  if (next_dot < 0) {
    // The last number: a dot more only while the address has fewer than four numbers.
    if (text.count(QLatin1Char('.')) >= kDots) return true;
    edit->insert(QStringLiteral("."));
    return true;
  }
  // The number ends here: its old digits behind the cursor go, and the next number is next.
  if (next_dot > pos) {
    edit->setSelection(static_cast<int>(pos), static_cast<int>(next_dot - pos));
    edit->del();
  }
  edit->setCursorPosition(static_cast<int>(pos + 1));
  return true;
}

}  // namespace

bool IpEditKey(QLineEdit* edit, const QString& key) {
  if (key.size() != 1) return true;
  const QChar c = key.front();
  if (c == QChar(QChar::SpecialCharacter(8))) return false;  // backspace
  if (IsDigit(c)) return Digit(edit, c);
  if (c == QLatin1Char('.') || c == QLatin1Char(',')) return Dot(edit);
  return true;
}

}  // namespace lovar
