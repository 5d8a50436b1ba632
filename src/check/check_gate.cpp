#include "check/check_gate.h"

#include <algorithm>

#include "files/utf8_path.h"

namespace lovar {

bool CheckGate::Allows(const Finding& finding) const {
  return std::find(allowed.begin(), allowed.end(), finding.rule) != allowed.end();
}

std::vector<Finding> CheckGate::Blocking(std::span<const Finding> findings) const {
  std::vector<Finding> out;
  for (const Finding& f : findings)
    if (f.severity == Severity::Error && !Allows(f)) out.push_back(f);
  return out;
}

std::string LoadGateRules(const std::string& rules_path, CheckGate& gate) {
  gate.company.reset();
  if (rules_path.empty()) return {};
  CompanyRulesLoad load = ReadCompanyRules(PathFromUtf8(rules_path));
  if (!load.ok()) return load.error;
  gate.company = std::move(load.rules);
  return {};
}

std::string UnknownAllowedRule(const CheckGate& gate) {
  for (const std::string& id : gate.allowed) {
    bool known = FindBuiltinRule(id) != nullptr;
    if (gate.company)
      for (const CompanyRule& rule : gate.company->rules) known = known || rule.id == id;
    if (!known)
      return "--allow-check " + id +
             ": такого правила нет (правила и их id: docs/checks.md; правила компании — в "
             "файле --rules)";
  }
  return {};
}

std::string FindingLine(const Finding& finding) {
  return std::string(SeverityText(finding.severity)) + " [" + finding.rule + "] " + finding.text;
}

}  // namespace lovar
