#pragma once

#include <QString>
#include <QStringList>

namespace qav::db::embedded {

// An embedded suite is a folder that plays the part of a database server:
//   FOLDER/NAME.db       one SQLite file per database ("master" included)
//   FOLDER/disk/C/...    the server's own disk, where backup files land
// Stored procedures live as data in each database, in the table below: the body is SQLite SQL
// whose "@NAME" parameters are bound from the call, and whose last result row gives the output
// parameters by column name.
inline constexpr char kProcedureTable[] = "qav_procedures";
inline constexpr char kProcedureTableDdl[] =
    "CREATE TABLE IF NOT EXISTS qav_procedures ("
    "name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, body TEXT NOT NULL)";
inline constexpr char kDatabaseFileSuffix[] = ".db";

// True for a server name of the form "embedded:FOLDER" (prefix compared without regard to case).
bool IsEmbeddedServerName(const QString& server);
// The suite folder of such a server name, made absolute from the process's current folder.
QString SuiteFolder(const QString& server);

// The file of database NAME in the suite, found without regard to case; empty when absent.
QString FindDatabaseFile(const QString& folder, const QString& name);
// The file a new database NAME would have.
QString NewDatabaseFile(const QString& folder, const QString& name);
// The suite's databases, by file name, "master" first.
QStringList SuiteDatabases(const QString& folder);

// Maps a path on the server's disk ("C:\Data\X.Bak") onto the suite folder
// (FOLDER/disk/C/Data/X.Bak). Returns an empty text for a path without a drive letter.
QString MapServerPath(const QString& folder, const QString& serverPath);

}  // namespace qav::db::embedded
