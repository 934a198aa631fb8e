#include "db/embedded/ServerErrors.h"

#include "db/Errors.h"

#include <sqlite3.h>

#include <array>

namespace qav::db::embedded {

namespace {

using E = ServerError;

// SQL Server's own numbers, severities and texts, in the order of the enumeration.
constexpr ServerErrorRow kRows[] = {
    {E::SyntaxNear, 102, 15, "Incorrect syntax near '%1'."},
    {E::UnclosedQuote, 105, 15, "Unclosed quotation mark after the character string '%1'."},
    {E::MissingEndComment, 113, 15, "Missing end comment mark '*/'."},
    {E::OneExpressionInSubquery, 116, 16,
     "Only one expression can be specified in the select list when the subquery is not "
     "introduced with EXISTS."},
    {E::AggregateOfAggregate, 130, 16,
     "Cannot perform an aggregate function on an expression containing an aggregate or a "
     "subquery."},
    {E::UndeclaredVariable, 137, 15, "Must declare the scalar variable \"%1\"."},
    {E::AssignWithRetrieval, 141, 15,
     "A SELECT statement that assigns a value to a variable must not be combined with "
     "data-retrieval operations."},
    {E::AggregateInGroupBy, 144, 15,
     "Cannot use an aggregate or a subquery in an expression used for the group by list of a "
     "GROUP BY clause."},
    {E::OrderByNotInDistinct, 145, 15,
     "ORDER BY items must appear in the select list if SELECT DISTINCT is specified."},
    {E::AggregateInWhere, 147, 15,
     "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a "
     "HAVING clause or a select list, and the column being aggregated is an outer reference."},
    {E::UnknownOption, 155, 15, "'%1' is not a recognized %2 option."},
    {E::FloatOutOfRange, 168, 15,
     "The floating point value '%1' is out of the range of computer representation (8 bytes)."},
    {E::SyntaxNearKeyword, 156, 15, "Incorrect syntax near the keyword '%1'."},
    {E::ArgumentCount, 174, 15, "The %1 function requires %2 argument(s)."},
    {E::ArgumentRange, 189, 15, "The %1 function requires %2 to %3 arguments."},
    {E::NestedTooDeeply, 191, 15,
     "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
     "into smaller queries."},
    {E::UnknownFunction, 195, 15, "'%1' is not a recognized built-in function name."},
    {E::InvalidColumn, 207, 16, "Invalid column name '%1'."},
    {E::InvalidObject, 208, 16, "Invalid object name '%1'."},
    {E::AmbiguousColumn, 209, 16, "Ambiguous column name '%1'."},
    {E::DateFromText, 241, 16,
     "Conversion failed when converting date and/or time from character string."},
    {E::DateTimeOutOfRange, 242, 16,
     "The conversion of a %1 data type to a datetime data type resulted in an out-of-range "
     "value."},
    {E::ValueConversion, 245, 16,
     "Conversion failed when converting the %1 value '%2' to data type %3."},
    {E::InvalidStyle, 281, 16,
     "%1 is not a valid style number when converting from %2 to a character string."},
    {E::InvalidEscape, 506, 16,
     "The invalid escape character \"%1\" was specified in a %2 predicate."},
    {E::SubqueryManyValues, 512, 16,
     "Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
     "!=, <, <= , >, >= or when the subquery is used as an expression."},
    {E::NullNotAllowed, 515, 16,
     "Cannot insert the value NULL into column '%1', table '%2'; column does not allow nulls. %3 "
     "fails."},
    {E::ExplicitIdentity, 544, 16,
     "Cannot insert explicit value for identity column in table '%1' when IDENTITY_INSERT is set "
     "to OFF."},
    {E::DateTimeOverflow, 517, 16, "Adding a value to a '%1' column caused an overflow."},
    {E::InvalidLength, 537, 16, "Invalid length parameter passed to the %1 function."},
    {E::ForeignKeyConflict, 547, 16, "%1 statement conflicted with COLUMN %2 constraint%3."},
    {E::OrderByInSubquery, 1033, 15,
     "The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, and "
     "common table expressions, unless TOP, OFFSET or FOR XML is also specified."},
    {E::DuplicateKey, 2601, 14,
     "Cannot insert duplicate key row in object '%1' with unique index '%2'."},
    {E::DuplicateKeyUnnamed, 2601, 14, "Cannot insert duplicate key row. (%1)"},
    {E::Truncated, 2628, 16,
     "String or binary data would be truncated in table '%1', column '%2'. Truncated value: "
     "'%3'."},
    {E::ObjectExists, 2714, 16, "There is already an object named '%1' in the database."},
    {E::ProcedureNotFound, 2812, 16, "Could not find stored procedure '%1'."},
    {E::CannotDropTable, 3701, 11,
     "Cannot drop the table '%1', because it does not exist or you do not have permission."},
    {E::CommitWithoutBegin, 3902, 16,
     "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {E::RollbackWithoutBegin, 3903, 16,
     "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {E::NumberOutOfRange, 1007, 15,
     "The number '%1' is out of the range for numeric representation (maximum precision 38)."},
    {E::NoSuchObject, 1088, 16,
     "Cannot find the object \"%1\" because it does not exist or you do not have permissions."},
    {E::CannotOpenDatabase, 4060, 11,
     "Cannot open database \"%1\" requested by the login. The login failed."},
    {E::UnboundIdentifier, 4104, 16, "The multi-part identifier \"%1\" could not be bound."},
    {E::TypeConversion, 8114, 16, "Error converting data type %1 to %2."},
    {E::ArithmeticOverflow, 8115, 16, "Arithmetic overflow error converting %1 to data type %2."},
    {E::ArgumentType, 8116, 16, "Argument data type %1 is invalid for argument %2 of %3 function."},
    {E::InvalidOperand, 8117, 16, "Operand data type %1 is invalid for %2 operator."},
    {E::NotInGroupBySelect, 8120, 16,
     "Column '%1' is invalid in the select list because it is not contained in either an "
     "aggregate function or the GROUP BY clause."},
    {E::NotInGroupByHaving, 8121, 16,
     "Column '%1' is invalid in the HAVING clause because it is not contained in either an "
     "aggregate function or the GROUP BY clause."},
    {E::NotInGroupByOrder, 8127, 16,
     "Column \"%1\" is invalid in the ORDER BY clause because it is not contained in either an "
     "aggregate function or the GROUP BY clause."},
    {E::IdentityWithoutColumnList, 8101, 16,
     "An explicit value for the identity column in table '%1' can only be specified when a "
     "column list is used and IDENTITY_INSERT is ON."},
    {E::IdentityUpdate, 8102, 16, "Cannot update identity column '%1'."},
    {E::NoIdentity, 8106, 16,
     "Table '%1' does not have the identity property. Cannot perform SET operation."},
    {E::IdentityInsertElsewhere, 8107, 16,
     "IDENTITY_INSERT is already ON for table '%1'. Cannot perform SET operation for table "
     "'%2'."},
    {E::DivideByZero, 8134, 16, "Divide by zero error encountered."},
    {E::TooManyArguments, 8144, 16, "Procedure or function %1 has too many arguments specified."},
    {E::DateDiffOverflow, 535, 16,
     "The datediff function resulted in an overflow. The number of dateparts separating two "
     "date/time instances is too large. Try to use datediff with a less precise datepart."},
    {E::TranslateLengths, 9828, 16,
     "The second and third arguments of the TRANSLATE built-in function must contain an equal "
     "number of characters."},
    {E::CannotConstruct, 289, 16,
     "Cannot construct data type %1, some of the arguments have values which are not valid."},
    {E::DatePartNotSupported, 9810, 16, "The datepart %1 is not supported by date function %2."},
    {E::TopWithOffset, 10741, 15,
     "A TOP cannot be used in the same query or sub-query as an OFFSET."},
    {E::NegativeOffset, 10742, 15, "The offset specified in an OFFSET clause may not be negative."},
    {E::FetchNotPositive, 10744, 15,
     "The number of rows provided for a FETCH clause must be greater then zero."},
    {E::WrongArgumentCount, 174, 15, "The %1 function was given a wrong number of arguments."},
    {E::Message, 50000, 16, "%1"},
    {E::NotSupported, 50000, 16, "the embedded demo suite does not support %1"},
    {E::Canceled, 0, 11, "Operation canceled"},
};

constexpr bool InOrder() {
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    if (static_cast<std::size_t>(kRows[i].error) != i) return false;
  return true;
}
static_assert(InOrder(), "one row per error, in the order of the enumeration");

// The failure FailCall raised last on this thread.
struct LastCall {
  const ServerErrorRow* row = nullptr;
  QString text;
};
thread_local LastCall lastCall;

}  // namespace

const ServerErrorRow& ServerErrorInfo(ServerError error) {
  return kRows[static_cast<std::size_t>(error)];
}

QString ServerErrorMessage(ServerError error, const QStringList& args) {
  QString text = QString::fromLatin1(ServerErrorInfo(error).format);
  // One pass, so that an argument holding "%2" stays as written.
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 1 < text.size() && text[i + 1].isDigit()) {
      const qsizetype n = text[i + 1].digitValue();
      if (n >= 1 && n <= args.size()) out += args[n - 1];
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

void RaiseServerError(ServerError error, const QStringList& args) {
  RaiseServerError(error, ServerErrorInfo(error).severity, ServerErrorMessage(error, args));
}

void RaiseServerError(ServerError error, int severity, const QString& text) {
  TDBError entry{SQLITE_ERROR, ServerErrorInfo(error).number, text};
  entry.Severity = severity;
  throw EDBEngineError(text, {entry});
}

void FailCall(sqlite3_context* c, ServerError error, const QStringList& args) {
  lastCall.row = &ServerErrorInfo(error);
  lastCall.text = ServerErrorMessage(error, args);
  const QByteArray utf8 = lastCall.text.toUtf8();
  sqlite3_result_error(c, utf8.constData(), static_cast<int>(utf8.size()));
}

const ServerErrorRow* FailedCall(const QString& text) {
  return lastCall.row && lastCall.text == text ? lastCall.row : nullptr;
}

}  // namespace qav::db::embedded
