#include "cli/batch_check.h"

#include "check/check.h"
#include "files/config_file.h"
#include "model/catalog.h"

namespace lovar {

PlanFindings CheckPlanImages(const BatchPlan& plan, const CheckGate& gate) {
  PlanFindings out;
  for (const PlanRow& row : plan.rows) {
    // The bytes beyond the template's (a model 251 device's keys) are the device's, unknown
    // before it is read: they are not judged here, and the write checks them again.
    ConfigImage image;
    std::string why;
    if (!ApplyPlanRow(plan, row, image, why)) {
      out.faults.push_back(RowText(row.row, row.line) + ": " + why);
      continue;
    }
    CheckInput in;
    in.model = plan.model;
    in.image = &image;
    in.extent = FileImageLength(plan.model);
    in.template_image = &plan.templates[row.template_index].image;
    in.company = gate.rules();
    const std::string where = RowText(row.row, row.line) + ", порт " + row.port + ": ";
    for (const Finding& f : CheckConfiguration(in)) {
      if (f.severity == Severity::Error && !gate.Allows(f))
        out.faults.push_back(where + FindingLine(f));
      else
        out.notes[row.row].push_back(FindingLine(f) +
                                     (f.severity == Severity::Error ? " (--allow-check)" : ""));
    }
  }
  return out;
}

}  // namespace lovar
