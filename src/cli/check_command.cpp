#include "cli/check_command.h"

#include <cstdio>
#include <optional>

#include "check/check.h"
#include "check/company_rules.h"
#include "files/config_file.h"
#include "files/utf8_path.h"
#include "model/catalog.h"

namespace lovar {
namespace {

void Print(const std::vector<Finding>& findings) {
  for (const Finding& f : findings) {
    std::printf("%s [%s] %s\n", std::string(SeverityText(f.severity)).c_str(), f.rule.c_str(),
                f.text.c_str());
    std::string fields;
    for (const std::string& id : f.fields) fields += (fields.empty() ? "" : ", ") + id;
    if (!fields.empty()) std::printf("  Поля: %s\n", fields.c_str());
    std::printf("  Как исправить: %s\n", f.hint.c_str());
  }
}

}  // namespace

CheckCommand::CheckCommand(CLI::App& app) {
  check_ = app.add_subcommand(
      "check", "Проверить смысл конфигурации: дойдут ли извещения, заданы ли коды и ключи");
  check_->add_option("file", file_, "Файл конфигурации (*.dat)");
  check_->add_option("--port,-p", port_, "Порт: проверить конфигурацию прибора");
  check_->add_option("--rules", rules_, "Файл правил компании (JSON, см. docs/checks.md)");
  check_->add_option("--template", template_,
                     "Шаблон, с которого сделана конфигурация: найти номер объекта и коды, "
                     "оставшиеся от него");
  check_->final_callback([this] {
    if (file_.empty() == port_.empty())
      throw CLI::ValidationError("check", "нужен файл или --port, одно из двух");
  });
}

int CheckCommand::Run(SessionRunner* session, const FieldsCommands::Connect& connect) {
  // The rules and the template first: a fault in them is said before the device is touched.
  std::optional<CompanyRules> company;
  if (!rules_.empty()) {
    CompanyRulesLoad load = ReadCompanyRules(PathFromUtf8(rules_));
    if (!load.ok()) return Fail(Status::FileError, load.error);
    company = std::move(load.rules);
  }
  std::optional<ConfigImage> templ;
  int template_model = 0;
  if (!template_.empty()) {
    std::string why;
    templ.emplace();
    if (!LoadAnyConfigFile(PathFromUtf8(template_), template_model, *templ, why))
      return Fail(Status::FileError, "Шаблон " + ShownUtf8Path(template_) + ": " + why);
  }

  int model = 0;
  ConfigImage image;
  std::string source, note;
  if (port_.empty()) {
    std::string why;
    if (!LoadAnyConfigFile(PathFromUtf8(file_), model, image, why))
      return Fail(Status::FileError, ShownUtf8Path(file_) + ": " + why);
    source = "файл " + ShownUtf8Path(file_);
  } else {
    Outcome out = connect(port_);
    SessionEnd read;
    if (out.ok()) {
      read = session->ReadImage();
      out = read.outcome;
    }
    if (!out.ok()) return Fail(out);
    model = session->model();
    image = session->image();
    source = "прибор на " + port_ + " (" + session->device_line() + ")";
    if (read.record) note = read.record->note;
  }
  if (templ && template_model != model)
    return Fail(Status::WrongModel, "Неверный тип УО: шаблон " + ShownUtf8Path(template_) +
                                        " для " + ModelNameAndCode(template_model) +
                                        ", а проверяется " + ModelNameAndCode(model));
  const CompanyRules* rules = company ? &*company : nullptr;
  const ConfigImage* with = templ ? &*templ : nullptr;
  // The same input as write and batch build: a file's bytes, or the device's whole image.
  const CheckInput in =
      port_.empty()
          ? FileCheckInput(model, image, with, rules)
          : DeviceCheckInput(model, image, session->session().FirmwareVersion(), with, rules);

  std::printf("%s — %s\n", ModelNameAndCode(model).c_str(), source.c_str());
  if (company) {
    const std::string whose = company->company.empty() ? "" : " " + company->company;
    std::printf("Правила компании%s: %s (%zu)\n", whose.c_str(), company->source.c_str(),
                company->rules.size());
  }
  if (!note.empty()) std::printf("Внимание: %s\n", note.c_str());
  const std::vector<Finding> findings = CheckConfiguration(in);
  Print(findings);
  // A rule that could not look is no rule that found nothing.
  const std::vector<std::string> skipped = SkippedChecks(in);
  for (const std::string& line : skipped) std::printf("Не проверено: %s\n", line.c_str());
  const FindingCounts counts = CountFindings(findings);
  if (findings.empty()) {
    std::printf(skipped.empty() ? "Замечаний нет\n"
                                : "Замечаний нет в том, что проверено (непроверенное — выше)\n");
    return 0;
  }
  std::printf("Итого: %s\n", CountsText(counts).c_str());
  return counts.errors > 0 ? kExitCheckErrors : kExitCheckWarnings;
}

}  // namespace lovar
