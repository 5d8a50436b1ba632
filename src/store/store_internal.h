// What the backends share and nobody else needs.
#pragma once

#include <string>
#include <vector>

#include "store/site_store.h"

namespace lovar {

// The order Sites promises: object numbers with digits as numbers, then the model.
void SortSites(std::vector<SiteSummary>& sites);
// A record a store may take; why says what is wrong otherwise.
bool ValidRecord(const SiteRecord& record, std::string& why);

}  // namespace lovar
