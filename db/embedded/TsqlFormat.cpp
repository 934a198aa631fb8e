#include "db/embedded/TsqlFormat.h"

#include <QRegularExpression>
#include <cmath>

namespace qav::db::embedded {

namespace {

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                             "Friday", "Saturday", "Sunday"};

QString MonthName(int month) {
  return QLatin1StringView(kMonths[month - 1]);
}
QString DayName(int dayOfWeek) {
  return QLatin1StringView(kDays[dayOfWeek - 1]);
}

QDateTime Make(const QDate& date, const QTime& time) {
  return QDateTime(date, time, Qt::UTC);
}

QString Two(int n) {
  return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// A time of day after a date: "13:05", "13:05:07", "13:05:07.123", "1:05PM", "1:05:07 PM".
std::optional<QTime> ParseTime(QStringView s) {
  static const QRegularExpression kTime(
      QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:[.:](\\d{1,7}))?)?\\s*([AaPp][Mm])?$"));
  if (s.trimmed().isEmpty()) return QTime(0, 0);
  const auto m = kTime.match(s.trimmed().toString());
  if (!m.hasMatch()) return std::nullopt;
  int hour = m.captured(1).toInt();
  if (m.hasCaptured(5)) {
    if (hour < 1 || hour > 12) return std::nullopt;
    const bool pm = m.captured(5).toUpper() == QLatin1StringView("PM");
    hour = hour % 12 + (pm ? 12 : 0);
  }
  const int ms = m.hasCaptured(4) ? m.captured(4).left(3).leftJustified(3, u'0').toInt() : 0;
  const QTime time(hour, m.captured(2).toInt(), m.hasCaptured(3) ? m.captured(3).toInt() : 0, ms);
  if (!time.isValid()) return std::nullopt;
  return time;
}

int FullYear(int year, qsizetype digits) {
  if (digits > 2) return year;
  return year <= 49 ? 2000 + year : 1900 + year;  // SQL Server's two-digit year cutoff, 2049
}

// The form the suite stores, read as the functions read it on every row.
std::optional<QDateTime> ParseIso(QStringView s) {
  char bytes[40];
  if (s.size() > static_cast<qsizetype>(sizeof bytes)) return std::nullopt;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i].unicode() >= 0x80) return std::nullopt;
    bytes[i] = static_cast<char>(s[i].unicode());
  }
  const auto p = ReadFixedDateTime(std::string_view(bytes, static_cast<std::size_t>(s.size())));
  if (!p) return std::nullopt;
  return DateTimeOf(*p);
}

enum class Order { Ymd, Mdy, Dmy };

// A date in the given order with one separator, an optional time after it.
std::optional<QDateTime> ParseOrdered(QStringView s, Order order, QChar sep) {
  static const QString kSeparators = QStringLiteral("-/.");
  static const QRegularExpression kForms[] = {
      QRegularExpression(QStringLiteral("^(\\d{1,4})-(\\d{1,2})-(\\d{1,4})(?:[ T](.*))?$")),
      QRegularExpression(QStringLiteral("^(\\d{1,4})/(\\d{1,2})/(\\d{1,4})(?:[ T](.*))?$")),
      QRegularExpression(QStringLiteral("^(\\d{1,4})\\.(\\d{1,2})\\.(\\d{1,4})(?:[ T](.*))?$"))};
  const QRegularExpression& re = kForms[kSeparators.indexOf(sep)];
  const auto m = re.match(s.toString());
  if (!m.hasMatch()) return std::nullopt;
  int a = m.captured(1).toInt(), b = m.captured(2).toInt(), c = m.captured(3).toInt();
  int y, mo, d;
  switch (order) {
    case Order::Ymd:
      if (m.captured(1).size() < 4 && m.captured(3).size() > 2) return std::nullopt;
      y = FullYear(a, m.captured(1).size()), mo = b, d = c;
      break;
    case Order::Mdy:
      if (m.captured(1).size() > 2) return std::nullopt;
      y = FullYear(c, m.captured(3).size()), mo = a, d = b;
      break;
    case Order::Dmy:
      if (m.captured(1).size() > 2) return std::nullopt;
      y = FullYear(c, m.captured(3).size()), mo = b, d = a;
      break;
  }
  const QDate date(y, mo, d);
  const auto time = ParseTime(m.captured(4));
  if (!date.isValid() || !time) return std::nullopt;
  return Make(date, *time);
}

// yyyymmdd or yymmdd with an optional time.
std::optional<QDateTime> ParseUnseparated(QStringView s) {
  static const QRegularExpression kDigits(QStringLiteral("^(\\d{6}|\\d{8})(?:[ T](.*))?$"));
  const auto m = kDigits.match(s.toString());
  if (!m.hasMatch()) return std::nullopt;
  const QString d = m.captured(1);
  const int year = d.size() == 8 ? d.left(4).toInt() : FullYear(d.left(2).toInt(), 2);
  const QDate date(year, d.mid(d.size() - 4, 2).toInt(), d.right(2).toInt());
  const auto time = ParseTime(m.captured(2));
  if (!date.isValid() || !time) return std::nullopt;
  return Make(date, *time);
}

// "Jan 31 2024 1:05PM", "31 Jan 2024", "Jan 31, 2024".
std::optional<QDateTime> ParseMonthName(QStringView s) {
  static const QRegularExpression kMonthFirst(
      QStringLiteral("^([A-Za-z]{3,9})\\s+(\\d{1,2}),?\\s+(\\d{4})(?:\\s+(.*))?$"));
  static const QRegularExpression kDayFirst(
      QStringLiteral("^(\\d{1,2})\\s+([A-Za-z]{3,9})\\s+(\\d{4})(?:\\s+(.*))?$"));
  QString monthText, dayText, yearText, timeText;
  if (const auto m = kMonthFirst.match(s.toString()); m.hasMatch()) {
    monthText = m.captured(1), dayText = m.captured(2), yearText = m.captured(3),
    timeText = m.captured(4);
  } else if (const auto m2 = kDayFirst.match(s.toString()); m2.hasMatch()) {
    dayText = m2.captured(1), monthText = m2.captured(2), yearText = m2.captured(3),
    timeText = m2.captured(4);
  } else {
    return std::nullopt;
  }
  int month = 0;
  for (int i = 0; i < 12; ++i) {
    const QString name = MonthName(i + 1);
    if (monthText.compare(name, Qt::CaseInsensitive) == 0 ||
        monthText.compare(name.left(3), Qt::CaseInsensitive) == 0)
      month = i + 1;
  }
  const QDate date(yearText.toInt(), month, dayText.toInt());
  const auto time = ParseTime(timeText);
  if (month == 0 || !date.isValid() || !time) return std::nullopt;
  return Make(date, *time);
}

}  // namespace

std::optional<QDateTime> ParseTsqlDate(QStringView raw, int style) {
  const QStringView s = raw.trimmed();
  if (s.isEmpty())
    return Make(QDate(1900, 1, 1), QTime(0, 0));  // SQL Server reads '' as 1900-01-01
  if (style == 0 || style == 20 || style == 21 || style == 23 || style >= 120)
    if (auto v = ParseIso(s)) return v;
  switch (style % 100) {
    case 1:
    case 10:
      if (auto v = ParseOrdered(s, Order::Mdy, style % 100 == 1 ? u'/' : u'-')) return v;
      break;
    case 3:
      if (auto v = ParseOrdered(s, Order::Dmy, u'/')) return v;
      break;
    case 4:
      if (auto v = ParseOrdered(s, Order::Dmy, u'.')) return v;
      break;
    case 5:
      if (auto v = ParseOrdered(s, Order::Dmy, u'-')) return v;
      break;
    case 11:
      if (auto v = ParseOrdered(s, Order::Ymd, u'/')) return v;
      break;
    case 2:
      if (auto v = ParseOrdered(s, Order::Ymd, u'.')) return v;
      break;
    default:
      break;
  }
  if (auto v = ParseOrdered(s, Order::Ymd, u'-')) return v;
  if (auto v = ParseUnseparated(s)) return v;
  if (auto v = ParseOrdered(s, Order::Ymd, u'/')) return v;
  if (auto v = ParseOrdered(s, Order::Ymd, u'.')) return v;
  // us_english reads the other separated forms month first.
  if (auto v = ParseOrdered(s, Order::Mdy, u'/')) return v;
  if (auto v = ParseOrdered(s, Order::Mdy, u'-')) return v;
  if (auto v = ParseOrdered(s, Order::Mdy, u'.')) return v;
  if (auto v = ParseMonthName(s)) return v;
  if (s.contains(u':'))
    if (const auto time = ParseTime(s)) return Make(QDate(1900, 1, 1), *time);
  return std::nullopt;
}

QDateTime DateFromNumber(double days) {
  const double whole = std::floor(days);
  const qint64 ms = std::llround((days - whole) * 86400000.0);
  return Make(QDate(1900, 1, 1).addDays(static_cast<qint64>(whole)), QTime(0, 0)).addMSecs(ms);
}

DateTimeParts PartsOf(const QDateTime& v) {
  const QDate d = v.date();
  const QTime t = v.time();
  DateTimeParts p;
  p.year = d.year(), p.month = d.month(), p.day = d.day();
  p.hour = t.hour(), p.minute = t.minute(), p.second = t.second(), p.nanos = t.msec() * 1000000;
  return p;
}

QDateTime DateTimeOf(const DateTimeParts& p) {
  return Make(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.nanos / 1000000));
}

namespace {

void PutDigits(std::string& out, int value, int width) {
  char digits[12];
  int n = 0;
  for (unsigned v = static_cast<unsigned>(value < 0 ? -value : value); n < width || v; v /= 10)
    digits[n++] = static_cast<char>('0' + v % 10);
  while (n > 0) out += digits[--n];
}

}  // namespace

std::string DateTimeText(const DateTimeParts& p) {
  const int fields[] = {p.year, p.month, p.day, p.hour, p.minute, p.second, p.nanos / 1000000};
  const int widths[] = {4, 2, 2, 2, 2, 2, 3};
  const char separators[] = "-- ::.";
  std::string out;
  out.reserve(23);
  for (int i = 0; i < 7; ++i) {
    PutDigits(out, fields[i], widths[i]);
    if (i < 6) out += separators[i];
  }
  return out;
}

QString DateTimeText(const QDateTime& v) {
  return QString::fromLatin1(DateTimeText(PartsOf(v)));
}

std::optional<std::string> DateStyleText(const DateTimeParts& p, int style) {
  const bool century = style >= 100 || style == 0 || style == 20 || style == 21 || style == 23 ||
                       style == 126 || style == 127;
  std::string out;
  out.reserve(32);
  auto year = [&] { PutDigits(out, century ? p.year : p.year % 100, century ? 4 : 2); };
  auto two = [&](int v) { PutDigits(out, v, 2); };
  auto mon = [&] { out.append(kMonths[p.month - 1], 3); };
  auto hms = [&] {
    two(p.hour);
    out += ':';
    two(p.minute);
    out += ':';
    two(p.second);
  };
  auto ymd = [&](char sep) {
    year();
    if (sep) out += sep;
    two(p.month);
    if (sep) out += sep;
    two(p.day);
  };
  auto dmy = [&](char sep) {
    two(p.day);
    out += sep;
    two(p.month);
    out += sep;
    year();
  };
  auto dayPadded = [&] {
    out += p.day < 10 ? ' ' : static_cast<char>('0' + p.day / 10);
    out += static_cast<char>('0' + p.day % 10);
  };
  auto ampm = [&](bool seconds) {
    const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    out += h12 < 10 ? ' ' : '1';
    out += static_cast<char>('0' + h12 % 10);
    out += ':';
    two(p.minute);
    if (seconds) {
      out += ':';
      two(p.second);
      out += ':';
      PutDigits(out, p.nanos / 1000000, 3);
    }
    out += p.hour < 12 ? "AM" : "PM";
  };
  switch (style) {
    case 0:
    case 100:
    case 9:
    case 109:
      mon();
      out += ' ';
      dayPadded();
      out += ' ';
      year();
      out += ' ';
      ampm(style % 100 == 9);
      break;
    case 1:
    case 101:
      two(p.month);
      out += '/';
      two(p.day);
      out += '/';
      year();
      break;
    case 2:
    case 102:
      ymd('.');
      break;
    case 3:
    case 103:
      dmy('/');
      break;
    case 4:
    case 104:
      dmy('.');
      break;
    case 5:
    case 105:
      dmy('-');
      break;
    case 6:
    case 106:
      two(p.day);
      out += ' ';
      mon();
      out += ' ';
      year();
      break;
    case 7:
    case 107:
      mon();
      out += ' ';
      two(p.day);
      out += ", ";
      year();
      break;
    case 8:
    case 108:
      hms();
      break;
    case 10:
    case 110:
      two(p.month);
      out += '-';
      two(p.day);
      out += '-';
      year();
      break;
    case 11:
    case 111:
      ymd('/');
      break;
    case 12:
    case 112:
      ymd(0);
      break;
    case 20:
    case 120:
      ymd('-');
      out += ' ';
      hms();
      break;
    case 21:
    case 121:
      return DateTimeText(p);
    case 23:
      ymd('-');
      break;
    case 126:
    case 127:
      ymd('-');
      out += 'T';
      hms();
      if (p.nanos / 1000000 != 0) {
        out += '.';
        PutDigits(out, p.nanos / 1000000, 3);
      }
      break;
    default:
      return std::nullopt;
  }
  return out;
}

std::optional<QString> DateStyleText(const QDateTime& v, int style) {
  const auto text = DateStyleText(PartsOf(v), style);
  if (!text) return std::nullopt;
  return QString::fromLatin1(*text);
}

std::optional<DatePattern> CompileDatePattern(const QString& pattern) {
  QString p = pattern;
  if (p.size() == 1) {
    switch (p[0].unicode()) {
      case 'd':
        p = QStringLiteral("M/d/yyyy");
        break;
      case 'D':
        p = QStringLiteral("dddd, MMMM d, yyyy");
        break;
      case 't':
        p = QStringLiteral("h:mm tt");
        break;
      case 'T':
        p = QStringLiteral("h:mm:ss tt");
        break;
      case 'g':
        p = QStringLiteral("M/d/yyyy h:mm tt");
        break;
      case 'G':
        p = QStringLiteral("M/d/yyyy h:mm:ss tt");
        break;
      case 's':
        p = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
        break;
      case 'M':
      case 'm':
        p = QStringLiteral("MMMM d");
        break;
      case 'Y':
      case 'y':
        p = QStringLiteral("MMMM yyyy");
        break;
      default:
        return std::nullopt;
    }
  }
  DatePattern compiled;
  auto literal = [&](const QString& text) {
    if (!compiled.pieces.empty() && compiled.pieces.back().letter == 0)
      compiled.pieces.back().literal += text;
    else
      compiled.pieces.push_back({0, 0, text});
  };
  for (qsizetype i = 0; i < p.size();) {
    const QChar c = p[i];
    qsizetype run = 1;
    while (i + run < p.size() && p[i + run] == c) ++run;
    switch (c.unicode()) {
      case 'd':
      case 'M':
      case 'y':
      case 'h':
      case 'H':
      case 'm':
      case 's':
      case 't':
        compiled.pieces.push_back({c.unicode(), static_cast<int>(run), {}});
        break;
      case 'f':
      case 'F':
        if (run > 7) return std::nullopt;
        compiled.pieces.push_back({c.unicode(), static_cast<int>(run), {}});
        break;
      case 'z':
      case 'K':
      case 'g':
        return std::nullopt;  // time zones and eras: not kept by the suite's dates
      case '\'':
      case '"': {
        const qsizetype close = p.indexOf(c, i + 1);
        if (close < 0) return std::nullopt;
        literal(p.mid(i + 1, close - i - 1));
        run = close - i + 1;
        break;
      }
      case '\\':
        if (i + 1 < p.size()) literal(QString(p[i + 1]));
        run = 2;
        break;
      case '%':
        run = 1;  // marks a one-letter custom pattern
        break;
      default:
        literal(QString(run, c));
        break;
    }
    i += run;
  }
  return compiled;
}

QString ApplyDatePattern(const DatePattern& pattern, const QDateTime& v) {
  const QDate d = v.date();
  const QTime t = v.time();
  QString out;
  for (const DatePattern::Piece& piece : pattern.pieces) {
    const int run = piece.run;
    switch (piece.letter) {
      case 0:
        out += piece.literal;
        break;
      case 'd':
        out += run == 1   ? QString::number(d.day())
               : run == 2 ? Two(d.day())
               : run == 3 ? DayName(d.dayOfWeek()).left(3)
                          : DayName(d.dayOfWeek());
        break;
      case 'M':
        out += run == 1   ? QString::number(d.month())
               : run == 2 ? Two(d.month())
               : run == 3 ? MonthName(d.month()).left(3)
                          : MonthName(d.month());
        break;
      case 'y':
        out += run == 1   ? QString::number(d.year() % 100)
               : run == 2 ? Two(d.year() % 100)
                          : QStringLiteral("%1").arg(d.year(), run, 10, QLatin1Char('0'));
        break;
      case 'h': {
        const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
        out += run == 1 ? QString::number(h12) : Two(h12);
        break;
      }
      case 'H':
        out += run == 1 ? QString::number(t.hour()) : Two(t.hour());
        break;
      case 'm':
        out += run == 1 ? QString::number(t.minute()) : Two(t.minute());
        break;
      case 's':
        out += run == 1 ? QString::number(t.second()) : Two(t.second());
        break;
      case 'f':
      case 'F': {
        QString digits = QStringLiteral("%1")
                             .arg(t.msec(), 3, 10, QLatin1Char('0'))
                             .leftJustified(7, u'0')
                             .left(run);
        if (piece.letter == u'F') {
          while (digits.endsWith(u'0')) digits.chop(1);
          if (digits.isEmpty() && out.endsWith(u'.')) out.chop(1);
        }
        out += digits;
        break;
      }
      case 't':
        out += (t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM")).left(run == 1 ? 1 : 2);
        break;
      default:
        break;
    }
  }
  return out;
}

std::optional<QString> FormatDate(const QDateTime& v, const QString& pattern) {
  const auto compiled = CompileDatePattern(pattern);
  if (!compiled) return std::nullopt;
  return ApplyDatePattern(*compiled, v);
}

DecimalDigits RoundDecimal(double value, int decimals) {
  // 15 significant digits, as the runtime formats a double before rounding it for display.
  const QString e = QString::number(std::fabs(value), 'e', 14);  // d.dddddddddddddde±XX
  const qsizetype ePos = e.indexOf(u'e');
  QString digits = e.left(ePos).remove(u'.');
  const int exponent = e.mid(ePos + 1).toInt();
  // digits[0] has place value 10^exponent; keep places down to 10^-decimals.
  int pointAt = exponent + 1;  // digits before the point
  if (pointAt <= 0) {
    digits.prepend(QString(-pointAt, u'0'));
    pointAt = 0;
  }
  const qsizetype keep = pointAt + decimals;
  if (digits.size() < keep) digits += QString(keep - digits.size(), u'0');
  const bool up = digits.size() > keep && digits[keep] >= u'5';
  digits.truncate(keep);
  if (up) {
    qsizetype i = digits.size() - 1;
    for (; i >= 0; --i) {
      if (digits[i] == u'9') {
        digits[i] = u'0';
      } else {
        digits[i] = QChar(digits[i].unicode() + 1);
        break;
      }
    }
    if (i < 0) {
      digits.prepend(u'1');
      ++pointAt;
    }
  }
  DecimalDigits r;
  r.whole = digits.left(pointAt);
  while (r.whole.size() > 1 && r.whole.startsWith(u'0')) r.whole.remove(0, 1);
  if (r.whole.isEmpty()) r.whole = QStringLiteral("0");
  r.fraction = digits.mid(pointAt);
  return r;
}

namespace {

QString Grouped(const QString& whole) {
  QString out;
  for (qsizetype i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += u',';
    out += whole[i];
  }
  return out;
}

bool IsZero(const DecimalDigits& d) {
  return d.whole == u"0" && !d.fraction.contains(QRegularExpression(QStringLiteral("[1-9]")));
}

// One section of a custom numeric pattern such as "#,##0.00" or "0.0%".
std::optional<QString> CustomNumber(double value, const QString& section, bool withSign) {
  QString intPattern, fracPattern;
  bool inFraction = false, grouping = false;
  int percent = 0;
  QString literalPrefix, literalSuffix;
  bool seenDigit = false;
  for (qsizetype i = 0; i < section.size(); ++i) {
    const QChar c = section[i];
    if (c == u'0' || c == u'#') {
      (inFraction ? fracPattern : intPattern) += c;
      seenDigit = true;
    } else if (c == u'.' && !inFraction) {
      inFraction = true;
      seenDigit = true;
    } else if (c == u',' && !inFraction) {
      if (seenDigit) grouping = true;
    } else if (c == u'%') {
      ++percent;
      (seenDigit ? literalSuffix : literalPrefix) += c;
    } else if (c == u'\'' || c == u'"') {
      const qsizetype close = section.indexOf(c, i + 1);
      if (close < 0) return std::nullopt;
      (seenDigit ? literalSuffix : literalPrefix) += section.mid(i + 1, close - i - 1);
      i = close;
    } else if (c == u'\\' && i + 1 < section.size()) {
      (seenDigit ? literalSuffix : literalPrefix) += section[++i];
    } else if (c == u'E' || c == u'e' || c == u'\u2030') {
      return std::nullopt;
    } else {
      // A literal between digit placeholders ("000-0000") is not supported here.
      if (seenDigit && i + 1 < section.size() &&
          section.indexOf(QRegularExpression(QStringLiteral("[0#]")), i + 1) >= 0)
        return std::nullopt;
      (seenDigit ? literalSuffix : literalPrefix) += c;
    }
  }
  for (int k = 0; k < percent; ++k) value *= 100;
  const DecimalDigits d = RoundDecimal(value, static_cast<int>(fracPattern.size()));
  QString whole = d.whole == u"0" ? QString() : d.whole;
  const qsizetype minWhole =
      intPattern.count(u'0') > 0 ? intPattern.size() - intPattern.indexOf(u'0') : 0;
  if (whole.size() < minWhole) whole = QString(minWhole - whole.size(), u'0') + whole;
  if (grouping) whole = Grouped(whole);
  QString fraction = d.fraction;
  const qsizetype minFraction = fracPattern.lastIndexOf(u'0') + 1;
  while (fraction.size() > minFraction && fraction.endsWith(u'0')) fraction.chop(1);
  QString number = whole;
  if (!fraction.isEmpty()) number += u'.' + fraction;
  if (number.isEmpty()) number = QString();
  const bool negative = withSign && value < 0 && !IsZero(d);
  return (negative ? QStringLiteral("-") : QString()) + literalPrefix + number + literalSuffix;
}

}  // namespace

namespace {

// A letter and up to two digits: a standard pattern, never a custom one.
const QRegularExpression& StandardNumberPattern() {
  static const QRegularExpression kStandard(QStringLiteral("^([A-Za-z])(\\d{0,2})$"));
  return kStandard;
}

}  // namespace

bool IsUnknownStandardPattern(const QString& pattern, bool forDate) {
  if (forDate) {
    return pattern.size() == 1 && pattern[0].isLetter() &&
           !QStringLiteral("dDfFgGmMoOrRstTuUyY").contains(pattern[0]);
  }
  const auto m = StandardNumberPattern().match(pattern);
  return m.hasMatch() && !QStringLiteral("CDEFGNPRX").contains(m.captured(1)[0].toUpper());
}

std::optional<QString> FormatNumber(double value, bool integral, const QString& pattern) {
  if (const auto m = StandardNumberPattern().match(pattern); m.hasMatch()) {
    const QChar kind = m.captured(1)[0].toUpper();
    // Exponents, general and round-trip forms are not written here.
    if (!QStringLiteral("CDFNPX").contains(kind)) return std::nullopt;
    const bool given = !m.captured(2).isEmpty();
    const int precision = given ? m.captured(2).toInt() : (kind == u'D' || kind == u'X' ? 0 : 2);
    const bool negative = value < 0;
    if (kind == u'C' || kind == u'P') {
      // en-US as SQL Server's runtime has it: "$1,234.50", "($1,234.50)"; "12.50 %", "-12.50 %".
      const DecimalDigits d = RoundDecimal(kind == u'P' ? value * 100 : value, precision);
      QString text = Grouped(d.whole);
      if (precision > 0) text += u'.' + d.fraction;
      const bool shown = negative && !IsZero(d);
      if (kind == u'P')
        return (shown ? QStringLiteral("-") : QString()) + text + QStringLiteral(" %");
      return shown ? QStringLiteral("($%1)").arg(text) : u'$' + text;
    }
    if (kind == u'D' || kind == u'X') {
      if (!integral) return std::nullopt;  // integers only, as in .NET
      const qint64 n = static_cast<qint64>(value);
      QString digits = kind == u'D' ? QString::number(std::llabs(n))
                                    : QString::number(static_cast<quint64>(n), 16);
      if (m.captured(1) == u'X') digits = digits.toUpper();
      digits = digits.rightJustified(precision, u'0');
      return (kind == u'D' && negative ? QStringLiteral("-") : QString()) + digits;
    }
    const DecimalDigits d = RoundDecimal(value, precision);
    QString text = kind == u'N' ? Grouped(d.whole) : d.whole;
    if (precision > 0) text += u'.' + d.fraction;
    return (negative && !IsZero(d) ? QStringLiteral("-") : QString()) + text;
  }
  // Custom: positive;negative;zero sections.
  QStringList sections = pattern.split(u';');
  if (sections.size() > 3 || pattern.isEmpty()) return std::nullopt;
  if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty())
    return CustomNumber(-value, sections[1], false);
  if (value == 0 && sections.size() == 3) return CustomNumber(value, sections[2], false);
  return CustomNumber(value, sections[0], true);
}

}  // namespace qav::db::embedded
