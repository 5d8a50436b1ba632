// The tests' PostgreSQL server made to flush as an office's server would, for the registry's
// benchmarks. Null, with why said on stdout, when there is none.
#pragma once

#include <cstdio>
#include <string>

#include "support/pg_server.h"

namespace lovar {

inline testing::PgServer* FlushingPgServer() {
  std::string why;
  testing::PgServer* server = testing::PgServer::Shared(why);
  if (server == nullptr) {
    std::printf("PostgreSQL: %s\n", why.c_str());
    return nullptr;
  }
  // The test server runs without flushing; as an office's server would, it flushes here.
  server->Sql("postgres", "ALTER SYSTEM SET fsync = on");
  server->Sql("postgres", "SELECT pg_reload_conf()");
  std::string fsync;
  while (fsync != "on") server->Sql("postgres", "SHOW fsync", &fsync);
  return server;
}

}  // namespace lovar
