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
  qsizetype end = 0;  // where the statement ends in the text: its ";" or the next statement
  std::vector<Assignment> assignments;
  QString expression;  // Print, RaiseError: the message
  QString rest;        // SelectAssign: FROM ... after the assignments, or empty
  int severity = 0;    // RaiseError
};

// Reads the statement that starts at pos (a text ending at the statement's ";" at the latest
// does). A statement the embedded suite cannot run (MERGE,
// WHILE, EXEC, cursors, table variables, ...) raises in SQL Server's terms.
TsqlStatement ParseTsqlStatement(QStringView text, qsizetype pos);

// Where the next statement begins after the one at pos, when the script left out the ";"
// between them (a word that starts a statement, at the top level); the end of the text when
// none does.
qsizetype ScriptStatementAfter(QStringView text, qsizetype pos);

}  // namespace qav::db::embedded
