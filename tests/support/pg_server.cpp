#include "support/pg_server.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>

namespace lovar::testing {
namespace {

// "%" and the URI's delimiters escaped, for the user and password of a URI.
std::string Escaped(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
        c == '_' || c == '.') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

}  // namespace

// Started by the process's own code (pg_server_posix.cpp) unless LOVAR_TEST_PG names one.
bool StartLocalServer(std::string& dir, std::string& port, std::string& user, std::string& password,
                      int& pid, std::string& why);

PgServer* PgServer::Shared(std::string& why) {
  static std::unique_ptr<PgServer> server;
  static std::string failure;
  if (server == nullptr && failure.empty()) {
    std::unique_ptr<PgServer> made(new PgServer);
    if (made->Init(failure)) server = std::move(made);
  }
  why = failure;
  return server.get();
}

bool PgServer::Init(std::string& why) {
  const char* given = std::getenv("LOVAR_TEST_PG");
  if (given == nullptr || *given == '\0') {
    user_ = "lovar_admin";
    return StartLocalServer(dir_, port_, user_, password_, pid_, why);
  }
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(given, &error);
  PQfreemem(error);
  if (options == nullptr) {
    why = "LOVAR_TEST_PG is no connection string";
    return false;
  }
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    const std::string key = o->keyword, value = o->val != nullptr ? o->val : "";
    if (key == "host") host_ = value;
    if (key == "port") port_ = value;
    if (key == "user") user_ = value;
    if (key == "password") password_ = value;
  }
  PQconninfoFree(options);
  return true;
}

std::string PgServer::Uri(const std::string& db, const std::string& extra,
                          bool with_password) const {
  std::string uri = "postgresql://" + Escaped(user_);
  if (with_password) uri += ":" + Escaped(password_);
  uri += "@" + host_ + ":" + port_ + "/" + db;
  if (!extra.empty()) uri += "?" + extra;
  return uri;
}

std::string PgServer::NewDatabase() {
  const std::string name =
      "lovar_test_" + std::to_string(++next_database_) + "_" + std::to_string(std::rand() % 100000);
  return Sql("postgres", "CREATE DATABASE " + name) ? name : "";
}

bool PgServer::Sql(const std::string& db, const std::string& sql, std::string* value) const {
  PGconn* conn = PQconnectdb(Uri(db, "sslmode=disable").c_str());
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (ok && value != nullptr)
    *value = PQntuples(result) > 0 && PQnfields(result) > 0 ? PQgetvalue(result, 0, 0) : "";
  PQclear(result);
  PQfinish(conn);
  return ok;
}

}  // namespace lovar::testing
