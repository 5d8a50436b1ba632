#include "directions_page.h"

#include "number_editors.h"
#include "utf8.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "combo_width.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet6, DirectionsPage)

DirectionsPage::DirectionsPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  for (int d = 0; d < directions::kCount; ++d) {
    const QString n = QString::number(d + 1);
    Direction& dir = directions_[static_cast<size_t>(d)];
    dir.phone = tab->findChild<QLineEdit*>(QStringLiteral("EditPhone") + n);
    dir.protocol = tab->findChild<QComboBox*>(QStringLiteral("ComboBoxTR") + n);
    dir.test = tab->findChild<QComboBox*>(QStringLiteral("ComboBoxTest") + n);
    dir.period = tab->findChild<QLineEdit*>(QStringLiteral("EditTimeTest") + n);
    for (int l = 0; l < 4; ++l)
      dir.routing[static_cast<size_t>(l)] =
          tab->findChild<QComboBox*>(QStringLiteral("ComboBoxShl%1T%2").arg(l + 1).arg(n));
    dir.listen = tab->findChild<QCheckBox*>(QStringLiteral("CheckBoxUP") + n);
    dir.name = tab->findChild<QLineEdit*>(QStringLiteral("EditNaPhone") + n);

    // The protocol and test lists are filled once; the routing lists by every display.
    dir.protocol->clear();
    for (const directions::Entry& e : directions::kReportProtocols)
      dir.protocol->addItem(Q(e.caption));
    dir.test->clear();
    for (const directions::Entry& e : directions::kTestKinds) dir.test->addItem(Q(e.caption));
    // The routing lists are filled only by the display, so the boxes are made wide enough for
    // their longest entry here, in the font in use: no entry is shown cut off.
    QStringList routing;
    for (std::string_view entry : directions::kRouting) routing << Q(entry);
    for (QComboBox* combo : dir.routing) combo->setMinimumWidth(ComboWidthFor(*combo, routing));
    ShowEntry(dir.protocol, -1);
    ShowEntry(dir.test, -1);
    dir.name->setMaxLength(kNameWidth);  // what is pasted is cut to the field's width

    QLineEdit* phone = dir.phone;
    QLineEdit* period = dir.period;
    QLineEdit* name = dir.name;
    QCheckBox* listen = dir.listen;
    editors_.Add(
        phone, [this](const QString& key) { return EditPhone1KeyPress(key); },
        [this, phone] { EditPhone1Exit(phone); });
    editors_.Add(
        period, [this](const QString& key) { return DigitFilterDrops(this->host(), key); },
        [this, period] { EditTimeTest1Exit(period); });
    editors_.Add(name, nullptr, [this, name] { EditNaPhone1Exit(name); });
    editors_.Add(listen, nullptr, [this, listen] { CheckBoxUP1Exit(listen); });
    for (QComboBox* combo : {dir.protocol, dir.test}) {
      connect(combo, &QComboBox::currentTextChanged, this, [this, combo] {
        if (!displaying_) ComboBoxTest5Change(combo);
      });
      // A typed text that is none of the entries stored nibble 0; on leaving, the box shows
      // what the display shows for it.
      editors_.Add(combo, nullptr, [this, d] {
        const Direction& dir = directions_[static_cast<size_t>(d)];
        if (HoldsTypedText(dir.protocol) || HoldsTypedText(dir.test))
          ShowKinds(this->host().Image(), d);
      });
    }
    for (QComboBox* combo : dir.routing)
      connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] {
        if (!displaying_) ComboBoxShl1T1Change(combo);
      });
  }
}

void DirectionsPage::Commit() {
  editors_.CommitFocused();
}

// ---- Editors. ----

bool DirectionsPage::EditPhone1KeyPress(const QString& key) {
  const QChar c = key.front();
  const bool passes = key.size() == 1 && ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                          c == QLatin1Char('+') || IsBackspace(c));
  return !passes;
}

void DirectionsPage::EditPhone1Exit(QLineEdit* edit) {
  if (!Model251()) return;
  // Whatever reached the text past the key filter is skipped but for its digits and plus sign;
  // the edit then shows the number as stored (at most 14 digits).
  directions::SetPhoneText(host().Image(), Tag(edit), edit->text().toStdString());
  edit->setText(Q(directions::PhoneText(host().Image(), Tag(edit))));
  host().ResetProgress();
}

void DirectionsPage::ComboBoxTest5Change(QComboBox* combo) {
  if (!Model251()) return;
  const int tag = Tag(combo);
  const std::string text = combo->currentText().toStdString();
  ConfigImage& image = host().Image();
  if (tag < directions::kCount) {
    image.SetBits(directions::TestProtocolOffset(tag), 0xF0, 4, directions::ProtocolNibbleOf(text));
  } else {
    const int d = tag - 10;
    image.SetBits(directions::TestProtocolOffset(d), 0x0F, 0, directions::TestNibbleOf(text));
  }
}

void DirectionsPage::ComboBoxShl1T1Change(QComboBox* combo) {
  if (!Model251()) return;
  // A pick-only list: its index is the routing value; -1 only while a display refills it.
  const int index = combo->currentIndex();
  if (index < 0) return;
  const int tag = Tag(combo);
  directions::SetRouting(host().Image(), tag / 4, tag % 4, static_cast<uint8_t>(index));
}

void DirectionsPage::CheckBoxUP1Exit(QCheckBox* box) {
  if (!Model251()) return;
  host().Image().SetBit(directions::ListenOffset(Tag(box)), 0, box->isChecked());
}

void DirectionsPage::EditTimeTest1Exit(QLineEdit* edit) {
  if (Model251()) StoreByte(host(), edit);
}

void DirectionsPage::EditNaPhone1Exit(QLineEdit* edit) {
  if (Model251()) StoreText(host(), edit, Tag(edit), kNameWidth);
}

// ---- Display. ----

void DirectionsPage::ShowKinds(const ConfigImage& image, int d) {
  const bool displaying = displaying_;
  displaying_ = true;
  const Direction& dir = directions_[static_cast<size_t>(d)];
  const uint8_t kinds = image[directions::TestProtocolOffset(d)];
  ShowEntry(dir.test, directions::TestEntry(kinds & 0x0F));
  ShowEntry(dir.protocol, directions::ProtocolEntry(static_cast<uint8_t>(kinds >> 4)));
  displaying_ = displaying;
}

void DirectionsPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (model != 251) return;
  displaying_ = true;
  for (int d = 0; d < directions::kCount; ++d) {
    Direction& dir = directions_[static_cast<size_t>(d)];
    for (int l = 0; l < 4; ++l) {
      QComboBox* combo = dir.routing[static_cast<size_t>(l)];
      combo->clear();
      for (std::string_view entry : directions::kRouting) combo->addItem(Q(entry));
      const int value = directions::Routing(image, d, l);
      ShowEntry(combo, value <= 4 ? value : -1);
    }
    ShowKinds(image, d);
    dir.period->setText(QString::number(image[directions::PeriodOffset(d)]));
    dir.listen->setChecked(image.Bit(directions::ListenOffset(d), 0));
    dir.name->setText(Q(image.Text(directions::NameOffset(d), kNameWidth)));
    dir.phone->setText(Q(directions::PhoneText(image, d)));
  }
  displaying_ = false;
}

}  // namespace lovar
