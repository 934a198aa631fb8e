#include "db/DateTime.h"

#include <QRegularExpression>
#include <cmath>

namespace qav::db {

namespace {

constexpr qint64 kMsecsPerDay = 86400000;

qint64 EpochJulianDay() {
  return QDate(1899, 12, 30).toJulianDay();
}

}  // namespace

TDateTime EncodeDateTime(const QDate& date, const QTime& time) {
  const double days = static_cast<double>(date.toJulianDay() - EpochJulianDay());
  const double fraction = static_cast<double>(time.msecsSinceStartOfDay()) / kMsecsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

TDateTime EncodeDateTime(const QDateTime& value) {
  return EncodeDateTime(value.date(), value.time());
}

QDateTime DecodeDateTime(TDateTime value) {
  const double days = std::trunc(value);
  qint64 msecs = std::llround(std::fabs(value - days) * kMsecsPerDay);
  qint64 day = static_cast<qint64>(days);
  if (msecs >= kMsecsPerDay) {  // rounding reached the next midnight
    msecs -= kMsecsPerDay;
    day += value < 0 ? -1 : 1;
  }
  // A wall-clock value without a zone: local time would cost a look at the zone rules per value
  // and move the times a daylight-saving change skips.
  return QDateTime(QDate::fromJulianDay(EpochJulianDay() + day),
                   QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)), Qt::UTC);
}

std::optional<TDateTime> ParseIsoDateTime(QStringView text) {
  static const QRegularExpression kPattern(
      QStringLiteral("^\\s*(?:(\\d{4})-(\\d{1,2})-(\\d{1,2}))?(?:(?:^|[ T])\\s*(\\d{1,2}):(\\d{2})"
                     "(?::(\\d{2})(?:\\.(\\d{1,9}))?)?)?\\s*$"));
  const auto m = kPattern.match(text.toString());
  if (!m.hasMatch() || (m.capturedView(1).isEmpty() && m.capturedView(4).isEmpty()))
    return std::nullopt;
  QDate date(1899, 12, 30);
  if (!m.capturedView(1).isEmpty()) {
    date = QDate(m.capturedView(1).toInt(), m.capturedView(2).toInt(), m.capturedView(3).toInt());
    if (!date.isValid()) return std::nullopt;
  }
  QTime time(0, 0);
  if (!m.capturedView(4).isEmpty()) {
    int msec = 0;
    if (!m.capturedView(7).isEmpty())
      msec = static_cast<int>(
          std::lround(QStringLiteral("0.%1").arg(m.capturedView(7)).toDouble() * 1000));
    time = QTime(m.capturedView(4).toInt(), m.capturedView(5).toInt(),
                 m.capturedView(6).isEmpty() ? 0 : m.capturedView(6).toInt(), std::min(msec, 999));
    if (!time.isValid()) return std::nullopt;
  }
  return EncodeDateTime(date, time);
}

QString FormatIsoDateTime(TDateTime value) {
  const QDateTime dt = DecodeDateTime(value);
  QString text = dt.date().toString(QStringLiteral("yyyy-MM-dd"));
  const QTime t = dt.time();
  if (t.msecsSinceStartOfDay() != 0) {
    text += t.toString(t.msec() ? QStringLiteral(" HH:mm:ss.zzz") : QStringLiteral(" HH:mm:ss"));
  }
  return text;
}

}  // namespace qav::db
