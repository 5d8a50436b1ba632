// A SiteFilter as SQL, the same for both databases (internal to the store). The conditions
// apply to the site list's query, whose names are s (the site), c (its newest card) and r (its
// newest record, NULL for a site without one).
//
// Threads: any.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/site_store.h"

namespace lovar {

// One parameter: a number, or else a text.
struct FilterParam {
  bool is_number = false;
  int64_t number = 0;
  std::string text;
};

struct FilterSql {
  std::string where;  // " AND …" for each condition given; empty for none
  // The parameters, numbered from the first number given, in order.
  std::vector<FilterParam> params;
};

// Every condition of filter but its text. schema: "" or "lovar." before each table's name;
// mark: the parameters' mark ('?' for SQLite, '$' for PostgreSQL); first: the number of the
// first parameter.
FilterSql SiteFilterSql(const SiteFilter& filter, std::string_view schema, char mark, int first);

}  // namespace lovar
