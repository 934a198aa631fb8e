#pragma once

#include <QHash>
#include <QString>

struct sqlite3;

namespace qav::db::embedded {

// What SQL Server offers every connection beyond the tables: the system tables SysDatabases,
// SysObjects and SysColumns, and the function len(). All of it is TEMP, so the
// database files stay as they are. Object ids are stable for the life of the connection and the
// same in SysObjects and SysColumns.
class Catalog {
 public:
  Catalog() = default;
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Registers the functions on db and creates the catalog, listing the suite's databases.
  void Install(sqlite3* db, const QString& folder);
  // Rebuilds SysObjects when the procedure table has appeared or gone since it was built.
  void Refresh();

  qint64 ObjectId(const QString& name);

 private:
  bool HasProcedureTable() const;
  void CreateSysObjects();

  sqlite3* db_ = nullptr;
  QHash<QString, qint64> ids_;
  bool withProcedures_ = false;
};

}  // namespace qav::db::embedded
