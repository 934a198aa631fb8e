#include "app/FormatSettings.h"

#include "app/Exception.h"

#include <QRegularExpression>
#include <limits>

namespace qav {

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

QString FormatDateTime(const QString& pattern, const QDateTime& value,
                       const TFormatSettings& settings) {
  const QDate d = value.date();
  const QTime t = value.time();
  QString out;
  qsizetype i = 0;
  auto run = [&](QChar c) {
    qsizetype n = 0;
    while (i + n < pattern.size() && pattern[i + n].toLower() == c) ++n;
    return n;
  };
  bool lastWasHour = false;
  while (i < pattern.size()) {
    const QChar c = pattern[i].toLower();
    qsizetype n = 1;
    if (c == u'd') {
      n = run(c);
      out += n >= 2 ? QString::asprintf("%02d", d.day()) : QString::number(d.day());
    } else if (c == u'm') {
      n = run(c);
      // "m" right after an hour means minutes, as the runtime reads it.
      const int v = lastWasHour ? t.minute() : d.month();
      out += n >= 2 ? QString::asprintf("%02d", v) : QString::number(v);
    } else if (c == u'y') {
      n = run(c);
      out += n <= 2 ? QString::asprintf("%02d", d.year() % 100) : QString::asprintf("%04d", d.year());
    } else if (c == u'h') {
      n = run(c);
      out += n >= 2 ? QString::asprintf("%02d", t.hour()) : QString::number(t.hour());
    } else if (c == u'n') {
      n = run(c);
      out += n >= 2 ? QString::asprintf("%02d", t.minute()) : QString::number(t.minute());
    } else if (c == u's') {
      n = run(c);
      out += n >= 2 ? QString::asprintf("%02d", t.second()) : QString::number(t.second());
    } else if (c == u'/') {
      out += settings.DateSeparator;
    } else if (c == u':') {
      out += settings.TimeSeparator;
    } else if (c == u'"' || c == u'\'') {
      const qsizetype end = pattern.indexOf(pattern[i], i + 1);
      n = (end < 0 ? pattern.size() : end + 1) - i;
      out += pattern.mid(i + 1, n - 2 < 0 ? 0 : n - 2);
    } else {
      out += pattern[i];
    }
    if (c != u' ' && c != u':') lastWasHour = (c == u'h');
    i += n;
  }
  return out;
}

int StrToInt(const QString& text) {
  static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
  bool ok = kInteger.match(text).hasMatch();
  qlonglong value = 0;
  if (ok) value = text.toLongLong(&ok);
  if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return static_cast<int>(value);
}

QDate StrToDate(const QString& text, const TFormatSettings& settings) {
  const auto fail = [&]() -> QDate {
    throw EConvertError(QStringLiteral("'%1' is not a valid date").arg(text));
  };
  // The order of day, month and year comes from the short date format.
  QString order;
  for (QChar c : settings.ShortDateFormat.toLower())
    if ((c == u'd' || c == u'm' || c == u'y') && !order.contains(c)) order += c;
  if (order.size() != 3) order = QStringLiteral("dmy");

  const QStringList parts = text.trimmed().split(settings.DateSeparator);
  if (parts.size() < 2 || parts.size() > 3) return fail();
  int day = 0, month = 0, year = QDate::currentDate().year();
  qsizetype p = 0;
  for (QChar field : order) {
    if (field == u'y' && parts.size() == 2) continue;  // a date without its year is this year's
    const QString& part = parts[p++];
    static const QRegularExpression kDigits(QStringLiteral("^[0-9]{1,4}$"));
    if (!kDigits.match(part).hasMatch()) return fail();
    const int v = part.toInt();
    if (field == u'd') day = v;
    if (field == u'm') month = v;
    if (field == u'y') {
      year = v;
      if (part.size() <= 2) {  // two-digit years fall within 50 years of now
        const int now = QDate::currentDate().year();
        year += now / 100 * 100;
        if (year > now + 50) year -= 100;
        if (year <= now - 50) year += 100;
      }
    }
  }
  const QDate date(year, month, day);
  if (!date.isValid() || year < 1) return fail();
  return date;
}

}  // namespace qav
