// libpq linked into the program (Windows: the static library of scripts/db-mingw, or vcpkg's):
// the table is its functions.
#include "store/pq_api.h"

namespace lovar {

const PqApi* LoadPq(std::string& why) {
  static const PqApi api = [] {
    PqApi table;
#define LOVAR_PQ_TAKE(name) table.name = &::name;
    LOVAR_PQ_FUNCTIONS(LOVAR_PQ_TAKE)
#undef LOVAR_PQ_TAKE
    return table;
  }();
  why.clear();
  return &api;
}

}  // namespace lovar
