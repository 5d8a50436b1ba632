#include "parameters_page.h"

#include "number_editors.h"
#include "utf8.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "combo_width.h"
#include "focus_view.h"
#include "list_editor.h"
#include "model/layout.h"
#include "typing_limits.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet1, ParametersPage)

namespace {

template <size_t N>
QStringList List(const std::string_view (&entries)[N]) {
  QStringList list;
  for (std::string_view entry : entries) list << Q(entry);
  return list;
}

void ReplaceList(QComboBox* combo, const QStringList& entries) {
  combo->clear();
  combo->addItems(entries);
}

constexpr uint8_t kUnitLess[] = " ";

QString UnitLess() {
  return QString::fromLatin1(reinterpret_cast<const char*>(kUnitLess));
}

}  // namespace

const QString kDigitsOnly = QStringLiteral("только цифры");

EditorEvents::KeyFilter ParametersPage::DigitFilter(QLineEdit* edit) {
  return [this, edit](const QString& key) { return EditTimeIn1KeyPress(edit, key); };
}

ParametersPage::ParametersPage(PageHost& host, QWidget* tab) : Page(host), tab_(tab) {
  ui_.setupUi(tab);
  Ui::ParametersPage& u = ui_;
  // The loop type lists change with the model; each box is made wide enough for the longest
  // entry of either list in the font in use, so no type is shown cut off.
  QStringList all_types = List(lists::kLoopTypes251) + List(lists::kLoopTypes250);
  for (QComboBox* c :
       {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3, u.ComboBoxTypeShl4})
    c->setMinimumWidth(ComboWidthFor(*c, all_types));
  for (QLineEdit* e :
       {u.EditTimeIn1, u.EditTimeIn2, u.EditTimeIn3, u.EditTimeIn4, u.EditTimeOut1, u.EditTimeOut2,
        u.EditTimeOut3, u.EditTimeOut4, u.EditTimeRele1, u.EditTimeRele2, u.EditTimeSound,
        u.EditTimeSir, u.EditTimeAuto, u.EditCountSMS, u.EditCountRep, u.EditCountSpeak, u.Edit6,
        u.Edit2, u.EditTimeAnswer})
    editors_.Add(
        e, DigitFilter(e), [this, e] { EditTimeIn1Exit(e); }, kDigitsOnly);
  editors_.Add(
      u.EditNumPlata, DigitFilter(u.EditNumPlata), [this] { EditNumPlataExit(); }, kDigitsOnly);
  editors_.Add(
      u.EditNumNapr, DigitFilter(u.EditNumNapr), [this] { EditNumNaprExit(); }, kDigitsOnly);
  editors_.SayLimits([this](QWidget* control, const QString& limit) {
    SayTypingLimit(this->host(), control, limit);
  });
  for (QCheckBox* c :
       {u.CheckRele11, u.CheckRele12, u.CheckRele13, u.CheckRele14, u.CheckRele21, u.CheckRele22,
        u.CheckRele23, u.CheckRele24, u.CheckSound1, u.CheckSound2, u.CheckSound3, u.CheckSound4})
    editors_.Add(c, nullptr, [this, c] { CheckRele11Exit(c); });
  for (QCheckBox* c :
       {u.CheckBoxSir1, u.CheckBoxSir2, u.CheckBoxSir3, u.CheckBoxSir4, u.CheckBoxAuto1,
        u.CheckBoxAuto2, u.CheckBoxAuto3, u.CheckBoxAuto4, u.CheckTechV1, u.CheckTechV2,
        u.CheckTechV3, u.CheckTechV4, u.CheckTechS1, u.CheckTechS2, u.CheckTechS3, u.CheckTechS4})
    editors_.Add(c, nullptr, [this, c] { CheckBoxSir1Exit(c); });
  for (QLineEdit* e :
       {u.EditNameShl1, u.EditNameShl2, u.EditNameShl3, u.EditNameShl4, u.EditObjekt, u.EditPasw})
    editors_.Add(e, nullptr, [this, e] { EditNameShl1Exit(e); });
  // A typed text is taken on leaving when it names an entry, else refused (list_editor.h).
  for (QComboBox* c :
       {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3, u.ComboBoxTypeShl4,
        u.ComboBoxType, u.ComboBoxTypeRele1, u.ComboBoxTypeRele2})
    editors_.Add(c, nullptr, [this, c] {
      if (const Field* f = FieldOf(c))
        TakeTypedEntry(this->host(), c, *f, [this, c] { Reshow(c); });
    });
  editors_.SwallowKeys(u.ComboBoxLevel);  // the level is chosen with the mouse only
  TabInRows({u.gridLayoutTop, u.gridLayoutPanel2, u.gridLayoutGroup13});

  for (QCheckBox* c :
       {u.CheckRele11, u.CheckRele21, u.CheckSound1, u.CheckBoxSir1, u.CheckBoxAuto1})
    connect(c, &QCheckBox::clicked, this, [this] { CheckRele11Click(); });
  for (QComboBox* c : {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3,
                       u.ComboBoxTypeShl4, u.ComboBoxType})
    connect(c, &QComboBox::currentTextChanged, this, [this, c] {
      if (!displaying_) ComboBoxTypeShl1Change(c);
    });
  for (QComboBox* c : {u.ComboBoxTypeRele1, u.ComboBoxTypeRele2})
    connect(c, &QComboBox::currentTextChanged, this, [this, c] {
      if (!displaying_) ComboBoxTypeRele1Change(c);
    });
  connect(u.ComboBoxLevel, &QComboBox::currentIndexChanged, this, [this] {
    if (!displaying_) ComboBoxLevelChange();
  });
}

void ParametersPage::ApplyModelSetup(const WindowSetup& setup) {
  Ui::ParametersPage& u = ui_;
  // Typing and pasting stop at the width of the text the model binds the edit to.
  for (QLineEdit* e :
       {u.EditNameShl1, u.EditNameShl2, u.EditNameShl3, u.EditNameShl4, u.EditObjekt, u.EditPasw})
    if (const Field* f = ControlField(setup.model, e)) e->setMaxLength(f->width);
  ShowRangesInToolTips(tab_, setup.model);
}

void ParametersPage::Commit() {
  editors_.CommitFocused();
}

const Field* ParametersPage::FieldOf(const QObject* control) const {
  return ControlField(host().DeviceModel(), control);
}

// ---- Editors. ----

bool ParametersPage::EditTimeIn1KeyPress(QLineEdit* /*edit*/, const QString& key) {
  return DigitFilterDrops(host(), key);
}

void ParametersPage::EditTimeIn1Exit(QLineEdit* edit) {
  if (const Field* f = FieldOf(edit)) EditNumber(host(), edit, *f);
}

// The board address and direction: above 15 or 19 refused like any number out of its range;
// the address's store also writes the bits of the word below it as 0.
void ParametersPage::EditNumPlataExit() {
  if (const Field* f = FieldOf(ui_.EditNumPlata)) EditNumber(host(), ui_.EditNumPlata, *f);
}

void ParametersPage::EditNumNaprExit() {
  if (const Field* f = FieldOf(ui_.EditNumNapr)) EditNumber(host(), ui_.EditNumNapr, *f);
}

void ParametersPage::CheckRele11Exit(QCheckBox* box) {
  host().ResetProgress();
  if (const Field* f = FieldOf(box)) SetFieldBits(*f, host().Image(), box->isChecked() ? 1 : 0);
}

void ParametersPage::CheckBoxSir1Exit(QCheckBox* box) {
  // Bound on model 251 only: elsewhere the box edits nothing.
  if (const Field* f = FieldOf(box)) SetFieldBits(*f, host().Image(), box->isChecked() ? 1 : 0);
}

void ParametersPage::CheckRele11Click() {
  host().ResetProgress();
}

void ParametersPage::ComboBoxTypeShl1Change(QComboBox* combo) {
  host().ResetProgress();
  const Field* f = FieldOf(combo);
  // The entry the text names (a caption listed twice, model 251's "Резерв", is its first); a
  // text that names none stores nothing.
  const int position = combo->findText(combo->currentText(), Qt::MatchFixedString);
  if (f == nullptr || position < 0 || TypingInto(combo)) return;
  // Model 251's field is the type's four bits: the re-arming bit of the byte stays.
  SetFieldBits(*f, host().Image(), static_cast<unsigned>(position));
  // Models 250 and 252 give each loop delays of its own, which an alarm or fire loop
  // ("Тревожный", "Пожарный") has not; model 251's delays are common to all loops.
  if (combo == ui_.ComboBoxType ||
      FindFieldById(host().DeviceModel(), "loop1.exit_time") == nullptr)
    return;
  QComboBox* types[] = {ui_.ComboBoxTypeShl1, ui_.ComboBoxTypeShl2, ui_.ComboBoxTypeShl3,
                        ui_.ComboBoxTypeShl4};
  QLineEdit* in[] = {ui_.EditTimeIn1, ui_.EditTimeIn2, ui_.EditTimeIn3, ui_.EditTimeIn4};
  QLineEdit* out[] = {ui_.EditTimeOut1, ui_.EditTimeOut2, ui_.EditTimeOut3, ui_.EditTimeOut4};
  const bool hide = position == 1 || position == 2;
  for (size_t n = 0; n < std::size(types); ++n) {
    if (types[n] != combo) continue;
    in[n]->setVisible(!hide);
    out[n]->setVisible(!hide);
  }
}

void ParametersPage::ComboBoxTypeRele1Change(QComboBox* combo) {
  host().ResetProgress();
  const Field* f = FieldOf(combo);
  const int value = combo->findText(combo->currentText(), Qt::MatchFixedString);
  if (f == nullptr || value < 0 || TypingInto(combo)) return;
  SetFieldBits(*f, host().Image(), static_cast<unsigned>(value));
  // The output's time and its unit move only where the model's window has that time: output 1
  // on models 250 and 252, output 2 on model 250.
  const bool first = combo == ui_.ComboBoxTypeRele1;
  QLabel* label = first ? ui_.LabelRele1 : ui_.LabelRele2;
  QLineEdit* time = first ? ui_.EditTimeRele1 : ui_.EditTimeRele2;
  if (FieldOfControl(host().DeviceModel(), time->objectName().toStdString()) == nullptr) return;
  if (value <= 1) {
    label->setText(UnitLess());
    time->hide();
  } else {
    label->setText(value > 2 ? QStringLiteral("c/16") : QStringLiteral("c"));
    time->show();
  }
  ShowTimeHeading();
}

void ParametersPage::ShowTimeHeading() {
  // The heading "Время" stands over the output time edits only while one of them is shown.
  ui_.LabelHeadReleTime->setVisible(!ui_.EditTimeRele1->isHidden() ||
                                    !ui_.EditTimeRele2->isHidden());
}

void ParametersPage::ComboBoxLevelChange() {
  host().ResetProgress();
  const Field* f = FieldOf(ui_.ComboBoxLevel);
  if (f == nullptr) return;
  SetFieldBits(*f, host().Image(), static_cast<unsigned>(ui_.ComboBoxLevel->currentIndex()));
  Show(ui_.EditLevel, host().Image(), host().DeviceModel());  // the entry number itself
}

void ParametersPage::EditNameShl1Exit(QLineEdit* edit) {
  // Bound on model 251 only: elsewhere the text is stored nowhere.
  if (const Field* f = FieldOf(edit)) EditText(host(), edit, *f);
}

// ---- Display. ----

void ParametersPage::Show(QLineEdit* edit, const ConfigImage& image, int model) {
  if (const Field* f = ControlField(model, edit)) ShowField(edit, *f, image);
}

void ParametersPage::Show(QCheckBox* box, const ConfigImage& image, int model) {
  if (const Field* f = ControlField(model, box)) box->setChecked(FieldBits(*f, image) != 0);
}

void ParametersPage::Show(QComboBox* combo, const ConfigImage& image, int model) {
  if (const Field* f = ControlField(model, combo))
    ShowEntry(combo, static_cast<int>(FieldBits(*f, image)));
}

void ParametersPage::ShowList(QComboBox* combo, const ConfigImage& image, int model,
                              bool last_entry) {
  const Field* f = ControlField(model, combo);
  if (f == nullptr) return;
  QStringList entries;
  for (std::string_view caption : f->captions) entries << Q(caption);
  if (!last_entry && !entries.isEmpty()) entries.removeLast();
  ReplaceList(combo, entries);
  ShowEntry(combo, static_cast<int>(FieldBits(*f, image)));
}

void ParametersPage::Reshow(QComboBox* combo) {
  const bool displaying = displaying_;
  displaying_ = true;
  if (combo == ui_.ComboBoxType)
    ShowProtocol(host().Image(), host().DeviceModel());
  else
    Show(combo, host().Image(), host().DeviceModel());
  displaying_ = displaying;
}

void ParametersPage::ShowProtocol(const ConfigImage& image, int model) {
  // The protocol shows its own spellings ("Тирон3", "Мирвал"): any byte but 0 is the second.
  const Field* protocol = ControlField(model, ui_.ComboBoxType);
  if (protocol == nullptr || protocol->aliases.size() != 2)
    return Show(ui_.ComboBoxType, image, model);
  ui_.ComboBoxType->setCurrentIndex(-1);
  ui_.ComboBoxType->setEditText(Q(protocol->aliases[FieldBits(*protocol, image) != 0 ? 1 : 0]));
}

unsigned ParametersPage::ListValue(QComboBox* combo, const ConfigImage& image, int model) {
  const Field* f = ControlField(model, combo);
  return f != nullptr ? FieldBits(*f, image) : 0;
}

void ParametersPage::Display(const ConfigImage& image, int model, int firmware) {
  displaying_ = true;
  // One display per layout: common times, names and the group of object and password (M), or
  // per-loop times, outputs with times and the board's row (T).
  if (const ModelSetup* setup = FindModelSetup(model)) {
    switch (setup->layout) {
      case ImageLayout::M:
        DisplayBranchA(image, model);
        break;
      case ImageLayout::T:
        DisplayBranchB(image, *setup, firmware);
        break;
    }
  }
  ShowTimeHeading();
  displaying_ = false;
}

void ParametersPage::DisplayBranchA(const ConfigImage& image, int model) {
  Ui::ParametersPage& u = ui_;
  for (QLineEdit* e :
       {u.EditTimeSir, u.EditTimeIn1, u.EditTimeOut1, u.EditTimeAuto, u.EditTimeSound})
    Show(e, image, model);

  ShowList(u.ComboBoxTypeRele1, image, model);
  ShowList(u.ComboBoxTypeRele2, image, model);
  // Model 251 outputs have no time here: no unit beside the hidden time edits.
  u.LabelRele1->clear();
  u.LabelRele2->clear();

  QComboBox* types[] = {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3,
                        u.ComboBoxTypeShl4};
  QCheckBox* autos[] = {u.CheckBoxAuto1, u.CheckBoxAuto2, u.CheckBoxAuto3, u.CheckBoxAuto4};
  QCheckBox* rele1[] = {u.CheckRele11, u.CheckRele12, u.CheckRele13, u.CheckRele14};
  QCheckBox* rele2[] = {u.CheckRele21, u.CheckRele22, u.CheckRele23, u.CheckRele24};
  QCheckBox* sirens[] = {u.CheckBoxSir1, u.CheckBoxSir2, u.CheckBoxSir3, u.CheckBoxSir4};
  QCheckBox* sounds[] = {u.CheckSound1, u.CheckSound2, u.CheckSound3, u.CheckSound4};
  for (int n = 0; n < 4; ++n) {
    Show(autos[n], image, model);
    ShowList(types[n], image, model);
    for (QCheckBox* box : {rele1[n], rele2[n], sirens[n], sounds[n]}) Show(box, image, model);
  }
  for (QCheckBox* box : {u.CheckTechV1, u.CheckTechV2, u.CheckTechV3, u.CheckTechV4, u.CheckTechS1,
                         u.CheckTechS2, u.CheckTechS3, u.CheckTechS4})
    Show(box, image, model);
  for (QLineEdit* e : {u.EditNameShl1, u.EditNameShl2, u.EditNameShl3, u.EditNameShl4, u.EditObjekt,
                       u.EditCountSMS, u.EditCountRep, u.EditTimeAnswer, u.EditCountSpeak, u.Edit2,
                       u.Edit6, u.EditPasw})
    Show(e, image, model);
}

void ParametersPage::DisplayBranchB(const ConfigImage& image, const ModelSetup& setup,
                                    int firmware) {
  const int model = setup.model;
  Ui::ParametersPage& u = ui_;
  QComboBox* types[] = {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3,
                        u.ComboBoxTypeShl4};
  QLineEdit* in[] = {u.EditTimeIn1, u.EditTimeIn2, u.EditTimeIn3, u.EditTimeIn4};
  QLineEdit* out[] = {u.EditTimeOut1, u.EditTimeOut2, u.EditTimeOut3, u.EditTimeOut4};

  // The second output's column, where the model has a second output.
  const bool output2 = setup.outputs >= 2;
  for (QWidget* w : {static_cast<QWidget*>(u.CheckRele21), static_cast<QWidget*>(u.CheckRele22),
                     static_cast<QWidget*>(u.CheckRele23), static_cast<QWidget*>(u.CheckRele24),
                     static_cast<QWidget*>(u.Label25)})
    w->setVisible(output2);

  // The last loop type ("Охранный актив.") is offered from its firmware on (10); before, a byte
  // that selects it stays and shows an empty text.
  const bool last_type = firmware >= setup.firmware_loop_type.from_firmware;
  for (int n = 0; n < 4; ++n) {
    const unsigned type = ListValue(types[n], image, model);
    ShowList(types[n], image, model, last_type);
    const bool shown = (type == 0 || type == 3) && n < setup.loops;
    in[n]->setVisible(shown);
    out[n]->setVisible(shown);
  }
  for (int n = 0; n < 4; ++n) {
    Show(in[n], image, model);
    Show(out[n], image, model);
  }
  for (QCheckBox* box :
       {u.CheckRele11, u.CheckRele12, u.CheckRele13, u.CheckRele14, u.CheckRele21, u.CheckRele22,
        u.CheckRele23, u.CheckRele24, u.CheckSound1, u.CheckSound2, u.CheckSound3, u.CheckSound4})
    Show(box, image, model);
  for (QLineEdit* e : {u.EditTimeRele1, u.EditTimeRele2, u.EditTimeSound}) Show(e, image, model);

  const unsigned mode1 = ListValue(u.ComboBoxTypeRele1, image, model);
  if (mode1 == 1) {
    u.LabelRele1->setText(UnitLess());
    u.EditTimeRele1->hide();
  } else {
    u.LabelRele1->setText(mode1 > 2 ? QStringLiteral("c/16") : QStringLiteral("c"));
    u.EditTimeRele1->show();
  }
  const unsigned mode2 = ListValue(u.ComboBoxTypeRele2, image, model);
  if (mode2 == 1) {
    u.LabelRele2->setText(UnitLess());
    u.EditTimeRele2->hide();
  } else if (output2) {
    u.LabelRele2->setText(mode2 > 2 ? QStringLiteral("c/16") : QStringLiteral("c"));
    u.EditTimeRele2->show();
  }
  // The design-time output lists, also after a model-251 display replaced them.
  ShowList(u.ComboBoxTypeRele1, image, model);
  ShowList(u.ComboBoxTypeRele2, image, model);

  if (ControlField(model, u.ComboBoxType) != nullptr) ShowProtocol(image, model);

  Show(u.EditLevel, image, model);
  Show(u.ComboBoxLevel, image, model);

  Show(u.EditNumPlata, image, model);
  Show(u.EditNumNapr, image, model);
}

}  // namespace lovar
