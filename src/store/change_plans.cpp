#include "store/change_plans.h"

#include <algorithm>
#include <iterator>

namespace lovar {
namespace {

// Each part of text between separators (none for an empty text).
std::vector<std::string_view> Parts(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  if (text.empty()) return parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == text.npos ? text.npos : end - start));
    if (end == text.npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::string_view PlanStateCode(PlanState state) {
  return kPlanStates[static_cast<size_t>(state)];
}

bool PlanStateOfCode(std::string_view code, PlanState& state) {
  const auto* found = std::find(std::begin(kPlanStates), std::end(kPlanStates), code);
  if (found == std::end(kPlanStates)) return false;
  state = static_cast<PlanState>(found - std::begin(kPlanStates));
  return true;
}

std::string_view PlanStateText(PlanState state) {
  switch (state) {
    case PlanState::Pending:
      return "ждёт";
    case PlanState::Done:
      return "сделано";
    case PlanState::Failed:
      return "не удалось";
    case PlanState::Conflict:
      return "конфликт";
    case PlanState::Skipped:
      return "пропущен";
  }
  return "";
}

std::string_view PlanDecisionCode(PlanDecision decision) {
  switch (decision) {
    case PlanDecision::Approved:
      return "approved";
    case PlanDecision::Cancelled:
      return "cancelled";
    case PlanDecision::Resumed:
      return "resumed";
  }
  return "";
}

PlanCounts CountPlanSites(const std::vector<PlanSite>& sites) {
  PlanCounts counts;
  for (const PlanSite& s : sites) {
    if (s.applying) ++counts.applying;
    switch (s.state) {
      case PlanState::Pending:
        ++counts.pending;
        break;
      case PlanState::Done:
        ++counts.done;
        break;
      case PlanState::Failed:
        ++counts.failed;
        break;
      case PlanState::Conflict:
        ++counts.conflict;
        break;
      case PlanState::Skipped:
        ++counts.skipped;
        break;
    }
  }
  return counts;
}

std::string PlanClosedWhy(const ChangePlan& plan) {
  const std::string name = "изменение «" + plan.name + "»";
  if (plan.cancelled) return name + " отменено";
  if (plan.approval_required && !plan.approved)
    return name + " ждёт утверждения офисом (lovar-cli change approve)";
  if (plan.paused())
    return name + " приостановлено: " + std::to_string(plan.failures) + " неудачи при пороге " +
           std::to_string(plan.max_failures) + " (lovar-cli change resume)";
  return {};
}

std::string SiteClosedWhy(const PlanSite& site) {
  const std::string name = "объект " + std::to_string(site.site);
  if (site.applying)
    return name + ": изменение уже применяет станция " +
           (site.station.empty() ? std::string("?") : site.station);
  switch (site.state) {
    case PlanState::Pending:
    case PlanState::Failed:
      return {};
    case PlanState::Done:
      return name + ": изменение уже сделано";
    case PlanState::Conflict:
      return name + ": конфликт (" + site.reason + ")";
    case PlanState::Skipped:
      return name + ": пропущен (" + site.reason + ")";
  }
  return {};
}

std::string JoinChanges(const std::vector<PlanFieldChange>& changes) {
  std::string text;
  for (const PlanFieldChange& c : changes)
    text += (text.empty() ? "" : "\n") + c.field + '\t' + c.before + '\t' + c.after;
  return text;
}

std::vector<PlanFieldChange> SplitChanges(std::string_view text) {
  std::vector<PlanFieldChange> changes;
  for (std::string_view line : Parts(text, '\n')) {
    const std::vector<std::string_view> cells = Parts(line, '\t');
    if (cells.size() != 3) continue;
    changes.push_back({std::string(cells[0]), std::string(cells[1]), std::string(cells[2])});
  }
  return changes;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::string_view line : Parts(text, '\n')) lines.emplace_back(line);
  return lines;
}

std::string JoinSettings(const std::vector<PlanSetting>& settings) {
  std::string text;
  for (const PlanSetting& s : settings)
    text += (text.empty() ? "" : "\n") + s.field + '\t' + s.value;
  return text;
}

std::vector<PlanSetting> SplitSettings(std::string_view text) {
  std::vector<PlanSetting> settings;
  for (std::string_view line : Parts(text, '\n')) {
    const size_t tab = line.find('\t');
    if (tab == line.npos) continue;
    settings.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
  }
  return settings;
}

}  // namespace lovar
