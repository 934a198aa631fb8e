#include "db/embedded/SqliteHandle.h"

#include "db/Errors.h"
#include "db/embedded/EmbeddedDialect.h"
#include "sql/TsqlLexer.h"

#include <sqlite3.h>
#include <QFileInfo>

namespace qav::db::embedded {

namespace {

QString FirstWord(const QString& statement) {
  qsizetype i = SkipBlank(statement, 0);
  const qsizetype start = i;
  while (i < statement.size() && (statement[i].isLetter() || statement[i] == u'_')) ++i;
  return statement.mid(start, i - start).toUpper();
}

// The table an INSERT, UPDATE or DELETE works on, without schema and quotes.
QString TargetTable(const QString& statement) {
  const std::vector<sql::Token> t = sql::CodeTokens(statement);
  auto word = [&](std::size_t k, const char* w) {
    return k < t.size() && sql::IsWord(statement, t[k], QLatin1StringView(w));
  };
  auto isName = [&](std::size_t k) {
    return k < t.size() &&
           (t[k].kind == sql::TokenKind::Word || t[k].kind == sql::TokenKind::QuotedName);
  };
  std::size_t i = 1;
  if (word(0, "delete")) {
    if (word(1, "from")) i = 2;
  } else if (word(0, "update") || word(0, "insert") || word(0, "replace")) {
    if (word(1, "or")) i = 3;  // SQLite's conflict clause
    if (!word(0, "update") && !word(i++, "into")) return {};
  } else {
    return {};
  }
  if (!isName(i)) return {};
  if (i + 2 < t.size() && sql::IsOperator(statement, t[i + 1], QLatin1StringView(".")) &&
      isName(i + 2))
    i += 2;
  return sql::NameValue(t[i].Text(statement));
}

// The first column of a look-up query's rows; empty when it cannot run.
QStringList Names(sqlite3* db, const char* sql, const QString& arg) {
  QStringList names;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return names;
  StmtHandle stmt(raw);
  const QByteArray utf8 = arg.toUtf8();
  sqlite3_bind_text(raw, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
  while (sqlite3_step(raw) == SQLITE_ROW)
    names.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0))));
  return names;
}

}  // namespace

void DbCloser::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

void StmtFinalizer::operator()(sqlite3_stmt* stmt) const {
  sqlite3_finalize(stmt);
}

void RaiseSqliteError(sqlite3* db, const QString& statement) {
  const int code = sqlite3_extended_errcode(db);
  const QString raw = QString::fromUtf8(sqlite3_errmsg(db));
  const QString verb = FirstWord(statement);
  QStringList tables;
  bool childSide = false;
  if (code == SQLITE_CONSTRAINT_FOREIGNKEY) {
    if (const QString table = TargetTable(statement); !table.isEmpty()) {
      const QStringList children = Names(
          db,
          "SELECT DISTINCT m.name FROM main.sqlite_master m, pragma_foreign_key_list(m.name) f "
          "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE ORDER BY m.name",
          table);
      const QStringList parents =
          Names(db, "SELECT DISTINCT \"table\" FROM pragma_foreign_key_list(?1) ORDER BY 1", table);
      if (verb == QLatin1StringView("INSERT") || verb == QLatin1StringView("REPLACE"))
        childSide = true;
      else if (verb == QLatin1StringView("UPDATE"))
        childSide = children.isEmpty() && !parents.isEmpty();
      tables = childSide ? parents : children;
    }
  }
  const ServerFailure failure = ServerErrorOf(code, raw, verb, tables, childSide, statement);
  QString text = failure.text;
  if ((code & 0xff) == SQLITE_BUSY) {
    // The bare "database is locked" does not say that the wait for another program ran out.
    const char* file = sqlite3_db_filename(db, "main");
    text = QStringLiteral(
               "The database %1 is locked by another program; the wait for it ran out. (%2)")
               .arg(QFileInfo(QString::fromUtf8(file ? file : "")).completeBaseName(), raw);
  }
  // The number is SQL Server's where it has one for the failure, else SQLite's primary code.
  TDBError first{code, failure.row ? failure.row->number : code & 0xff, text};
  if (failure.row) first.Severity = failure.row->severity;
  std::vector<TDBError> errors{first};
  if (text != raw) errors.push_back({code, code & 0xff, raw});
  throw EDBEngineError(text, std::move(errors));
}

void ExecSql(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    RaiseSqliteError(db, QString::fromUtf8(sql));
}

void RefuseDoubleQuotedStrings(sqlite3* db) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
}

}  // namespace qav::db::embedded
