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

// Howard Hinnant's days_from_civil and civil_from_days.
qint64 DateTimeParts::Days() const {
  const qint64 y = year - (month <= 2);
  const qint64 era = (y >= 0 ? y : y - 399) / 400;
  const qint64 yoe = y - era * 400;
  const qint64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTimeParts DateTimeParts::FromDays(qint64 days, qint64 msecs) {
  DateTimeParts p;
  const qint64 z = days + 719468;
  const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
  const qint64 doe = z - era * 146097;
  const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const qint64 mp = (5 * doy + 2) / 153;
  p.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  p.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  p.year = static_cast<int>(yoe + era * 400 + (p.month <= 2));
  p.hour = static_cast<int>(msecs / 3600000);
  p.minute = static_cast<int>(msecs / 60000 % 60);
  p.second = static_cast<int>(msecs / 1000 % 60);
  p.nanos = static_cast<int>(msecs % 1000) * 1000000;
  return p;
}

TDateTime DateTimeParts::Encode() const {
  constexpr qint64 kEpochDays = -25569;  // 1899-12-30
  const double days = static_cast<double>(Days() - kEpochDays);
  const double fraction = static_cast<double>(MsecOfDay()) / kMsecsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::optional<DateTimeParts> ReadFixedDateTime(std::string_view s) {
  auto number = [&](std::size_t at, std::size_t count, int& out) {
    if (at + count > s.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
  };
  DateTimeParts p;
  if (s.size() < 10 || s[4] != '-' || s[7] != '-' || !number(0, 4, p.year) ||
      !number(5, 2, p.month) || !number(8, 2, p.day))
    return std::nullopt;
  std::size_t at = 10;
  if (at < s.size()) {
    if ((s[at] != ' ' && s[at] != 'T') || !number(at + 1, 2, p.hour) || at + 3 >= s.size() ||
        s[at + 3] != ':' || !number(at + 4, 2, p.minute))
      return std::nullopt;
    at += 6;
    if (at < s.size()) {
      if (s[at] != ':' || !number(at + 1, 2, p.second)) return std::nullopt;
      at += 3;
      if (at < s.size()) {
        if (s[at] != '.' || at + 1 >= s.size()) return std::nullopt;
        int digits = 0;
        for (++at; at < s.size(); ++at, ++digits) {
          if (s[at] < '0' || s[at] > '9') return std::nullopt;
          if (digits < 9) p.nanos = p.nanos * 10 + (s[at] - '0');
        }
        for (; digits < 9; ++digits) p.nanos *= 10;
      }
    }
  }
  if (p.year < 1 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month) || p.hour > 23 || p.minute > 59 || p.second > 59)
    return std::nullopt;
  return p;
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
