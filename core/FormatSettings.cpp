#include "core/FormatSettings.h"

#include "core/Exception.h"

#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace qav {

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

namespace {

// Writes a number with at least `digits` digits at `out` (room for 12); its end. The runtime's
// formatting without printf, which would dominate an export of many dates.
char* NumberChars(char* out, int value, int digits) {
  if (value >= 0 && value < 100 && digits <= 2) {
    // Days, months and times: most of the numbers of a date.
    if (value >= 10 || digits == 2) *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
  }
  char buf[12];
  int n = 0;
  unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n < digits) buf[n++] = '0';
  if (value < 0) *out++ = '-';
  while (n) *out++ = buf[--n];
  return out;
}

void AppendNumber(QString& out, int value, int digits) {
  char buf[12];
  out += QLatin1StringView(buf, NumberChars(buf, value, digits) - buf);
}

// Where AppendDateTime writes: a QString, or ASCII bytes in a buffer of fixed room (a character
// beyond ASCII or a text beyond the room fails it).
struct TextOut {
  QString& text;
  void Number(int value, int digits) { AppendNumber(text, value, digits); }
  void Char(QChar c) { text += c; }
  void Text(const QString& s) { text += s; }
};

struct CharsOut {
  char* at;
  char* end;
  bool failed = false;
  void Number(int value, int digits) {
    if (end - at < 12)
      failed = true;
    else
      at = NumberChars(at, value, digits);
  }
  void Char(QChar c) {
    if (c.unicode() >= 0x80 || at == end)
      failed = true;
    else
      *at++ = static_cast<char>(c.unicode());
  }
  void Text(const QString& s) {
    for (QChar c : s) Char(c);
  }
  char* Result() const { return failed ? nullptr : at; }
};

// A date-time pattern read once into its parts: a field letter with its run length, a
// separator, or literal text.
struct PatternPart {
  enum Kind { Day, Month, Year, Hour, Minute, Second, DateSep, TimeSep, Literal } kind;
  qsizetype count = 1;
  QString literal;
};

std::vector<PatternPart> ParsePattern(const QString& pattern) {
  std::vector<PatternPart> parts;
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
    PatternPart part{PatternPart::Literal, 1, QString()};
    if (c == u'd' || c == u'm' || c == u'y' || c == u'h' || c == u'n' || c == u's') {
      n = run(c);
      part.count = n;
      // "m" right after an hour means minutes, as the runtime reads it.
      part.kind = c == u'd'   ? PatternPart::Day
                  : c == u'm' ? (lastWasHour ? PatternPart::Minute : PatternPart::Month)
                  : c == u'y' ? PatternPart::Year
                  : c == u'h' ? PatternPart::Hour
                  : c == u'n' ? PatternPart::Minute
                              : PatternPart::Second;
    } else if (c == u'/') {
      part.kind = PatternPart::DateSep;
    } else if (c == u':') {
      part.kind = PatternPart::TimeSep;
    } else if (c == u'"' || c == u'\'') {
      const qsizetype end = pattern.indexOf(pattern[i], i + 1);
      n = (end < 0 ? pattern.size() : end + 1) - i;
      part.literal = pattern.mid(i + 1, n - 2 < 0 ? 0 : n - 2);
    } else {
      part.literal = pattern[i];
    }
    parts.push_back(std::move(part));
    if (c != u' ' && c != u':') lastWasHour = (c == u'h');
    i += n;
  }
  return parts;
}

// The last patterns used, parsed: an export formats every date with the same one or two.
const std::vector<PatternPart>& Parsed(const QString& pattern) {
  struct Entry {
    QString pattern;
    std::vector<PatternPart> parts;
    bool used = false;
  };
  thread_local Entry cache[2];
  thread_local int next = 0;
  for (Entry& e : cache)
    if (e.used && e.pattern == pattern) return e.parts;
  Entry& e = cache[next];
  next ^= 1;
  e.pattern = pattern;
  e.parts = ParsePattern(pattern);
  e.used = true;
  return e.parts;
}

template <class Out>
void AppendDateTime(Out& out, const QString& pattern, const TDateFields& at,
                    const TFormatSettings& settings) {
  const int year = at.year, month = at.month, day = at.day;
  for (const PatternPart& part : Parsed(pattern)) {
    const int width = part.count >= 2 ? 2 : 1;
    switch (part.kind) {
      case PatternPart::Day:
        out.Number(day, width);
        break;
      case PatternPart::Month:
        out.Number(month, width);
        break;
      case PatternPart::Year:
        if (part.count <= 2)
          out.Number(year % 100, 2);
        else
          out.Number(year, 4);
        break;
      case PatternPart::Hour:
        out.Number(at.hour, width);
        break;
      case PatternPart::Minute:
        out.Number(at.minute, width);
        break;
      case PatternPart::Second:
        out.Number(at.second, width);
        break;
      case PatternPart::DateSep:
        out.Char(settings.DateSeparator);
        break;
      case PatternPart::TimeSep:
        out.Char(settings.TimeSeparator);
        break;
      case PatternPart::Literal:
        out.Text(part.literal);
        break;
    }
  }
}

}  // namespace

QString FormatDateTime(const QString& pattern, const QDateTime& value,
                       const TFormatSettings& settings) {
  return FormatDateTime(pattern, value.date(), value.time(), settings);
}

TDateFields TDateFields::Of(const QDate& date, const QTime& time) {
  TDateFields at;
  date.getDate(&at.year, &at.month, &at.day);
  at.hour = time.hour();
  at.minute = time.minute();
  at.second = time.second();
  at.msec = time.msec();
  return at;
}

QString FormatDateTime(const QString& pattern, const QDate& date, const QTime& time,
                       const TFormatSettings& settings) {
  return FormatDateTime(pattern, TDateFields::Of(date, time), settings);
}

QString FormatDateTime(const QString& pattern, const TDateFields& at,
                       const TFormatSettings& settings) {
  QString text;
  text.reserve(pattern.size() + 16);
  TextOut out{text};
  AppendDateTime(out, pattern, at, settings);
  return text;
}

char* FormatDateTimeChars(const QString& pattern, const TDateFields& at, char* out, char* end,
                          const TFormatSettings& settings) {
  CharsOut chars{out, end};
  AppendDateTime(chars, pattern, at, settings);
  return chars.Result();
}

namespace {

template <class Out>
void AppendDateAndTime(Out& out, const TDateFields& at, const TFormatSettings& settings) {
  AppendDateTime(out, settings.ShortDateFormat, at, settings);
  // A valid time other than midnight.
  if (at.hour >= 0 && (at.hour || at.minute || at.second || at.msec)) {
    out.Char(u' ');
    AppendDateTime(out, settings.LongTimeFormat, at, settings);
  }
}

}  // namespace

QString DateTimeToStr(const QDate& date, const QTime& time, const TFormatSettings& settings) {
  return DateTimeToStr(TDateFields::Of(date, time), settings);
}

QString DateTimeToStr(const TDateFields& at, const TFormatSettings& settings) {
  QString text;
  text.reserve(settings.ShortDateFormat.size() + settings.LongTimeFormat.size() + 16);
  TextOut out{text};
  AppendDateAndTime(out, at, settings);
  return text;
}

char* DateTimeToChars(const TDateFields& at, char* out, char* end,
                      const TFormatSettings& settings) {
  CharsOut chars{out, end};
  AppendDateAndTime(chars, at, settings);
  return chars.Result();
}

char* FloatToChars(double value, char* out) {
  const auto put = [&out](const char* text) {
    while (*text) *out++ = *text++;
    return out;
  };
  if (std::isnan(value)) return put("NAN");
  if (std::isinf(value)) return put(value > 0 ? "INF" : "-INF");
  if (value == 0) return put("0");
  // 15 significant digits, rounded once: "d.dddddddddddddde+XX". The shortest form that reads
  // back as the value is much quicker to find; when it has 15 digits or fewer it is that
  // rounding already (the value lies within half a unit of its last bit of it, far closer than
  // half a unit of the 15th digit), so the slower rounding is only needed for longer ones.
  char buf[40];
  auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  int shortest = 0;
  for (const char* q = buf; q < result.ptr && *q != 'e'; ++q) shortest += *q >= '0' && *q <= '9';
  if (shortest > 15)
    result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const char* p = buf;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digits[16];
  int count = 0;
  for (; p < result.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits[count++] = *p;
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), result.ptr, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;

  if (negative) *out++ = '-';
  if (exponent >= 15 || exponent < -5) {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      out = std::copy(digits + 1, digits + count, out);
    }
    *out++ = 'E';
    return std::to_chars(out, out + 8, exponent).ptr;
  }
  if (exponent >= 0) {
    const int whole = exponent + 1;
    for (int k = 0; k < whole; ++k) *out++ = k < count ? digits[k] : '0';
    if (count > whole) {
      *out++ = '.';
      out = std::copy(digits + whole, digits + count, out);
    }
    return out;
  }
  *out++ = '0';
  *out++ = '.';
  out = std::fill_n(out, -exponent - 1, '0');
  return std::copy(digits, digits + count, out);
}

char* CurrToChars(double value, char* out) {
  // The money type holds ten-thousandths in 64 bits; beyond that only the general form is left.
  if (!(std::fabs(value) < 9.0e14)) return FloatToChars(value, out);
  const qint64 scaled = std::llround(value * 10000.0);
  const quint64 magnitude =
      scaled < 0 ? 0 - static_cast<quint64>(scaled) : static_cast<quint64>(scaled);
  if (scaled < 0) *out++ = '-';
  out = std::to_chars(out, out + 24, magnitude / 10000).ptr;
  int fraction = static_cast<int>(magnitude % 10000);
  if (!fraction) return out;
  int digits = 4;
  while (fraction % 10 == 0) {
    fraction /= 10;
    --digits;
  }
  *out++ = '.';
  return NumberChars(out, fraction, digits);
}

namespace {

// A number's ASCII text with the settings' decimal separator in place of the point.
QString WithDecimalSeparator(const char* text, const char* end, const TFormatSettings& settings) {
  QString out = QString::fromLatin1(text, end - text);
  if (settings.DecimalSeparator != u'.') {
    const qsizetype point = out.indexOf(u'.');
    if (point >= 0) out[point] = settings.DecimalSeparator;
  }
  return out;
}

}  // namespace

QString FloatToStr(double value, const TFormatSettings& settings) {
  char buf[kNumberChars];
  return WithDecimalSeparator(buf, FloatToChars(value, buf), settings);
}

QString CurrToStr(double value, const TFormatSettings& settings) {
  char buf[kNumberChars];
  return WithDecimalSeparator(buf, CurrToChars(value, buf), settings);
}

bool TryStrToFloat(const QString& text, double& value, const TFormatSettings& settings) {
  const QString trimmed = text.trimmed();
  std::string ascii;
  ascii.reserve(static_cast<size_t>(trimmed.size()));
  bool digits = false, exponentDigits = false, point = false, exponent = false;
  for (qsizetype i = 0; i < trimmed.size(); ++i) {
    const QChar c = trimmed[i];
    if (c >= u'0' && c <= u'9') {
      (exponent ? exponentDigits : digits) = true;
      ascii += static_cast<char>(c.unicode());
    } else if ((c == u'+' || c == u'-') &&
               (i == 0 || (exponent && (trimmed[i - 1] == u'e' || trimmed[i - 1] == u'E')))) {
      if (c == u'-') ascii += '-';
    } else if (c == settings.DecimalSeparator && !point && !exponent) {
      point = true;
      ascii += '.';
    } else if ((c == u'e' || c == u'E') && digits && !exponent) {
      exponent = true;
      ascii += 'e';
    } else {
      return false;
    }
  }
  if (!digits || (exponent && !exponentDigits)) return false;
  double v = 0;
  const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
  if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size()) return false;
  value = v;
  return true;
}

double StrToFloat(const QString& text, const TFormatSettings& settings) {
  double value = 0;
  if (!TryStrToFloat(text, value, settings))
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
  return value;
}

int StrToInt(const QString& text) {
  // Anchored to the whole text: "$" alone would also match before a trailing line end.
  static const QRegularExpression kInteger(
      QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
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
  // Asking the clock is slow next to the rest; only a date without a full year needs it.
  int day = 0, month = 0, year = parts.size() == 2 ? QDate::currentDate().year() : 0;
  qsizetype p = 0;
  for (QChar field : order) {
    if (field == u'y' && parts.size() == 2) continue;  // a date without its year is this year's
    const QString& part = parts[p++];
    // One to four digits; dates of every exported cell come through here, so no pattern engine.
    if (part.isEmpty() || part.size() > 4 ||
        !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return fail();
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
