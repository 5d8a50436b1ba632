#include "binding.h"

#include <map>
#include <vector>

namespace lovar {
namespace {

// A grid's row: none (a plain control), or the id's first or second number.
enum class Row : uint8_t { None, First, Second };
constexpr int kColumnIsFirst = -2;  // a grid's column: the id's first number

// One rule of the table: in the id '#' stands for its first number and '%' for its second;
// the control's name takes the same numbers.
struct Rule {
  std::string_view id;
  std::string_view control;
  Row row = Row::None;
  int column = -1;
};

constexpr Rule kRules[] = {
    // "Параметры": the loops (ШС1..ШС4), the outputs, the top row of models 250 and 252 and the
    // times, object, password and counts of model 251.
    {"loop#.type", "ComboBoxTypeShl#"},
    {"loop#.exit_time", "EditTimeIn#"},
    {"loop#.entry_time", "EditTimeOut#"},
    {"loop#.output1", "CheckRele1#"},
    {"loop#.output2", "CheckRele2#"},
    {"loop#.sounder", "CheckSound#"},
    {"loop#.name", "EditNameShl#"},
    {"loop#.siren", "CheckBoxSir#"},
    {"loop#.auto_rearm", "CheckBoxAuto#"},
    {"loop#.tech_arm", "CheckTechV#"},
    {"loop#.tech_disarm", "CheckTechS#"},
    {"output#.mode", "ComboBoxTypeRele#"},
    {"output#.time", "EditTimeRele#"},
    {"board_address", "EditNumPlata"},
    {"board_direction", "EditNumNapr"},
    {"protocol", "ComboBoxType"},
    {"level", "ComboBoxLevel"},
    {"sounder_time", "EditTimeSound"},
    {"exit_time", "EditTimeIn1"},
    {"entry_time", "EditTimeOut1"},
    {"siren_time", "EditTimeSir"},
    {"rearm_delay", "EditTimeAuto"},
    {"object_number", "EditObjekt"},
    {"password", "EditPasw"},
    {"attempts", "Edit2"},
    {"session_repeats", "EditCountRep"},
    {"sms_attempts", "EditCountSMS"},
    {"voice_repeats", "EditCountSpeak"},
    {"listen_time", "EditTimeAnswer"},
    // "Ключи" and "Коды": a row per key or code, rights in eight columns from their first.
    {"key#.code", "StringGridKey", Row::First, 1},
    {"key#.rights", "StringGridKey", Row::First, 2},
    {"key#.name", "StringGridKey", Row::First, 10},
    {"code#.code", "StringGridCode", Row::First, 1},
    {"code#.duress", "StringGridCode", Row::First, 2},
    {"code#.rights", "StringGridCode", Row::First, 3},
    // "Параметры передачи" and "Фильтр": a column per direction, a row per event.
    {"direction#.phone", "EditPhone#"},
    {"direction#.name", "EditNaPhone#"},
    {"direction#.protocol", "ComboBoxTR#"},
    {"direction#.listen", "CheckBoxUP#"},
    {"direction#.test", "ComboBoxTest#"},
    {"direction#.period", "EditTimeTest#"},
    {"direction#.loop%", "ComboBoxShl%T#"},
    {"direction#.event%", "StringGridFiltr", Row::Second, kColumnIsFirst},
    // "GPRS".
    {"gprs.init", "EditInit"},
    {"gprs.user", "EditNameIP"},
    {"gprs.password", "EditPasIP"},
    {"gprs.ip", "EditIPPCO"},
    {"gprs.port", "EditPortPCO"},
};

constexpr ControlView kViews250[] = {{"EditLevel", 122, "Уровень сигнала мВ"}};
constexpr ControlView kViews251[] = {{"Edit6", 7, "Байт выходов"}};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether id is the rule's pattern, and the numbers that stand for '#' and '%'.
bool Match(std::string_view pattern, std::string_view id, int& first, int& second) {
  size_t at = 0;
  for (char c : pattern) {
    if (c != '#' && c != '%') {
      if (at >= id.size() || id[at] != c) return false;
      ++at;
      continue;
    }
    const size_t start = at;
    int value = 0;
    while (at < id.size() && IsDigit(id[at])) value = 10 * value + (id[at++] - '0');
    if (at == start) return false;
    (c == '#' ? first : second) = value;
  }
  return at == id.size();
}

std::string Put(std::string_view pattern, int first, int second) {
  std::string out;
  for (char c : pattern) {
    if (c == '#')
      out += std::to_string(first);
    else if (c == '%')
      out += std::to_string(second);
    else
      out.push_back(c);
  }
  return out;
}

// One model's fields by the control that shows them, and its views as fields.
struct Shown {
  const Field* field;
  int row;
  int column;
  int columns;
};
struct ModelBinding {
  int layout_model = 0;  // the model that offers the whole of this one's layout
  std::map<std::string, std::vector<Shown>, std::less<>> by_control;
  std::vector<Field> views;
};

const ModelBinding* BindingOf(int model) {
  static const std::map<int, ModelBinding> kBindings = [] {
    std::map<int, ModelBinding> bindings;
    for (const ModelSetup& setup : KnownModelSetups()) {
      const int m = setup.model;
      ModelBinding& b = bindings[m];
      b.layout_model = LayoutModel(setup.layout);
      for (const Field& f : Fields(m)) {
        const ControlPlace place = PlaceOf(f);
        if (place.control.empty()) continue;
        const int columns = f.kind == FieldKind::Rights ? 8 : 1;
        b.by_control[place.control].push_back({&f, place.row, place.column, columns});
      }
      for (const ControlView& v : ControlViews(m)) {
        Field f;
        f.page = FieldPage::Parameters;
        f.kind = FieldKind::Number;
        f.offset = v.offset;
        f.caption = std::string(v.caption);
        f.max = 0xFF;
        b.views.push_back(std::move(f));
      }
    }
    return bindings;
  }();
  const auto found = kBindings.find(model);
  return found != kBindings.end() ? &found->second : nullptr;
}

}  // namespace

ControlPlace PlaceOf(const Field& field) {
  for (const Rule& rule : kRules) {
    int first = 0, second = 0;
    if (!Match(rule.id, field.id, first, second)) continue;
    ControlPlace place{Put(rule.control, first, second)};
    if (rule.row != Row::None) {
      place.row = rule.row == Row::First ? first : second;
      place.column = rule.column == kColumnIsFirst ? first : rule.column;
    }
    return place;
  }
  return {};
}

const Field* FieldOfControl(int model, std::string_view control, int row, int column) {
  const ModelBinding* b = BindingOf(model);
  if (b == nullptr) return nullptr;
  const auto shown = b->by_control.find(control);
  if (shown == b->by_control.end()) return nullptr;
  for (const Shown& s : shown->second) {
    if (s.row < 0) return s.field;
    if (row == s.row && column >= s.column && column < s.column + s.columns) return s.field;
  }
  return nullptr;
}

std::span<const ControlView> ControlViews(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr) return {};
  switch (setup->layout) {
    case ImageLayout::T:
      return kViews250;
    case ImageLayout::M:
      return kViews251;
  }
  return {};
}

const Field* BoundField(int model, std::string_view control, int row, int column) {
  const ModelBinding* b = BindingOf(model);
  if (b == nullptr) return nullptr;
  if (const Field* f = FieldOfControl(model, control, row, column)) return f;
  const std::span<const ControlView> views = ControlViews(model);
  for (size_t i = 0; i < views.size(); ++i)
    if (views[i].control == control) return &b->views[i];
  if (b->layout_model != model) return BoundField(b->layout_model, control, row, column);
  return nullptr;
}

std::string_view TabSheetOf(FieldPage page) {
  switch (page) {
    case FieldPage::Parameters:
      return "TabSheet1";
    case FieldPage::Keys:
      return "TabSheet2";
    case FieldPage::Codes:
      return "TabSheet3";
    case FieldPage::Directions:
      return "TabSheet6";
    case FieldPage::Filter:
      return "TabSheet7";
    case FieldPage::Gprs:
      return "TabSheet8";
  }
  return {};
}

}  // namespace lovar
