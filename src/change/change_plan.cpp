#include "change/change_plan.h"

#include <algorithm>

#include "model/catalog.h"
#include "model/model_setup.h"

namespace lovar {
namespace {

constexpr std::string_view kHidden = "(скрыто)";

// The field's value as the plan shows it.
std::string Shown(int model, const Field& field, const ConfigImage& image) {
  return SecretField(model, field.id) ? std::string(kHidden) : FieldText(field, image);
}

}  // namespace

bool SecretField(int model, std::string_view id) {
  const Field* f = FindFieldById(model, id);
  if (f == nullptr) return false;
  return f->kind == FieldKind::KeyCode || f->kind == FieldKind::CodeDigits || f->id == "password" ||
         f->id.ends_with(".password");
}

bool ParsePlanSetting(std::string_view text, PlanSetting& out, std::string& why) {
  const size_t equals = text.find('=');
  if (equals == text.npos || equals == 0) {
    why =
        "«" + std::string(text) + "»: нужно ПОЛЕ=ЗНАЧЕНИЕ, например direction1.phone=+74950000000";
    return false;
  }
  out.field = std::string(text.substr(0, equals));
  out.value = std::string(text.substr(equals + 1));
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return c == '\n' || c == '\r' || c == '\t'; })) {
    why = "поле " + out.field + ": в значении перевод строки или табуляция";
    return false;
  }
  return true;
}

std::string SettingsFault(const std::vector<PlanSetting>& settings) {
  if (settings.empty()) return "не указано ни одного поля (--set ПОЛЕ=ЗНАЧЕНИЕ)";
  for (size_t i = 0; i < settings.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (settings[j].field == settings[i].field)
        return "поле " + settings[i].field + " указано дважды";
    const std::vector<int> models = KnownModels();
    const bool known = std::any_of(models.begin(), models.end(), [&](int model) {
      return FindFieldById(model, settings[i].field) != nullptr;
    });
    if (!known)
      return "поля " + settings[i].field +
             " нет ни у одной модели (lovar-cli show ФАЙЛ --json называет поля)";
  }
  return {};
}

const RecordInfo* LastProvenRecord(const std::vector<RecordInfo>& history) {
  const RecordInfo* last = nullptr;
  for (const RecordInfo& r : history)
    if (r.outcome == RecordOutcome::Holds && !r.image_hash.empty() &&
        (last == nullptr || r.time >= last->time))
      last = &r;
  return last;
}

PlanSite PlanSiteOf(int64_t site, const RecordInfo* base, const std::vector<uint8_t>& image,
                    const std::vector<PlanSetting>& settings, const CheckGate& gate) {
  PlanSite out;
  out.site = site;
  const auto skip = [&](std::string why) {
    out.state = PlanState::Skipped;
    out.reason = std::move(why);
    out.changes.clear();
    return out;
  };
  if (base == nullptr) return skip("у объекта нет проверенной записи конфигурации");
  out.model = base->model;
  out.object = base->object;
  out.base_record = base->id;
  out.base_hash = base->image_hash;
  const int model = base->model;
  const int extent = static_cast<int>(std::min<size_t>(image.size(), ConfigImage{}.bytes().size()));
  ConfigImage before;
  std::copy(image.begin(), image.begin() + extent, before.bytes().begin());
  ConfigImage after = before;
  for (const PlanSetting& s : settings) {
    const Field* field = FindFieldById(model, s.field);
    if (field == nullptr)
      return skip("у модели " + ModelNameAndCode(model) + " нет поля " + s.field);
    if (!InExtent(*field, extent))
      return skip("поле " + s.field + ": в записи " + base->id + " нет его байтов");
    std::string why;
    if (!StoreFieldText(*field, after, s.value, why)) return skip(FieldRefusal(*field, why));
    if (FieldText(*field, after) != FieldText(*field, before))
      out.changes.push_back({s.field, Shown(model, *field, before), Shown(model, *field, after)});
  }
  if (out.changes.empty()) return skip("изменять нечего: у объекта уже эти значения");
  const CheckInput input = extent >= ImageLength(model)
                               ? DeviceCheckInput(model, after, -1, nullptr, gate.rules())
                               : FileCheckInput(model, after, nullptr, gate.rules());
  const std::vector<Finding> findings = CheckConfiguration(input);
  const std::vector<Finding> blocking = gate.Blocking(findings);
  for (const Finding& f : findings) out.findings.push_back(FindingLine(f));
  if (!blocking.empty()) {
    std::string why = "проверка: ";
    for (size_t i = 0; i < blocking.size(); ++i)
      why += (i == 0 ? "" : "; ") + FindingLine(blocking[i]);
    const std::vector<PlanFieldChange> changes = out.changes;
    skip(why);
    out.changes = changes;  // shown with the refusal
  }
  return out;
}

StoreResult PlanFromRegistry(Registry& registry, const std::vector<int64_t>& sites,
                             const std::vector<PlanSetting>& settings, const CheckGate& gate,
                             std::vector<PlanSite>& out) {
  out.clear();
  out.reserve(sites.size());
  std::vector<SiteRecord> bases;
  const StoreResult r =
      registry.WithStore([&](SiteStore& store) { return store.LastProvenRecords(sites, bases); });
  if (!r.ok()) return r;
  for (size_t i = 0; i < sites.size(); ++i) {
    const SiteRecord& base = bases[i];
    out.push_back(PlanSiteOf(sites[i], base.info.id.empty() ? nullptr : &base.info, base.image,
                             settings, gate));
  }
  return {};
}

MergedChange MergeAtDevice(int model, const ConfigImage& base,
                           const std::vector<PlanSetting>& settings, ConfigImage& device) {
  MergedChange out;
  ConfigImage merged = device;
  for (const PlanSetting& s : settings) {
    const Field* field = FindFieldById(model, s.field);
    std::string why;
    ConfigImage wanted = device;
    if (field == nullptr || !StoreFieldText(*field, wanted, s.value, why)) {
      out.failed = true;
      out.lines.push_back(field == nullptr
                              ? "у модели " + ModelNameAndCode(model) + " нет поля " + s.field
                              : FieldRefusal(*field, why));
      continue;
    }
    const std::string held = FieldText(*field, device);
    const std::string recorded = FieldText(*field, base);
    const std::string target = FieldText(*field, wanted);
    // Changed behind the registry's back, and not to what the plan wants: the device's value
    // is kept, never overwritten unasked.
    if (held != recorded && held != target) {
      out.conflict = true;
      out.lines.push_back(s.field + ": в реестре " + Shown(model, *field, base) + ", в приборе " +
                          Shown(model, *field, device));
      continue;
    }
    if (held != target) {
      out.changes.push_back({s.field, Shown(model, *field, device), Shown(model, *field, wanted)});
      StoreFieldText(*field, merged, s.value, why);
    }
  }
  if (!out.conflict && !out.failed)
    device = merged;
  else
    out.changes.clear();
  return out;
}

}  // namespace lovar
