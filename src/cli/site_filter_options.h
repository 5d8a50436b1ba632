// The command line's choice of sites: the options that fill a SiteFilter (store/site_store.h),
// defined once for every command that picks sites (sites list, a change plan's selection).
//
// Threads: the caller's.
#pragma once

#include <CLI/CLI.hpp>

#include "store/site_store.h"

namespace lovar {

// Adds --search, --model, --status, --outcome, --from, --to, --station, --technician and
// --untouched-since to command. filter (which must outlive command) is filled as the command
// line is read; a value that is none (a date that is no date, an unknown status) is a mistake
// of the command line, said before anything opens.
void AddSiteFilterOptions(CLI::App& command, SiteFilter& filter);

}  // namespace lovar
