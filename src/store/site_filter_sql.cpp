#include "store/site_filter_sql.h"

namespace lovar {

FilterSql SiteFilterSql(const SiteFilter& filter, std::string_view schema, char mark, int first) {
  FilterSql sql;
  const std::string table(schema);
  // The next parameter, taking value.
  const auto param = [&](FilterParam value) {
    sql.params.push_back(std::move(value));
    return mark + std::to_string(first + static_cast<int>(sql.params.size()) - 1);
  };
  if (!filter.object_prefix.empty()) {
    const std::string p = "CAST(" + param({false, 0, filter.object_prefix}) + " AS TEXT)";
    sql.where += " AND substr(r.object, 1, length(" + p + ")) = " + p;
  }
  if (filter.model != 0) sql.where += " AND r.model = " + param({true, filter.model, {}});
  if (!filter.status.empty()) sql.where += " AND c.status = " + param({false, 0, filter.status});
  if (!filter.outcome.empty()) sql.where += " AND r.outcome = " + param({false, 0, filter.outcome});
  // One record meets the conditions on records together: "Petrov's visits in March".
  std::string record;
  if (filter.from != 0) record += " AND e3.time_us >= " + param({true, filter.from, {}});
  if (filter.to != 0) record += " AND e3.time_us <= " + param({true, filter.to, {}});
  if (!filter.station.empty()) record += " AND r3.station = " + param({false, 0, filter.station});
  if (!filter.technician.empty())
    record += " AND r3.technician = " + param({false, 0, filter.technician});
  if (!record.empty())
    sql.where += " AND EXISTS (SELECT 1 FROM " + table + "record_sites e3 JOIN " + table +
                 "records r3 ON r3.id = e3.record WHERE e3.site = s.id" + record + ")";
  if (filter.untouched_since != 0)
    sql.where += " AND NOT EXISTS (SELECT 1 FROM " + table +
                 "record_sites e4 WHERE e4.site = s.id AND e4.time_us >= " +
                 param({true, filter.untouched_since, {}}) + ")";
  return sql;
}

}  // namespace lovar
