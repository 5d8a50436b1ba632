// lovar-cli's commands over the registry of sites (store/registry.h):
//
//   sites list [PREFIX] [filter options]           the sites, newest record of each
//   sites history OBJ [--model N]                  every record of a site, oldest first
//   sites show OBJ [--at TIME] [--model N] [--json]   the configuration at that time
//   sites export OBJ --out FILE.dat [--at TIME] [--model N]
//   sites sync                                     send what waits for the shared server
//   sites add NAME [card options]                  a new site; prints its number
//   sites set SITE [card options]                  a new version of the site's card
//   sites show SITE --card                         the card, and its versions
//   sites records SITE|-                           the records of a site ("-": of none), with ids
//   sites assign RECORD SITE                       a record put under a site from now on
//   sites note RECORD TEXT                         a note added to a record
//   sites diff SITE [A] [B]                        two versions by field (A, B: record ids or
//                                                  times; without them the last two)
//   sites drift [SITE]                             the sites whose newest proven record is a read
//                                                  that found fields changed not through us
//   sites roles [--apply --db postgresql://…]      the server's roles: print the script, or run it
//   sites access [--since TIME]                    who read codes in clear, when, what and why
//   sites supersede RECORD --note TEXT [--site SITE]   a new record that corrects RECORD
//   sites purge SITE                               a removed site's codes and keys blanked for good
//
// show, export and diff read the images in clear, each read kept in the access log (on a
// server only for the roles that may: lovar_station, lovar_codes, lovar_admin).
//
// SITE is the site's number in the registry or the name on its card. Card options: --name,
// --customer, --phones, --contract, --status active|suspended|removed, --installed, --remark;
// --operator (else $LOVAR_OPERATOR) names who made the change.
//
// list, history, records, show, access and drift take --format table|csv|json
// (files/table_text.h).
// Each takes --db FILE or --db postgresql://… (else $LOVAR_DB, else the user's own file).
// Failures of the registry exit 16, a site or time the registry does not know 17; a malformed
// --at is a mistake of the command line.
//
// Threads: the caller's.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "store/site_store.h"

namespace lovar {

class SitesCommands {
 public:
  // Adds the subcommand "sites" with its own subcommands to app.
  explicit SitesCommands(CLI::App& app);

  bool Chosen() const { return sites_->parsed(); }
  // Runs the chosen command; returns the exit status. Failures are said on stderr.
  int Run();

 private:
  CLI::App* sites_ = nullptr;
  CLI::App* list_ = nullptr;
  CLI::App* history_ = nullptr;
  CLI::App* show_ = nullptr;
  CLI::App* export_ = nullptr;
  CLI::App* sync_ = nullptr;
  CLI::App* add_ = nullptr;
  CLI::App* set_ = nullptr;
  CLI::App* records_ = nullptr;
  CLI::App* assign_ = nullptr;
  CLI::App* note_ = nullptr;
  CLI::App* roles_ = nullptr;
  CLI::App* access_ = nullptr;
  CLI::App* supersede_ = nullptr;
  CLI::App* purge_ = nullptr;
  std::string since_;
  bool apply_ = false;
  int Access(class Registry& registry);
  // Who reads codes or changes the registry: --operator, else LOVAR_OPERATOR.
  std::string Technician() const;
  int RunSiteCommands(class Registry& registry);
  int List(class Registry& registry);
  SiteFilter filter_;
  int Diff(class Registry& registry, int64_t site);
  int Drift(class Registry& registry, int64_t site);
  CLI::App* drift_ = nullptr;
  CLI::App* diff_ = nullptr;
  std::string version_a_;
  std::string version_b_;
  std::string db_;
  std::string site_;
  std::string record_;
  std::string text_;
  std::string technician_;
  std::string name_, customer_, phones_, contract_, status_, installed_, remark_;
  std::string object_;
  std::string at_;
  std::string out_;
  int model_ = 0;
  bool json_ = false;
  bool card_ = false;
  std::string format_ = "table";
};

}  // namespace lovar
