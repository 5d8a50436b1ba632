// The roles of an office's registry on PostgreSQL: the server itself keeps each login to its
// part, whatever program or client it uses.
//   lovar_station  adds records, notes, assignments, sites and card versions, and reads them;
//                  never changes nor deletes a row of any table; images in clear only through
//                  lovar.clear_image (to restore a device), each read kept in lovar.access_log
//   lovar_office   reads cards, history and the access log, edits cards and notes; no image in
//                  clear: the images only through lovar.record_images_masked, user codes and
//                  key codes blanked
//   lovar_codes    beside lovar_office: the images in clear through lovar.clear_image, each
//                  read kept in lovar.access_log
//   lovar_admin    everything (the purge of a removed site's codes among it); each change or
//                  removal of a row is kept in lovar.admin_log
// The script makes the roles (once per server), grants and revokes for the schema lovar, and
// fills lovar.code_ranges from the catalog (the code and key bytes of each model). Run again, it
// gives the same result. A company then makes each login a member of one role.
//
// Threads: any.
#pragma once

#include <string>

#include "store/site_store.h"

namespace lovar {

// The script, as lovar-cli sites roles prints it.
std::string PostgresRolesScript();

// Opens the registry at conninfo (its schema made or brought up to date), then runs the script
// there in one transaction, as the connecting user (the schema's owner).
StoreResult ApplyPostgresRoles(const std::string& conninfo, const StoreOptions& options);

}  // namespace lovar
