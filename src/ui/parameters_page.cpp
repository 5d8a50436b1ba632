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
#include "model/layout.h"
#include "model/regions.h"

namespace lovar {

LOVAR_REGISTER_PAGE(TabSheet1, ParametersPage)

namespace {

template <size_t N>
QStringList List(const std::string_view (&entries)[N], size_t count = N) {
  QStringList list;
  for (size_t i = 0; i < count && i < N; ++i) list << Q(entries[i]);
  return list;
}

void ReplaceList(QComboBox* combo, const QStringList& entries) {
  combo->clear();
  combo->addItems(entries);
}

void ShowNumber(QLineEdit* edit, int value) {
  edit->setText(QString::number(value));
}

constexpr uint8_t kUnitLess[] = " ";

}  // namespace

EditorEvents::KeyFilter ParametersPage::DigitFilter(QLineEdit* edit) {
  return [this, edit](const QString& key) { return EditTimeIn1KeyPress(edit, key); };
}

ParametersPage::ParametersPage(PageHost& host, QWidget* tab) : Page(host) {
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
    editors_.Add(e, DigitFilter(e), [this, e] { EditTimeIn1Exit(e); });
  editors_.Add(u.EditNumPlata, DigitFilter(u.EditNumPlata), [this] { EditNumPlataExit(); });
  editors_.Add(u.EditNumNapr, DigitFilter(u.EditNumNapr), [this] { EditNumNaprExit(); });
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
       {u.EditNameShl1, u.EditNameShl2, u.EditNameShl3, u.EditNameShl4, u.EditObjekt, u.EditPasw}) {
    e->setMaxLength(TextWidth(e));  // typing and pasting stop at the field's width
    editors_.Add(e, nullptr, [this, e] { EditNameShl1Exit(e); });
  }
  // A typed text that is none of the entries stores entry 0; on leaving, the box shows it.
  for (QComboBox* c :
       {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3, u.ComboBoxTypeShl4,
        u.ComboBoxType, u.ComboBoxTypeRele1, u.ComboBoxTypeRele2})
    editors_.Add(c, nullptr, [c] {
      if (HoldsTypedText(c)) ShowEntry(c, 0);
    });
  editors_.SwallowKeys(u.ComboBoxLevel);  // the level is chosen with the mouse only

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

void ParametersPage::Commit() {
  editors_.CommitFocused();
}

// ---- Editors. ----

bool ParametersPage::EditTimeIn1KeyPress(QLineEdit* /*edit*/, const QString& key) {
  return DigitFilterDrops(host(), key);
}

void ParametersPage::EditTimeIn1Exit(QLineEdit* edit) {
  StoreByte(host(), edit);
}

void ParametersPage::EditNumPlataExit() {
  int value = 0;
  if (!ParseOrComplain(host(), ui_.EditNumPlata, value)) return;
  // Out of range (also a negative number pasted in) is replaced by 0; the edit shows what is
  // stored.
  ShowNumber(ui_.EditNumPlata, board::SetAddress(host().Image(), value));
}

void ParametersPage::EditNumNaprExit() {
  int value = 0;
  if (!ParseOrComplain(host(), ui_.EditNumNapr, value)) return;
  ShowNumber(ui_.EditNumNapr, board::SetDirection(host().Image(), value));
}

void ParametersPage::CheckRele11Exit(QCheckBox* box) {
  host().ResetProgress();
  const int n = Tag(box);
  const bool model251 = host().DeviceModel() == 251;
  const QString name = box->objectName();
  int offset = 0, bit = n;
  if (name.startsWith(QLatin1String("CheckRele1"))) {
    offset = model251 ? 7 : 112;
  } else if (name.startsWith(QLatin1String("CheckRele2"))) {
    offset = model251 ? 7 : 113;
    bit = model251 ? 4 + n : n;
  } else {  // CheckSound
    offset = model251 ? 6 : 114;
    bit = model251 ? 4 + n : n;
  }
  host().Image().SetBit(offset, bit, box->isChecked());
}

void ParametersPage::CheckBoxSir1Exit(QCheckBox* box) {
  if (host().DeviceModel() != 251) return;
  const int tag = Tag(box);
  const QString name = box->objectName();
  ConfigImage& image = host().Image();
  if (name.startsWith(QLatin1String("CheckBoxSir")))
    image.SetBit(6, tag, box->isChecked());
  else if (name.startsWith(QLatin1String("CheckBoxAuto")))
    image.SetBit(2 + tag, 7, box->isChecked());
  else  // CheckTechV, CheckTechS
    image.SetBit(8, tag, box->isChecked());
}

void ParametersPage::CheckRele11Click() {
  host().ResetProgress();
}

void ParametersPage::ComboBoxTypeShl1Change(QComboBox* combo) {
  host().ResetProgress();
  const int position = EntryOf(combo);
  const int offset = Tag(combo);
  ConfigImage& image = host().Image();
  if (combo == ui_.ComboBoxType || host().DeviceModel() != 251) {
    image[offset] = static_cast<uint8_t>(position);
  } else {
    image.SetBits(offset, 0x0F, 0, static_cast<uint8_t>(position & 0x0F));  // re-arming stays
  }
  if (combo != ui_.ComboBoxType && offset >= 100 && offset <= 103) {
    QLineEdit* in[] = {ui_.EditTimeIn1, ui_.EditTimeIn2, ui_.EditTimeIn3, ui_.EditTimeIn4};
    QLineEdit* out[] = {ui_.EditTimeOut1, ui_.EditTimeOut2, ui_.EditTimeOut3, ui_.EditTimeOut4};
    const bool hide = position == 1 || position == 2;
    in[offset - 100]->setVisible(!hide);
    out[offset - 100]->setVisible(!hide);
  }
}

void ParametersPage::ComboBoxTypeRele1Change(QComboBox* combo) {
  host().ResetProgress();
  const int offset = Tag(combo);
  const uint8_t value = static_cast<uint8_t>(EntryOf(combo));
  host().Image()[offset] = value;
  QLabel* label = nullptr;
  QLineEdit* time = nullptr;
  if (offset == 118) {
    label = ui_.LabelRele1;
    time = ui_.EditTimeRele1;
  } else if (offset == 119 && host().DeviceModel() != 252) {
    label = ui_.LabelRele2;
    time = ui_.EditTimeRele2;
  }
  if (label == nullptr) return;
  if (value <= 1) {
    label->setText(QString::fromLatin1(reinterpret_cast<const char*>(kUnitLess)));
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
  const int index = ui_.ComboBoxLevel->currentIndex();
  host().Image()[122] = static_cast<uint8_t>(index);
  ShowNumber(ui_.EditLevel, static_cast<uint8_t>(index));
}

int ParametersPage::TextWidth(const QLineEdit* edit) {
  return edit->objectName() == "EditPasw" ? 5 : 8;
}

void ParametersPage::EditNameShl1Exit(QLineEdit* edit) {
  if (host().DeviceModel() != 251) return;
  StoreText(host(), edit, Tag(edit), TextWidth(edit));
}

// ---- Display. ----

void ParametersPage::Display(const ConfigImage& /*image*/, int model, int firmware) {
  displaying_ = true;
  // Branch B corrects out-of-range bytes in the image itself, so it works on the host's image.
  if (model == 251)
    DisplayBranchA(host().Image());
  else if (model == 250 || model == 252)
    DisplayBranchB(host().Image(), model, firmware);
  ShowTimeHeading();
  displaying_ = false;
}

void ParametersPage::DisplayBranchA(const ConfigImage& image) {
  Ui::ParametersPage& u = ui_;
  ShowNumber(u.EditTimeSir, image[9]);
  ShowNumber(u.EditTimeIn1, image[10]);
  ShowNumber(u.EditTimeOut1, image[11]);
  ShowNumber(u.EditTimeAuto, image[12]);
  ShowNumber(u.EditTimeSound, image[13]);

  ReplaceList(u.ComboBoxTypeRele1, List(lists::kOutputModes251));
  ReplaceList(u.ComboBoxTypeRele2, List(lists::kOutputModes251));
  ShowEntry(u.ComboBoxTypeRele1, image[0]);
  ShowEntry(u.ComboBoxTypeRele2, image[1]);
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
    ReplaceList(types[n], List(lists::kLoopTypes251));
    autos[n]->setChecked(image.Bit(2 + n, 7));
    ShowEntry(types[n], image[2 + n] & 0x0F);
    rele1[n]->setChecked(image.Bit(7, n));
    rele2[n]->setChecked(image.Bit(7, 4 + n));
    sirens[n]->setChecked(image.Bit(6, n));
    sounds[n]->setChecked(image.Bit(6, 4 + n));
  }
  QCheckBox* techv[] = {u.CheckTechV1, u.CheckTechV2, u.CheckTechV3, u.CheckTechV4};
  QCheckBox* techs[] = {u.CheckTechS1, u.CheckTechS2, u.CheckTechS3, u.CheckTechS4};
  for (int n = 0; n < 4; ++n) {
    techv[n]->setChecked(image.Bit(8, n));
    techs[n]->setChecked(image.Bit(8, 4 + n));
  }
  QLineEdit* names[] = {u.EditNameShl1, u.EditNameShl2, u.EditNameShl3, u.EditNameShl4};
  for (int n = 0; n < 4; ++n) names[n]->setText(Q(image.Text(512 + 8 * n, 8)));
  u.EditObjekt->setText(Q(image.Text(21, 8)));
  ShowNumber(u.EditCountSMS, image[247]);
  ShowNumber(u.EditCountRep, image[15]);
  ShowNumber(u.EditTimeAnswer, image[249]);
  ShowNumber(u.EditCountSpeak, image[248]);
  ShowNumber(u.Edit2, image[14]);
  ShowNumber(u.Edit6, image[7]);
  u.EditPasw->setText(Q(image.Text(16, 5)));
}

void ParametersPage::DisplayBranchB(ConfigImage& image, int model, int firmware) {
  Ui::ParametersPage& u = ui_;
  QComboBox* types[] = {u.ComboBoxTypeShl1, u.ComboBoxTypeShl2, u.ComboBoxTypeShl3,
                        u.ComboBoxTypeShl4};
  QLineEdit* in[] = {u.EditTimeIn1, u.EditTimeIn2, u.EditTimeIn3, u.EditTimeIn4};
  QLineEdit* out[] = {u.EditTimeOut1, u.EditTimeOut2, u.EditTimeOut3, u.EditTimeOut4};
  const QStringList loop_types = List(lists::kLoopTypes250, firmware > 9 ? 4 : 3);
  for (QComboBox* combo : types) ReplaceList(combo, loop_types);

  const bool m252 = model == 252;
  for (QWidget* w : {static_cast<QWidget*>(u.EditTimeIn3), static_cast<QWidget*>(u.EditTimeIn4),
                     static_cast<QWidget*>(u.EditTimeOut3), static_cast<QWidget*>(u.EditTimeOut4),
                     static_cast<QWidget*>(u.CheckRele21), static_cast<QWidget*>(u.CheckRele22),
                     static_cast<QWidget*>(u.CheckRele23), static_cast<QWidget*>(u.CheckRele24),
                     static_cast<QWidget*>(u.Label25)})
    w->setVisible(!m252);

  for (int n = 0; n < 4; ++n) {
    if (image[100 + n] > 3) image[100 + n] = 0;
    const int type = image[100 + n];
    ShowEntry(types[n], type);
    const bool shown = (type == 0 || type == 3) && !(m252 && n >= 2);
    in[n]->setVisible(shown);
    out[n]->setVisible(shown);
  }
  for (int n = 0; n < 4; ++n) {
    ShowNumber(in[n], image[104 + n]);
    ShowNumber(out[n], image[108 + n]);
  }
  QCheckBox* rele1[] = {u.CheckRele11, u.CheckRele12, u.CheckRele13, u.CheckRele14};
  QCheckBox* rele2[] = {u.CheckRele21, u.CheckRele22, u.CheckRele23, u.CheckRele24};
  QCheckBox* sounds[] = {u.CheckSound1, u.CheckSound2, u.CheckSound3, u.CheckSound4};
  for (int n = 0; n < 4; ++n) {
    rele1[n]->setChecked(image.Bit(112, n));
    rele2[n]->setChecked(image.Bit(113, n));
    sounds[n]->setChecked(image.Bit(114, n));
  }
  ShowNumber(u.EditTimeRele1, image[115]);
  ShowNumber(u.EditTimeRele2, image[116]);
  ShowNumber(u.EditTimeSound, image[117]);

  const QString unitless = QString::fromLatin1(reinterpret_cast<const char*>(kUnitLess));
  if (image[118] > 4) image[118] = 0;
  if (image[118] == 1) {
    u.LabelRele1->setText(unitless);
    u.EditTimeRele1->hide();
  } else {
    u.LabelRele1->setText(image[118] > 2 ? QStringLiteral("c/16") : QStringLiteral("c"));
    u.EditTimeRele1->show();
  }
  if (image[119] > 4) image[119] = 0;
  if (image[119] == 1) {
    u.LabelRele2->setText(unitless);
    u.EditTimeRele2->hide();
  } else if (!m252) {
    u.LabelRele2->setText(image[119] > 2 ? QStringLiteral("c/16") : QStringLiteral("c"));
    u.EditTimeRele2->show();
  }
  // The design-time output lists, also after a model-251 display replaced them.
  ReplaceList(u.ComboBoxTypeRele1, List(lists::kOutputModes250));
  ReplaceList(u.ComboBoxTypeRele2, List(lists::kOutputModes250));
  ShowEntry(u.ComboBoxTypeRele1, image[118]);
  ShowEntry(u.ComboBoxTypeRele2, image[119]);

  u.ComboBoxType->setCurrentIndex(-1);
  u.ComboBoxType->setEditText(Q(lists::kProtocolsShown[image[121] != 0 ? 1 : 0]));

  ShowNumber(u.EditLevel, image[122]);
  u.ComboBoxLevel->setCurrentIndex(image[122] < 8 ? image[122] : -1);

  ShowNumber(u.EditNumPlata, board::Address(image));
  ShowNumber(u.EditNumNapr, board::Direction(image));
}

}  // namespace lovar
