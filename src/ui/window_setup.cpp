#include "window_setup.h"

#include <array>
#include <cstddef>

namespace lovar {
namespace {

constexpr Visibility S = Visibility::Shown;
constexpr Visibility H = Visibility::Hidden;

// Rows in the order of the set-up tables; a model's list names only what its column changes.
// Models 250 and 252 agree on the first rows: the model-251 fields hidden, the top row shown.
constexpr ControlVisibility kSame250And252[] = {
    {"TabSheet6", H},     {"TabSheet7", H},     {"TabSheet8", H},     {"GroupBox13", H},
    {"Label79", H},       {"Label80", H},       {"Label81", H},       {"Label82", H},
    {"Label100", H},      {"EditNameShl1", H},  {"EditNameShl2", H},  {"EditNameShl3", H},
    {"EditNameShl4", H},  {"EditTimeSir", H},   {"EditTimeAuto", H},  {"LabelTimeAuto", H},
    {"CheckBoxSir1", H},  {"CheckBoxSir2", H},  {"CheckBoxSir3", H},  {"CheckBoxSir4", H},
    {"CheckBoxAuto1", H}, {"CheckBoxAuto2", H}, {"CheckBoxAuto3", H}, {"CheckBoxAuto4", H},
    {"LabelSir", H},      {"LabelSir2", H},     {"EditTimeIn2", S},   {"EditTimeOut2", S},
    {"EditTimeRele1", S}, {"EditNumPlata", S},  {"EditNumNapr", S},   {"ComboBoxType", S},
    {"ComboBoxLevel", S}, {"EditLevel", S},     {"Label1", S},        {"Label2", S},
    {"Label3", S},        {"Label13", S},       {"Label31", S},       {"Label32", S},
};

constexpr ControlVisibility kOnly250[] = {
    {"TabSheet3", S},    {"EditTimeIn3", S},  {"EditTimeIn4", S},
    {"EditTimeOut3", S}, {"EditTimeOut4", S}, {"EditTimeRele2", S},
};

// Model 252: two loops and one output on the page, no codes page, no key rights.
constexpr ControlVisibility kOnly252[] = {
    {"TabSheet3", H},        {"EditTimeIn3", H},      {"EditTimeIn4", H},
    {"EditTimeOut3", H},     {"EditTimeOut4", H},     {"EditTimeRele2", H},
    {"ComboBoxTypeShl3", H}, {"ComboBoxTypeShl4", H}, {"ComboBoxTypeRele2", H},
    {"Label22", H},          {"Label23", H},          {"Label28", H},
    {"LabelRele2", H},       {"CheckRele13", H},      {"CheckRele14", H},
    {"CheckRele23", H},      {"CheckRele24", H},      {"CheckSound3", H},
    {"CheckSound4", H},      {"Bevel3", H},           {"Bevel4", H},
    {"Label9", H},           {"Label10", H},
};

constexpr ControlVisibility kSetup251[] = {
    {"TabSheet3", H},     {"TabSheet6", S},     {"TabSheet7", S},     {"TabSheet8", S},
    {"EditTimeAuto", S},  {"LabelTimeAuto", S}, {"CheckBoxSir1", S},  {"CheckBoxSir2", S},
    {"CheckBoxSir3", S},  {"CheckBoxSir4", S},  {"CheckBoxAuto1", S}, {"CheckBoxAuto2", S},
    {"CheckBoxAuto3", S}, {"CheckBoxAuto4", S}, {"LabelSir", S},      {"LabelSir2", S},
    {"EditTimeIn2", H},   {"EditTimeOut2", H},  {"EditTimeIn3", H},   {"EditTimeIn4", H},
    {"EditTimeOut3", H},  {"EditTimeOut4", H},  {"EditTimeRele1", H}, {"EditTimeRele2", H},
    {"EditNumPlata", H},  {"EditNumNapr", H},   {"ComboBoxType", H},  {"ComboBoxLevel", H},
    {"EditLevel", H},     {"Label1", H},        {"Label2", H},        {"Label3", H},
    {"Label13", H},       {"Label31", H},       {"Label32", H},
};

template <size_t A, size_t B>
constexpr std::array<ControlVisibility, A + B> Join(const ControlVisibility (&a)[A],
                                                    const ControlVisibility (&b)[B]) {
  std::array<ControlVisibility, A + B> all{};
  for (size_t i = 0; i < A; ++i) all[i] = a[i];
  for (size_t i = 0; i < B; ++i) all[A + i] = b[i];
  return all;
}

constexpr auto kSetup250 = Join(kSame250And252, kOnly250);
constexpr auto kSetup252 = Join(kSame250And252, kOnly252);

// The window as created: every control some set-up names is shown. Model 252's list names
// them all; the password panel, which a set-up hides by its flag, comes on top.
constexpr std::array<ControlVisibility, kSetup252.size() + 1> AllShown() {
  std::array<ControlVisibility, kSetup252.size() + 1> all{};
  for (size_t i = 0; i < kSetup252.size(); ++i) all[i] = {kSetup252[i].control, S};
  all.back() = {"PanelPassword", S};
  return all;
}
constexpr auto kCreation = AllShown();

// The order in which the display routine fills the pages.
constexpr std::string_view kDisplayOrder250[] = {"TabSheet3", "TabSheet2", "TabSheet1"};
constexpr std::string_view kDisplayOrder251[] = {"TabSheet1", "TabSheet6", "TabSheet2", "TabSheet7",
                                                 "TabSheet8"};

constexpr WindowSetup kModels[] = {
    {250, 485, 600, 52, 64, kSetup250, 0, 0, KeyRowLabels::TwiceRow, false, false, kDisplayOrder250,
     false, " +"},
    {252, 485, 600, 52, 64, kSetup252, 2, 144, KeyRowLabels::RowMinusOne, true, false,
     kDisplayOrder250, false, " +"},
    {251, 680, 795, 0, 4, kSetup251, 0, 0, KeyRowLabels::RowMinusOne, false, true, kDisplayOrder251,
     true, "+"},
};

constexpr WindowSetup kCreationSetup = {
    0,     685,   634, 52,    64,  kCreation, 11, 405, KeyRowLabels::RowMinusOne,
    false, false, {},  false, " +"};

}  // namespace

const WindowSetup* FindWindowSetup(int model) {
  for (const WindowSetup& setup : kModels)
    if (setup.model == model) return &setup;
  return nullptr;
}

bool HasPasswordGate(int model) {
  const WindowSetup* setup = FindWindowSetup(model);
  return setup == nullptr || !setup->hide_password_panel;
}

bool PasswordFromCodes(int model) {
  const WindowSetup* setup = FindWindowSetup(model);
  return setup != nullptr && !setup->stored_password_from_edit;
}

const WindowSetup& CreationWindowSetup() {
  return kCreationSetup;
}

}  // namespace lovar
