#pragma once

#include "db/Backend.h"
#include "db/DateTime.h"

#include <optional>
#include <string_view>

struct sqlite3_stmt;

namespace qav::db::embedded {

// What a column's declared type ("varchar(20)", "money", "datetime") says in SQL Server's terms.
struct DeclaredType {
  TFieldType type = ftUnknown;   // ftUnknown: nothing known, the values decide
  int size = 0;                  // the (n) of text and binary types, 0 when not given
  int precision = 0, scale = 0;  // the (p, s) of decimal types, 0 when not given
  bool national = false;         // nchar, nvarchar, ntext
};
DeclaredType ParseDeclaredType(std::string_view declared);
// The type's name as SQL Server's catalog shows it ("varchar"), and its length in bytes there.
QString DeclaredTypeName(std::string_view declared);
int DeclaredTypeLength(std::string_view declared);

// Reads a date, date-time or time stored as text, in the forms ParseIsoDateTime takes; the
// usual "YYYY-MM-DD[ HH:MM:SS[.fff]]" without going through a regular expression.
std::optional<TDateTime> ParseDateText(std::string_view text);

// Fills a ResultSet from a prepared statement, row by row, and types its fields at the end:
// by the declared type where the column has one, else by the type the statement's functions give
// it (CONVERT, DATEADD...), else by the values it holds.
class ResultBuilder {
 public:
  explicit ResultBuilder(sqlite3_stmt* stmt);
  // Appends the statement's current row.
  void AddRow();
  // Appends it to `rows` instead, converted as the result's own; for the windows of a cursor,
  // which come after Finish has typed the fields by the rows before.
  void AddRow(RowStore& rows);
  std::unique_ptr<ResultSet> Finish();

 private:
  enum class Target : std::uint8_t { Native, Float, Date };
  struct Column {
    QString name;
    DeclaredType declared;
    Target target = Target::Native;
    bool datesWhenText = false;  // typed by its values: date-times when they are texts
    bool sawDate = false;
    bool sawInt = false, sawReal = false, sawText = false, sawBlob = false;
    qint64 minInt = 0, maxInt = 0;
    qint64 maxChars = 0;  // longest text, in characters
    qint64 maxBytes = 0;  // longest binary value
  };

  sqlite3_stmt* stmt_;
  std::vector<Column> columns_;
  std::unique_ptr<ResultSet> result_;
};

// Binds one value the way the engine layer hands them over (see ProcArg and TParam).
int BindValue(sqlite3_stmt* stmt, int index, const QVariant& value);
// The value of a result column as a QVariant of its storage class.
QVariant ColumnValue(sqlite3_stmt* stmt, int column);
// A value converted to what a parameter of the declared type holds: integers as qint64,
// floating types as double, texts as QString, dates as QDateTime, binaries as QByteArray.
// A value that does not convert is kept as it is.
QVariant ConvertForType(const QVariant& value, TFieldType type);

}  // namespace qav::db::embedded
