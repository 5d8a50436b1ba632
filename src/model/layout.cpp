#include "model/layout.h"

#include "model/model_setup.h"

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

// Models 250 and 252 (252 offers loops 1 and 2 and output 1 only, but the bytes are the same).
const FieldDef kFields250[] = {
    {"loop1.type", 100, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"loop2.type", 101, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"loop3.type", 102, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"loop4.type", 103, E::Index, 0, 1, 0xFF, lists::kLoopTypes250},
    {"loop1.exit_time", 104, E::Number},
    {"loop2.exit_time", 105, E::Number},
    {"loop3.exit_time", 106, E::Number},
    {"loop4.exit_time", 107, E::Number},
    {"loop1.entry_time", 108, E::Number},
    {"loop2.entry_time", 109, E::Number},
    {"loop3.entry_time", 110, E::Number},
    {"loop4.entry_time", 111, E::Number},
    {"loop1.output1", 112, E::Flag, 0},
    {"loop2.output1", 112, E::Flag, 1},
    {"loop3.output1", 112, E::Flag, 2},
    {"loop4.output1", 112, E::Flag, 3},
    {"loop1.output2", 113, E::Flag, 0},
    {"loop2.output2", 113, E::Flag, 1},
    {"loop3.output2", 113, E::Flag, 2},
    {"loop4.output2", 113, E::Flag, 3},
    {"loop1.sounder", 114, E::Flag, 0},
    {"loop2.sounder", 114, E::Flag, 1},
    {"loop3.sounder", 114, E::Flag, 2},
    {"loop4.sounder", 114, E::Flag, 3},
    {"output1.time", 115, E::Number},
    {"output2.time", 116, E::Number},
    {"sounder_time", 117, E::Number},
    {"output1.mode", 118, E::Index, 0, 1, 0xFF, lists::kOutputModes250},
    {"output2.mode", 119, E::Index, 0, 1, 0xFF, lists::kOutputModes250},
    {"protocol", 121, E::Index, 0, 1, 0xFF, lists::kProtocols},
    {"level", 122, E::Index, 0, 1, 0xFF, lists::kLevels},
    // W = byte 140 + 256 * byte 141: board address in bits 6 to 9, direction in bits 10 to 15.
    {"board_address", 140, E::Bits, 6, 2, 0x03C0},
    {"board_direction", 140, E::Bits, 10, 2, 0xFC00},
};

const FieldDef kFields251[] = {
    {"output1.mode", 0, E::Index, 0, 1, 0xFF, lists::kOutputModes251},
    {"output2.mode", 1, E::Index, 0, 1, 0xFF, lists::kOutputModes251},
    // Loop bytes 2 to 5: type in bits 0 to 3, re-arming in bit 7; bits 4 to 6 are left alone.
    {"loop1.type", 2, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"loop2.type", 3, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"loop3.type", 4, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"loop4.type", 5, E::Bits, 0, 1, 0x0F, lists::kLoopTypes251},
    {"loop1.auto_rearm", 2, E::Flag, 7},
    {"loop2.auto_rearm", 3, E::Flag, 7},
    {"loop3.auto_rearm", 4, E::Flag, 7},
    {"loop4.auto_rearm", 5, E::Flag, 7},
    {"loop1.siren", 6, E::Flag, 0},
    {"loop2.siren", 6, E::Flag, 1},
    {"loop3.siren", 6, E::Flag, 2},
    {"loop4.siren", 6, E::Flag, 3},
    {"loop1.sounder", 6, E::Flag, 4},
    {"loop2.sounder", 6, E::Flag, 5},
    {"loop3.sounder", 6, E::Flag, 6},
    {"loop4.sounder", 6, E::Flag, 7},
    {"loop1.output1", 7, E::Flag, 0},
    {"loop2.output1", 7, E::Flag, 1},
    {"loop3.output1", 7, E::Flag, 2},
    {"loop4.output1", 7, E::Flag, 3},
    {"loop1.output2", 7, E::Flag, 4},
    {"loop2.output2", 7, E::Flag, 5},
    {"loop3.output2", 7, E::Flag, 6},
    {"loop4.output2", 7, E::Flag, 7},
    {"loop1.tech_arm", 8, E::Flag, 0},
    {"loop2.tech_arm", 8, E::Flag, 1},
    {"loop3.tech_arm", 8, E::Flag, 2},
    {"loop4.tech_arm", 8, E::Flag, 3},
    {"loop1.tech_disarm", 8, E::Flag, 4},
    {"loop2.tech_disarm", 8, E::Flag, 5},
    {"loop3.tech_disarm", 8, E::Flag, 6},
    {"loop4.tech_disarm", 8, E::Flag, 7},
    {"siren_time", 9, E::Number},
    // One delay pair serves every loop.
    {"exit_time", 10, E::Number},
    {"entry_time", 11, E::Number},
    {"rearm_delay", 12, E::Number},
    {"sounder_time", 13, E::Number},
    {"attempts", 14, E::Number},
    {"session_repeats", 15, E::Number},
    {"password", 16, E::Text, 0, 5},
    {"object_number", 21, E::Text, 0, 8},
    {"sms_attempts", 247, E::Number},
    {"voice_repeats", 248, E::Number},
    {"listen_time", 249, E::Number},
    {"loop1.name", 512, E::Text, 0, 8},
    {"loop2.name", 520, E::Text, 0, 8},
    {"loop3.name", 528, E::Text, 0, 8},
    {"loop4.name", 536, E::Text, 0, 8},
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

// The tables of the layout a model's bytes follow.
struct LayoutTables {
  std::span<const FieldDef> fields;
  std::span<const Region> map;
};
LayoutTables TablesOf(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr) return {};
  switch (setup->layout) {
    case ImageLayout::T:
      return {kFields250, kMap250};
    case ImageLayout::M:
      return {kFields251, kMap251};
  }
  return {};
}

}  // namespace

std::span<const FieldDef> ParameterFields(int model) {
  return TablesOf(model).fields;
}

const FieldDef* FindField(int model, std::string_view id) {
  for (const FieldDef& f : ParameterFields(model)) {
    if (f.id == id) return &f;
  }
  return nullptr;
}

std::span<const Region> ImageMap(int model) {
  return TablesOf(model).map;
}

}  // namespace lovar
