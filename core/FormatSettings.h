#pragma once

#include <QChar>
#include <QDateTime>
#include <QString>

namespace qav {

// The process-wide number and date formats. Every conversion between values and texts in the
// program goes through these settings, never through the C library's or the machine's locale,
// so that a run gives the same texts on every machine. Exports swap their own in and out.
struct TFormatSettings {
  QChar DecimalSeparator = u'.';
  QChar ThousandSeparator = u',';
  QChar DateSeparator = u'/';
  QChar TimeSeparator = u':';
  QString CurrencyString = QStringLiteral("$");
  // Patterns in the runtime's letters: d dd m mm yy yyyy, h hh n nn s ss, "/" and ":" stand for
  // the separators above.
  QString ShortDateFormat = QStringLiteral("m/d/yyyy");
  QString LongTimeFormat = QStringLiteral("hh:nn:ss");
};

// The settings in force; start-up sets ShortDateFormat to "dd/mm/yyyy".
TFormatSettings& FormatSettings();

// Formats a date-time with a runtime pattern, using the settings' separators.
QString FormatDateTime(const QString& pattern, const QDateTime& value,
                       const TFormatSettings& settings = FormatSettings());
QString FormatDateTime(const QString& pattern, const QDate& date, const QTime& time,
                       const TFormatSettings& settings = FormatSettings());
// The short date, a blank and the long time; only the date when the time is exactly midnight.
QString DateTimeToStr(const QDate& date, const QTime& time,
                      const TFormatSettings& settings = FormatSettings());
// A date and a time of day in their calendar fields, as QDate and QTime give them (an invalid
// date has zeros, an invalid time -1), for callers that work them out without QDate.
struct TDateFields {
  int year = 0, month = 0, day = 0;
  int hour = -1, minute = -1, second = -1, msec = -1;
  static TDateFields Of(const QDate& date, const QTime& time);
};
QString FormatDateTime(const QString& pattern, const TDateFields& at,
                       const TFormatSettings& settings = FormatSettings());
QString DateTimeToStr(const TDateFields& at, const TFormatSettings& settings = FormatSettings());
// FormatDateTime and DateTimeToStr as bytes in [out, end), for the writers of 8-bit files; the
// end of what they wrote, or null when a separator or a literal of the pattern is not ASCII or
// the text needs more room (the QString forms then give it).
char* FormatDateTimeChars(const QString& pattern, const TDateFields& at, char* out, char* end,
                          const TFormatSettings& settings = FormatSettings());
char* DateTimeToChars(const TDateFields& at, char* out, char* end,
                      const TFormatSettings& settings = FormatSettings());

// The general form of a number: up to 15 significant digits, trailing zeros and a needless
// decimal separator dropped, no grouping; the exponent form ("1E20", "1.5E-6") when the value
// has more than 15 digits before the separator or its magnitude is below 0.00001.
QString FloatToStr(double value, const TFormatSettings& settings = FormatSettings());
// The general form of a money amount: rounded to 4 decimals, trailing zeros dropped.
QString CurrToStr(double value, const TFormatSettings& settings = FormatSettings());
// The two forms above in ASCII with "." as the decimal separator, at `out`, which has room for
// kNumberChars; the end of what they wrote.
constexpr int kNumberChars = 40;
char* FloatToChars(double value, char* out);
char* CurrToChars(double value, char* out);
// Reads [sign] digits [separator digits] [E [sign] digits] with the decimal separator, blanks
// around it allowed; no grouping.
bool TryStrToFloat(const QString& text, double& value,
                   const TFormatSettings& settings = FormatSettings());
// As TryStrToFloat; else EConvertError "'TEXT' is not a valid floating point value".
double StrToFloat(const QString& text, const TFormatSettings& settings = FormatSettings());

// A signed 32-bit integer written in decimal, nothing else in the text; else EConvertError
// "'TEXT' is not a valid integer value".
int StrToInt(const QString& text);
// A date in the short date format's day, month and year order, fields separated by the date
// separator; else EConvertError "'TEXT' is not a valid date".
QDate StrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());

}  // namespace qav
