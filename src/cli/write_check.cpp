#include "cli/write_check.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/session_runner.h"
#include "files/config_file.h"
#include "model/catalog.h"

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

Outcome CheckFileBeforeWrite(const std::filesystem::path& file, int model, const CheckGate& gate) {
  ConfigImage image;
  const FileResult loaded = LoadConfigFile(file, model, image);
  if (!loaded.ok()) return {Status::FileError, DescribeError(loaded)};
  CheckInput in;
  in.model = model;
  in.image = &image;
  in.extent = FileImageLength(model);
  in.company = gate.rules();
  const std::vector<Finding> findings = CheckConfiguration(in);
  const std::vector<Finding> blocking = gate.Blocking(findings);
  for (const Finding& f : findings) {
    const bool stops = f.severity == Severity::Error && !gate.Allows(f);
    std::fprintf(stderr, "Проверка: %s%s\n", FindingLine(f).c_str(),
                 f.severity == Severity::Error && !stops ? " (пропущено: --allow-check)" : "");
    if (stops) std::fprintf(stderr, "  Как исправить: %s\n", f.hint.c_str());
  }
  if (blocking.empty()) return {};
  return {Status::CheckErrors,
          "Запись не начата: проверка нашла ошибки (" + CountsText(CountFindings(blocking)) +
              "). В УО ничего не записано. Исправьте файл, или, если так и задумано, "
              "пропустите правило: --allow-check ID"};
}

}  // namespace lovar
