// A PostgreSQL connection string as the program takes it apart, checks, shows and keeps it:
// never with its password, and without PostgreSQL's client library (a string is checked before
// any device is touched, and where the library is missing).
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lovar {

// Whether text names a server: "postgresql://…" or "postgres://…".
bool IsPostgresLocation(std::string_view text);
// Whether word is one of libpq's connection parameters ("host", "sslmode"…).
bool IsPostgresKeyword(std::string_view word);

// A postgresql:// string taken apart as libpq takes it apart, each part decoded (%40 is "@").
struct PostgresLocation {
  std::string user;
  std::string password;          // "" when the string holds none (~/.pgpass then)
  std::string written_password;  // as written, before decoding
  std::vector<std::string> hosts;
  std::vector<std::string> ports;  // one per host, "" for the default
  std::string dbname;
  std::vector<std::pair<std::string, std::string>> parameters;  // after "?", in order

  // The last value of the parameter ("" when not given).
  std::string Parameter(std::string_view key) const;
  // Whether the string names a server: a host in it or in its parameters (host, hostaddr, a
  // service of pg_service.conf).
  bool NamesServer() const;
};

// Takes text apart. False, with why (Russian, one line, never quoting the string or any part
// that may hold a password), when libpq would read it otherwise than it reads to a person
// (a raw "/", "@" or "?" in the user or the password: libpq then takes part of the password for
// the host, the port or the database), or would refuse it: a bad %-escape, a port that is no
// number from 1 to 65535, an unknown parameter, a bad sslmode or time-out.
bool ParsePostgresLocation(std::string_view text, PostgresLocation& out, std::string& why);

// The server as messages name it, and as a record waiting for it keeps it:
// "postgresql://user@host:port/dbname" with whatever parts the string gives, never the password
// nor any other parameter. The same string always gives the same text, and the text gives
// itself. A string that does not parse gives "postgresql://…" alone.
std::string PostgresWhere(const std::string& conninfo);

// text with the password of conninfo (as written, and as decoded) replaced by "***", and any
// "password=…" or "user:password@" it holds as well: for any message that might echo it.
std::string WithoutPassword(std::string text, const std::string& conninfo);

}  // namespace lovar
