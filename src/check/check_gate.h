// What lets a write or a batch go on past the check's findings. An error stops them unless the
// user let its rule pass by id (lovar-cli --allow-check ID); warnings never stop them. The
// company's rules, when given, are checked with the built-in ones.
//
// Threads: pure functions, but for the file reading of MakeCheckGate.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "check/check.h"
#include "check/company_rules.h"

namespace lovar {

struct CheckGate {
  std::optional<CompanyRules> company;
  std::vector<std::string> allowed;  // the ids of the rules let pass

  const CompanyRules* rules() const { return company ? &*company : nullptr; }
  // The errors that stop a write: every error whose rule is not let pass.
  std::vector<Finding> Blocking(std::span<const Finding> findings) const;
  bool Allows(const Finding& finding) const;
};

// Reads the rules file (a UTF-8 path; none when empty) into gate.company. Empty when taken,
// else the file's fault in Russian.
std::string LoadGateRules(const std::string& rules_path, CheckGate& gate);
// The fault of an id in gate.allowed that names no rule, built-in or the company's (a misspelt
// id would let nothing pass and leave the user wondering why); empty when each names one.
std::string UnknownAllowedRule(const CheckGate& gate);

// "ошибка [loop-not-reported] ШС2 «Склад» используется…", one line of a finding.
std::string FindingLine(const Finding& finding);

}  // namespace lovar
