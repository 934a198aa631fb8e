#include "app/db/odbc/OdbcConnection.h"

#include "app/db/Errors.h"

namespace qav::db {

std::unique_ptr<BackendConnection> OpenOdbc(const ConnectSettings&) {
  throw EDatabaseError(QStringLiteral("ODBC back end not built yet"));
}

}  // namespace qav::db
