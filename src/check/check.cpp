#include "check/check.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>

#include "check/company_rules.h"
#include "check/rule_context.h"
#include "files/config_file.h"
#include "model/model_setup.h"
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

// Errors first: the order findings come in. A rule that says a cause runs before the rules
// that would say it again (Context::Said).
constexpr uint8_t K = kNeedsKeys, FW = kNeedsFirmware, T = kNeedsTemplate;
using S = RuleScope;
constexpr RuleScope A = RuleScope::All, R = RuleScope::Reporting;
const Rule kRules[] = {
    {{"company-rules-not-loaded", E, A,
      "файл правил компании не загружен: его правила не действуют"},
     CompanyRulesNotLoaded},
    {{"no-reporting-direction", E, R,
      "ни одно направление ничего не передаёт (номер, протокол и события фильтра)"},
     NoReportingDirection},
    {{"loop-not-reported", E, R,
      "шлейф используется, но ни одно направление с номером его не передаёт"},
     LoopNotReported},
    {{"loop-alarm-not-reported", E, R,
      "тревоги шлейфа не доходят ни до кого (маршрут, фильтр или протокол)"},
     LoopAlarmNotReported},
    {{"object-number-from-template", E, R, "номер объекта остался от шаблона", T},
     ObjectNumberFromTemplate},
    {{"object-number-duplicate", E, R, "два прибора плана получают один номер объекта",
      kNeedsNothing, false, true},
     nullptr},
    {{"object-number-empty", E, R, "номер объекта не задан", kNeedsNothing, true},
     ObjectNumberEmpty},
    {{"direction-without-phone", W, R,
      "у направления заданы передача шлейфов или тест, но нет номера телефона"},
     DirectionWithoutPhone},
    {{"direction-filter-empty", W, R,
      "направление передаёт шлейфы, но в его фильтре не отмечено ни одно событие"},
     DirectionFilterEmpty},
    {{"direction-protocol-unset", W, R, "у направления с номером не выбран протокол передачи"},
     DirectionProtocolUnset},
    {{"direction-duplicate", W, R, "два направления на один номер одним протоколом"},
     DirectionDuplicate},
    {{"no-test-message", W, R, "ни одно направление на ПЦН не передаёт тест"}, NoTestMessage},
    {{"phone-malformed", W, R, "номер телефона записан не так, как его записывает окно"},
     PhoneMalformed},
    {{"test-period-zero", W, R, "тест включён с периодом 0"}, TestPeriodZero},
    {{"attempts-zero", W, R, "количество попыток передачи равно 0"}, AttemptsZero},
    {{"listen-time-zero", W, R, "прослушивание включено, а его время равно 0"}, ListenTimeZero},
    {{"gprs-incomplete", W, S::Gprs, "настройки GPRS заполнены наполовину"}, GprsIncomplete},
    {{"reserve-loop-in-use", W, S::LayoutM, "шлейф с типом «Резерв» назван и передаётся"},
     ReserveLoopInUse},
    {{"entry-loop-without-delay", W, S::LayoutM, "входной шлейф без задержки на вход"},
     EntryLoopWithoutDelay},
    {{"siren-time-zero", W, S::LayoutM, "сирена включается шлейфом, а её время равно 0"},
     SirenTimeZero},
    {{"panic-loop-siren", W, A, "тревожный шлейф включает сирену"}, PanicLoopSiren},
    {{"sounder-time-zero", W, A,
      "внутренний звуковой сигнал включается шлейфом, а его время равно 0"},
     SounderTimeZero},
    {{"output-time-zero", W, S::LayoutT, "выход включается на время 0"}, OutputTimeZero},
    {{"value-outside-list", W, A, "значение, которого нет в списке окна", FW}, ValueOutsideList},
    {{"value-out-of-range", W, S::LayoutT, "число больше, чем принимает окно"}, ValueOutOfRange},
    {{"key-erased", W, A, "код ключа — стёртая память (все байты FF)", K}, KeyErased},
    {{"key-duplicate", W, A, "два ключа с одним кодом", K}, KeyDuplicate},
    {{"key-without-rights", W, S::KeyRights, "ключ без права взятия и снятия", K},
     KeyWithoutRights},
    {{"installer-code-empty", W, S::Codes, "код установщика не задан"}, InstallerCodeEmpty},
    {{"code-duplicate", W, S::Codes, "один код в двух местах таблицы кодов"}, CodeDuplicate},
    {{"code-without-rights", W, S::Codes, "код без права взятия и снятия"}, CodeWithoutRights},
    {{"duress-without-code", W, S::Codes, "код принуждения без кода пользователя"},
     DuressWithoutCode},
    {{"code-not-typeable", W, S::Codes, "код, который нельзя набрать цифрами"}, CodeNotTypeable},
    {{"no-keys-or-codes", W, S::LayoutT, "нет ни ключей, ни кодов: на объекте нечем взять и снять"},
     NoKeysOrCodes},
    {{"code-from-template", W, S::CodesOrPassword, "код пользователя или пароль остался от шаблона",
      T},
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

// Per model, the fields by id, hashed: the rules look fields up thousands of times per check
// (a batch checks every row). The catalog's tables live for the program's life.
using FieldIndex = std::unordered_map<std::string_view, const Field*>;
const FieldIndex& Index(int model) {
  static const auto kIndex = [] {
    std::map<int, FieldIndex> index;
    for (const ModelSetup& setup : KnownModelSetups())
      for (const Field& f : Fields(setup.model)) index[setup.model].emplace(f.id, &f);
    return index;
  }();
  static const FieldIndex kNone;
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

bool RuleAppliesTo(const RuleInfo& info, int model) {
  const ModelSetup* setup = FindModelSetup(model);
  if (setup == nullptr) return false;
  switch (info.scope) {
    case RuleScope::All:
      return true;
    case RuleScope::Reporting:
      return setup->Has(FieldPage::Directions);
    case RuleScope::Gprs:
      return setup->Has(FieldPage::Gprs);
    case RuleScope::LayoutM:
      return setup->layout == ImageLayout::M;
    case RuleScope::LayoutT:
      return setup->layout == ImageLayout::T;
    case RuleScope::KeyRights:
      return setup->key_rights;
    case RuleScope::Codes:
      return setup->Has(FieldPage::Codes);
    case RuleScope::CodesOrPassword:
      return setup->Has(FieldPage::Codes) || setup->layout == ImageLayout::M;
  }
  return false;
}

std::string RuleModelsText(const RuleInfo& info) {
  if (info.scope == RuleScope::All) return "все";
  std::string text;
  for (const ModelSetup& setup : KnownModelSetups())
    if (RuleAppliesTo(info, setup.model))
      text += (text.empty() ? "" : ", ") + std::to_string(setup.model);
  return text;
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

CheckInput FileCheckInput(int model, const ConfigImage& image, const ConfigImage* templ,
                          const CompanyRules* company) {
  CheckInput in;
  in.model = model;
  in.image = &image;
  in.extent = FileImageLength(model);
  in.template_image = templ;
  in.company = company;
  return in;
}

CheckInput DeviceCheckInput(int model, const ConfigImage& image, int firmware,
                            const ConfigImage* templ, const CompanyRules* company) {
  CheckInput in = FileCheckInput(model, image, templ, company);
  in.extent = ImageLength(model);
  in.firmware = firmware;
  return in;
}

namespace {

// "ключи (key-erased, key-duplicate): …": the rules of one need that apply to the model.
std::string SkippedLine(int model, uint8_t need, std::string_view what, std::string_view why,
                        std::string_view more = {}) {
  std::string ids;
  for (const RuleInfo& info : Infos())
    if ((info.needs & need) != 0 && !info.elsewhere && RuleAppliesTo(info, model))
      ids += (ids.empty() ? "" : ", ") + std::string(info.id);
  if (!more.empty()) ids += (ids.empty() ? "" : ", ") + std::string(more);
  if (ids.empty()) return {};
  return std::string(what) + " (" + ids + "): " + std::string(why);
}

}  // namespace

std::vector<std::string> SkippedChecks(const CheckInput& input) {
  std::vector<std::string> lines;
  if (input.image == nullptr || Fields(input.model).empty()) return lines;
  const int model = input.model;
  const auto add = [&lines](std::string line) {
    if (!line.empty()) lines.push_back(std::move(line));
  };
  if (input.extent < ImageLength(model))
    add(SkippedLine(model, kNeedsKeys, "ключи",
                    "в файле модели " + std::to_string(model) +
                        " их нет, они хранятся в приборе; проверьте прибор: check --port"));
  // Only a model with a loop type that depends on the firmware (250 and 252).
  if (input.firmware < 0 && FindModelSetup(model)->firmware_loop_type.type >= 0)
    add(SkippedLine(model, kNeedsFirmware, "тип шлейфа «Охранный актив.» и версия прошивки",
                    "версия прошивки известна только у прибора (--port)"));
  if (input.template_image == nullptr) {
    std::string company;
    if (input.company != nullptr)
      for (const CompanyRule& rule : input.company->rules)
        if (rule.test == CompanyRule::Test::DiffersFromTemplate &&
            std::find(rule.models.begin(), rule.models.end(), model) != rule.models.end())
          company += (company.empty() ? "" : ", ") + rule.id;
    add(SkippedLine(model, kNeedsTemplate, "значения, оставшиеся от шаблона",
                    "шаблон не указан (--template ФАЙЛ)", company));
  }
  return lines;
}

std::vector<Finding> CheckConfiguration(const CheckInput& input) {
  std::vector<Finding> findings;
  if (input.image == nullptr || Fields(input.model).empty()) return findings;
  Context context(input, findings);
  for (const Rule& rule : kRules)
    if (rule.run != nullptr && RuleAppliesTo(rule.info, input.model)) rule.run(context);
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

int Direction::ProtocolShown() const {
  return directions::ProtocolEntry(static_cast<uint8_t>(protocol));
}

bool Direction::HasTest() const {
  return directions::TestEntry(static_cast<uint8_t>(test)) >= 1;
}

bool Direction::ToStation() const {
  const int shown = ProtocolShown();
  return Delivers() && (shown == kProtocolOfm || shown == kProtocolContactId);
}

bool LoopInUse251(unsigned type) {
  return type == kLoopEntry || type == kLoopGuard || type == kLoopPanic || type == kLoopFire ||
         type == kLoopTech;
}

Context::Context(const CheckInput& input, std::vector<Finding>& out)
    : model_(input.model),
      setup_(FindModelSetup(input.model)),
      image_(*input.image),
      extent_(std::min(input.extent, ImageLength(input.model))),
      firmware_(input.firmware),
      template_(input.template_image),
      company_(input.company),
      out_(out) {}

bool Context::AnyDelivers() const {
  for (const Direction& d : directions())
    if (d.Delivers()) return true;
  return false;
}

const Field* Context::F(std::string_view id) const {
  const auto& index = Index(model_);
  const auto found = index.find(id);
  if (found == index.end() || !InExtent(*found->second, extent_)) return nullptr;
  return found->second;
}

const Field* Context::F(std::string_view head, int n, std::string_view tail) const {
  // Built in place: the rules ask for fields by number thousands of times per check.
  char id[64];
  char digits[12];
  size_t count = 0;
  for (unsigned v = static_cast<unsigned>(n); count == 0 || v != 0; v /= 10)
    digits[count++] = static_cast<char>('0' + v % 10);
  if (head.size() + count + tail.size() > sizeof id) return nullptr;
  char* at = std::copy(head.begin(), head.end(), id);
  while (count > 0) *at++ = digits[--count];
  at = std::copy(tail.begin(), tail.end(), at);
  return F(std::string_view(id, static_cast<size_t>(at - id)));
}

void Context::Read() const {
  if (read_) return;
  read_ = true;
  if (!LoopsM()) return;
  for (int l = 0; l < 4; ++l) loop_types_[static_cast<size_t>(l)] = Bits(F("loop", l + 1, ".type"));
  for (int d = 0; d < 5; ++d) {
    Direction& dir = directions_[static_cast<size_t>(d)];
    dir.n = d + 1;
    if (const Field* phone = F("direction", d + 1, ".phone")) {
      const auto bytes = FieldBytes(*phone, image_).first<directions::kPhoneBytes>();
      dir.phone_set = bytes[0] != 0;
      if (dir.phone_set) dir.digits = directions::PhoneDigits(bytes);
      dir.number = !dir.digits.empty();
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
  const RuleInfo* info = FindBuiltinRule(rule);
  Add(rule, info != nullptr ? info->severity : Severity::Warning, std::move(text), std::move(hint),
      fields);
}

void Context::Add(std::string_view rule, Severity severity, std::string text, std::string hint,
                  const std::vector<const Field*>& fields) {
  Finding f;
  f.rule = std::string(rule);
  f.severity = severity;
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

std::string RowList(const std::vector<int>& numbers) {
  std::vector<std::string> parts;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (j - i >= 2) {
      parts.push_back(std::to_string(numbers[i]) + "–" + std::to_string(numbers[j]));
    } else {
      for (size_t k = i; k <= j; ++k) parts.push_back(std::to_string(numbers[k]));
    }
    i = j + 1;
  }
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? " и " : ", ";
    text += parts[i];
  }
  return text;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
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
