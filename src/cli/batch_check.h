// lovar-cli batch: the check of every device's configuration before any device is touched. Each
// row's image is built as its device will get it (the template, then the row's values) and
// checked over the bytes the template file holds, with the template at hand, so that an object
// number or a code left as the template's is found. An error not let pass (--allow-check)
// refuses the plan as a fault of it; the rest (warnings, errors let pass) go into the report.
//
// Threads: pure functions.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "check/check_gate.h"
#include "files/batch_plan.h"

namespace lovar {

struct PlanFindings {
  // "строка 3, порт /dev/ttyUSB2: ошибка [object-number-from-template] …", one per error that
  // stops the plan.
  std::vector<std::string> faults;
  // Per row (PlanRow::row): its findings that do not stop it, one line each.
  std::map<int, std::vector<std::string>> notes;
};

PlanFindings CheckPlanImages(const BatchPlan& plan, const CheckGate& gate);

}  // namespace lovar
