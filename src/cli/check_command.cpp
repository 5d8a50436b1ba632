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

  CheckInput in;
  ConfigImage image;
  std::string source;
  if (port_.empty()) {
    std::string why;
    if (!LoadAnyConfigFile(PathFromUtf8(file_), in.model, image, why))
      return Fail(Status::FileError, ShownUtf8Path(file_) + ": " + why);
    in.extent = FileImageLength(in.model);
    source = "файл " + ShownUtf8Path(file_);
  } else {
    Outcome out = connect(port_);
    if (out.ok()) out = session->ReadImage().outcome;
    if (!out.ok()) return Fail(out);
    in.model = session->model();
    in.extent = ImageLength(in.model);
    in.firmware = session->session().FirmwareVersion();
    image = session->image();
    source = "прибор на " + port_ + " (" + session->device_line() + ")";
  }
  if (templ && template_model != in.model)
    return Fail(Status::WrongModel, "Неверный тип УО: шаблон " + ShownUtf8Path(template_) +
                                        " для " + ModelNameAndCode(template_model) +
                                        ", а проверяется " + ModelNameAndCode(in.model));
  in.image = &image;
  in.template_image = templ ? &*templ : nullptr;
  in.company = company ? &*company : nullptr;

  std::printf("%s — %s\n", ModelNameAndCode(in.model).c_str(), source.c_str());
  if (company) {
    const std::string whose = company->company.empty() ? "" : " " + company->company;
    std::printf("Правила компании%s: %s (%zu)\n", whose.c_str(), company->source.c_str(),
                company->rules.size());
  }
  const std::vector<Finding> findings = CheckConfiguration(in);
  Print(findings);
  const FindingCounts counts = CountFindings(findings);
  if (findings.empty()) {
    std::printf("Замечаний нет\n");
    return 0;
  }
  std::printf("Итого: %s\n", CountsText(counts).c_str());
  return counts.errors > 0 ? kExitCheckErrors : kExitCheckWarnings;
}

}  // namespace lovar
