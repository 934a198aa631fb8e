#pragma once

#include "db/Backend.h"
#include "db/embedded/EmbeddedSuite.h"

#include <functional>

namespace qav::db {

using embedded::IsEmbeddedServerName;

// How long a statement waits for a lock that another program holds on a database file before
// it fails ("database is locked"), and whom it tells while it waits: `waiting` is called about
// once a second with the whole seconds waited so far. Connections take what is set when they
// open.
struct LockWait {
  int timeoutMs = 5000;
  std::function<void(int seconds)> waiting;
};
void SetEmbeddedLockWait(LockWait wait);

// Opens database settings.database of the suite named by settings.server ("embedded:FOLDER").
// Raises EDBEngineError when the folder or the database does not exist.
std::unique_ptr<BackendConnection> OpenEmbedded(const ConnectSettings& settings);

}  // namespace qav::db
