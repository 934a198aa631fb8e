#pragma once

#include "db/Backend.h"
#include "db/embedded/EmbeddedSuite.h"

namespace qav::db {

using embedded::IsEmbeddedServerName;

// Opens database settings.database of the suite named by settings.server ("embedded:FOLDER").
// Raises EDBEngineError when the folder or the database does not exist.
std::unique_ptr<BackendConnection> OpenEmbedded(const ConnectSettings& settings);

}  // namespace qav::db
