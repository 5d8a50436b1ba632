// SQLite as the SQLite store speaks to it: statements whose every bind is checked, the
// connection for StoreTransaction, and SQLite's codes as the store's errors. Internal to the
// store (store_sqlite.cpp).
//
// Threads: the thread that uses the connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "store/site_store.h"

namespace lovar {

// SQLite's codes and the system's error behind them, as the store's errors.
StoreResult SqliteFailure(sqlite3* db, int rc);

// One prepared statement. A bind that fails (a value longer than SQLite takes, an index the
// statement lacks, no memory) is kept, and Step then runs nothing and returns its code: a
// statement never runs with a value left out.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // SQLITE_OK, or the first failure of the prepare and the binds.
  int prepared() const { return rc_; }
  SqliteStatement& Bind(int i, int64_t value);
  SqliteStatement& Bind(int i, std::string_view text);  // "" is an empty text, never NULL
  SqliteStatement& BindBlob(int i, std::span<const uint8_t> bytes);
  SqliteStatement& BindNull(int i);
  // SQLITE_ROW, SQLITE_DONE or the failure.
  int Step();
  int64_t Int(int column) const;
  std::string Text(int column) const;
  std::span<const uint8_t> Blob(int column) const;

 private:
  SqliteStatement& Bound(int rc);

  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

// The connection as StoreTransaction uses it.
struct SqliteConnection {
  sqlite3* db;
  StoreResult Exec(const char* sql) const;
  void RollBack() const noexcept;
};

}  // namespace lovar
