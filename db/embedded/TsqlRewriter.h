#pragma once

#include <QString>

namespace qav::db::embedded {

// Turns the everyday T-SQL forms into SQLite statements that give SQL Server's answers:
// N'...' literals, the dbo. schema, TOP n [PERCENT], OFFSET ... FETCH, SELECT ... INTO,
// TRUNCATE TABLE, #temporary tables, table and query hints (dropped), CONVERT and CAST (to the
// conversion function), the date-part words of DATEADD and its kin (to texts), the functions
// whose names SQLite reads otherwise, and the +, - and / operators (to functions that know
// strings and dates from numbers). Quotes, brackets, comments and variables are left alone.
// Raises, in SQL Server's terms, for a form it recognises but cannot run.
QString RewriteTsql(QStringView text);

// The text as SQLite reads it the way SQL Server reads the original: SQLite knows neither nested
// comments, nor a line comment ended by a lone CR, nor "]]" inside a [bracketed] name, so
// comments become blanks and bracketed names "quoted" ones; and a text literal compares, sorts and
// groups by SQL Server's rule (the NOCASE collation the embedded connection registers).
QString ForSqlite(QStringView text);

// Raises the error for a T-SQL form the embedded suite does not run.
[[noreturn]] void RefuseTsql(const QString& what);
// Raises an engine error with SQL Server's text.
[[noreturn]] void RaiseTsqlError(const QString& text);

}  // namespace qav::db::embedded
