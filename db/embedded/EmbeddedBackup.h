#pragma once

#include <QString>

namespace qav::db::embedded {

// BACKUP DATABASE for the embedded suite: writes a consistent copy of database `name` to
// `serverPath` on the suite's disk (MapServerPath), replacing the file there only once the copy
// is complete. Failures raise EDBEngineError with SQL Server's texts.
void BackupDatabase(const QString& folder, const QString& name, const QString& serverPath);

}  // namespace qav::db::embedded
