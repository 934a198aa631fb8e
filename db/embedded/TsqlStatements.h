#pragma once

#include <QString>
#include <vector>

namespace qav::db::embedded {

// The T-SQL statements the embedded connection runs itself, around SQLite: variables, PRINT,
// RAISERROR and session options. Texts here have been through RewriteTsql already.
struct TsqlStatement {
  enum class Kind {
    Other,         // a statement for SQLite
    Declare,       // DECLARE @v type [= expr][, ...]
    SetVariable,   // SET @v = expr (also +=, -=, *=, /=)
    SelectAssign,  // SELECT @v = expr[, ...] [FROM ...]: `rest` follows the values
    SetOption,     // SET NOCOUNT ON and the like: nothing to do here
    Print,         // PRINT expr
    RaiseError,    // RAISERROR(expr, severity, state)
  };
  struct Assignment {
    QString variable;    // "@v"
    QString type;        // Declare: the type as written, lower case
    QString expression;  // empty: Declare without a value
  };
  Kind kind = Kind::Other;
  std::vector<Assignment> assignments;
  QString expression;  // Print, RaiseError: the message
  QString rest;        // SelectAssign: FROM ... after the assignments, or empty
  int severity = 0;    // RaiseError
};

// Reads one statement (a ";" after it is left out). A statement the embedded suite cannot run
// (MERGE, WHILE, EXEC, cursors, table variables, ...) raises in SQL Server's terms.
TsqlStatement ParseTsqlStatement(QStringView statement);

}  // namespace qav::db::embedded
