// A PostgreSQL connection string as the program shows and keeps it: never with its password.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace lovar {

// Whether text names a server: "postgresql://…" or "postgres://…".
bool IsPostgresLocation(std::string_view text);

// The server as messages name it, and as a record waiting for it keeps it:
// "postgresql://user@host:port/dbname" with whatever parts the string gives, no password and
// no other parameter. The same string always gives the same text. An unparsable string gives
// "postgresql://…" alone.
std::string PostgresWhere(const std::string& conninfo);

// text with the password of conninfo (as written, and as decoded) replaced by "***", and any
// "password=…" or "user:password@" it holds as well: for any message that might echo it.
std::string WithoutPassword(std::string text, const std::string& conninfo);

}  // namespace lovar
