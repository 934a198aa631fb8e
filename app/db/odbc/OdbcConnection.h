#pragma once

#include "app/db/Backend.h"

namespace qav::db {

// Opens SQL Server through ODBC: the server name as SQL Server users write it (host,
// host,port or host\instance), user, password and database from the parameter list.
std::unique_ptr<BackendConnection> OpenOdbc(const ConnectSettings& settings);

}  // namespace qav::db
