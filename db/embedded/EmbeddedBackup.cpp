#include "db/embedded/EmbeddedBackup.h"

#include "core/Exception.h"
#include "core/PartialFile.h"
#include "db/Errors.h"
#include "db/embedded/EmbeddedSuite.h"
#include "db/embedded/SqliteHandle.h"

#include <sqlite3.h>
#include <QFile>
#include <QFileInfo>

namespace qav::db::embedded {

namespace {

constexpr char kTerminated[] = "\nBACKUP DATABASE is terminating abnormally.";

[[noreturn]] void Fail(const QString& text, int code, const QString& detail = {}) {
  std::vector<TDBError> errors{{code, code & 0xff, text}};
  if (!detail.isEmpty()) errors.push_back({code, code & 0xff, detail});
  throw EDBEngineError(text, std::move(errors));
}

[[noreturn]] void FailDevice(const QString& serverPath, int osError, const char* osText,
                             const QString& detail = {}) {
  Fail(QStringLiteral("Cannot open backup device '%1'. Operating system error %2(%3).")
               .arg(serverPath, QString::number(osError), QLatin1StringView(osText)) +
           QLatin1StringView(kTerminated),
       SQLITE_CANTOPEN, detail);
}

}  // namespace

void BackupDatabase(const QString& folder, const QString& name, const QString& serverPath) {
  const QString source = FindDatabaseFile(folder, name);
  if (source.isEmpty())
    Fail(QStringLiteral("Could not locate entry in sysdatabases for database '%1'. No entry found "
                        "with that name. Make sure that the name is entered correctly.")
                 .arg(name) +
             QLatin1StringView(kTerminated),
         SQLITE_NOTFOUND);

  const QString target = MapServerPath(folder, serverPath);
  if (target.isEmpty() || !QFileInfo(QFileInfo(target).absolutePath()).isDir())
    FailDevice(serverPath, 3, "The system cannot find the path specified.");
  if (QFileInfo(target).isDir()) FailDevice(serverPath, 5, "Access is denied.");

  // The copy goes to a partial file beside the target and replaces it only when complete, so a
  // failure leaves neither a half-written file nor a lost earlier backup, and what a killed run
  // left the next one removes, as the exports do.
  TPartialFile temp(target);
  try {
    temp.Create();
  } catch (const EInOutError& e) {
    FailDevice(serverPath, 5, "Access is denied.", e.Message());
  }

  sqlite3* rawSource = nullptr;
  const int openRc = sqlite3_open_v2(QFile::encodeName(source).constData(), &rawSource,
                                     SQLITE_OPEN_READONLY, nullptr);
  const DbHandle from(rawSource);
  if (openRc != SQLITE_OK) RaiseSqliteError(rawSource);
  RefuseDoubleQuotedStrings(rawSource);
  sqlite3_busy_timeout(rawSource, 5000);

  sqlite3* rawTarget = nullptr;
  const int targetRc = sqlite3_open_v2(QFile::encodeName(temp.Path()).constData(), &rawTarget,
                                       SQLITE_OPEN_READWRITE, nullptr);
  DbHandle to(rawTarget);
  if (targetRc != SQLITE_OK)
    FailDevice(serverPath, 5, "Access is denied.", QString::fromUtf8(sqlite3_errmsg(rawTarget)));

  sqlite3_backup* backup = sqlite3_backup_init(rawTarget, "main", rawSource, "main");
  if (!backup) RaiseSqliteError(rawTarget);
  const int rc = sqlite3_backup_step(backup, -1);
  const int finishRc = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE || finishRc != SQLITE_OK) RaiseSqliteError(rawTarget);
  to.reset();
  try {
    temp.Publish(true);
  } catch (const EInOutError& e) {
    FailDevice(serverPath, 5, "Access is denied.", e.Message());
  }
}

}  // namespace qav::db::embedded
