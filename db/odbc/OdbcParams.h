#pragma once

#include "db/FieldTypes.h"

#include <sql.h>
#include <sqlext.h>

#include <QVariant>
#include <vector>

namespace qav::db::odbc {

// One bound "?" parameter and the memory the driver reads it from (and writes outputs
// into). The driver keeps the addresses until the statement is done, so a BoundParam must
// not move after BindTo: keep them in a vector sized once.
struct BoundParam {
  SQLSMALLINT io = SQL_PARAM_INPUT;
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 1;
  SQLSMALLINT digits = 0;
  union Scalar {
    SQLINTEGER i32;
    qint64 i64;
    double f64;
    unsigned char bit;
    SQL_TIMESTAMP_STRUCT timestamp;
  } scalar{};
  std::vector<char> data;  // text (UTF-16) and binary values, and output buffers for them
  SQLLEN indicator = SQL_NULL_DATA;

  // An input value, typed by the QVariant; a null value takes its SQL type from `hint`.
  void SetInput(const QVariant& value, TFieldType hint);
  // An output (or, with `sendsInput`, in-out) parameter typed by `type`, with room for
  // strings and binary values of 8000 characters or bytes, or the input's length if longer.
  void SetOutput(const QVariant& input, TFieldType type, bool sendsInput);

  void BindTo(SQLHSTMT statement, SQLUSMALLINT number);
  // The value an output parameter holds after the statement: qint64 for integers, bool,
  // double, QDateTime, QByteArray, QString; a null QVariant for NULL.
  QVariant OutputValue() const;

 private:
  void SetText(const QString& text, qsizetype roomChars);
  void SetBinary(const QByteArray& bytes, qsizetype roomBytes);
  void SetTimestamp(const QDateTime& value);
  void SetNull(TFieldType hint);
};

}  // namespace qav::db::odbc
