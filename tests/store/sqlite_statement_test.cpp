// The SQLite store's statements and transactions on a database in memory: a bind that fails
// runs nothing, and a transaction ends however its scope is left.
#include "store/sqlite_statement.h"

#include <gtest/gtest.h>

#include <new>

#include "store/store_transaction.h"

namespace lovar {
namespace {

class MemoryDatabase {
 public:
  MemoryDatabase() {
    sqlite3_open(":memory:", &db_);
    sqlite3_exec(db_, "CREATE TABLE t (a TEXT, b TEXT)", nullptr, nullptr, nullptr);
  }
  ~MemoryDatabase() { sqlite3_close(db_); }
  sqlite3* db() const { return db_; }
  int64_t Rows(const char* where = "1") const {
    SqliteStatement st(db_, std::string("SELECT count(*) FROM t WHERE ") + where);
    return st.Step() == SQLITE_ROW ? st.Int(0) : -1;
  }
  void Insert() const {
    SqliteStatement st(db_, "INSERT INTO t (a) VALUES ('x')");
    ASSERT_EQ(st.Step(), SQLITE_DONE);
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST(SqliteStatement, AFailedBindRunsNothingAndIsAFailure) {
  MemoryDatabase m;
  sqlite3_limit(m.db(), SQLITE_LIMIT_LENGTH, 100);
  // Unchecked, the first value would be left NULL and the row inserted all the same.
  SqliteStatement long_text(m.db(), "INSERT INTO t (a, b) VALUES (?1, ?2)");
  long_text.Bind(1, std::string(200, 'x')).Bind(2, "kept");
  const int rc = long_text.Step();
  EXPECT_EQ(rc, SQLITE_TOOBIG);
  const StoreResult r = SqliteFailure(m.db(), rc);
  EXPECT_EQ(r.error, StoreError::Failed);
  EXPECT_NE(r.message.find("too big"), std::string::npos) << r.message;

  SqliteStatement no_such_index(m.db(), "INSERT INTO t (a) VALUES (?1)");
  EXPECT_EQ(no_such_index.Bind(2, "x").Step(), SQLITE_RANGE);
  EXPECT_EQ(m.Rows(), 0);

  // An empty text, even one without characters behind it, is a text and not NULL.
  SqliteStatement empty(m.db(), "INSERT INTO t (a, b) VALUES (?1, ?2)");
  EXPECT_EQ(empty.Bind(1, std::string_view()).Bind(2, "").Step(), SQLITE_DONE);
  EXPECT_EQ(m.Rows("a = '' AND b = ''"), 1);
}

TEST(StoreTransaction, RolledBackUnlessCommittedHoweverItsScopeIsLeft) {
  MemoryDatabase m;
  SqliteConnection connection{m.db()};
  const auto in_transaction = [&](auto body) {
    return InTransaction(connection, "BEGIN IMMEDIATE", body);
  };
  EXPECT_THROW(in_transaction([&]() -> StoreResult {
                 m.Insert();
                 throw std::bad_alloc();
               }),
               std::bad_alloc);
  EXPECT_EQ(m.Rows(), 0);
  EXPECT_EQ(sqlite3_get_autocommit(m.db()), 1) << "a transaction left open";

  const StoreResult failed = in_transaction([&] {
    m.Insert();
    return StoreFailure(StoreError::Busy);
  });
  EXPECT_EQ(failed.error, StoreError::Busy);
  EXPECT_EQ(m.Rows(), 0);
  EXPECT_EQ(sqlite3_get_autocommit(m.db()), 1);

  EXPECT_TRUE(in_transaction([&] {
                m.Insert();
                return StoreResult{};
              }).ok());
  EXPECT_EQ(m.Rows(), 1);

  // One that could not begin ends nothing: the transaction already open is its owner's.
  {
    StoreTransaction<SqliteConnection> outer(connection, "BEGIN");
    ASSERT_TRUE(outer.begun().ok());
    m.Insert();
    {
      StoreTransaction<SqliteConnection> inner(connection, "BEGIN");
      EXPECT_FALSE(inner.begun().ok());
    }
    EXPECT_EQ(sqlite3_get_autocommit(m.db()), 0);
    EXPECT_TRUE(outer.Commit().ok());
  }
  EXPECT_EQ(m.Rows(), 2);
}

}  // namespace
}  // namespace lovar
