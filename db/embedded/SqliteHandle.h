#pragma once

#include <QString>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace qav::db::embedded {

struct DbCloser {
  void operator()(sqlite3* db) const;
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const;
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Raises the connection's last error as an EDBEngineError with SQL Server's text for the
// failures the suite's callers recognise. `statement` is the failing statement's text, when
// known, which tells an INSERT from an UPDATE and names the table a foreign key concerns.
[[noreturn]] void RaiseSqliteError(sqlite3* db, const QString& statement = {});

// Runs statements that return no rows; raises on failure.
void ExecSql(sqlite3* db, const char* sql);

// SQL Server reads a "double-quoted" word as a name only; SQLite would take one that names no
// column as a text, giving a value where SQL Server fails with "Invalid column name".
void RefuseDoubleQuotedStrings(sqlite3* db);

}  // namespace qav::db::embedded
