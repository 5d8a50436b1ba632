// lovar-cli's commands over one change for many sites (change/change_plan.h, kept in the
// registry: store/change_plans.h):
//
//   change new NAME --set FIELD=VALUE [--set …] [--site SITE …] [--max-failures N]
//                                  the plan: each site's fields old -> new and findings, stored
//   change show NAME               the plan, site by site
//   change status NAME [--format table|csv|json]   the sites' states, with counts
//   change approve|cancel|resume NAME              the office's decisions
//   change approval on|off         whether a new plan waits for the office's approval
//   change apply NAME --port P [--port …] [--site SITE]   at the device on P: read, its
//                                  site found, the plan's fields set on what it holds (a planned
//                                  field changed behind the registry's back is a conflict:
//                                  nothing written), the changed blocks written and the whole
//                                  image proven; the site's state follows what the write proved
//
// SITE is the site's number in the registry or the name on its card; without --site every
// site. Each takes --db FILE or --db postgresql://… (else $LOVAR_DB, else the user's own file).
// Failures of the registry exit 16, a plan or site the registry does not know 17.
//
// Threads: the caller's.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "store/site_store.h"

namespace lovar {

class Registry;

// What change apply and batch --change are told.
struct ChangeApply {
  std::string name;
  std::string db;
  std::string site;  // --site: the device's site, else found by its read
  std::string technician;
  std::string note;
  std::string rules;
  std::vector<std::string> allowed;
};
// The change applied at the device of each port in turn (see the top); records go to the
// registry, naming the plan. Returns the exit status: one port's own, or for several 0 when
// every device took it, else 13 (each port that did not named on stderr).
int ApplyChangeAtPorts(const ChangeApply& apply, const std::vector<std::string>& ports,
                       int retries);

class ChangeCommands {
 public:
  // Adds the subcommand "change" with its own subcommands to app.
  explicit ChangeCommands(CLI::App& app);

  bool Chosen() const { return change_->parsed(); }
  // Runs the chosen command; returns the exit status. Failures are said on stderr. retries as
  // for every exchange (apply).
  int Run(int retries);

 private:
  int New(Registry& registry);
  int Show(Registry& registry);
  int Status(Registry& registry);
  int Decide(Registry& registry);

  CLI::App* change_ = nullptr;
  CLI::App* new_ = nullptr;
  CLI::App* show_ = nullptr;
  CLI::App* status_ = nullptr;
  CLI::App* approve_ = nullptr;
  CLI::App* cancel_ = nullptr;
  CLI::App* resume_ = nullptr;
  CLI::App* approval_ = nullptr;
  CLI::App* apply_ = nullptr;
  std::vector<std::string> ports_;
  std::string site_;
  std::string note_;
  std::string name_;
  std::vector<std::string> sets_;
  std::vector<std::string> sites_;
  SiteFilter filter_;  // the selection, as sites list takes it
  int max_failures_ = 0;
  std::string format_ = "table";
  std::string switch_;
  std::string db_;
  std::string technician_;
  std::string rules_;
  std::vector<std::string> allowed_;
};

}  // namespace lovar
