#include "model/layout.h"

namespace lovar {

namespace lists {
const std::string_view kLoopTypes250[4] = {"Охранный", "Тревожный", "Пожарный", "Охранный актив."};
const std::string_view kOutputModes250[5] = {
    "ПЦН", "Лампа", "Сирена", "Включить на время при снятии", "Включить на время при взятии"};
const std::string_view kProtocols[2] = {"Тирон 3", "Мирвап"};
const std::string_view kProtocolsShown[2] = {"Тирон3", "Мирвал"};
const std::string_view kLevels[8] = {"75", "100", "130", "220", "360", "550", "1000", "2000"};
const std::string_view kLoopTypes251[7] = {"Резерв",    "Вход",     "Охранный",       "Резерв",
                                           "Тревожный", "Пожарный", "Технологический"};
const std::string_view kOutputModes251[5] = {"Управление замком", "квитанция", "Лампа",
                                             "Внешнее управление", "Выключить при снятии"};
}  // namespace lists

namespace {

using E = Encoding;

// Models 250 and 252 (252 hides loops 3 and 4 and output 2, but the bytes are the same).
const FieldDef kFields250[] = {
    {"ComboBoxTypeShl1", 100, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"ComboBoxTypeShl2", 101, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"ComboBoxTypeShl3", 102, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"ComboBoxTypeShl4", 103, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"EditTimeIn1", 104, E::Number},
    {"EditTimeIn2", 105, E::Number},
    {"EditTimeIn3", 106, E::Number},
    {"EditTimeIn4", 107, E::Number},
    {"EditTimeOut1", 108, E::Number},
    {"EditTimeOut2", 109, E::Number},
    {"EditTimeOut3", 110, E::Number},
    {"EditTimeOut4", 111, E::Number},
    {"CheckRele11", 112, E::Flag, 0},
    {"CheckRele12", 112, E::Flag, 1},
    {"CheckRele13", 112, E::Flag, 2},
    {"CheckRele14", 112, E::Flag, 3},
    {"CheckRele21", 113, E::Flag, 0},
    {"CheckRele22", 113, E::Flag, 1},
    {"CheckRele23", 113, E::Flag, 2},
    {"CheckRele24", 113, E::Flag, 3},
    {"CheckSound1", 114, E::Flag, 0},
    {"CheckSound2", 114, E::Flag, 1},
    {"CheckSound3", 114, E::Flag, 2},
    {"CheckSound4", 114, E::Flag, 3},
    {"EditTimeRele1", 115, E::Number},
    {"EditTimeRele2", 116, E::Number},
    {"EditTimeSound", 117, E::Number},
    {"ComboBoxTypeRele1", 118, E::Index, 0, 1, 0xFF, lists::kOutputModes250},
    {"ComboBoxTypeRele2", 119, E::Index, 0, 1, 0xFF, lists::kOutputModes250},
    {"ComboBoxType", 121, E::Index, 0, 1, 0xFF, lists::kProtocols},
    {"ComboBoxLevel", 122, E::Index, 0, 1, 0xFF, lists::kLevels},
    {"EditLevel", 122, E::Number},  // the level index itself, read-only
    // W = byte 140 + 256 * byte 141: board address in bits 6 to 9, direction in bits 10 to 15.
    {"EditNumPlata", 140, E::Bits, 6, 2, 0x03C0},
    {"EditNumNapr", 140, E::Bits, 10, 2, 0xFC00},
};

const FieldDef kFields251[] = {
    {"ComboBoxTypeRele1", 0, E::Index, 0, 1, 0xFF, lists::kOutputModes251},
    {"ComboBoxTypeRele2", 1, E::Index, 0, 1, 0xFF, lists::kOutputModes251},
    // Loop bytes 2 to 5: type in bits 0 to 3, re-arming in bit 7; bits 4 to 6 are left alone.
    {"ComboBoxTypeShl1", 2, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"ComboBoxTypeShl2", 3, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"ComboBoxTypeShl3", 4, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"ComboBoxTypeShl4", 5, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"CheckBoxAuto1", 2, E::Flag, 7},
    {"CheckBoxAuto2", 3, E::Flag, 7},
    {"CheckBoxAuto3", 4, E::Flag, 7},
    {"CheckBoxAuto4", 5, E::Flag, 7},
    {"CheckBoxSir1", 6, E::Flag, 0},
    {"CheckBoxSir2", 6, E::Flag, 1},
    {"CheckBoxSir3", 6, E::Flag, 2},
    {"CheckBoxSir4", 6, E::Flag, 3},
    {"CheckSound1", 6, E::Flag, 4},
    {"CheckSound2", 6, E::Flag, 5},
    {"CheckSound3", 6, E::Flag, 6},
    {"CheckSound4", 6, E::Flag, 7},
    {"CheckRele11", 7, E::Flag, 0},
    {"CheckRele12", 7, E::Flag, 1},
    {"CheckRele13", 7, E::Flag, 2},
    {"CheckRele14", 7, E::Flag, 3},
    {"CheckRele21", 7, E::Flag, 4},
    {"CheckRele22", 7, E::Flag, 5},
    {"CheckRele23", 7, E::Flag, 6},
    {"CheckRele24", 7, E::Flag, 7},
    {"Edit6", 7, E::Number},  // the output byte as a whole
    {"CheckTechV1", 8, E::Flag, 0},
    {"CheckTechV2", 8, E::Flag, 1},
    {"CheckTechV3", 8, E::Flag, 2},
    {"CheckTechV4", 8, E::Flag, 3},
    {"CheckTechS1", 8, E::Flag, 4},
    {"CheckTechS2", 8, E::Flag, 5},
    {"CheckTechS3", 8, E::Flag, 6},
    {"CheckTechS4", 8, E::Flag, 7},
    {"EditTimeSir", 9, E::Number},
    // One delay pair serves every loop; the edits of loops 2 to 4 are hidden but bound alike.
    {"EditTimeIn1", 10, E::Number},
    {"EditTimeIn2", 10, E::Number},
    {"EditTimeIn3", 10, E::Number},
    {"EditTimeIn4", 10, E::Number},
    {"EditTimeOut1", 11, E::Number},
    {"EditTimeOut2", 11, E::Number},
    {"EditTimeOut3", 11, E::Number},
    {"EditTimeOut4", 11, E::Number},
    {"EditTimeAuto", 12, E::Number},
    {"EditTimeSound", 13, E::Number},
    {"Edit2", 14, E::Number},
    {"EditCountRep", 15, E::Number},
    {"EditPasw", 16, E::Text, 0, 5},
    {"EditObjekt", 21, E::Text, 0, 8},
    {"EditCountSMS", 247, E::Number},
    {"EditCountSpeak", 248, E::Number},
    {"EditTimeAnswer", 249, E::Number},
    {"EditNameShl1", 512, E::Text, 0, 8},
    {"EditNameShl2", 520, E::Text, 0, 8},
    {"EditNameShl3", 528, E::Text, 0, 8},
    {"EditNameShl4", 536, E::Text, 0, 8},
};

const Region kMap250[] = {
    {0, 99, "user codes: 20 entries of 5 bytes"},
    {100, 122, "loops, outputs, sounder, protocol, signal level"},
    {123, 126, ""},
    {127, 130, ""},  // set to 0 by every write
    {131, 139, ""},
    {140, 141, "board address and direction number"},
    {142, 155, ""},
    {156, 219, "keys: 16 entries of 4 bytes"},
    {220, 234, ""},
    {235, 250, "per-key rights: 16 bytes"},
    {251, 255, ""},
};

const Region kMap251[] = {
    {0, 28, "outputs, loops, siren, sounder, technological loop, times, counts, password, object"},
    {29, 68, "telephone numbers: 5 entries of 8 bytes"},
    {69, 76, ""},
    {77, 96, "report directions: 5 entries of 4 bytes"},
    {97, 116, "event filter: 5 entries of 4 bytes"},
    {117, 121, ""},
    {122, 125, "receiver IP address"},
    {126, 129, ""},
    {130, 131, "receiver port"},
    {132, 141, ""},
    {142, 241, "modem settings: password (20), user name (20), initialisation string (60)"},
    {242, 246, "listen-in flag per report direction"},
    {247, 249, "counts and listen-in time"},
    {250, 511, ""},
    {512, 543, "loop names: 4 entries of Text(8)"},
    {544, 671, "key names: 16 entries of 8 bytes"},
    {672, 711, ""},
    {712, 751, "direction names: 5 entries of 8 bytes"},
    {752, 3583, ""},
    {3584, 3839, "keys: 16 entries of 16 bytes"},
    {3840, 4095, ""},
};

bool Is250Layout(int model) {
  return model == 250 || model == 252;
}

}  // namespace

std::span<const FieldDef> ParameterFields(int model) {
  if (Is250Layout(model)) return kFields250;
  if (model == 251) return kFields251;
  return {};
}

const FieldDef* FindField(int model, std::string_view control) {
  for (const FieldDef& f : ParameterFields(model)) {
    if (f.control == control) return &f;
  }
  return nullptr;
}

std::span<const Region> ImageMap(int model) {
  if (Is250Layout(model)) return kMap250;
  if (model == 251) return kMap251;
  return {};
}

}  // namespace lovar
