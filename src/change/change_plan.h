// One change for many sites, its pure part: the fields and values a plan sets, each site's part
// computed from the site's last proven record (the fields that change, old -> new, judged by
// the sense check and the company's rules as write judges them), and the change merged into
// what a device holds now, three ways: the record the plan was computed from, the device, the
// plan's values. A planned field the device holds otherwise than that record (changed on the
// keypad, by another tool) is a conflict unless it already holds the plan's value; nothing of
// such a site is written. The registry keeps the plans (store/change_plans.h).
//
// Threads: pure functions, but for PlanFromRegistry (the caller's, as the registry's).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_gate.h"
#include "model/config_image.h"
#include "store/change_plans.h"
#include "store/registry.h"
#include "store/site_store.h"

namespace lovar {

// "direction1.phone=+74950000000": the field's id and the value as typed. False, with why in
// Russian, for a text without "=", an empty id, or a value with a line break or a tab.
bool ParsePlanSetting(std::string_view text, PlanSetting& out, std::string& why);
// Why the settings cannot make a plan ("" when they can): none, a field named twice, a field
// no model has.
std::string SettingsFault(const std::vector<PlanSetting>& settings);

// The record a plan starts from: the site's newest record whose outcome says the device holds
// its image (a complete read, a proven write); null when it has none.
const RecordInfo* LastProvenRecord(const std::vector<RecordInfo>& history);

// The site's part of the plan, from its last proven record (null: none) and that record's image
// (from offset 0). Skipped, with why, when there is no such record, a field is not the model's
// or lies beyond the record's bytes, a value is refused by its field, nothing would change, or
// the configuration with the change has errors the gate does not let pass (each named).
// Warnings go into findings. The values of codes, keys and passwords are not kept in clear.
PlanSite PlanSiteOf(int64_t site, const RecordInfo* base, const std::vector<uint8_t>& image,
                    const std::vector<PlanSetting>& settings, const CheckGate& gate);

// Each site's part (PlanSiteOf) from the registry: its history's last proven record and that
// record's image. A failure of the registry stops it (out then holds the sites before).
StoreResult PlanFromRegistry(Registry& registry, const std::vector<int64_t>& sites,
                             const std::vector<PlanSetting>& settings, const CheckGate& gate,
                             std::vector<PlanSite>& out);

// The change merged into the device's image.
struct MergedChange {
  bool conflict = false;
  // The conflict's fields, "direction1.phone: в реестре +7…, в приборе +7…"; or why a value
  // could not be set (failed: nothing is to be written).
  std::vector<std::string> lines;
  bool failed = false;
  std::vector<PlanFieldChange> changes;  // what the write changes on the device
};
// Sets settings on device (the device's image as read, of model), unless a planned field there
// differs from base (the image the plan was computed from) and from the plan's value: then a
// conflict, and device is left as it was.
MergedChange MergeAtDevice(int model, const ConfigImage& base,
                           const std::vector<PlanSetting>& settings, ConfigImage& device);

// Whether the field's value is kept out of sight (codes, keys, passwords).
bool SecretField(int model, std::string_view field);

}  // namespace lovar
