#include "db/odbc/OdbcParams.h"

#include "db/odbc/OdbcError.h"

#include <sqlucode.h>

#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <limits>

namespace qav::db::odbc {

namespace {

// Longer values go as the long types, which every SQL Server driver sends as
// nvarchar(max)/varbinary(max)-compatible large values.
constexpr qsizetype kMaxInlineChars = 4000;
constexpr qsizetype kMaxInlineBytes = 8000;
constexpr qsizetype kOutputRoom = 8000;

bool FitsInt32(qint64 v) {
  return v >= std::numeric_limits<SQLINTEGER>::min() && v <= std::numeric_limits<SQLINTEGER>::max();
}

}  // namespace

void BoundParam::SetText(const QString& text, qsizetype roomChars) {
  cType = SQL_C_WCHAR;
  const qsizetype chars = std::max(text.size(), roomChars);
  sqlType = text.size() > kMaxInlineChars ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
  columnSize = static_cast<SQLULEN>(std::max<qsizetype>(text.size(), 1));
  // Room for a terminator, which drivers add to outputs.
  data.assign(static_cast<std::size_t>(chars + 1) * sizeof(char16_t), 0);
  std::memcpy(data.data(), text.utf16(), static_cast<std::size_t>(text.size()) * sizeof(char16_t));
  indicator = static_cast<SQLLEN>(text.size() * sizeof(char16_t));
}

void BoundParam::SetBinary(const QByteArray& bytes, qsizetype roomBytes) {
  cType = SQL_C_BINARY;
  const qsizetype size = std::max(bytes.size(), roomBytes);
  sqlType = bytes.size() > kMaxInlineBytes ? SQL_LONGVARBINARY : SQL_VARBINARY;
  columnSize = static_cast<SQLULEN>(std::max<qsizetype>(bytes.size(), 1));
  data.assign(static_cast<std::size_t>(std::max<qsizetype>(size, 1)), 0);
  std::memcpy(data.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
  indicator = static_cast<SQLLEN>(bytes.size());
}

void BoundParam::SetTimestamp(const QDateTime& value) {
  cType = SQL_C_TYPE_TIMESTAMP;
  sqlType = SQL_TYPE_TIMESTAMP;
  columnSize = 23;  // "yyyy-mm-dd hh:mm:ss.fff"
  digits = 3;
  const QDate d = value.date();
  const QTime t = value.time();
  scalar.timestamp = {
      static_cast<SQLSMALLINT>(d.year()),           static_cast<SQLUSMALLINT>(d.month()),
      static_cast<SQLUSMALLINT>(d.day()),           static_cast<SQLUSMALLINT>(t.hour()),
      static_cast<SQLUSMALLINT>(t.minute()),        static_cast<SQLUSMALLINT>(t.second()),
      static_cast<SQLUINTEGER>(t.msec()) * 1000000u};
  indicator = sizeof(SQL_TIMESTAMP_STRUCT);
}

void BoundParam::SetNull(TFieldType hint) {
  data.clear();
  if (IsIntegerType(hint)) {
    cType = hint == ftLargeint ? SQL_C_SBIGINT : SQL_C_SLONG;
    sqlType = hint == ftLargeint ? SQL_BIGINT : SQL_INTEGER;
  } else if (hint == ftBoolean) {
    cType = SQL_C_BIT;
    sqlType = SQL_BIT;
  } else if (IsFloatType(hint)) {
    cType = SQL_C_DOUBLE;
    sqlType = SQL_DOUBLE;
  } else if (IsDateTimeType(hint)) {
    cType = SQL_C_TYPE_TIMESTAMP;
    sqlType = SQL_TYPE_TIMESTAMP;
    columnSize = 23;
    digits = 3;
  } else if (IsBinaryType(hint)) {
    // SQL Server will not convert a varchar NULL into a binary column.
    cType = SQL_C_BINARY;
    sqlType = SQL_VARBINARY;
  } else {
    cType = SQL_C_CHAR;
    sqlType = SQL_VARCHAR;
  }
  indicator = SQL_NULL_DATA;
}

void BoundParam::SetInput(const QVariant& value, TFieldType hint) {
  io = SQL_PARAM_INPUT;
  if (value.isNull()) {
    TFieldType type = hint;
    // A typed null carries its kind even when the declared type is unknown.
    if (type == ftUnknown) {
      switch (value.typeId()) {
        case QMetaType::QByteArray:
          type = ftBlob;
          break;
        case QMetaType::QDateTime:
        case QMetaType::QDate:
          type = ftDateTime;
          break;
        default:
          break;
      }
    }
    SetNull(type);
    return;
  }
  switch (value.typeId()) {
    case QMetaType::Bool:
      cType = SQL_C_BIT;
      sqlType = SQL_BIT;
      scalar.bit = value.toBool() ? 1 : 0;
      indicator = sizeof(scalar.bit);
      return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::SChar:
    case QMetaType::UChar: {
      const qint64 v = value.toLongLong();
      // 32-bit values go as int, as the columns they meet usually are.
      if (FitsInt32(v)) {
        cType = SQL_C_SLONG;
        sqlType = SQL_INTEGER;
        scalar.i32 = static_cast<SQLINTEGER>(v);
        indicator = sizeof(scalar.i32);
      } else {
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        scalar.i64 = v;
        indicator = sizeof(scalar.i64);
      }
      return;
    }
    case QMetaType::Double:
    case QMetaType::Float:
      cType = SQL_C_DOUBLE;
      sqlType = SQL_DOUBLE;
      columnSize = 15;
      scalar.f64 = value.toDouble();
      indicator = sizeof(scalar.f64);
      return;
    case QMetaType::QByteArray:
      SetBinary(value.toByteArray(), 0);
      return;
    case QMetaType::QDateTime:
      SetTimestamp(value.toDateTime());
      return;
    case QMetaType::QDate:
      SetTimestamp(value.toDate().startOfDay(Qt::UTC));
      return;
    default:
      SetText(value.toString(), 0);
      return;
  }
}

void BoundParam::SetOutput(const QVariant& input, TFieldType type, bool sendsInput) {
  io = sendsInput ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_OUTPUT;
  const bool hasValue = sendsInput && !input.isNull();
  data.clear();
  if (IsIntegerType(type)) {
    if (type == ftLargeint) {
      cType = SQL_C_SBIGINT;
      sqlType = SQL_BIGINT;
      scalar.i64 = hasValue ? input.toLongLong() : 0;
    } else {
      cType = SQL_C_SLONG;
      sqlType = type == ftSmallint ? SQL_SMALLINT : SQL_INTEGER;
      scalar.i32 = hasValue ? static_cast<SQLINTEGER>(input.toLongLong()) : 0;
    }
    indicator = hasValue ? 0 : SQL_NULL_DATA;
  } else if (type == ftBoolean) {
    cType = SQL_C_BIT;
    sqlType = SQL_BIT;
    scalar.bit = hasValue && input.toBool() ? 1 : 0;
    indicator = hasValue ? 0 : SQL_NULL_DATA;
  } else if (IsFloatType(type)) {
    cType = SQL_C_DOUBLE;
    sqlType = SQL_DOUBLE;
    columnSize = 15;
    scalar.f64 = hasValue ? input.toDouble() : 0;
    indicator = hasValue ? 0 : SQL_NULL_DATA;
  } else if (IsDateTimeType(type)) {
    SetTimestamp(hasValue ? input.toDateTime()
                          : QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC));
  } else if (IsBinaryType(type)) {
    SetBinary(hasValue ? input.toByteArray() : QByteArray(), kOutputRoom);
    // The long types cannot be output parameters; the declared length is the buffer's.
    sqlType = SQL_VARBINARY;
    columnSize = static_cast<SQLULEN>(data.size());
  } else {
    SetText(hasValue ? input.toString() : QString(), kOutputRoom);
    // nvarchar(4000) is the widest declaration every server and driver takes without "max";
    // a longer in-out value declares its own length.
    sqlType = SQL_WVARCHAR;
    columnSize = std::max<SQLULEN>(kMaxInlineChars, columnSize);
  }
  if (!hasValue) indicator = SQL_NULL_DATA;
}

void BoundParam::BindTo(SQLHSTMT statement, SQLUSMALLINT number) {
  SQLPOINTER pointer = data.empty() ? static_cast<SQLPOINTER>(&scalar) : data.data();
  const SQLLEN length =
      data.empty() ? static_cast<SQLLEN>(sizeof(scalar)) : static_cast<SQLLEN>(data.size());
  Check(SQLBindParameter(statement, number, io, cType, sqlType, columnSize, digits, pointer, length,
                         &indicator),
        SQL_HANDLE_STMT, statement, "SQLBindParameter");
}

QVariant BoundParam::OutputValue() const {
  if (indicator == SQL_NULL_DATA) return {};
  switch (cType) {
    case SQL_C_SLONG:
      return QVariant::fromValue(static_cast<qint64>(scalar.i32));
    case SQL_C_SBIGINT:
      return QVariant::fromValue(scalar.i64);
    case SQL_C_BIT:
      return QVariant(scalar.bit != 0);
    case SQL_C_DOUBLE:
      return QVariant(scalar.f64);
    case SQL_C_TYPE_TIMESTAMP: {
      const auto& ts = scalar.timestamp;
      return QVariant(QDateTime(
          QDate(ts.year, ts.month, ts.day),
          QTime(ts.hour, ts.minute, ts.second, static_cast<int>(ts.fraction / 1000000u)), Qt::UTC));
    }
    case SQL_C_BINARY: {
      const auto size = std::min<std::size_t>(static_cast<std::size_t>(indicator), data.size());
      return QVariant(QByteArray(data.data(), static_cast<qsizetype>(size)));
    }
    case SQL_C_WCHAR: {
      // SQL_NO_TOTAL or a length beyond the buffer: the driver filled all it could.
      std::size_t bytes = indicator < 0 ? data.size() : static_cast<std::size_t>(indicator);
      bytes = std::min(bytes, data.size() - sizeof(char16_t));
      return QVariant(QString::fromUtf16(reinterpret_cast<const char16_t*>(data.data()),
                                         static_cast<qsizetype>(bytes / sizeof(char16_t))));
    }
    default:
      return {};
  }
}

}  // namespace qav::db::odbc
