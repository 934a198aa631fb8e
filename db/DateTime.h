#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <string_view>

namespace qav::db {

// The toolkit's date-time value: days since 30 December 1899 in the integral part, the time
// of day as a fraction. Before that day the integral part is negative and the fraction still
// counts forward from midnight, as the worksheet formats expect.
using TDateTime = double;

TDateTime EncodeDateTime(const QDate& date, const QTime& time = QTime(0, 0));
TDateTime EncodeDateTime(const QDateTime& value);
// The date and time of day as they are, in a zone-less (UTC) QDateTime.
QDateTime DecodeDateTime(TDateTime value);

// A date-time in its calendar fields, worked on without QDateTime where every row counts.
struct DateTimeParts {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int nanos = 0;  // the fraction of the second, in nanoseconds

  // Days since 1970-01-01 (negative before), of the proleptic Gregorian calendar.
  qint64 Days() const;
  int MsecOfDay() const { return ((hour * 60 + minute) * 60 + second) * 1000 + nanos / 1000000; }
  // The day `days` after 1970-01-01 and the time `msecs` after its midnight (0 to a day).
  static DateTimeParts FromDays(qint64 days, qint64 msecs = 0);
  TDateTime Encode() const;
};
int DaysInMonth(int year, int month);

// Reads the fixed form the suite stores date-times in and its functions write, exactly:
// "YYYY-MM-DD", then optionally " HH:MM" (or "T"), ":SS" and "." with digits (the first nine
// count). nullopt for anything else, and for a day or time that does not exist. No QDateTime and
// no regular expression: it reads a value on every row.
std::optional<DateTimeParts> ReadFixedDateTime(std::string_view text);

// Reads the forms that databases hand out as text: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]"
// (also with a "T"), "HH:MM[:SS[.fff]]". Nothing else is accepted.
std::optional<TDateTime> ParseIsoDateTime(QStringView text);
// "YYYY-MM-DD HH:MM:SS.zzz", dropping the parts that are zero at the end.
QString FormatIsoDateTime(TDateTime value);

}  // namespace qav::db
