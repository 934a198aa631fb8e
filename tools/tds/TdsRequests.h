#pragma once

#include "tools/tds/TdsTypes.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qav::tds {

// The procedures a client names by number instead of by name.
enum class SpecialProc : std::uint16_t {
  None = 0,
  Cursor = 1,
  ExecuteSql = 10,  // sp_executesql
  Prepare = 11,     // sp_prepare
  Execute = 12,     // sp_execute
  PrepExec = 13,    // sp_prepexec
  PrepExecRpc = 14,
  Unprepare = 15,  // sp_unprepare
};

// Requests of TDS 7.2 and later begin with ALL_HEADERS; this skips them and returns the
// transaction descriptor they name (0 when none).
std::uint64_t SkipAllHeaders(Reader& r);

// The text of a SQL batch.
QString ParseSqlBatch(std::string_view message, bool allHeaders);

struct RpcParam {
  QString name;  // "@NAME", or empty when the client passes parameters by position
  bool output = false;
  TypeInfo type;
  QVariant value;
};

struct RpcCall {
  QString name;  // empty when `special` names the procedure
  SpecialProc special = SpecialProc::None;
  std::vector<RpcParam> params;
};

// Several calls may share one request. Names of the special procedures ("sp_executesql")
// are recognised as their numbers are.
std::vector<RpcCall> ParseRpc(std::string_view message, bool allHeaders);

enum class TransactionRequest : std::uint16_t {
  GetDtcAddress = 0,
  Propagate = 1,
  Begin = 5,
  Promote = 6,
  Commit = 7,
  Rollback = 8,
  Save = 9,
};

struct TransactionManagerCall {
  TransactionRequest type = TransactionRequest::Begin;
  QString name;
  bool beginAnother = false;  // commit or roll back, then start a new transaction
};

TransactionManagerCall ParseTransactionManager(std::string_view message);

}  // namespace qav::tds
