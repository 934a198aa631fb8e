#include "db/odbc/OdbcTypes.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <charconv>

namespace qav::db::odbc {

namespace {

// SQL Server's own type codes, from Microsoft's driver headers (not part of unixODBC's).
constexpr int kSsVariant = -150;
constexpr int kSsXml = -152;
constexpr int kSsTime2 = -154;

// Longest non-max length of char, varchar and binary columns.
constexpr qint64 kMaxInlineLength = 8000;

QString BaseTypeName(const QString& typeName) {
  // "int identity", "varchar(30)": the first word names the type.
  const QString t = typeName.trimmed().toLower();
  qsizetype end = 0;
  while (end < t.size() && t[end] != u' ' && t[end] != u'(') ++end;
  return t.left(end);
}

int DeclaredSize(qint64 columnSize) {
  return columnSize > 0 && columnSize <= kMaxInlineLength ? static_cast<int>(columnSize) : 0;
}

bool IsUnbounded(qint64 columnSize) {
  return columnSize <= 0 || columnSize > kMaxInlineLength;
}

}  // namespace

ColumnMapping MapColumn(int sqlType, qint64 columnSize, const QString& typeName) {
  const QString name = BaseTypeName(typeName);
  if (name == QLatin1String("money") || name == QLatin1String("smallmoney"))
    return {ftCurrency, 0, CellFetch::Decimal};
  if (name == QLatin1String("uniqueidentifier") || sqlType == SQL_GUID)
    return {ftString, 38, CellFetch::Guid};
  if (name == QLatin1String("image")) return {ftBlob, 0, CellFetch::Binary};
  if (name == QLatin1String("text") || name == QLatin1String("ntext") ||
      name == QLatin1String("xml") || sqlType == kSsXml)
    return {ftMemo, 0, CellFetch::Text};

  switch (sqlType) {
    case SQL_BIT:
      return {ftBoolean, 0, CellFetch::Integer};
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return {ftSmallint, 0, CellFetch::Integer};
    case SQL_INTEGER:
      return {ftInteger, 0, CellFetch::Integer};
    case SQL_BIGINT:
      return {ftLargeint, 0, CellFetch::Integer};
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return {ftFloat, 0, CellFetch::Double};
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return {ftBCD, 0, CellFetch::Decimal};
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return {ftDate, 0, CellFetch::DateTime};
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSsTime2:
      return {ftTime, 0, CellFetch::DateTime};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return {ftDateTime, 0, CellFetch::DateTime};
    case SQL_CHAR:
    case SQL_WCHAR:
      if (IsUnbounded(columnSize)) return {ftMemo, 0, CellFetch::Text};
      return {ftFixedChar, DeclaredSize(columnSize), CellFetch::Text};
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
      // varchar(max) and nvarchar(max) come as variable text without a usable length.
      if (IsUnbounded(columnSize)) return {ftMemo, 0, CellFetch::Text};
      return {ftString, DeclaredSize(columnSize), CellFetch::Text};
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return {ftMemo, 0, CellFetch::Text};
    case SQL_BINARY:
      if (IsUnbounded(columnSize)) return {ftBlob, 0, CellFetch::Binary};
      return {ftBytes, DeclaredSize(columnSize), CellFetch::Binary};
    case SQL_VARBINARY:
      if (IsUnbounded(columnSize)) return {ftBlob, 0, CellFetch::Binary};
      return {ftVarBytes, DeclaredSize(columnSize), CellFetch::Binary};
    case SQL_LONGVARBINARY:
      return {ftBlob, 0, CellFetch::Binary};
    case kSsVariant:
    default:
      // Whatever else the server sends (sql_variant, datetimeoffset, spatial types) is shown
      // as the driver's text for it.
      if (IsUnbounded(columnSize)) return {ftMemo, 0, CellFetch::Text};
      return {ftString, DeclaredSize(columnSize), CellFetch::Text};
  }
}

namespace {

// Reads exactly `count` digits at `pos`.
bool ReadDigits(std::u16string_view text, std::size_t& pos, int count, int& value) {
  if (pos + static_cast<std::size_t>(count) > text.size()) return false;
  value = 0;
  for (int i = 0; i < count; ++i) {
    const char16_t c = text[pos++];
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  return true;
}

bool ReadChar(std::u16string_view text, std::size_t& pos, char16_t expected) {
  if (pos >= text.size() || text[pos] != expected) return false;
  ++pos;
  return true;
}

bool ReadTime(std::u16string_view text, std::size_t& pos, QTime& time) {
  int h = 0, m = 0, s = 0;
  if (!ReadDigits(text, pos, 2, h) || !ReadChar(text, pos, u':') || !ReadDigits(text, pos, 2, m))
    return false;
  if (ReadChar(text, pos, u':') && !ReadDigits(text, pos, 2, s)) return false;
  int msec = 0;
  if (ReadChar(text, pos, u'.')) {
    // Up to nine digits; the first four decide the rounded milliseconds.
    int digits = 0;
    int tenthsOfMsec = 0;
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
      if (digits < 4) tenthsOfMsec = tenthsOfMsec * 10 + (text[pos] - u'0');
      ++digits;
      ++pos;
    }
    if (digits == 0 || digits > 9) return false;
    for (int d = digits; d < 4; ++d) tenthsOfMsec *= 10;
    msec = std::min((tenthsOfMsec + 5) / 10, 999);
  }
  time = QTime(h, m, s, msec);
  return time.isValid();
}

}  // namespace

std::optional<TDateTime> ParseOdbcDateTime(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  std::size_t pos = 0;
  QDate date(1899, 12, 30);
  QTime time(0, 0);
  if (text.size() >= 3 && text[2] == u':') {
    if (!ReadTime(text, pos, time)) return std::nullopt;
  } else {
    int y = 0, mo = 0, d = 0;
    if (!ReadDigits(text, pos, 4, y) || !ReadChar(text, pos, u'-') ||
        !ReadDigits(text, pos, 2, mo) || !ReadChar(text, pos, u'-') || !ReadDigits(text, pos, 2, d))
      return std::nullopt;
    date = QDate(y, mo, d);
    if (!date.isValid()) return std::nullopt;
    if (pos < text.size()) {
      if (text[pos] != u' ' && text[pos] != u'T') return std::nullopt;
      ++pos;
      if (!ReadTime(text, pos, time)) return std::nullopt;
    }
  }
  if (pos != text.size()) return std::nullopt;
  return EncodeDateTime(date, time);
}

std::optional<double> ParseOdbcNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void AppendUtf8(std::u16string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

}  // namespace qav::db::odbc
