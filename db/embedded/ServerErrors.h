#pragma once

#include <QString>
#include <QStringList>

struct sqlite3_context;

namespace qav::db::embedded {

// The errors the embedded suite raises, each as SQL Server raises it: one row per message of
// SQL Server's catalog that the suite uses (number, severity, text with %1, %2 ... for its
// arguments), so that a client reading the number (the TDS test server, an ODBC caller) sees
// what SQL Server would send, and the text is written in one place.
enum class ServerError {
  SyntaxNear,                 // 102
  UnclosedQuote,              // 105
  MissingEndComment,          // 113
  OneExpressionInSubquery,    // 116
  AggregateOfAggregate,       // 130
  UndeclaredVariable,         // 137
  AssignWithRetrieval,        // 141
  AggregateInGroupBy,         // 144
  OrderByNotInDistinct,       // 145
  AggregateInWhere,           // 147
  UnknownOption,              // 155
  FloatOutOfRange,            // 168
  SyntaxNearKeyword,          // 156
  ArgumentCount,              // 174
  ArgumentRange,              // 189
  NestedTooDeeply,            // 191
  UnknownFunction,            // 195
  InvalidColumn,              // 207
  InvalidObject,              // 208
  AmbiguousColumn,            // 209
  DateFromText,               // 241
  DateTimeOutOfRange,         // 242
  ValueConversion,            // 245
  InvalidStyle,               // 281
  InvalidEscape,              // 506
  SubqueryManyValues,         // 512
  NullNotAllowed,             // 515
  ExplicitIdentity,           // 544
  DateTimeOverflow,           // 517
  InvalidLength,              // 537
  ForeignKeyConflict,         // 547
  OrderByInSubquery,          // 1033
  DuplicateKey,               // 2601
  DuplicateKeyUnnamed,        // 2601, when SQLite names no index
  Truncated,                  // 2628
  ObjectExists,               // 2714
  ProcedureNotFound,          // 2812
  CannotDropTable,            // 3701
  CommitWithoutBegin,         // 3902
  RollbackWithoutBegin,       // 3903
  NumberOutOfRange,           // 1007
  NoSuchObject,               // 1088
  CannotOpenDatabase,         // 4060
  UnboundIdentifier,          // 4104
  TypeConversion,             // 8114
  ArithmeticOverflow,         // 8115
  ArgumentType,               // 8116
  InvalidOperand,             // 8117
  NotInGroupBySelect,         // 8120
  NotInGroupByHaving,         // 8121
  NotInGroupByOrder,          // 8127
  IdentityWithoutColumnList,  // 8101
  IdentityUpdate,             // 8102
  NoIdentity,                 // 8106
  IdentityInsertElsewhere,    // 8107
  DivideByZero,               // 8134
  TooManyArguments,           // 8144
  DateDiffOverflow,           // 535
  TranslateLengths,           // 9828
  CannotConstruct,            // 289
  DatePartNotSupported,       // 9810
  TopWithOffset,              // 10741
  NegativeOffset,             // 10742
  FetchNotPositive,           // 10744
  WrongArgumentCount,         // 174, for a function of no known argument count
  Message,                    // 50000: RAISERROR's text, or one of the engine's own
  NotSupported,               // 50000: a form the suite does not run
  Canceled,                   // 0: the run was interrupted on request
};

struct ServerErrorRow {
  ServerError error;
  int number;
  int severity;
  const char* format;
};

// The row of `error`.
const ServerErrorRow& ServerErrorInfo(ServerError error);

// The text of `error` with its arguments in place.
QString ServerErrorMessage(ServerError error, const QStringList& args = {});

// Raises `error` as an engine error whose entry carries SQL Server's number and severity.
[[noreturn]] void RaiseServerError(ServerError error, const QStringList& args = {});
// The same with a text of its own, as RAISERROR gives one.
[[noreturn]] void RaiseServerError(ServerError error, int severity, const QString& text);

// Fails the SQLite function call `c` with `error`. The call's statement then fails with the
// text, and RaiseSqliteError gives it the error's number (kept for the thread's next failure,
// which is this one, as a function runs on the thread that steps its statement).
void FailCall(sqlite3_context* c, ServerError error, const QStringList& args = {});

// The row of the failure FailCall raised last on this thread when SQLite reports `text`;
// null when the text is not that failure's.
const ServerErrorRow* FailedCall(const QString& text);

}  // namespace qav::db::embedded
