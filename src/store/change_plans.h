// A change for many sites as the registry keeps it: the plan (its name, the fields it sets and
// their values, whether it waits for the office's approval, how many failures pause it), each
// site's part of it (what changes, old -> new, the check's findings, or why it is refused), and
// what became of each site since, as rows of their own: a station's claim before it applies the
// change at a device, the claim's outcome, the office's decisions (approved, cancelled,
// resumed). Nothing is changed in place: a site's state is its newest outcome.
//
// Two stations never apply one site at once: a claim is a row whose (plan, site, attempt) is
// unique, and the database takes a site's claim only while the plan may be applied (approved
// when it must be, not cancelled, not paused) and the site waits for it (pending, or failed
// before) with no claim still open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lovar {

// A site's state in a plan, as the database keeps them.
enum class PlanState : uint8_t { Pending, Done, Failed, Conflict, Skipped };
inline constexpr std::string_view kPlanStates[] = {"pending", "done", "failed", "conflict",
                                                   "skipped"};
std::string_view PlanStateCode(PlanState state);
bool PlanStateOfCode(std::string_view code, PlanState& state);
// "ждёт", "сделано", "не удалось", "конфликт", "пропущен".
std::string_view PlanStateText(PlanState state);

// The office's decisions about a plan.
enum class PlanDecision : uint8_t { Approved, Cancelled, Resumed };
std::string_view PlanDecisionCode(PlanDecision decision);

// One field the plan sets: its catalog id and the value as typed.
struct PlanSetting {
  std::string field;
  std::string value;
};

// One field that changes at a site: its value in the site's last proven record, and the new.
struct PlanFieldChange {
  std::string field;
  std::string before;
  std::string after;
};

struct ChangePlan {
  int64_t id = 0;  // read back
  std::string name;
  std::vector<PlanSetting> settings;
  std::string selection;  // how its sites were chosen, as the command said it
  bool approval_required = false;
  int max_failures = 0;  // failures after which the plan pauses; 0: never
  std::string station;
  std::string technician;
  // Read back.
  int64_t at = 0;    // the registry's time (microseconds since 1970)
  std::string role;  // the server's login that made it
  bool approved = false;
  bool cancelled = false;
  int failures = 0;  // failures since it was made or last resumed
  bool paused() const { return max_failures > 0 && failures >= max_failures; }
};

struct PlanSite {
  int64_t site = 0;
  std::string site_name;  // read back: the card's name
  int model = 0;
  std::string object;  // the record's object number ("" for none)
  // The record the change was computed from (the site's last proven record) and its image.
  std::string base_record;
  std::string base_hash;
  PlanState state = PlanState::Pending;
  std::string reason;  // why it is skipped, failed or a conflict
  std::vector<PlanFieldChange> changes;
  std::vector<std::string> findings;  // the check's lines
  // Read back: the newest claim or outcome.
  bool applying = false;  // claimed, its outcome not yet known
  std::string station;    // the station of the newest claim
  int64_t at = 0;         // the time of the newest claim or outcome
  std::string record;     // the write's record, when done
};

// Per state, the count of a plan's sites.
struct PlanCounts {
  int pending = 0, applying = 0, done = 0, failed = 0, conflict = 0, skipped = 0;
  int total() const { return pending + done + failed + conflict + skipped; }
};
PlanCounts CountPlanSites(const std::vector<PlanSite>& sites);

// What a claim found: claimed (claim is its id), or why not, in Russian.
struct PlanClaim {
  bool claimed = false;
  int64_t id = 0;
  std::string why;
};

// Why the plan may not be applied now (cancelled, waiting for approval, paused), in Russian;
// "" when it may.
std::string PlanClosedWhy(const ChangePlan& plan);
// Why the site's part may not be applied now (done, a conflict, skipped, another station at
// it); "" when it waits for it.
std::string SiteClosedWhy(const PlanSite& site);

// The texts a row keeps of the changes and findings (no tab or line break in them: the
// catalog's texts escape control characters).
std::string JoinChanges(const std::vector<PlanFieldChange>& changes);
std::vector<PlanFieldChange> SplitChanges(std::string_view text);
std::string JoinLines(const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinSettings(const std::vector<PlanSetting>& settings);
std::vector<PlanSetting> SplitSettings(std::string_view text);

}  // namespace lovar
