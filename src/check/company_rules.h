// A company's own rules (docs/checks.md): a JSON file that requires or forbids values by field
// id — the monitoring station's number in direction1.phone, object numbers in a range, a code
// other than the template's. The window and lovar-cli load it (a setting, --rules FILE) and
// the check (check.h) adds its findings after the built-in ones.
//
// The file is checked whole when it is read; it is refused, with the first fault named (the
// rule by its number and id, the member, the field), for: text that is not JSON, nested deeper
// than any rules file needs, or naming a member twice; an unknown member (a misspelt test must
// not pass silently as no test); a wrong type; a field id no model has, or a model the field
// does not belong to; a value the field would not take; a rule id used twice or one of the
// built-in rules' ids; a rule with no test or with two.
//
// Threads: pure functions, but for the file reading of ReadCompanyRules.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/check.h"

namespace lovar {

inline constexpr std::string_view kRulesFormatName = "lovar-checks";
inline constexpr int kRulesFormatVersion = 1;

struct CompanyRule {
  enum class Test : uint8_t { OneOf, NoneOf, Range, NotEmpty, DiffersFromTemplate };
  std::string id;
  std::string field;        // a field id of the catalog
  std::vector<int> models;  // the models it applies to: as given, or every model with the field
  Severity severity = Severity::Error;
  Test test = Test::NotEmpty;
  // OneOf, NoneOf: per model, the values as that model's field reads them ("+7 495 123-45-67"
  // is held as "+74951234567"), so that equal values compare equal however they were written.
  std::vector<std::pair<int, std::vector<std::string>>> values;
  // Range: a Number field's value, or a Text field read as a decimal number.
  int64_t min = 0;
  int64_t max = INT64_MAX;
  std::string message;  // the company's own words, shown as the finding's hint
};

struct CompanyRules {
  std::string source;   // the file's name, for the findings
  std::string company;  // the optional "company" member
  std::vector<CompanyRule> rules;
  // The window's: the file named in its settings was refused (why, in Russian); no rule of it
  // is in force, and the check says so as an error (company-rules-not-loaded) for as long as
  // it lasts, so that a write asks first. lovar-cli refuses such a file outright.
  std::string refused;
};

struct CompanyRulesLoad {
  CompanyRules rules;
  std::string error;  // empty when taken; else Russian, naming the rule and member at fault
  bool ok() const { return error.empty(); }
};

CompanyRulesLoad ParseCompanyRules(std::string_view text, std::string source);
// Reads a regular file of at most 1 MB first.
CompanyRulesLoad ReadCompanyRules(const std::filesystem::path& path);

// The findings of the rules that apply to input's model and whose field the configuration
// holds, appended to out; a rule that needs the template is passed over without one.
void ApplyCompanyRules(const CompanyRules& rules, const CheckInput& input,
                       std::vector<Finding>& out);

}  // namespace lovar
