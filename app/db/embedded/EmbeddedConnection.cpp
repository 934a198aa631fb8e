#include "app/db/embedded/EmbeddedConnection.h"

#include "app/db/Errors.h"

namespace qav::db {

std::unique_ptr<BackendConnection> OpenEmbedded(const ConnectSettings&) {
  throw EDatabaseError(QStringLiteral("embedded back end not built yet"));
}

}  // namespace qav::db
