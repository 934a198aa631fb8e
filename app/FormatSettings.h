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

// A signed 32-bit integer written in decimal, nothing else in the text; else EConvertError
// "'TEXT' is not a valid integer value".
int StrToInt(const QString& text);
// A date in the short date format's day, month and year order, fields separated by the date
// separator; else EConvertError "'TEXT' is not a valid date".
QDate StrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());

}  // namespace qav
