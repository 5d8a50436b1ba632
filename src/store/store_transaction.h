// A database transaction owned by a scope, as SQLiteCpp's Transaction: begun when made, rolled
// back when the scope is left before Commit succeeded, whether by a failure's return or by an
// exception (no memory while an image is packed). So no connection is ever left inside a
// transaction nobody ends, holding the registry's write lock or running the next record's
// statements in a transaction that failed. Errors are results, not exceptions: begun() and
// Commit() say what the database said.
//
// Database: StoreResult Exec(const char* sql), and void RollBack() noexcept, which ends what is
// open without a word (the connection may be gone). Used by the thread that uses the connection.
#pragma once

#include "store/site_store.h"

namespace lovar {

template <typename Database>
class StoreTransaction {
 public:
  // begin: "BEGIN", or "BEGIN IMMEDIATE" for SQLite's write lock at once.
  StoreTransaction(Database& db, const char* begin)
      : db_(db), begun_(db.Exec(begin)), open_(begun_.ok()) {}
  ~StoreTransaction() {
    if (open_) db_.RollBack();
  }
  StoreTransaction(const StoreTransaction&) = delete;
  StoreTransaction& operator=(const StoreTransaction&) = delete;

  const StoreResult& begun() const { return begun_; }
  // COMMIT. When it fails the transaction is still rolled back at the scope's end.
  StoreResult Commit() {
    StoreResult r = db_.Exec("COMMIT");
    open_ = !r.ok();
    return r;
  }

 private:
  Database& db_;
  StoreResult begun_;
  bool open_;
};

// body() (a StoreResult) in one transaction: committed when it succeeds, rolled back when it
// fails or throws.
template <typename Database, typename Body>
StoreResult InTransaction(Database& db, const char* begin, Body body) {
  StoreTransaction<Database> transaction(db, begin);
  if (!transaction.begun().ok()) return transaction.begun();
  const StoreResult r = body();
  return r.ok() ? transaction.Commit() : r;
}

}  // namespace lovar
