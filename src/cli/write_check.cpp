#include "cli/write_check.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

#include "cli/session_runner.h"

namespace lovar {

void AddCheckOptions(CLI::App& command, std::string& rules, std::vector<std::string>& allowed) {
  command.add_option("--rules", rules, "Файл правил компании (JSON, см. docs/checks.md)");
  command
      .add_option("--allow-check", allowed,
                  "Записать, хотя правило ID нашло ошибку (можно повторить для нескольких "
                  "правил)")
      ->type_name("ID")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

int MakeCheckGate(const std::string& rules, std::vector<std::string> allowed, CheckGate& gate) {
  if (const std::string why = LoadGateRules(rules, gate); !why.empty())
    return Fail(Status::FileError, why);
  gate.allowed = std::move(allowed);
  if (const std::string why = UnknownAllowedRule(gate); !why.empty()) {
    std::fprintf(stderr, "lovar-cli: неверное значение (%s)\n", why.c_str());
    return static_cast<int>(CLI::ExitCodes::ValidationError);
  }
  return 0;
}

Judgement Judge(const CheckInput& input, const CheckGate& gate) {
  Judgement out;
  out.findings = CheckConfiguration(input);
  for (const Finding& f : out.findings) {
    if (f.severity != Severity::Error) continue;
    (gate.Allows(f) ? out.let_pass : out.blocking).push_back(f);
  }
  return out;
}

std::vector<Finding> NotAmong(const std::vector<Finding>& earlier,
                              const std::vector<Finding>& later) {
  std::vector<Finding> out;
  for (const Finding& f : later) {
    const bool known = std::any_of(earlier.begin(), earlier.end(), [&](const Finding& e) {
      return e.rule == f.rule && e.text == f.text;
    });
    if (!known) out.push_back(f);
  }
  return out;
}

std::string JudgedLine(const Finding& finding, const CheckGate& gate) {
  const bool passed = finding.severity == Severity::Error && gate.Allows(finding);
  return FindingLine(finding) + (passed ? " (пропущено: --allow-check)" : "");
}

Outcome CheckRefusal(const std::vector<Finding>& blocking, std::string_view device_now) {
  std::vector<std::string> ids;
  for (const Finding& f : blocking)
    if (std::find(ids.begin(), ids.end(), f.rule) == ids.end()) ids.push_back(f.rule);
  std::string rules;
  for (const std::string& id : ids) rules += (rules.empty() ? "" : ", ") + id;
  return {Status::CheckErrors,
          "Запись не начата: проверка нашла ошибки (" + CountsText(CountFindings(blocking)) +
              "; правила: " + rules + "). " + std::string(device_now) +
              ". Исправьте конфигурацию, или, если так и задумано, пропустите правило: "
              "--allow-check ID"};
}

Outcome SayJudgement(const Judgement& judged, const std::vector<Finding>& said,
                     const CheckGate& gate, std::string_view device_now) {
  for (const Finding& f : NotAmong(said, judged.findings)) {
    std::fprintf(stderr, "Проверка: %s\n", JudgedLine(f, gate).c_str());
    if (f.severity == Severity::Error && !gate.Allows(f))
      std::fprintf(stderr, "  Как исправить: %s\n", f.hint.c_str());
  }
  if (judged.ok()) return {};
  return CheckRefusal(judged.blocking, device_now);
}

}  // namespace lovar
