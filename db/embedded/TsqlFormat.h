#pragma once

#include "db/DateTime.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace qav::db::embedded {

using db::DateTimeParts;

// Dates and numbers as T-SQL reads and writes them: the CONVERT styles and the .NET patterns of
// FORMAT, for SQL Server's default language (us_english) and the en-US culture. Date-times are
// UTC QDateTimes standing for the server's local wall clock.

// Reads a date-time written in CONVERT style `style` (0 for the forms SQL Server reads without
// a style: "2024-01-31", "20240131", "01/31/2024", each with an optional time, or a time alone).
std::optional<QDateTime> ParseTsqlDate(QStringView text, int style = 0);
// Days since 1900-01-01, the date-time SQL Server makes of a number.
QDateTime DateFromNumber(double days);
// The same date-time in calendar fields, and back.
DateTimeParts PartsOf(const QDateTime& value);
QDateTime DateTimeOf(const DateTimeParts& parts);
// "2024-01-31 13:05:00.000": the suite's storage form, and SQL Server's style 121.
QString DateTimeText(const QDateTime& value);
std::string DateTimeText(const DateTimeParts& value);
// The text of CONVERT(varchar, value, style); nullopt for a style that has no date form.
std::optional<QString> DateStyleText(const QDateTime& value, int style);
std::optional<std::string> DateStyleText(const DateTimeParts& value, int style);

// FORMAT(value, pattern) for a date-time, and for a number, with the standard patterns ("d",
// "N2", "D5") and the custom ones ("dd/MM/yyyy", "#,##0.00"); nullopt for a pattern not
// supported here.
std::optional<QString> FormatDate(const QDateTime& value, const QString& pattern);
// A date pattern read once, for the rows of a statement: letters with their counts, and the
// literal texts between them.
struct DatePattern {
  struct Piece {
    char16_t letter;  // 0 for a literal
    int run;
    QString literal;
  };
  std::vector<Piece> pieces;
};
std::optional<DatePattern> CompileDatePattern(const QString& pattern);
QString ApplyDatePattern(const DatePattern& pattern, const QDateTime& value);
std::optional<QString> FormatNumber(double value, bool integral, const QString& pattern);
// A one-letter pattern that names no standard format of .NET, for which FORMAT gives NULL.
bool IsUnknownStandardPattern(const QString& pattern, bool forDate);

// The digits of |value| rounded half away from zero to `decimals` places, as .NET Framework and
// SQL Server's STR round the 15 significant digits of a double.
struct DecimalDigits {
  QString whole;     // at least "0"
  QString fraction;  // exactly `decimals` digits
};
DecimalDigits RoundDecimal(double value, int decimals);

}  // namespace qav::db::embedded
