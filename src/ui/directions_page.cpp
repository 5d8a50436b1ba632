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
#include "list_editor.h"
#include "typing_limits.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet6, DirectionsPage)

DirectionsPage::DirectionsPage(PageHost& host, QWidget* tab) : Page(host) {
  ui_.setupUi(tab);
  // The page's fields as the first model that has the page holds them.
  ShowRangesInToolTips(tab, FirstModelWith(FieldPage::Directions));
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
    dir.name->setMaxLength(directions::kNameWidth);  // what is pasted is cut to its width

    QLineEdit* phone = dir.phone;
    QLineEdit* period = dir.period;
    QLineEdit* name = dir.name;
    QCheckBox* listen = dir.listen;
    editors_.Add(
        phone, [this](const QString& key) { return EditPhone1KeyPress(key); },
        [this, phone] { EditPhone1Exit(phone); }, QStringLiteral("только цифры и «+»"));
    editors_.Add(
        period, [this](const QString& key) { return DigitFilterDrops(this->host(), key); },
        [this, period] { EditTimeTest1Exit(period); }, QStringLiteral("только цифры"));
    editors_.Add(name, nullptr, [this, name] { EditNaPhone1Exit(name); });
    editors_.Add(listen, nullptr, [this, listen] { CheckBoxUP1Exit(listen); });
    for (QComboBox* combo : {dir.protocol, dir.test}) {
      connect(combo, &QComboBox::currentTextChanged, this, [this, combo] {
        if (!displaying_) ComboBoxTest5Change(combo);
      });
      // A typed text is taken on leaving when it names an entry, else refused (list_editor.h).
      editors_.Add(combo, nullptr, [this, d, combo] {
        if (const Field* f = FieldOf(combo))
          TakeTypedEntry(this->host(), combo, *f, [this, d] {
            ShowKinds(this->host().Image(), this->host().DeviceModel(), d);
          });
      });
    }
    for (QComboBox* combo : dir.routing)
      connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] {
        if (!displaying_) ComboBoxShl1T1Change(combo);
      });
  }
  editors_.SayLimits([this](QWidget* control, const QString& limit) {
    SayTypingLimit(this->host(), control, limit);
  });
}

void DirectionsPage::Commit() {
  editors_.CommitFocused();
}

const Field* DirectionsPage::FieldOf(const QObject* control) const {
  return ControlField(host().DeviceModel(), control);
}

// ---- Editors. ----

bool DirectionsPage::EditPhone1KeyPress(const QString& key) {
  const QChar c = key.front();
  const bool passes = key.size() == 1 && ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                          c == QLatin1Char('+') || IsBackspace(c));
  return !passes;
}

void DirectionsPage::EditPhone1Exit(QLineEdit* edit) {
  const Field* f = FieldOf(edit);
  if (f == nullptr) return;
  host().ResetProgress();
  // The store import and batch use: "" is no number (00 FF…), more than 14 digits or a plus
  // sign alone is refused rather than cut; the edit then shows the number as stored.
  std::string why;
  if (!StorePhone(*f, host().Image(), edit->text().toStdString(), why))
    return RefuseEdit(host(), edit, *f, why);
  ShowField(edit, *f, host().Image());
}

void DirectionsPage::ComboBoxTest5Change(QComboBox* combo) {
  // The entry's code, as the catalog reads its text; a text that names none stores nothing.
  const Field* f = FieldOf(combo);
  unsigned value = 0;
  if (f != nullptr && !TypingInto(combo) &&
      ListValueOf(*f, combo->currentText().toStdString(), value))
    SetFieldBits(*f, host().Image(), value);
}

void DirectionsPage::ComboBoxShl1T1Change(QComboBox* combo) {
  // A pick-only list: its index is the routing value; -1 only while a display refills it.
  const int index = combo->currentIndex();
  const Field* f = FieldOf(combo);
  if (index >= 0 && f != nullptr) SetFieldBits(*f, host().Image(), static_cast<unsigned>(index));
}

void DirectionsPage::CheckBoxUP1Exit(QCheckBox* box) {
  if (const Field* f = FieldOf(box)) SetFieldBits(*f, host().Image(), box->isChecked() ? 1 : 0);
}

void DirectionsPage::EditTimeTest1Exit(QLineEdit* edit) {
  if (const Field* f = FieldOf(edit)) EditNumber(host(), edit, *f);
}

void DirectionsPage::EditNaPhone1Exit(QLineEdit* edit) {
  if (const Field* f = FieldOf(edit)) EditText(host(), edit, *f);
}

// ---- Display. ----

void DirectionsPage::ShowKinds(const ConfigImage& image, int model, int d) {
  const Direction& dir = directions_[static_cast<size_t>(d)];
  const Field* test = ControlField(model, dir.test);
  const Field* protocol = ControlField(model, dir.protocol);
  if (test == nullptr || protocol == nullptr) return;
  const bool displaying = displaying_;
  displaying_ = true;
  // The entry of the first matching bit, not of the stored value as a whole.
  ShowEntry(dir.test, directions::TestEntry(static_cast<uint8_t>(FieldBits(*test, image))));
  ShowEntry(dir.protocol,
            directions::ProtocolEntry(static_cast<uint8_t>(FieldBits(*protocol, image))));
  displaying_ = displaying;
}

void DirectionsPage::Display(const ConfigImage& image, int model, int /*firmware*/) {
  if (!ModelHas(model, FieldPage::Directions)) return;
  displaying_ = true;
  for (int d = 0; d < directions::kCount; ++d) {
    Direction& dir = directions_[static_cast<size_t>(d)];
    for (QComboBox* combo : dir.routing) {
      const Field* f = ControlField(model, combo);
      if (f == nullptr) continue;
      combo->clear();
      for (std::string_view entry : f->captions) combo->addItem(Q(entry));
      ShowEntry(combo, static_cast<int>(FieldBits(*f, image)));
    }
    ShowKinds(image, model, d);
    for (QLineEdit* edit : {dir.period, dir.name})
      if (const Field* f = ControlField(model, edit)) ShowField(edit, *f, image);
    if (const Field* f = ControlField(model, dir.listen))
      dir.listen->setChecked(FieldBits(*f, image) != 0);
    if (const Field* f = ControlField(model, dir.phone)) ShowField(dir.phone, *f, image);
  }
  displaying_ = false;
}

}  // namespace lovar
