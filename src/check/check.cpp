#include "check/check.h"

#include <algorithm>
#include <map>
#include <string>

#include "check/company_rules.h"
#include "check/rule_context.h"
#include "model/russian_plural.h"

namespace lovar {
namespace {

using namespace check;

struct Rule {
  RuleInfo info;
  void (*run)(Context&);
};

constexpr Severity E = Severity::Error;
constexpr Severity W = Severity::Warning;

// Errors first: the order findings come in.
const Rule kRules[] = {
    {{"no-reporting-direction", E, "251",
      "ни одно направление с номером телефона ничего не передаёт"},
     NoReportingDirection},
    {{"loop-not-reported", E, "251",
      "шлейф используется, но ни одно направление с номером его не передаёт"},
     LoopNotReported},
    {{"object-number-from-template", E, "251", "номер объекта остался от шаблона"},
     ObjectNumberFromTemplate},
    {{"loop-alarm-not-reported", W, "251",
      "тревоги шлейфа не проходят ни в одно направление (маршрут или фильтр)"},
     LoopAlarmNotReported},
    {{"direction-without-phone", W, "251",
      "у направления заданы передача шлейфов или тест, но нет номера телефона"},
     DirectionWithoutPhone},
    {{"direction-filter-empty", W, "251",
      "направление передаёт шлейфы, но в его фильтре не отмечено ни одно событие"},
     DirectionFilterEmpty},
    {{"direction-protocol-unset", W, "251", "у направления с номером не выбран протокол передачи"},
     DirectionProtocolUnset},
    {{"phone-malformed", W, "251", "номер телефона записан не так, как его записывает окно"},
     PhoneMalformed},
    {{"test-period-zero", W, "251", "тест включён с периодом 0"}, TestPeriodZero},
    {{"attempts-zero", W, "251", "количество попыток передачи равно 0"}, AttemptsZero},
    {{"listen-time-zero", W, "251", "прослушивание включено, а его время равно 0"}, ListenTimeZero},
    {{"gprs-incomplete", W, "251", "настройки GPRS заполнены наполовину"}, GprsIncomplete},
    {{"object-number-empty", W, "251", "номер объекта не задан"}, ObjectNumberEmpty},
    {{"entry-loop-without-delay", W, "251", "входной шлейф без задержки на вход"},
     EntryLoopWithoutDelay},
    {{"siren-time-zero", W, "251", "сирена включается шлейфом, а её время равно 0"}, SirenTimeZero},
    {{"sounder-time-zero", W, "все",
      "внутренний звуковой сигнал включается шлейфом, а его время равно 0"},
     SounderTimeZero},
    {{"output-time-zero", W, "250, 252", "выход включается на время 0"}, OutputTimeZero},
    {{"value-outside-list", W, "все", "значение, которого нет в списке окна"}, ValueOutsideList},
    {{"value-out-of-range", W, "250, 252", "число больше, чем принимает окно"}, ValueOutOfRange},
    {{"key-duplicate", W, "все", "два ключа с одним кодом"}, KeyDuplicate},
    {{"key-without-rights", W, "250, 251", "ключ без права взятия и снятия"}, KeyWithoutRights},
    {{"installer-code-empty", W, "250", "код установщика не задан"}, InstallerCodeEmpty},
    {{"code-duplicate", W, "250", "один код в двух местах таблицы кодов"}, CodeDuplicate},
    {{"code-without-rights", W, "250", "код без права взятия и снятия"}, CodeWithoutRights},
    {{"duress-without-code", W, "250", "код принуждения без кода пользователя"}, DuressWithoutCode},
    {{"code-not-typeable", W, "250", "код, который нельзя набрать цифрами"}, CodeNotTypeable},
    {{"no-keys-or-codes", W, "250, 252", "нет ни ключей, ни кодов: на объекте нечем взять и снять"},
     NoKeysOrCodes},
    {{"code-from-template", W, "250, 251", "код пользователя или пароль остался от шаблона"},
     CodeFromTemplate},
};

const std::array<RuleInfo, std::size(kRules)>& Infos() {
  static const auto kInfos = [] {
    std::array<RuleInfo, std::size(kRules)> infos;
    for (size_t i = 0; i < std::size(kRules); ++i) infos[i] = kRules[i].info;
    return infos;
  }();
  return kInfos;
}

// Per model, the fields by id; the catalog's tables live for the program's life.
const std::map<std::string, const Field*, std::less<>>& Index(int model) {
  static const auto kIndex = [] {
    std::map<int, std::map<std::string, const Field*, std::less<>>> index;
    for (int m : {250, 251, 252})
      for (const Field& f : Fields(m)) index[m].emplace(f.id, &f);
    return index;
  }();
  static const std::map<std::string, const Field*, std::less<>> kNone;
  const auto found = kIndex.find(model);
  return found != kIndex.end() ? found->second : kNone;
}

}  // namespace

std::string_view SeverityText(Severity severity) {
  return severity == Severity::Error ? "ошибка" : "предупреждение";
}

std::span<const RuleInfo> BuiltinRules() {
  return Infos();
}

const RuleInfo* FindBuiltinRule(std::string_view id) {
  for (const RuleInfo& info : Infos())
    if (info.id == id) return &info;
  return nullptr;
}

FindingCounts CountFindings(std::span<const Finding> findings) {
  FindingCounts counts;
  for (const Finding& f : findings)
    ++(f.severity == Severity::Error ? counts.errors : counts.warnings);
  return counts;
}

namespace {

std::string Counted(int n, const char* one, const char* few, const char* many) {
  return CountText(static_cast<uint64_t>(n), one, few, many);
}

}  // namespace

std::string CountsText(const FindingCounts& counts) {
  if (counts.errors == 0 && counts.warnings == 0) return "замечаний нет";
  std::string text;
  if (counts.errors > 0) text = Counted(counts.errors, "ошибка", "ошибки", "ошибок");
  if (counts.warnings > 0) {
    if (!text.empty()) text += ", ";
    text += Counted(counts.warnings, "предупреждение", "предупреждения", "предупреждений");
  }
  return text;
}

std::vector<Finding> CheckConfiguration(const CheckInput& input) {
  std::vector<Finding> findings;
  if (input.image == nullptr || Fields(input.model).empty()) return findings;
  Context context(input, findings);
  for (const Rule& rule : kRules) rule.run(context);
  if (input.company != nullptr) ApplyCompanyRules(*input.company, input, findings);
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return a.severity == Severity::Error && b.severity != Severity::Error;
  });
  return findings;
}

namespace check {

bool Direction::RoutesAny() const {
  for (int l = 0; l < 4; ++l)
    if (Routes(l)) return true;
  return false;
}

bool LoopInUse251(unsigned type) {
  return type == kLoopEntry || type == kLoopGuard || type == kLoopPanic || type == kLoopFire ||
         type == kLoopTech;
}

Context::Context(const CheckInput& input, std::vector<Finding>& out)
    : model_(input.model),
      image_(*input.image),
      extent_(std::min(input.extent, ImageLength(input.model))),
      firmware_(input.firmware),
      template_(input.template_image),
      out_(out) {}

const Field* Context::F(std::string_view id) const {
  const auto& index = Index(model_);
  const auto found = index.find(id);
  if (found == index.end() || !InExtent(*found->second, extent_)) return nullptr;
  return found->second;
}

const Field* Context::F(std::string_view head, int n, std::string_view tail) const {
  std::string id(head);
  id += std::to_string(n);
  id += tail;
  return F(id);
}

void Context::Read() const {
  if (read_) return;
  read_ = true;
  if (model_ != 251) return;
  for (int l = 0; l < 4; ++l) loop_types_[static_cast<size_t>(l)] = Bits(F("loop", l + 1, ".type"));
  for (int d = 0; d < 5; ++d) {
    Direction& dir = directions_[static_cast<size_t>(d)];
    dir.n = d + 1;
    if (const Field* phone = F("direction", d + 1, ".phone")) {
      const auto bytes = FieldBytes(*phone, image_).first<directions::kPhoneBytes>();
      dir.phone_set = bytes[0] != 0;
      dir.number = dir.phone_set && !directions::PhoneDigits(bytes).empty();
    }
    for (int l = 0; l < 4; ++l)
      dir.routing[static_cast<size_t>(l)] =
          Bits(F("direction" + std::to_string(d + 1) + ".loop", l + 1, ""));
    for (int e = 0; e < filter::kEvents; ++e)
      if (Bits(F("direction" + std::to_string(d + 1) + ".event", e + 1, "")) != 0)
        dir.filter |= 1u << e;
    dir.test = Bits(F("direction", d + 1, ".test"));
    dir.protocol = Bits(F("direction", d + 1, ".protocol"));
    dir.period = Bits(F("direction", d + 1, ".period"));
    dir.listen = Bits(F("direction", d + 1, ".listen")) != 0;
  }
}

const std::array<Direction, 5>& Context::directions() const {
  Read();
  return directions_;
}

unsigned Context::loop_type(int loop) const {
  Read();
  return loop_types_[static_cast<size_t>(loop)];
}

std::string Context::Text(const Field* f) const {
  if (f == nullptr) return {};
  std::string text = FieldText(*f, image_);
  if (f->kind == FieldKind::List)
    while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Context::LoopLabel(int loop) const {
  std::string label = "ШС" + std::to_string(loop + 1);
  const std::string name = Text(F("loop", loop + 1, ".name"));
  if (!name.empty()) label += " " + Quoted(name);
  return label;
}

void Context::Add(std::string_view rule, std::string text, std::string hint,
                  const std::vector<const Field*>& fields) {
  Finding f;
  f.rule = std::string(rule);
  const RuleInfo* info = FindBuiltinRule(rule);
  f.severity = info != nullptr ? info->severity : Severity::Warning;
  f.text = std::move(text);
  f.hint = std::move(hint);
  for (const Field* field : fields)
    if (field != nullptr &&
        std::find(f.fields.begin(), f.fields.end(), field->id) == f.fields.end())
      f.fields.push_back(field->id);
  out_.push_back(std::move(f));
}

std::string Quoted(std::string_view value) {
  return "«" + std::string(value) + "»";
}

namespace {

std::string Joined(const std::vector<int>& numbers, std::string_view prefix) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " и " : ", ";
    text += prefix;
    text += std::to_string(numbers[i]);
  }
  return text;
}

}  // namespace

std::string NumberList(const std::vector<int>& numbers) {
  return Joined(numbers, "");
}

std::string LoopList(const std::vector<int>& loops) {
  return Joined(loops, "ШС");
}

std::string Name(const Field* f) {
  return f != nullptr ? Quoted(f->caption) : "";
}

std::string PageName(const Field* f) {
  return f != nullptr ? Quoted(PageOf(f->page).caption) : "";
}

std::string Place(const Field* f) {
  return Name(f) + " на странице " + PageName(f);
}

}  // namespace check
}  // namespace lovar
