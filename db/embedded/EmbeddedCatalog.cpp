#include "db/embedded/EmbeddedCatalog.h"

#include "db/embedded/EmbeddedSuite.h"
#include "db/embedded/SqliteHandle.h"
#include "db/embedded/SqliteResult.h"

#include <sqlite3.h>
#include <QDateTime>
#include <QFileInfo>

namespace qav::db::embedded {

namespace {

std::string_view ValueText(sqlite3_value* value) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return text ? std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)))
              : std::string_view();
}

void ResultText(sqlite3_context* context, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  sqlite3_result_text(context, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void TypeName(sqlite3_context* context, int, sqlite3_value** argv) {
  ResultText(context, DeclaredTypeName(ValueText(argv[0])));
}

void TypeLength(sqlite3_context* context, int, sqlite3_value** argv) {
  sqlite3_result_int(context, DeclaredTypeLength(ValueText(argv[0])));
}

void ObjectIdFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  auto* catalog = static_cast<Catalog*>(sqlite3_user_data(context));
  const std::string_view name = ValueText(argv[0]);
  sqlite3_result_int64(context, catalog->ObjectId(QString::fromUtf8(
                                    name.data(), static_cast<qsizetype>(name.size()))));
}

// Tables and views of the database itself, without SQLite's own and the procedure table.
constexpr char kUserObjects[] =
    "m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
    "AND m.name NOT IN ('qav_procedures', 'qav_identity') COLLATE NOCASE";

}  // namespace

qint64 Catalog::ObjectId(const QString& name) {
  // SQL Server hands out large ids for user objects; any stable positive number does.
  const QString key = name.toUpper();
  auto it = ids_.find(key);
  if (it == ids_.end()) it = ids_.insert(key, 1000001 + 16 * ids_.size());
  return *it;
}

void Catalog::Install(sqlite3* db, const QString& folder) {
  db_ = db;
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  struct Function {
    const char* name;
    int args;
    int flags;
    void (*call)(sqlite3_context*, int, sqlite3_value**);
  };
  for (const Function& f : {Function{"qav_type_name", 1, flags, TypeName},
                            Function{"qav_type_length", 1, flags, TypeLength},
                            Function{"qav_object_id", 1, SQLITE_UTF8, ObjectIdFunction}}) {
    if (sqlite3_create_function_v2(db, f.name, f.args, f.flags, this, f.call, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
      RaiseSqliteError(db);
  }

  ExecSql(db,
          "CREATE TEMP TABLE sysdatabases (name nvarchar(128) COLLATE NOCASE NOT NULL, "
          "dbid smallint NOT NULL, crdate datetime, filename nvarchar(260))");
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO temp.sysdatabases VALUES (?, ?, ?, ?)", -1, &raw,
                         nullptr) != SQLITE_OK)
    RaiseSqliteError(db);
  const StmtHandle insert(raw);
  int dbid = 0;
  for (const QString& name : SuiteDatabases(folder)) {
    const QFileInfo file(FindDatabaseFile(folder, name));
    QDateTime created = file.birthTime();
    if (!created.isValid()) created = file.lastModified();
    BindValue(raw, 1, name);
    BindValue(raw, 2, ++dbid);
    BindValue(raw, 3, created.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    BindValue(raw, 4, file.absoluteFilePath());
    if (sqlite3_step(raw) != SQLITE_DONE) RaiseSqliteError(db);
    sqlite3_reset(raw);
  }

  ExecSql(db, QStringLiteral(
                  "CREATE TEMP VIEW syscolumns AS "
                  "SELECT qav_object_id(m.name) AS id, c.name COLLATE NOCASE AS name, "
                  "c.cid + 1 AS colid, qav_type_name(c.type) COLLATE NOCASE AS typename, "
                  "qav_type_length(c.type) AS length, "
                  "CASE WHEN c.\"notnull\" THEN 0 ELSE 1 END AS isnullable "
                  "FROM main.sqlite_master m JOIN pragma_table_info(m.name, 'main') c WHERE %1")
                  .arg(QLatin1StringView(kUserObjects))
                  .toUtf8()
                  .constData());
  withProcedures_ = HasProcedureTable();
  CreateSysObjects();
}

bool Catalog::HasProcedureTable() const {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT 1 FROM main.sqlite_master WHERE type = 'table' "
                         "AND name = 'qav_procedures' COLLATE NOCASE",
                         -1, &raw, nullptr) != SQLITE_OK)
    RaiseSqliteError(db_);
  const StmtHandle stmt(raw);
  const int rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseSqliteError(db_);
  return rc == SQLITE_ROW;
}

// A view cannot name a table that may not exist, so SysObjects lists the procedures only while
// the database has its procedure table.
void Catalog::CreateSysObjects() {
  QString sql = QStringLiteral(
                    "CREATE TEMP VIEW sysobjects AS "
                    "SELECT m.name COLLATE NOCASE AS name, qav_object_id(m.name) AS id, "
                    "CASE m.type WHEN 'table' THEN 'U' ELSE 'V' END COLLATE NOCASE AS xtype, "
                    "CASE m.type WHEN 'table' THEN 'U' ELSE 'V' END COLLATE NOCASE AS type, "
                    "1 AS uid, 0 AS parent_obj FROM main.sqlite_master m WHERE %1")
                    .arg(QLatin1StringView(kUserObjects));
  if (withProcedures_)
    sql += QLatin1StringView(
        " UNION ALL SELECT p.name, qav_object_id(p.name), 'P', 'P', 1, 0 FROM main.qav_procedures "
        "p");
  ExecSql(db_, sql.toUtf8().constData());
}

void Catalog::Refresh() {
  const bool has = HasProcedureTable();
  if (has == withProcedures_) return;
  withProcedures_ = has;
  ExecSql(db_, "DROP VIEW IF EXISTS temp.sysobjects");
  CreateSysObjects();
}

}  // namespace qav::db::embedded
