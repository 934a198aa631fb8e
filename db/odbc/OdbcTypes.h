#pragma once

#include "db/DateTime.h"
#include "db/FieldTypes.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qav::db::odbc {

// How the cells of a column are read from the driver and stored.
enum class CellFetch : std::uint8_t {
  Integer,   // SQL_C_SBIGINT, Int cell
  Double,    // SQL_C_DOUBLE, Float cell
  Decimal,   // read as text and parsed, Float cell; money and decimals lose nothing to driver
             // conversions this way
  DateTime,  // read as text in the standard ODBC form and parsed, Float cell (TDateTime)
  Text,      // read as UTF-16 text, stored as UTF-8 Bytes
  Guid,      // text, shown in braces as SQL Server's own tools show it
  Binary,    // raw Bytes
};

struct ColumnMapping {
  TFieldType type = ftUnknown;
  int size = 0;
  CellFetch fetch = CellFetch::Text;
};

// Maps a result column as SQLDescribeCol reports it (SQL type, column size in characters
// or bytes) and SQLColAttribute's SQL_DESC_TYPE_NAME (which alone tells money from decimal
// and uniqueidentifier from char) to the field type, declared size and way of fetching.
ColumnMapping MapColumn(int sqlType, qint64 columnSize, const QString& typeName);

// Reads the text forms the ODBC standard gives dates, times and timestamps:
// "yyyy-mm-dd", "hh:mm:ss[.f...]" and "yyyy-mm-dd hh:mm:ss[.f...]" ("T" also accepted as the
// separator). Fractions are rounded to milliseconds. Allocates nothing.
std::optional<TDateTime> ParseOdbcDateTime(std::u16string_view text);

// Reads a decimal number in the C locale ("-1234.5600", "1E+20"); blanks around it allowed.
std::optional<double> ParseOdbcNumber(std::string_view text);

// Appends UTF-16 text to `out` as UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf8(std::u16string_view text, std::string& out);

}  // namespace qav::db::odbc
