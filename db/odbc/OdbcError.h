#pragma once

#include "db/Errors.h"

#include <sql.h>

#include <QString>
#include <QStringList>
#include <vector>

namespace qav::db::odbc {

// One diagnostic record of a handle.
struct DiagRecord {
  QString state;  // SQLSTATE, five characters
  int nativeError = 0;
  QString text;  // the driver's text, with its "[vendor][component]" prefixes
  int line = 0;  // the server's line of the batch, 0 when the driver names none
};

std::vector<DiagRecord> ReadDiagRecords(SQLSMALLINT handleType, SQLHANDLE handle);

// The error for a failed call: the message is the records' texts, one per line, so that the
// server's own words stay searchable; each record becomes one TDBError whose Message is the
// SQLSTATE, a blank and the text, and whose Line is the server's. `action` names the call and is
// the message when the driver left no record.
EDBEngineError MakeEngineError(const std::vector<DiagRecord>& records, const QString& action);

[[noreturn]] void ThrowOdbcError(SQLSMALLINT handleType, SQLHANDLE handle, const QString& action);

// Raises the handle's diagnostics unless `rc` reports success (with or without information).
inline void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* action) {
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(handleType, handle, QString::fromLatin1(action));
}

}  // namespace qav::db::odbc
