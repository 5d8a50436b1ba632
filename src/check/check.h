// Whether a configuration makes sense before it reaches a site. A write proves that the device
// holds the bytes the installer meant; these rules ask whether those bytes protect the site and
// report its events as the installer surely means: a model 251 whose directions have no
// telephone number reports nowhere, a loop in use whose events no direction sends raises alarms
// nobody hears. Each rule has a stable id and a severity, and every finding names the fields it
// concerns, so that the window can turn to the field's page and the batch can let a named rule
// pass. docs/checks.md lists the rules with their reasons.
//
// The rules are conservative: what an installer may well mean is at most a warning.
//   ошибка          the site will not be protected, or will not report, as the installer
//                   surely means
//   предупреждение  likely a mistake
//
// Threads: pure functions over the image; the rule tables are built on first use (thread-safe
// static initialisation) and then only read. All rules over a model 251 image take well under
// a millisecond, so the window may run them at every edit.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/config_image.h"

namespace lovar {

enum class Severity : uint8_t { Error, Warning };

// "ошибка", "предупреждение".
std::string_view SeverityText(Severity severity);

struct Finding {
  std::string rule;  // the rule's id: "loop-not-reported", or a company rule's own id
  Severity severity = Severity::Warning;
  // What is wrong, in Russian, naming the fields by their captions and pages.
  std::string text;
  // How to mend it.
  std::string hint;
  // The ids of the fields concerned (FindFieldById); the first is the one to turn to.
  std::vector<std::string> fields;
};

struct CompanyRules;  // company_rules.h

struct CheckInput {
  int model = 0;
  const ConfigImage* image = nullptr;
  // The bytes of the image that hold the configuration, from offset 0: ImageLength(model) for
  // the window's image or a device's, FileImageLength(model) for a file (a model 251 file has
  // no keys). Fields beyond are not judged.
  int extent = 0;
  int firmware = -1;  // the device's FirmwareVersion byte; -1 when not known (a file)
  // The template a batch row's image was built from (a configuration file of the same model):
  // the rules that look for values left as the template's run only with it.
  const ConfigImage* template_image = nullptr;
  const CompanyRules* company = nullptr;  // the company's own rules, when loaded
};

// The input of a configuration, built one way for every front (the window, check, write,
// batch): as its file holds it (the model's file bytes, no firmware: a model 251 file has no
// keys), or as a device holds it or will hold it (the whole image, the device's firmware byte).
// templ and company may be null.
CheckInput FileCheckInput(int model, const ConfigImage& image, const ConfigImage* templ = nullptr,
                          const CompanyRules* company = nullptr);
CheckInput DeviceCheckInput(int model, const ConfigImage& image, int firmware,
                            const ConfigImage* templ = nullptr,
                            const CompanyRules* company = nullptr);

// Every finding: errors first, then warnings; within each, in the order of BuiltinRules()
// and then of the company's rules. Empty for an unknown model.
std::vector<Finding> CheckConfiguration(const CheckInput& input);

// What the rules could not judge in input, and why, one line each in Russian naming the rules
// ("ключи (key-duplicate, …): в файле модели 251 их нет — проверьте прибор: --port"): a
// finding-free check of a file is not a finding-free device.
std::vector<std::string> SkippedChecks(const CheckInput& input);

// What a rule needs beyond the configuration's first bytes.
enum RuleNeeds : uint8_t {
  kNeedsNothing = 0,
  kNeedsKeys = 1,      // a model 251's keys: the whole image, not a file
  kNeedsFirmware = 2,  // the device's firmware version
  kNeedsTemplate = 4,  // the template the configuration was built from
};

// Which models a rule judges, by what they have (model/model_setup.h): a rule runs only there,
// and its list of models (RuleModelsText) follows from the models' table.
enum class RuleScope : uint8_t {
  All,
  Reporting,  // report directions
  Gprs,       // GPRS settings
  LayoutM,    // the M layout's loops: the type "Резерв", common delays, a siren per loop
  LayoutT,    // the T layout: outputs with times, arming by keys and codes alone
  KeyRights,  // keys with arming and disarming rights
  Codes,      // the user codes page
  CodesOrPassword,  // user codes, or the M layout's password
};

// The built-in rules, in the order their findings come.
struct RuleInfo {
  std::string_view id;
  // Its severity; a rule marked lowered says some findings as warnings only (object-number-
  // empty is an error only where a station surely cannot tell the site).
  Severity severity;
  RuleScope scope;
  std::string_view title;  // one line in Russian: what the rule looks for
  uint8_t needs = kNeedsNothing;
  bool lowered = false;
  // Not a rule over one image: said by the batch over its plan, or by the window of its rules
  // file; listed so that --allow-check and the documents know it.
  bool elsewhere = false;
};
std::span<const RuleInfo> BuiltinRules();
const RuleInfo* FindBuiltinRule(std::string_view id);
// Whether the rule judges the model (false for an unknown model).
bool RuleAppliesTo(const RuleInfo& info, int model);
// The models it judges, as the documents list them: "251", "250, 252", "все" (every model).
std::string RuleModelsText(const RuleInfo& info);

struct FindingCounts {
  int errors = 0;
  int warnings = 0;
};
FindingCounts CountFindings(std::span<const Finding> findings);

// "2 ошибки, 1 предупреждение"; "замечаний нет" when there are none.
std::string CountsText(const FindingCounts& counts);

}  // namespace lovar
