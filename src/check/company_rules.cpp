#include "check/company_rules.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <set>

#include "files/file_access.h"
#include "files/json_reader.h"
#include "files/safe_replace.h"
#include "files/utf8_path.h"
#include "model/catalog.h"

namespace lovar {
namespace {

using Json = nlohmann::ordered_json;

constexpr size_t kMaxFileBytes = 1 << 20;
// A rules file nests four deep (the document, its rules, a rule, a list of values); a deeper
// one is no rules file, and is refused before it costs memory.
constexpr std::string_view kDocumentMembers[] = {"format", "version", "company", "rules"};
constexpr JsonFormat kFormat = {kRulesFormatName, kRulesFormatVersion, "файл правил", 8,
                                kDocumentMembers};
constexpr size_t kMaxRules = 1000;
constexpr size_t kMaxValues = 1000;
constexpr size_t kMaxIdLength = 64;
constexpr size_t kMaxMessageBytes = 1000;
constexpr int kModels[] = {250, 251, 252};

bool IsRuleId(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    const char c = id[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter && (i == 0 || (c != '-' && c != '_' && c != '.'))) return false;
  }
  return true;
}

// A control character in a text the findings will show (a line break, an escape, a direction
// override): the file's words must read as written. Empty when there is none.
std::string ControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "%02X", byte);
      return std::string("управляющий знак с кодом 0x") + code;
    }
    // U+0080..U+009F, and the marks that turn the direction of text (U+202A..U+202E,
    // U+2066..U+2069).
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return "управляющий знак Юникода";
    if (byte == 0xE2 && i + 2 < text.size()) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]);
      const auto b2 = static_cast<unsigned char>(text[i + 2]);
      if ((b1 == 0x80 && b2 >= 0xAA && b2 <= 0xAE) || (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9))
        return "знак, меняющий направление текста";
    }
  }
  return {};
}

// A value as the field's text, as an import takes it: a string, a whole number, true or false.
bool ValueText(const Json& value, std::string& text) {
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_number_unsigned()) {
    text = std::to_string(value.get<uint64_t>());
  } else if (value.is_number_integer()) {
    text = std::to_string(value.get<int64_t>());
  } else if (value.is_boolean()) {
    text = value.get<bool>() ? "да" : "нет";
  } else {
    return false;
  }
  return true;
}

bool TakesEmpty(FieldKind kind) {
  return kind == FieldKind::Text || kind == FieldKind::Phone || kind == FieldKind::KeyCode ||
         kind == FieldKind::CodeDigits || kind == FieldKind::Rights;
}

// One rule, from its object; why names the member at fault.
bool TakeRule(const Json& json, CompanyRule& rule, std::string& why) {
  static const std::set<std::string> kMembers = {"id",
                                                 "field",
                                                 "models",
                                                 "severity",
                                                 "message",
                                                 "equals",
                                                 "one_of",
                                                 "none_of",
                                                 "range",
                                                 "not_empty",
                                                 "differs_from_template"};
  if (!json.is_object()) {
    why = "правило должно быть объектом";
    return false;
  }
  for (const auto& [name, value] : json.items()) {
    if (!kMembers.count(name)) {
      why = "неизвестный член «" + name + "»";
      return false;
    }
  }
  if (!json.contains("id") || !json["id"].is_string() || !IsRuleId(json["id"].get<std::string>())) {
    why = "нужен «id»: строчные латинские буквы, цифры и знаки - _ . (до 64 знаков)";
    return false;
  }
  rule.id = json["id"].get<std::string>();
  if (!json.contains("field") || !json["field"].is_string()) {
    why = "нужен «field»: id поля (lovar-cli show ФАЙЛ --json их перечисляет)";
    return false;
  }
  rule.field = json["field"].get<std::string>();
  if (json.contains("models")) {
    const Json& models = json["models"];
    if (!models.is_array() || models.empty()) {
      why = "«models» должен быть непустым списком моделей (250, 251, 252)";
      return false;
    }
    for (const Json& m : models) {
      const bool known = m.is_number_unsigned() && m.get<uint64_t>() <= 1000 &&
                         IsKnownModel(static_cast<int>(m.get<uint64_t>()));
      if (!known) {
        why = "«models»: модели — 250, 251 или 252";
        return false;
      }
      const int model = static_cast<int>(m.get<uint64_t>());
      if (FindFieldById(model, rule.field) == nullptr) {
        why = "у модели " + std::to_string(model) + " нет поля «" + rule.field + "»";
        return false;
      }
      rule.models.push_back(model);
    }
  } else {
    for (int m : kModels)
      if (FindFieldById(m, rule.field) != nullptr) rule.models.push_back(m);
    if (rule.models.empty()) {
      why = "неизвестное поле «" + rule.field + "»";
      return false;
    }
  }
  if (json.contains("severity")) {
    const Json& s = json["severity"];
    if (s == "ошибка" || s == "error") {
      rule.severity = Severity::Error;
    } else if (s == "предупреждение" || s == "warning") {
      rule.severity = Severity::Warning;
    } else {
      why = "«severity» — \"ошибка\" или \"предупреждение\"";
      return false;
    }
  }
  if (json.contains("message")) {
    if (!json["message"].is_string() ||
        json["message"].get<std::string>().size() > kMaxMessageBytes) {
      why =
          "«message» должен быть строкой не длиннее " + std::to_string(kMaxMessageBytes) + " байт";
      return false;
    }
    rule.message = json["message"].get<std::string>();
    if (const std::string control = ControlCharacter(rule.message); !control.empty()) {
      why = "«message»: " + control + " (текст правила — одна строка без управляющих знаков)";
      return false;
    }
  }

  int tests = 0;
  for (const char* t :
       {"equals", "one_of", "none_of", "range", "not_empty", "differs_from_template"})
    tests += json.contains(t) ? 1 : 0;
  if (tests != 1) {
    why =
        "нужна ровно одна проверка: equals, one_of, none_of, range, not_empty или "
        "differs_from_template";
    return false;
  }
  if (json.contains("equals") || json.contains("one_of") || json.contains("none_of")) {
    const char* member = json.contains("equals")   ? "equals"
                         : json.contains("one_of") ? "one_of"
                                                   : "none_of";
    rule.test = std::string_view(member) == "none_of" ? CompanyRule::Test::NoneOf
                                                      : CompanyRule::Test::OneOf;
    Json values = json[member];
    if (std::string_view(member) == "equals") values = Json::array({values});
    if (!values.is_array() || values.empty() || values.size() > kMaxValues) {
      why = "«" + std::string(member) + "» должен быть непустым списком значений (до " +
            std::to_string(kMaxValues) + ")";
      return false;
    }
    for (int model : rule.models) {
      const Field& f = *FindFieldById(model, rule.field);
      std::vector<std::string> canonical;
      for (const Json& v : values) {
        std::string text, reason;
        ConfigImage scratch;
        if (!ValueText(v, text)) {
          why = "«" + std::string(member) +
                "»: значение должно быть строкой, целым числом, true "
                "или false";
          return false;
        }
        if (const std::string control = ControlCharacter(text); !control.empty()) {
          why = "«" + std::string(member) + "»: в значении " + control;
          return false;
        }
        if (!StoreFieldText(f, scratch, text, reason)) {
          why = "«" + std::string(member) + "»: " + FieldRefusal(f, reason) + " (модель " +
                std::to_string(model) + ")";
          return false;
        }
        canonical.push_back(FieldText(f, scratch));
      }
      rule.values.emplace_back(model, std::move(canonical));
    }
  } else if (json.contains("range")) {
    rule.test = CompanyRule::Test::Range;
    const Json& range = json["range"];
    auto bound = [&](const char* name, int64_t& out) {
      if (!range.contains(name)) return true;
      const Json& b = range[name];
      if (!b.is_number_integer() || (b.is_number_unsigned() && b.get<uint64_t>() > INT64_MAX))
        return false;
      out = b.get<int64_t>();
      return true;
    };
    const bool shaped =
        range.is_object() && !range.empty() &&
        range.size() == (range.contains("min") ? 1u : 0u) + (range.contains("max") ? 1u : 0u);
    if (!shaped || !bound("min", rule.min) || !bound("max", rule.max) || rule.min > rule.max) {
      why =
          "«range» — {\"min\": число, \"max\": число} (одно из двух можно опустить), min не "
          "больше max";
      return false;
    }
    for (int model : rule.models) {
      const FieldKind kind = FindFieldById(model, rule.field)->kind;
      if (kind != FieldKind::Number && kind != FieldKind::Text) {
        why = "«range» проверяет только числа и текстовые поля из цифр, а «" + rule.field +
              "» не такое";
        return false;
      }
    }
  } else {
    const char* member = json.contains("not_empty") ? "not_empty" : "differs_from_template";
    if (json[member] != true) {
      why = "«" + std::string(member) + "» может быть только true";
      return false;
    }
    rule.test = std::string_view(member) == "not_empty" ? CompanyRule::Test::NotEmpty
                                                        : CompanyRule::Test::DiffersFromTemplate;
    for (int model : rule.models)
      if (rule.test == CompanyRule::Test::NotEmpty &&
          !TakesEmpty(FindFieldById(model, rule.field)->kind)) {
        why = "«not_empty» — для текстов, номеров телефонов, кодов и прав; у поля «" + rule.field +
              "» всегда есть значение (для чисел — «range»)";
        return false;
      }
  }
  return true;
}

// A Text field's value as a decimal number: digits only, at most 18 of them.
bool DecimalValue(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string Quoted(std::string_view text) {
  return "«" + std::string(text) + "»";
}

std::string QuotedList(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& v : values) text += (text.empty() ? "" : ", ") + Quoted(v);
  return text;
}

std::string RangeText(const CompanyRule& rule) {
  if (rule.min == 0 && rule.max == INT64_MAX) return "число";
  if (rule.max == INT64_MAX) return "число не меньше " + std::to_string(rule.min);
  if (rule.min == 0) return "число не больше " + std::to_string(rule.max);
  return "число от " + std::to_string(rule.min) + " до " + std::to_string(rule.max);
}

}  // namespace

CompanyRulesLoad ParseCompanyRules(std::string_view text, std::string source) {
  CompanyRulesLoad load;
  load.rules.source = std::move(source);
  Json document;
  if (!ReadJsonDocument(text, kFormat, document, load.error)) return load;
  if (document.contains("company")) {
    if (!document["company"].is_string()) {
      load.error = "член «company» должен быть строкой";
      return load;
    }
    load.rules.company = document["company"].get<std::string>();
    if (const std::string control = ControlCharacter(load.rules.company); !control.empty()) {
      load.error = "член «company»: " + control;
      return load;
    }
  }
  if (!document.contains("rules") || !document["rules"].is_array() ||
      document["rules"].size() > kMaxRules) {
    load.error = "член «rules» должен быть списком правил (до " + std::to_string(kMaxRules) + ")";
    return load;
  }
  std::set<std::string> ids;
  const Json& rules = document["rules"];
  for (size_t i = 0; i < rules.size(); ++i) {
    CompanyRule rule;
    std::string why;
    const std::string where = "правило " + std::to_string(i + 1);
    if (!TakeRule(rules[i], rule, why)) {
      const Json& id = rules[i].is_object() && rules[i].contains("id") ? rules[i]["id"] : Json();
      load.error = where + (id.is_string() ? " (" + id.get<std::string>() + ")" : "") + ": " + why;
      return load;
    }
    if (FindBuiltinRule(rule.id) != nullptr || !ids.insert(rule.id).second) {
      load.error = where + ": id «" + rule.id + "» уже занят" +
                   (FindBuiltinRule(rule.id) != nullptr ? " встроенным правилом" : "");
      return load;
    }
    load.rules.rules.push_back(std::move(rule));
  }
  return load;
}

CompanyRulesLoad ReadCompanyRules(const std::filesystem::path& path) {
  CompanyRulesLoad load;
  const std::string name = ShownPath(path);
  std::vector<uint8_t> bytes;
  PathKind kind = PathKind::Missing;
  const FsResult read = ReadRegularFile(path, kMaxFileBytes + 1, bytes, kind);
  if (!read.ok || kind != PathKind::Regular) {
    load.error = "файл правил " + name + " не читается: " +
                 (kind != PathKind::Regular && kind != PathKind::Missing
                      ? "это " + std::string(PathKindText(kind)) + ", а не обычный файл"
                      : read.message);
    return load;
  }
  if (bytes.size() > kMaxFileBytes) {
    load.error = "файл правил " + name + " больше 1 МБ";
    return load;
  }
  load = ParseCompanyRules(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), name);
  if (!load.ok()) load.error = "файл правил " + name + ": " + load.error;
  return load;
}

void ApplyCompanyRules(const CompanyRules& rules, const CheckInput& input,
                       std::vector<Finding>& out) {
  for (const CompanyRule& rule : rules.rules) {
    if (std::find(rule.models.begin(), rule.models.end(), input.model) == rule.models.end())
      continue;
    const Field* f = FindFieldById(input.model, rule.field);
    if (f == nullptr || !InExtent(*f, std::min(input.extent, ImageLength(input.model)))) continue;
    const std::string value = FieldText(*f, *input.image);
    std::string wrong;
    switch (rule.test) {
      case CompanyRule::Test::OneOf:
      case CompanyRule::Test::NoneOf: {
        const std::vector<std::string>* values = nullptr;
        for (const auto& [model, list] : rule.values)
          if (model == input.model) values = &list;
        if (values == nullptr) break;
        const bool listed = std::find(values->begin(), values->end(), value) != values->end();
        if (rule.test == CompanyRule::Test::OneOf && !listed)
          wrong = Quoted(value) + (values->size() == 1 ? ", а нужно " : ", а допустимы только: ") +
                  QuotedList(*values);
        if (rule.test == CompanyRule::Test::NoneOf && listed)
          wrong = Quoted(value) + " — это значение запрещено";
        break;
      }
      case CompanyRule::Test::Range: {
        int64_t v = 0;
        const bool number = f->kind == FieldKind::Number
                                ? (v = static_cast<int64_t>(FieldBits(*f, *input.image)), true)
                                : DecimalValue(value, v);
        if (!number || v < rule.min || v > rule.max)
          wrong = Quoted(value) + ", а нужно " + RangeText(rule);
        break;
      }
      case CompanyRule::Test::NotEmpty:
        if (value.empty()) wrong = "пусто, а должно быть задано";
        break;
      case CompanyRule::Test::DiffersFromTemplate:
        if (input.template_image != nullptr && value == FieldText(*f, *input.template_image))
          wrong = Quoted(value) + " — то же, что в шаблоне, а у каждого объекта должно быть своё";
        break;
    }
    if (wrong.empty()) continue;
    Finding finding;
    finding.rule = rule.id;
    finding.severity = rule.severity;
    finding.text = "Правило компании «" + rule.id + "»: " + Quoted(f->caption) + " на странице «" +
                   std::string(PageOf(f->page).caption) + "» — " + wrong + ".";
    finding.hint =
        !rule.message.empty() ? rule.message : "Так требует файл правил " + rules.source + ".";
    finding.fields = {f->id};
    out.push_back(std::move(finding));
  }
}

}  // namespace lovar
