#include "db/odbc/OdbcError.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>

namespace qav::db::odbc {

namespace {

// The line of the batch that SQL Server sends with an error: a field of SQL Server's drivers
// (Microsoft's and FreeTDS's) whose header is not always installed.
#ifdef SQL_DIAG_SS_LINE
constexpr SQLSMALLINT kDiagServerLine = SQL_DIAG_SS_LINE;
#else
constexpr SQLSMALLINT kDiagServerLine = -1154;
#endif

QString FromSqlWChar(const SQLWCHAR* text, qsizetype length) {
  static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be UTF-16");
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace

std::vector<DiagRecord> ReadDiagRecords(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<DiagRecord> records;
  if (!handle) return records;
  std::vector<SQLWCHAR> buffer(SQL_MAX_MESSAGE_LENGTH + 1);
  for (SQLSMALLINT number = 1;; ++number) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state, &native, buffer.data(),
                                  static_cast<SQLSMALLINT>(buffer.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(buffer.size())) {
      // The message was cut: ask again with room for all of it.
      buffer.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLGetDiagRecW(handleType, handle, number, state, &native, buffer.data(),
                          static_cast<SQLSMALLINT>(buffer.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    length = std::min<SQLSMALLINT>(length, static_cast<SQLSMALLINT>(buffer.size() - 1));
    QString text = FromSqlWChar(buffer.data(), length);
    while (text.endsWith(u'\n') || text.endsWith(u'\r')) text.chop(1);
    // A 16-bit count, which the zeroed wider buffer reads right whichever width the driver
    // writes. FreeTDS refuses the SQL_IS_* length codes: the buffer's size goes instead.
    SQLINTEGER line = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagFieldW(handleType, handle, number, kDiagServerLine, &line,
                                        sizeof line, nullptr)))
      line = 0;
    records.push_back({FromSqlWChar(state, 5), static_cast<int>(native), std::move(text),
                       static_cast<int>(line & 0xFFFF)});
  }
  return records;
}

EDBEngineError MakeEngineError(const std::vector<DiagRecord>& records, const QString& action) {
  if (records.empty()) return EDBEngineError(QStringLiteral("%1 failed").arg(action));
  QStringList lines;
  std::vector<TDBError> errors;
  for (const DiagRecord& r : records) {
    lines << r.text;
    errors.push_back({r.nativeError, r.nativeError, r.state + u' ' + r.text, r.line});
  }
  return EDBEngineError(lines.join(u'\n'), std::move(errors));
}

void ThrowOdbcError(SQLSMALLINT handleType, SQLHANDLE handle, const QString& action) {
  throw MakeEngineError(ReadDiagRecords(handleType, handle), action);
}

}  // namespace qav::db::odbc
