#pragma once

struct sqlite3;

namespace qav::db::embedded {

// Registers on `db` the SQLite functions behind the T-SQL the rewriter leaves in a statement:
// the operators tsql_add, tsql_sub (and tsql_add_chain, a run of them in one call), tsql_mul,
// tsql_div and tsql_mod and tsql_number (a text compared with a number), with SQL Server's int
// and bigint overflow; SUM and AVG of integers
// (tsql_sum, tsql_avg and their _int and _bigint kin), ROUND and POWER; tsql_convert and
// tsql_try_convert; DATEADD,
// DATEDIFF, DATEPART, DATENAME, YEAR, MONTH, DAY, EOMONTH, GETDATE and GETUTCDATE; LEFT, RIGHT,
// SUBSTRING, CHARINDEX, PATINDEX, STUFF, REPLICATE, SPACE, STR and FORMAT. Their failures carry
// SQL Server's texts. Raises when SQLite refuses one.
void RegisterTsqlFunctions(sqlite3* db);

}  // namespace qav::db::embedded
