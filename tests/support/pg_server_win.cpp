// On Windows the tests use a server run by someone else (LOVAR_TEST_PG; scripts/wine-tests
// starts one on Linux).
#include "support/pg_server.h"

namespace lovar::testing {

bool StartLocalServer(std::string&, std::string&, std::string&, std::string&, int&,
                      std::string& why) {
  why = "LOVAR_TEST_PG names no server";
  return false;
}

bool PgServer::Stop(bool) {
  return false;
}

bool PgServer::Start() {
  return false;
}

PgServer::~PgServer() = default;

}  // namespace lovar::testing
