#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace qav::db {

// The toolkit's date-time value: days since 30 December 1899 in the integral part, the time
// of day as a fraction. Before that day the integral part is negative and the fraction still
// counts forward from midnight, as the worksheet formats expect.
using TDateTime = double;

TDateTime EncodeDateTime(const QDate& date, const QTime& time = QTime(0, 0));
TDateTime EncodeDateTime(const QDateTime& value);
// The date and time of day as they are, in a zone-less (UTC) QDateTime.
QDateTime DecodeDateTime(TDateTime value);

// Reads the forms that databases hand out as text: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]"
// (also with a "T"), "HH:MM[:SS[.fff]]". Nothing else is accepted.
std::optional<TDateTime> ParseIsoDateTime(QStringView text);
// "YYYY-MM-DD HH:MM:SS.zzz", dropping the parts that are zero at the end.
QString FormatIsoDateTime(TDateTime value);

}  // namespace qav::db
