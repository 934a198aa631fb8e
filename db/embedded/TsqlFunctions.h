#pragma once

#include <QStringView>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace qav::db::embedded {

// What a T-SQL function's first argument is: a value, a type name (CONVERT) or a date part
// (DATEADD), which the translation writes as a text and which names no column.
enum class TsqlArgument { Value, TypeName, DatePart };

// The type of a function's value, as SQL Server types it.
enum class TsqlResult {
  Unknown,        // the values tell
  Int,            // int
  FirstArgument,  // the type of the first argument
  TypeArgument,   // the type its first argument names (CONVERT)
  Text,           // a text of the arguments' kind
  DateTime,       // datetime
  Date,           // date
};

// Traits of a function that the translation and the registration act on.
enum TsqlTrait : unsigned {
  kAggregate = 1,  // an aggregate, unless OVER makes it a window's
  kHinted = 2,     // takes the first argument's type hint as an extra last argument
  // SUM, AVG: SQLite's own serve fractions; tsql_sum, tsql_sum_int and tsql_sum_bigint (and
  // AVG's) other values, with SQL Server's integer typing.
  kIntegerVariants = 4,
  kSecondAsFirst = 8,   // ISNULL: the second argument takes the first's declared type
  kVolatile = 16,       // GETDATE: a new value on every call
  kDateTimeValue = 32,  // a value that may carry the date-time subtype to the next call
  kManyArguments = 64,  // registered for any count (SQLite's limit is lower); it checks its own
};

using TsqlCall = void (*)(sqlite3_context*, int, sqlite3_value**);

// One function of T-SQL the embedded suite knows: all that the translation, the checks, the
// error texts and the registration need of it.
struct TsqlFunction {
  const char* name;    // T-SQL's name, lower case
  const char* callee;  // the SQLite function the translation calls
  int least, most;     // SQL Server's counts of arguments
  TsqlArgument first;
  TsqlResult result;
  unsigned traits;
  TsqlCall call;  // the implementation; null where SQLite's own serves or an aggregate's
                  // family is registered apart

  bool Is(TsqlTrait trait) const { return (traits & trait) != 0; }
};

// The function T-SQL calls `name` (any case); null for one the suite does not know.
const TsqlFunction* FindTsqlFunction(QStringView name);
// The function whose translation calls `callee` (any case, "tsql_sum_int" included); null for
// none.
const TsqlFunction* TsqlFunctionCalled(QStringView callee);

// Registers on `db` every function of the table that has an implementation, and the helpers the
// translation leaves in a statement: the operators tsql_add, tsql_sub (and tsql_add_chain, a run
// of them in one call), tsql_mul, tsql_div and tsql_mod with SQL Server's int and bigint
// overflow, tsql_number (a text compared with a number), tsql_single (a subquery's one value),
// and the SUM and AVG families. Their failures carry SQL Server's numbers and texts. Raises when
// SQLite refuses one.
void RegisterTsqlFunctions(sqlite3* db);

}  // namespace qav::db::embedded
