#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace qav::db::embedded {

// Turns the everyday T-SQL forms into SQLite statements that give SQL Server's answers:
// N'...' literals, the dbo. schema, TOP n [PERCENT], OFFSET ... FETCH, SELECT ... INTO,
// TRUNCATE TABLE, #temporary tables, table and query hints (dropped), CONVERT and CAST (to the
// conversion function), the date-part words of DATEADD and its kin (to texts), the functions
// whose names SQLite reads otherwise, and the +, - and / operators (to functions that know
// strings and dates from numbers), as are *, % and AVG, SUM, ROUND and POWER (to functions
// with SQL Server's integer typing, overflow and implicit conversion). Quotes, brackets,
// comments and variables are left alone. Raises, in SQL Server's terms, for a form it recognises
// but cannot run.
//
// SQLite's values do not tell int from bigint, nor a whole decimal from an integer: `declared`
// gives the type a column or "@variable" was declared with ("decimal(18,4)"), or an empty text
// when it is not known; the values then decide, an integer counting as an int.
using DeclaredTypeOf = std::function<QString(const QString& lowerCaseName)>;
QString RewriteTsql(QStringView text, const DeclaredTypeOf& declared = {});

// One declared type for columns of one name whose tables declare them "a" and "b": the type
// when both agree, a type of the same arithmetic family when only their sizes differ, else
// empty (not known).
QString MergedDeclaredType(const QString& a, const QString& b);

// The text as SQLite reads it the way SQL Server reads the original: SQLite knows neither nested
// comments, nor a line comment ended by a lone CR, nor "]]" inside a [bracketed] name, so
// comments become blanks and bracketed names "quoted" ones; and a text literal compares, sorts and
// groups by SQL Server's rule (the NOCASE collation the embedded connection registers).
QString ForSqlite(QStringView text);

// What the functions of a rewritten statement say of one of its result columns.
struct ComputedType {
  QString declared;  // SQL Server's type, "datetime", "varchar(10)"; empty when not known
  // A value moved by a number (a + 1): a date-time when the value was a date, else a number;
  // its values tell which.
  bool datesWhenText = false;
};
// The result columns of a statement RewriteTsql wrote, when it is one SELECT whose columns can
// be counted (no "*"): one entry per column, as CONVERT and CAST, DATEADD, GETDATE, EOMONTH,
// DATEDIFF and DATEPART and the arithmetic on their dates type them; a plain column keeps the
// type it was declared with. Empty for any other statement.
std::vector<ComputedType> ComputedColumnTypes(QStringView rewritten);

// How deep parentheses, CASE, signs, blocks and IF may nest in a statement. The readers of T-SQL
// here recurse, so deeper text fails as SQL Server fails it (error 191) instead of running out of
// stack; SQLite's own parser gives up well before this depth.
inline constexpr int kMaxTsqlNesting = 256;
[[noreturn]] void RefuseTsqlNesting();

// Raises the error for a T-SQL form the embedded suite does not run.
[[noreturn]] void RefuseTsql(const QString& what);

}  // namespace qav::db::embedded
