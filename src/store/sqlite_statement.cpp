#include "store/sqlite_statement.h"

#include <climits>

#include "files/system_error_text.h"
#include "store/store_os.h"

namespace lovar {

StoreResult SqliteFailure(sqlite3* db, int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return StoreFailure(StoreError::Busy);
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return StoreFailure(StoreError::ReadOnly);
    case SQLITE_FULL:
      return StoreFailure(StoreError::Full);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return StoreFailure(StoreError::NotRegistry);
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN: {
      const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
      const StoreError error = StoreErrorOfSystem(system);
      if (error != StoreError::Failed) return StoreFailure(error);
      return StoreFailure(StoreError::Failed,
                          (rc & 0xFF) == SQLITE_CANTOPEN
                              ? "файл не открывается: " + SystemErrorText(system)
                              : "ошибка ввода-вывода: " + SystemErrorText(system));
    }
    default:
      // The connection's message when the code is its last call's; a bind's code (the
      // statement then never ran, and later calls replaced the message) by its own text.
      return StoreFailure(StoreError::Failed, db != nullptr && sqlite3_extended_errcode(db) == rc
                                                  ? sqlite3_errmsg(db)
                                                  : sqlite3_errstr(rc));
  }
}

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql)
    : rc_(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr)) {}

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::Bound(int rc) {
  if (rc_ == SQLITE_OK) rc_ = rc;
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int i, int64_t value) {
  return Bound(sqlite3_bind_int64(stmt_, i, value));
}

SqliteStatement& SqliteStatement::Bind(int i, std::string_view text) {
  // SQLite takes the length as an int, and a null pointer as NULL.
  if (text.size() > static_cast<size_t>(INT_MAX)) return Bound(SQLITE_TOOBIG);
  return Bound(sqlite3_bind_text(stmt_, i, text.data() != nullptr ? text.data() : "",
                                 static_cast<int>(text.size()), SQLITE_TRANSIENT));
}

SqliteStatement& SqliteStatement::BindBlob(int i, std::span<const uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return Bound(SQLITE_TOOBIG);
  if (bytes.data() == nullptr) return Bound(sqlite3_bind_zeroblob(stmt_, i, 0));
  return Bound(
      sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
}

SqliteStatement& SqliteStatement::BindNull(int i) {
  return Bound(sqlite3_bind_null(stmt_, i));
}

int SqliteStatement::Step() {
  return rc_ == SQLITE_OK ? sqlite3_step(stmt_) : rc_;
}

int64_t SqliteStatement::Int(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

std::string SqliteStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text == nullptr ? std::string() : std::string(text, sqlite3_column_bytes(stmt_, column));
}

std::span<const uint8_t> SqliteStatement::Blob(int column) const {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  return {data, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

StoreResult SqliteConnection::Exec(const char* sql) const {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? StoreResult{} : SqliteFailure(db, rc);
}

void SqliteConnection::RollBack() const noexcept {
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace lovar
