#include "cli/batch_check.h"

#include <algorithm>
#include <utility>

#include "check/check.h"
#include "files/config_file.h"
#include "model/catalog.h"

namespace lovar {
namespace {

// The image the row's device gets from the plan: the template and the row's values.
bool RowImage(const BatchPlan& plan, const PlanRow& row, ConfigImage& image, std::string& why) {
  image = ConfigImage();
  return ApplyPlanRow(plan, row, image, why);
}

std::string Blank(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return text;
}

}  // namespace

void FindingGroups::Add(const std::string& line, const PlanRow& row) {
  auto [at, added] = index_.try_emplace(line, groups_.size());
  if (added) groups_.push_back({line, {}, &row});
  Group& g = groups_[at->second];
  if (!g.ranges.empty() && g.ranges.back().second + 1 == row.row)
    g.ranges.back().second = row.row;
  else
    g.ranges.emplace_back(row.row, row.row);
}

std::vector<std::string> FindingGroups::Lines() const {
  std::vector<std::string> lines;
  for (const Group& g : groups_) {
    // Rows that ended out of order (at the devices) are put in order again.
    std::vector<std::pair<int, int>> r = g.ranges;
    std::sort(r.begin(), r.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto& range : r) {
      if (!merged.empty() && merged.back().second + 1 >= range.first)
        merged.back().second = std::max(merged.back().second, range.second);
      else
        merged.push_back(range);
    }
    r = std::move(merged);
    if (r.size() == 1 && r[0].first == r[0].second) {
      lines.push_back(RowText(g.first->row, g.first->line) + ", порт " + g.first->port + ": " +
                      g.line);
      continue;
    }
    std::vector<std::string> parts;
    for (const auto& [from, to] : r)
      parts.push_back(from == to       ? std::to_string(from)
                      : to == from + 1 ? std::to_string(from) + ", " + std::to_string(to)
                                       : std::to_string(from) + "–" + std::to_string(to));
    std::string rows;
    for (size_t i = 0; i < parts.size(); ++i)
      rows += (i == 0 ? "" : i + 1 == parts.size() ? " и " : ", ") + parts[i];
    lines.push_back("строки " + rows + ": " + g.line);
  }
  return lines;
}

uint32_t TextPool::Intern(std::string_view text) {
  if (const auto found = ids_.find(text); found != ids_.end()) return found->second;
  texts_.emplace_back(text);
  const auto id = static_cast<uint32_t>(texts_.size() - 1);
  ids_.emplace(texts_.back(), id);
  return id;
}

PlanFindings CheckPlanImages(const BatchPlan& plan, const CheckGate& gate) {
  PlanFindings out;
  out.row_notes.reserve(plan.rows.size());
  FindingGroups faults, notes;
  // The first row of each object number: a station tells its sites by the number alone.
  std::unordered_map<std::string, size_t> objects;
  for (size_t i = 0; i < plan.rows.size(); ++i) {
    const PlanRow& row = plan.rows[i];
    // The bytes beyond the template's (a model 251 device's keys) are the device's, unknown
    // before it is read: they are judged at the device (JudgeRowDevice).
    ConfigImage image;
    std::string why;
    if (!RowImage(plan, row, image, why)) {
      out.faults.push_back(RowText(row.row, row.line) + ": " + why);
      out.row_notes.push_back(0);
      continue;
    }
    const ConfigImage& templ = plan.templates[row.template_index].image;
    std::vector<Finding> found =
        CheckConfiguration(FileCheckInput(plan.model, image, &templ, gate.rules()));
    const std::string object = Blank(row.object_number);
    const Field* field = FindFieldById(plan.model, "object_number");
    // An empty number, or the template's, is said by its own rule.
    if (!object.empty() && field != nullptr && FieldText(*field, templ) != row.object_number) {
      const auto [first, added] = objects.try_emplace(object, i);
      if (!added) {
        const PlanRow& other = plan.rows[first->second];
        Finding f;
        f.rule = "object-number-duplicate";
        f.severity = Severity::Error;
        f.text = "Номер объекта " + object + " уже получает прибор строки " +
                 std::to_string(other.row) + " (порт " + other.port +
                 "): ПЦН не отличит извещения этих объектов.";
        f.hint = "Дайте каждой строке плана свой номер объекта (столбец object_number).";
        f.fields = {"object_number"};
        found.insert(found.begin(), std::move(f));
      }
    }
    std::string row_notes;
    for (const Finding& f : found) {
      const std::string line = JudgedLine(f, gate);
      if (f.severity == Severity::Error && !gate.Allows(f)) {
        faults.Add(line, row);
        continue;
      }
      notes.Add(line, row);
      row_notes += (row_notes.empty() ? "" : "; ") + line;
    }
    out.row_notes.push_back(out.texts.Intern(row_notes));
  }
  for (std::string& line : faults.Lines()) out.faults.push_back(std::move(line));
  out.notes = notes.Lines();
  return out;
}

DeviceJudgement JudgeRowDevice(const BatchPlan& plan, const PlanRow& row,
                               const ConfigImage& device_image, int firmware,
                               const CheckGate& gate) {
  DeviceJudgement out;
  const ConfigImage& templ = plan.templates[row.template_index].image;
  out.judged =
      Judge(DeviceCheckInput(plan.model, device_image, firmware, &templ, gate.rules()), gate);
  ConfigImage image;
  std::string why;
  std::vector<Finding> before;
  if (RowImage(plan, row, image, why))
    before = CheckConfiguration(FileCheckInput(plan.model, image, &templ, gate.rules()));
  out.added = NotAmong(before, out.judged.findings);
  return out;
}

}  // namespace lovar
