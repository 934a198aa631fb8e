#include "db/embedded/SqliteResult.h"

#include "db/embedded/TsqlRewriter.h"

#include <sqlite3.h>
#include <QDateTime>
#include <cmath>
#include <cstring>
#include <limits>

namespace qav::db::embedded {

namespace {

struct ParsedDecl {
  std::string base;  // lower case, single blanks: "varchar", "double precision"
  int size = 0;      // the first number in parentheses
  int second = -1;   // the second one, -1 when there is none
  bool max = false;  // (max)
};

ParsedDecl ParseDecl(std::string_view text) {
  ParsedDecl d;
  std::size_t i = 0;
  for (; i < text.size() && text[i] != '('; ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!d.base.empty() && d.base.back() != ' ') d.base += ' ';
    } else {
      d.base += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
  }
  while (!d.base.empty() && d.base.back() == ' ') d.base.pop_back();
  if (i < text.size()) {
    std::size_t j = i + 1;
    while (j < text.size() && text[j] == ' ') ++j;
    if (text.size() - j >= 3 && (text[j] | 0x20) == 'm' && (text[j + 1] | 0x20) == 'a' &&
        (text[j + 2] | 0x20) == 'x')
      d.max = true;
    for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j)
      d.size = std::min(d.size * 10 + (text[j] - '0'), 1 << 30);
    while (j < text.size() && text[j] == ' ') ++j;
    if (j < text.size() && text[j] == ',') {
      for (++j; j < text.size() && text[j] == ' '; ++j) {
      }
      if (j < text.size() && text[j] >= '0' && text[j] <= '9') d.second = 0;
      for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j)
        d.second = std::min(d.second * 10 + (text[j] - '0'), 1 << 30);
    }
  }
  return d;
}

bool In(const std::string& base, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (base == n) return true;
  return false;
}

qint64 CharCount(const unsigned char* text, int bytes) {
  qint64 chars = 0;
  for (int i = 0; i < bytes; ++i) chars += (text[i] & 0xC0) != 0x80;
  return chars;
}

int DecimalWidth(qint64 v) {
  int width = v < 0 ? 2 : 1;
  for (quint64 u = v < 0 ? 0 - static_cast<quint64>(v) : static_cast<quint64>(v); u >= 10; u /= 10)
    ++width;
  return width;
}

bool FitsInt32(qint64 lo, qint64 hi) {
  return lo >= std::numeric_limits<qint32>::min() && hi <= std::numeric_limits<qint32>::max();
}

// The type without the national mark.
DeclaredType ParseDeclaredBase(std::string_view declared) {
  const ParsedDecl d = ParseDecl(declared);
  const std::string& b = d.base;
  if (In(b, {"int", "integer", "int4", "mediumint"})) return {ftInteger, 0};
  if (In(b, {"smallint", "tinyint", "int2"})) return {ftSmallint, 0};
  if (In(b, {"bigint", "int8", "unsigned big int"})) return {ftLargeint, 0};
  if (In(b, {"bit", "bool", "boolean"})) return {ftBoolean, 0};
  if (In(b, {"money", "smallmoney"})) return {ftCurrency, 0};
  if (In(b, {"decimal", "numeric"})) {
    // decimal(p) is decimal(p, 0), as on SQL Server; a bare "decimal" says nothing here, for
    // the engine may hold any value in it.
    DeclaredType t{ftBCD, 0};
    t.precision = d.size;
    t.scale = d.size > 0 && d.second > 0 ? d.second : 0;
    return t;
  }
  if (In(b, {"float", "real", "double", "double precision"})) return {ftFloat, 0};
  if (b == "date") return {ftDate, 0};
  if (b == "time") return {ftTime, 0};
  if (In(b, {"datetime", "smalldatetime", "datetime2", "datetimeoffset"})) return {ftDateTime, 0};
  if (In(b, {"char", "nchar", "character", "native character"})) return {ftFixedChar, d.size};
  if (In(b, {"varchar", "nvarchar", "character varying", "varying character", "uniqueidentifier"}))
    return {d.max ? ftMemo : ftString, d.max ? 0 : d.size};
  if (In(b, {"text", "ntext", "clob"})) return {ftMemo, 0};
  if (b == "binary") return {ftBytes, d.size > 0 ? d.size : 1};
  if (b == "varbinary")
    return d.size > 0 ? DeclaredType{ftVarBytes, d.size} : DeclaredType{ftBlob, 0};
  if (In(b, {"image", "blob"})) return {ftBlob, 0};
  return {};
}

}  // namespace

DeclaredType ParseDeclaredType(std::string_view declared) {
  DeclaredType t = ParseDeclaredBase(declared);
  t.national = In(ParseDecl(declared).base, {"nchar", "nvarchar", "ntext"});
  return t;
}

QString DeclaredTypeName(std::string_view declared) {
  return QString::fromStdString(ParseDecl(declared).base);
}

int DeclaredTypeLength(std::string_view declared) {
  const ParsedDecl d = ParseDecl(declared);
  const std::string& b = d.base;
  if (In(b, {"int", "integer", "int4", "mediumint", "real", "smallmoney", "smalldatetime"}))
    return 4;
  if (In(b, {"smallint", "int2"})) return 2;
  if (In(b, {"tinyint", "bit", "bool", "boolean"})) return 1;
  if (In(b, {"bigint", "int8", "money", "float", "double", "double precision", "datetime",
             "datetime2"}))
    return 8;
  if (In(b, {"decimal", "numeric"})) return 9;
  if (b == "date") return 3;
  if (b == "time") return 5;
  if (b == "uniqueidentifier") return 16;
  if (In(b, {"char", "varchar", "character", "binary", "varbinary"}))
    return d.max ? -1 : std::max(d.size, 1);
  if (In(b, {"nchar", "nvarchar"})) return d.max ? -1 : 2 * std::max(d.size, 1);
  if (In(b, {"text", "ntext", "image", "blob", "clob"})) return 16;
  return 0;
}

std::optional<TDateTime> ParseDateText(std::string_view s) {
  if (s.empty()) return std::nullopt;
  if (auto parts = ReadFixedDateTime(s)) {
    // Rounded to the millisecond the value holds, short of the next second.
    parts->nanos = std::min((parts->nanos + 500000) / 1000000, 999) * 1000000;
    return parts->Encode();
  }
  return ParseIsoDateTime(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
}

ResultBuilder::ResultBuilder(sqlite3_stmt* stmt) : stmt_(stmt) {
  const int count = sqlite3_column_count(stmt);
  columns_.resize(static_cast<std::size_t>(count));
  std::vector<ComputedType> computed;
  if (const char* sql = sqlite3_sql(stmt)) {
    computed = ComputedColumnTypes(QString::fromUtf8(sql));
    if (computed.size() != static_cast<std::size_t>(count)) computed.clear();
  }
  for (int i = 0; i < count; ++i) {
    Column& c = columns_[static_cast<std::size_t>(i)];
    c.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
    if (const char* decl = sqlite3_column_decltype(stmt, i)) {
      c.declared = ParseDeclaredType(decl);
    } else if (!computed.empty()) {
      const ComputedType& type = computed[static_cast<std::size_t>(i)];
      c.declared = ParseDeclaredType(type.declared.toStdString());
      c.datesWhenText = type.datesWhenText;
    }
    if (IsFloatType(c.declared.type))
      c.target = Target::Float;
    else if (IsDateTimeType(c.declared.type) || c.datesWhenText)
      c.target = Target::Date;
  }
  result_ = std::make_unique<ResultSet>();
  result_->rows = RowStore(count);
}

void ResultBuilder::AddRow() {
  AddRow(result_->rows);
}

void ResultBuilder::AddRow(RowStore& rows) {
  rows.AddRow();
  const int count = static_cast<int>(columns_.size());
  for (int i = 0; i < count; ++i) {
    Column& c = columns_[static_cast<std::size_t>(i)];
    switch (sqlite3_column_type(stmt_, i)) {
      case SQLITE_INTEGER: {
        const qint64 v = sqlite3_column_int64(stmt_, i);
        if (!c.sawInt) {
          c.minInt = c.maxInt = v;
          c.sawInt = true;
        } else if (v < c.minInt) {
          c.minInt = v;
        } else if (v > c.maxInt) {
          c.maxInt = v;
        }
        if (c.target == Target::Float)
          rows.SetFloat(i, static_cast<double>(v));
        else
          rows.SetInt(i, v);
        break;
      }
      case SQLITE_FLOAT:
        c.sawReal = true;
        rows.SetFloat(i, sqlite3_column_double(stmt_, i));
        break;
      case SQLITE_TEXT: {
        const unsigned char* text = sqlite3_column_text(stmt_, i);
        const int bytes = sqlite3_column_bytes(stmt_, i);
        const std::string_view view(reinterpret_cast<const char*>(text),
                                    static_cast<std::size_t>(bytes));
        c.sawText = true;
        if (c.target == Target::Date) {
          if (const auto value = ParseDateText(view)) {
            rows.SetFloat(i, *value);
            c.sawDate = true;
            break;
          }
        }
        // A text has no more characters than bytes, so only a longer one needs counting.
        if (bytes > c.maxChars) c.maxChars = std::max(c.maxChars, CharCount(text, bytes));
        rows.SetBytes(i, view);
        break;
      }
      case SQLITE_BLOB: {
        const int bytes = sqlite3_column_bytes(stmt_, i);
        const void* blob = sqlite3_column_blob(stmt_, i);
        c.sawBlob = true;
        c.maxBytes = std::max<qint64>(c.maxBytes, bytes);
        rows.SetBytes(
            i, std::string_view(static_cast<const char*>(blob), static_cast<std::size_t>(bytes)));
        break;
      }
      default:
        break;  // the new row's cells start out null
    }
  }
}

std::unique_ptr<ResultSet> ResultBuilder::Finish() {
  result_->fields.reserve(columns_.size());
  for (Column& c : columns_) {
    FieldDef f{c.name,           c.declared.type,    c.declared.size, c.declared.precision,
               c.declared.scale, c.declared.national};
    if (c.datesWhenText) {
      // Nothing but NULL so far reads as the date-times such a column mostly holds; the rows
      // after these keep the kind chosen here.
      if (!c.sawInt && !c.sawReal && (c.sawDate || !c.sawText))
        f.type = ftDateTime;
      else
        c.target = Target::Native;
    }
    const int longest = static_cast<int>(std::min<qint64>(c.maxChars, 1 << 30));
    switch (f.type) {
      case ftUnknown:
        if (c.sawBlob) {
          f.type = ftBlob;
        } else if (c.sawText) {
          f.type = ftString;
          int width = longest;
          if (c.sawInt) width = std::max({width, DecimalWidth(c.minInt), DecimalWidth(c.maxInt)});
          if (c.sawReal) width = std::max(width, 24);
          f.size = std::max(width, 1);
        } else if (c.sawReal) {
          f.type = ftFloat;
        } else if (c.sawInt) {
          f.type = FitsInt32(c.minInt, c.maxInt) ? ftInteger : ftLargeint;
        } else {
          f.type = ftString;
          f.size = 1;
        }
        break;
      // A value beyond the declared range (SQLite does not enforce it) widens the field rather
      // than failing or wrapping when read.
      case ftSmallint:
        if (c.sawInt && (c.minInt < -32768 || c.maxInt > 32767))
          f.type = FitsInt32(c.minInt, c.maxInt) ? ftInteger : ftLargeint;
        break;
      case ftInteger:
        if (c.sawInt && !FitsInt32(c.minInt, c.maxInt)) f.type = ftLargeint;
        break;
      case ftString:
      case ftFixedChar:
        f.size = std::max({f.size, longest, 1});
        break;
      case ftBytes:
      case ftVarBytes:
        f.size = std::max(f.size, static_cast<int>(std::min<qint64>(c.maxBytes, 1 << 30)));
        break;
      default:
        break;
    }
    result_->fields.push_back(std::move(f));
  }
  return std::move(result_);
}

int BindValue(sqlite3_stmt* stmt, int index, const QVariant& value) {
  if (value.isNull()) return sqlite3_bind_null(stmt, index);
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      return sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
      return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
      const qulonglong v = value.toULongLong();
      if (v > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
        return sqlite3_bind_double(stmt, index, static_cast<double>(v));
      return sqlite3_bind_int64(stmt, index, static_cast<qint64>(v));
    }
    case QMetaType::Double:
    case QMetaType::Float:
      return sqlite3_bind_double(stmt, index, value.toDouble());
    case QMetaType::QByteArray: {
      const QByteArray bytes = value.toByteArray();
      return sqlite3_bind_blob64(stmt, index, bytes.constData(),
                                 static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QDateTime: {
      const QDateTime dt = value.toDateTime();
      const QByteArray text =
          dt.toString(dt.time().msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                       : QStringLiteral("yyyy-MM-dd HH:mm:ss"))
              .toUtf8();
      return sqlite3_bind_text64(stmt, index, text.constData(),
                                 static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
    case QMetaType::QDate: {
      const QByteArray text = value.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
      return sqlite3_bind_text64(stmt, index, text.constData(),
                                 static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
    case QMetaType::QTime: {
      const QTime t = value.toTime();
      const QByteArray text =
          t.toString(t.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"))
              .toUtf8();
      return sqlite3_bind_text64(stmt, index, text.constData(),
                                 static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
    default: {
      const QByteArray text = value.toString().toUtf8();
      return sqlite3_bind_text64(stmt, index, text.constData(),
                                 static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
  }
}

QVariant ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return QVariant::fromValue<qint64>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT:
      return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                               sqlite3_column_bytes(stmt, column));
    case SQLITE_BLOB:
      return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                        sqlite3_column_bytes(stmt, column));
    default:
      return {};
  }
}

QVariant ConvertForType(const QVariant& value, TFieldType type) {
  if (value.isNull() || type == ftUnknown) return value;
  const int id = value.metaType().id();
  const bool isText = id == QMetaType::QString;
  if (IsIntegerType(type)) {
    if (id == QMetaType::Double) {
      const double v = std::round(value.toDouble());
      if (std::fabs(v) < 9.2e18) return QVariant::fromValue(static_cast<qint64>(v));
      return value;
    }
    bool ok = true;
    const qint64 v = isText ? value.toString().trimmed().toLongLong(&ok) : value.toLongLong(&ok);
    return ok ? QVariant::fromValue(v) : value;
  }
  if (type == ftBoolean) {
    if (isText) {
      const QString t = value.toString().trimmed();
      if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
      if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
      bool ok = false;
      const double v = t.toDouble(&ok);
      return ok ? QVariant(v != 0) : value;
    }
    return value.toDouble() != 0;
  }
  if (IsFloatType(type)) {
    bool ok = true;
    const double v = isText ? value.toString().trimmed().toDouble(&ok) : value.toDouble(&ok);
    return ok ? QVariant(v) : value;
  }
  if (IsDateTimeType(type)) {
    if (isText) {
      if (const auto v = ParseIsoDateTime(value.toString())) return DecodeDateTime(*v);
      return value;
    }
    if (id == QMetaType::Double || id == QMetaType::LongLong)
      return DecodeDateTime(value.toDouble());
    return value;
  }
  if (IsTextType(type)) {
    if (id == QMetaType::Double) return QString::number(value.toDouble(), 'g', 15);
    if (id == QMetaType::QByteArray) return QString::fromUtf8(value.toByteArray());
    return value.toString();
  }
  if (IsBinaryType(type))
    return isText ? QVariant(value.toString().toUtf8()) : QVariant(value.toByteArray());
  return value;
}

}  // namespace qav::db::embedded
