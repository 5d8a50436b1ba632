#include "model/drift.h"

#include <algorithm>

#include "model/image_diff.h"

namespace lovar {
namespace {

constexpr std::string_view kDriftLead = "изменено не через Ловар: ";

// Codes and keys are the site's secrets: named, never shown.
bool ShowsValue(const Field& field) {
  return field.kind != FieldKind::KeyCode && field.kind != FieldKind::CodeDigits;
}

std::string ValueText(const std::string& value) {
  return value.empty() ? "пусто" : value;
}

}  // namespace

std::vector<DriftedField> CompareWithRecord(int model, const ConfigImage& recorded,
                                            int recorded_extent, const ConfigImage& read,
                                            int read_extent) {
  std::vector<DriftedField> drift;
  for (FieldDifference& d : DiffImages(model, recorded, recorded_extent, read, read_extent).fields)
    drift.push_back({d.field, std::move(d.a), std::move(d.b)});
  return drift;
}

std::string DriftFieldName(const Field& field) {
  return std::string(PageOf(field.page).caption) + ": " + field.caption;
}

std::string DriftText(const std::vector<DriftedField>& drift) {
  std::string text(kDriftLead);
  for (size_t i = 0; i < drift.size(); ++i) {
    const DriftedField& d = drift[i];
    if (i != 0) text += "; ";
    text += DriftFieldName(*d.field);
    if (ShowsValue(*d.field))
      text += " (было " + ValueText(d.recorded) + ", стало " + ValueText(d.now) + ")";
  }
  return text;
}

std::string DriftText(int model, const std::vector<std::string>& ids) {
  std::string text(kDriftLead);
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i != 0) text += "; ";
    const Field* field = FindFieldById(model, ids[i]);
    text += field != nullptr ? DriftFieldName(*field) : ids[i];
  }
  return text;
}

std::string DriftIdsText(const std::vector<DriftedField>& drift) {
  std::string text;
  for (const DriftedField& d : drift) {
    if (!text.empty()) text += ',';
    text += d.field->id;
  }
  return text;
}

std::vector<std::string> DriftIds(std::string_view text) {
  std::vector<std::string> ids;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) ids.emplace_back(item);
  }
  return ids;
}

std::vector<const Field*> DriftOverwritten(int model, const std::vector<std::string>& drifted,
                                           const ConfigImage& device, const ConfigImage& to_write) {
  std::vector<const Field*> over;
  for (const Field& f : Fields(model))
    if (std::find(drifted.begin(), drifted.end(), f.id) != drifted.end() &&
        FieldText(f, device) != FieldText(f, to_write))
      over.push_back(&f);
  return over;
}

std::string FieldNames(const std::vector<const Field*>& fields) {
  std::string text;
  for (const Field* f : fields) {
    if (!text.empty()) text += ", ";
    text += DriftFieldName(*f);
  }
  return text;
}

}  // namespace lovar
