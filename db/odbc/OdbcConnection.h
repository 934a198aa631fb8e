#pragma once

#include "db/Backend.h"

namespace qav::db {

// Opens SQL Server through ODBC: the server name as SQL Server users write it (host,
// host,port or host\instance), user, password and database from the parameter list.
// FreeTDS is the driver outside Windows, Microsoft's driver on Windows; the environment
// variable QAV_ODBC_DRIVER names another driver (a registered name or a library path).
std::unique_ptr<BackendConnection> OpenOdbc(const ConnectSettings& settings);

// Opens any ODBC connection string as given; lets tests and tools reach other drivers.
std::unique_ptr<BackendConnection> OpenOdbcConnectionString(const QString& connectionString);

namespace odbc {

// The ODBC call escape for a stored procedure: "{? = call NAME(?, ?)}" when one argument is
// the result (it is bound first), else "{call NAME(?, ?)}"; no parentheses without arguments.
QString ProcCallText(const QString& name, const std::vector<ProcArg>& args);

}  // namespace odbc

}  // namespace qav::db
