#include "db/embedded/EmbeddedConnection.h"

#include "db/Errors.h"
#include "db/embedded/DeclaredColumns.h"
#include "db/embedded/EmbeddedBackup.h"
#include "db/embedded/EmbeddedCatalog.h"
#include "db/embedded/EmbeddedDialect.h"
#include "db/embedded/ServerErrors.h"
#include "db/embedded/SqliteHandle.h"
#include "db/embedded/SqliteResult.h"
#include "db/embedded/TsqlCollation.h"
#include "db/embedded/TsqlFunctions.h"
#include "db/embedded/TsqlRewriter.h"
#include "db/embedded/TsqlStatements.h"
#include "sql/TsqlLexer.h"
#include "sql/TsqlParser.h"

#include <sqlite3.h>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <mutex>
#include <utility>

namespace qav::db {

namespace {

// A batch the parser cannot read fails as SQL Server fails it: the parser's number, class 15.
EDBEngineError SyntaxError(const sql::ETsqlSyntax& e) {
  return EDBEngineError(e.Message(), {{SQLITE_ERROR, e.Number(), e.Message(), e.Line(), 15}});
}

using namespace embedded;

std::mutex lockWaitMutex;
LockWait& ProcessLockWait() {
  static LockWait wait;
  return wait;
}

// SQLite's busy handler with a caller to tell: it sleeps in growing steps until the lock is free
// or the time is up.
class LockWaiter {
 public:
  explicit LockWaiter(LockWait wait) : wait_(std::move(wait)) {}

  static int Handler(void* self, int attempt) {
    return static_cast<LockWaiter*>(self)->Wait(attempt);
  }

 private:
  int Wait(int attempt) {
    if (attempt == 0) {
      timer_.start();
      told_ = 0;
    }
    const qint64 waited = timer_.elapsed();
    if (waited >= wait_.timeoutMs) return 0;
    if (const int seconds = static_cast<int>(waited / 1000); wait_.waiting && seconds > told_) {
      told_ = seconds;
      wait_.waiting(seconds);
    }
    const qint64 step = attempt < 10 ? 1 + 5 * attempt : 50;
    sqlite3_sleep(static_cast<int>(std::min<qint64>(step, wait_.timeoutMs - waited)));
    return 1;
  }

  LockWait wait_;
  QElapsedTimer timer_;
  int told_ = 0;
};

// Supplies the values of a statement's parameters: "?" in order, and named ones.
class Binder {
 public:
  virtual ~Binder() = default;
  virtual QVariant Positional() = 0;
  virtual void SkipPositional(int count) = 0;
  virtual QVariant Named(QStringView name) = 0;
  // True when Named has a value of its own for the name, ahead of the session's variables.
  virtual bool Supplies(QStringView) const { return false; }
};

// The arguments of Execute, bound to "?" in order across all statements of the text.
class ArgsBinder final : public Binder {
 public:
  explicit ArgsBinder(const std::vector<QVariant>& args) : args_(args) {}
  QVariant Positional() override {
    if (next_ >= args_.size())
      throw EDBEngineError(
          QStringLiteral("The statement has more parameters than values given (%1).")
              .arg(args_.size()),
          {{SQLITE_RANGE, SQLITE_RANGE, QStringLiteral("parameter index out of range")}});
    return args_[next_++];
  }
  void SkipPositional(int count) override { next_ += static_cast<std::size_t>(count); }
  QVariant Named(QStringView name) override {
    if (name.startsWith(u'@')) RaiseServerError(ServerError::UndeclaredVariable, {name.toString()});
    // "?NNN" names a value by its position.
    bool ok = false;
    const qsizetype n = name.startsWith(u'?') ? name.mid(1).toLongLong(&ok) : 0;
    if (ok && n >= 1 && static_cast<std::size_t>(n) <= args_.size())
      return args_[static_cast<std::size_t>(n - 1)];
    return {};
  }

 private:
  const std::vector<QVariant>& args_;
  std::size_t next_ = 0;
};

QStringView BareName(QStringView name) {
  return !name.isEmpty() && (name[0] == u'@' || name[0] == u':' || name[0] == u'$') ? name.mid(1)
                                                                                    : name;
}

bool SameName(QStringView a, QStringView b) {
  return BareName(a).compare(BareName(b), Qt::CaseInsensitive) == 0;
}

bool SendsValue(TParamType direction) {
  return direction == ptInput || direction == ptInputOutput || direction == ptUnknown;
}

// A stored procedure's arguments: "@NAME" binds the argument of that name (null when the call
// does not supply it), "?" the input arguments in declared order.
class ProcBinder final : public Binder {
 public:
  explicit ProcBinder(const std::vector<ProcArg>& args) : args_(args) {}
  QVariant Positional() override {
    while (next_ < args_.size() && !SendsValue(args_[next_].direction)) ++next_;
    return next_ < args_.size() ? args_[next_++].value : QVariant();
  }
  void SkipPositional(int count) override {
    for (int i = 0; i < count; ++i) Positional();
  }
  QVariant Named(QStringView name) override {
    for (const ProcArg& arg : args_)
      if (arg.direction != ptResult && SameName(arg.name, name)) return arg.value;
    return {};
  }
  bool Supplies(QStringView name) const override {
    for (const ProcArg& arg : args_)
      if (arg.direction != ptResult && SameName(arg.name, name)) return true;
    return false;
  }

 private:
  const std::vector<ProcArg>& args_;
  std::size_t next_ = 0;
};

// One Execute or ExecProc: where the values come from and what is kept of the rows.
struct Run {
  Binder& binder;
  bool keepRows;                      // Execute: the rows of the last result
  std::unique_ptr<ResultSet> result;  // set by every statement that has result columns
  std::vector<QString> lastRowNames;  // ExecProc: the last row any statement produced
  std::vector<QVariant> lastRow;
};

QString StatementVerb(sqlite3_stmt* stmt) {
  const char* sql = sqlite3_sql(stmt);
  const QString text = QString::fromUtf8(sql ? sql : "");
  const qsizetype start = SkipBlank(text, 0);
  qsizetype end = start;
  while (end < text.size() && text[end].isLetter()) ++end;
  return text.mid(start, end - start).toUpper();
}

// Steps one prepared query as its rows are asked for. Columns without a declared type are typed
// by their values, so the cursor reads its first window ahead and types them by those rows; a
// later value of another kind is kept as it is (a text in a column typed as integers, say).
class SqliteCursor final : public BackendCursor {
 public:
  static constexpr int kReadAheadRows = 1024;

  // `session` learns the rows read once the last is read, for @@ROWCOUNT.
  SqliteCursor(sqlite3* db, StmtHandle stmt, DeclaredColumns& session)
      : db_(db), stmt_(std::move(stmt)), builder_(stmt_.get()), session_(session) {
    for (int i = 0; i < kReadAheadRows && Step(); ++i) builder_.AddRow();
    ahead_ = builder_.Finish();
  }

  const std::vector<FieldDef>& Fields() const override { return ahead_->fields; }

  // The step under way ends with SQLITE_INTERRUPT, which reads as SQL Server's cancel message.
  void Interrupt() override { sqlite3_interrupt(db_); }

  qint64 Fetch(RowStore& window, int maxRows) override {
    if (!aheadTaken_) {
      aheadTaken_ = true;
      window = std::move(ahead_->rows);
      ahead_->rows = RowStore();
      return window.Rows();
    }
    window.Clear();
    while (window.Rows() < maxRows && Step()) builder_.AddRow(window);
    return window.Rows();
  }

 private:
  bool Step() {
    if (done_) return false;
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
      ++rows_;
      return true;
    }
    done_ = true;
    if (rc != SQLITE_DONE) RaiseSqliteError(db_, QString::fromUtf8(sqlite3_sql(stmt_.get())));
    session_.SetRowCount(rows_);
    return false;
  }

  sqlite3* db_;
  StmtHandle stmt_;
  ResultBuilder builder_;
  std::unique_ptr<ResultSet> ahead_;
  DeclaredColumns& session_;
  qint64 rows_ = 0;
  bool aheadTaken_ = false;
  bool done_ = false;
};

class EmbeddedConnection final : public BackendConnection {
 public:
  EmbeddedConnection(QString folder, std::unique_ptr<LockWaiter> waiter, DbHandle db)
      : folder_(std::move(folder)),
        waiter_(std::move(waiter)),
        db_(std::move(db)),
        declared_(db_.get()) {
    catalog_.Install(db_.get(), folder_);
    RegisterTsqlCollation(db_.get());
    RegisterTsqlFunctions(db_.get());
    OrderTextIndexes(db_.get());
  }

  std::unique_ptr<ResultSet> Execute(const QString& sql,
                                     const std::vector<QVariant>& args) override {
    rowsAffected_ = -1;
    notes_.clear();
    ArgsBinder binder(args);
    Run run{binder, true, nullptr, {}, {}};
    RunBatch(Parse(sql), run);
    return std::move(run.result);
  }

  qint64 RowsAffected() const override { return rowsAffected_; }

  std::unique_ptr<BackendCursor> OpenCursor(const QString& sql,
                                            const std::vector<QVariant>& args) override {
    rowsAffected_ = -1;
    notes_.clear();
    const sql::ParsedBatch batch = Parse(sql);
    // Several statements, the SQL Server forms and statements that change data run as Execute
    // runs them.
    ArgsBinder binder(args);
    Run run{binder, true, nullptr, {}, {}};
    if (batch.Statements().size() == 1 &&
        batch.Statements().front().kind == sql::StatementKind::Select) {
      const sql::Statement& s = batch.Statements().front();
      std::unique_ptr<BackendCursor> cursor;
      WithLine(s, [&] {
        const QString text = Translate(batch.TextOf(s));
        cursor = OpenQueryCursor(text, args);
        if (!cursor) RunQuery(text, run);
      });
      if (cursor) return cursor;
    } else {
      RunBatch(batch, run);
    }
    return CursorOverResult(std::move(run.result));
  }

  bool InTransaction() const override { return sqlite3_get_autocommit(db_.get()) == 0; }
  // The step under way ends with SQLITE_INTERRUPT, which reads as SQL Server's cancel message.
  void Interrupt() override { sqlite3_interrupt(db_.get()); }
  void StartTransaction() override { ExecSql(db_.get(), "BEGIN"); }
  void Commit() override { ExecSql(db_.get(), "COMMIT"); }
  void Rollback() override { ExecSql(db_.get(), "ROLLBACK"); }

  QStringList TakeMessages() override { return std::exchange(messages_, {}); }
  std::vector<StatementNote> TakeNotes() override { return std::exchange(notes_, {}); }

  void ExecProc(const QString& name, std::vector<ProcArg>& args) override {
    rowsAffected_ = -1;
    notes_.clear();
    const QString body = ProcedureBody(name);
    ProcBinder binder(args);
    Run run{binder, false, nullptr, {}, {}};
    RunBatch(Parse(body), run);

    auto column = [&](auto matches) -> const QVariant* {
      for (std::size_t i = 0; i < run.lastRowNames.size(); ++i)
        if (matches(run.lastRowNames[i])) return &run.lastRow[i];
      return nullptr;
    };
    for (ProcArg& arg : args) {
      if (arg.direction == ptResult) {
        const QVariant* v = column([&](const QString& c) {
          return SameName(c, arg.name) || SameName(c, u"Result") || SameName(c, u"RETURN_VALUE");
        });
        arg.value = ConvertForType(v ? *v : QVariant::fromValue<qint64>(0), arg.type);
      } else if (arg.direction == ptOutput || arg.direction == ptInputOutput) {
        const QVariant* v = column([&](const QString& c) { return SameName(c, arg.name); });
        if (v)
          arg.value = ConvertForType(*v, arg.type);
        else if (arg.direction == ptOutput)
          arg.value = QVariant();
      }
    }
  }

 private:
  // The statements of a batch; a batch that cannot be read fails as a whole, as on SQL Server.
  sql::ParsedBatch Parse(const QString& text) {
    try {
      sql::ParsedBatch batch(text);
      // A string or comment left open: the translation says which, in SQL Server's words.
      if (batch.Tokens().Unterminated().IsOpen()) RewriteTsql(text);
      return batch;
    } catch (const sql::ETsqlSyntax& e) {
      throw SyntaxError(e);
    }
  }

  // Runs `work` for the statement `s`: an error it raises names the statement's line.
  template <typename Work>
  void WithLine(const sql::Statement& s, Work work) {
    try {
      work();
    } catch (EDBEngineError& e) {
      e.SetLine(s.line);
      throw;
    } catch (const sql::ETsqlSyntax& e) {
      throw SyntaxError(e);
    }
  }

  QString Translate(QStringView text) {
    if (text.contains(QLatin1StringView("sysobjects"), Qt::CaseInsensitive)) catalog_.Refresh();
    bool typesRead = false;
    return ForSqlite(RewriteTsql(text, [&](const QString& name) {
      if (name.startsWith(u'@')) {
        const auto v = variables_.constFind(name);
        return v != variables_.constEnd() ? v->type : QString();
      }
      if (!typesRead) ReadColumnTypes();
      typesRead = true;
      return columnTypes_.value(name);
    }));
  }

  qint64 SchemaVersion(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) return -1;
    const StmtHandle stmt(raw);
    return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : -1;
  }

  // The declared types of the columns of every table, by lower-case column name, read again
  // when a table has been made or changed since.
  // Another program's lock is not waited for here: the types are then not known, and the
  // statement itself waits for the lock.
  void ReadColumnTypes() {
    sqlite3_busy_handler(db_.get(), nullptr, nullptr);
    ReadColumnTypesNow();
    sqlite3_busy_handler(db_.get(), &LockWaiter::Handler, waiter_.get());
  }

  void ReadColumnTypesNow() {
    const std::pair<qint64, qint64> version{SchemaVersion("PRAGMA main.schema_version"),
                                            SchemaVersion("PRAGMA temp.schema_version")};
    if (version == columnTypesVersion_ && version.first >= 0 && version.second >= 0) return;
    columnTypesVersion_ = version;
    columnTypes_.clear();
    static const char kColumns[] =
        "SELECT lower(p.name), lower(p.type) FROM main.sqlite_schema m, "
        "pragma_table_info(m.name, 'main') p WHERE m.type = 'table' UNION ALL "
        "SELECT lower(p.name), lower(p.type) FROM temp.sqlite_schema m, "
        "pragma_table_info(m.name, 'temp') p WHERE m.type = 'table'";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), kColumns, -1, &raw, nullptr) != SQLITE_OK) return;
    const StmtHandle stmt(raw);
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      const QString name =
          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
      // IDENTITY is no part of the type the values are read by.
      const QString type =
          ReadDeclaredType(
              name, QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 1))))
              .type;
      // Columns of one name in several tables count when their types agree.
      const auto it = columnTypes_.find(name);
      if (it != columnTypes_.end())
        *it = MergedDeclaredType(*it, type);
      else
        columnTypes_.insert(name, type);
    }
    if (rc != SQLITE_DONE) {  // read again next time
      columnTypes_.clear();
      columnTypesVersion_ = {-1, -1};
    }
  }

  QString ProcedureBody(const QString& name) {
    const QString bare = sql::ObjectName(name);

    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), "SELECT body FROM main.qav_procedures WHERE name = ?1", -1,
                           &raw, nullptr) == SQLITE_OK) {
      const StmtHandle stmt(raw);
      BindValue(raw, 1, bare);
      const int rc = sqlite3_step(raw);
      if (rc == SQLITE_ROW)
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
      if (rc != SQLITE_DONE) RaiseSqliteError(db_.get());
    }
    RaiseServerError(ServerError::ProcedureNotFound, {name.trimmed()});
  }

  // A cursor on a translated statement when it is read-only and has result columns; else null,
  // having run nothing.
  std::unique_ptr<BackendCursor> OpenQueryCursor(const QString& text,
                                                 const std::vector<QVariant>& args) {
    // SELECT @v = ... prepares in SQLite too, as a comparison.
    if (ParseTsqlStatement(text).kind != TsqlStatement::Kind::Other) return nullptr;
    sqlite3_stmt* raw = nullptr;
    const void* tail = nullptr;
    // A statement that does not prepare fails the same way when Execute's path runs it.
    if (sqlite3_prepare16_v2(db_.get(), text.utf16(), static_cast<int>(text.size() * 2), &raw,
                             &tail) != SQLITE_OK)
      return nullptr;
    if (!raw) return nullptr;
    StmtHandle stmt(raw);
    const qsizetype rest =
        tail ? static_cast<const char16_t*>(tail) - QStringView(text).utf16() : text.size();
    for (const sql::Token& t : sql::CodeTokens(QStringView(text).mid(rest)))
      if (!sql::IsOperator(text, t, QLatin1StringView(";"))) return nullptr;
    if (sqlite3_column_count(raw) == 0 || !sqlite3_stmt_readonly(raw)) return nullptr;
    ArgsBinder binder(args);
    Bind(raw, binder);
    return std::make_unique<SqliteCursor>(db_.get(), std::move(stmt), declared_);
  }

  void RunBatch(const sql::ParsedBatch& batch, Run& run) {
    for (const sql::Statement& s : batch.Statements()) RunStatement(batch, s, run);
  }

  // Runs one statement of a batch, taking the SQL Server forms apart here and handing
  // everything else, translated, to SQLite.
  void RunStatement(const sql::ParsedBatch& batch, const sql::Statement& s, Run& run) {
    using Kind = sql::StatementKind;
    switch (s.kind) {
      case Kind::Block:
        for (const sql::Statement& inner : s.body) RunStatement(batch, inner, run);
        return;
      case Kind::If: {
        bool holds = false;
        WithLine(s, [&] { holds = Condition(batch.TextOf(s.condition), run); });
        // The placeholders of the branch not taken still use up their values.
        const sql::Statement* otherwise = s.body.size() > 1 ? &s.body[1] : nullptr;
        if (holds) {
          RunStatement(batch, s.body[0], run);
          if (otherwise) run.binder.SkipPositional(CountPlaceholders(batch.TextOf(*otherwise)));
        } else {
          run.binder.SkipPositional(CountPlaceholders(batch.TextOf(s.body[0])));
          if (otherwise) RunStatement(batch, *otherwise, run);
        }
        return;
      }
      case Kind::BeginTransaction:
      case Kind::Commit:
      case Kind::Rollback:
        WithLine(s, [&] { Transaction(s.kind); });
        return;
      case Kind::While:
        WithLine(s, [] { RefuseTsql(QStringLiteral("WHILE")); });
        return;
      case Kind::TryCatch:
        WithLine(s, [] { RefuseTsql(QStringLiteral("TRY ... CATCH")); });
        return;
      default:
        WithLine(s, [&] { RunKeepingTypes(s.kind, batch.TextOf(s), run); });
        return;
    }
  }

  // Runs a statement for SQLite, keeping the declared types of the tables it writes.
  void RunKeepingTypes(sql::StatementKind kind, QStringView tsql, Run& run) {
    using Kind = sql::StatementKind;
    if (kind == Kind::Set && declared_.SetIdentityInsert(tsql)) {
      declared_.SetRowCount(0);
      return;
    }
    try {
      const QString text = Translate(tsql);
      switch (kind) {
        case Kind::Insert:
          RunTranslated(declared_.Insert(text), run);
          declared_.Inserted();
          return;
        case Kind::Update:
          RunTranslated(declared_.Update(text), run);
          return;
        case Kind::Select:
          // WITH ... INSERT reads as a query.
          if (sql::IsWord(text, sql::Lexer(text).NextCode(), QLatin1StringView("with"))) {
            RunTranslated(declared_.Insert(text), run);
            declared_.Inserted();
            return;
          }
          RunQuery(text, run);
          return;
        case Kind::Create:
        case Kind::Drop:
        case Kind::Alter:
        case Kind::Truncate:
          declared_.SchemaChanged();
          RunTranslated(text, run);
          declared_.TablesRemade(tsql);
          return;
        default:
          RunTranslated(text, run);
          return;
      }
    } catch (...) {
      declared_.Abandon();
      throw;
    }
  }

  // A translated SELECT; SELECT ... INTO makes its table with the types of what it copies.
  void RunQuery(const QString& text, Run& run) {
    const QStringList into = declared_.SelectInto(text);
    if (into.isEmpty()) {
      RunTranslated(text, run);
      return;
    }
    declared_.SchemaChanged();
    for (const QString& one : into) RunSqlite(one, run);
  }

  // BEGIN TRAN nests as SQL Server counts it: the outermost COMMIT commits, and ROLLBACK undoes
  // the whole transaction.
  void Transaction(sql::StatementKind kind) {
    declared_.SetRowCount(0);
    const bool open = sqlite3_get_autocommit(db_.get()) == 0;
    if (!open) tranCount_ = 0;
    switch (kind) {
      case sql::StatementKind::BeginTransaction:
        if (!open) ExecSql(db_.get(), "BEGIN");
        ++tranCount_;
        return;
      case sql::StatementKind::Commit:
        if (!open) RaiseServerError(ServerError::CommitWithoutBegin);
        if (--tranCount_ <= 0) {
          ExecSql(db_.get(), "COMMIT");
          tranCount_ = 0;
        }
        return;
      default:
        if (!open) RaiseServerError(ServerError::RollbackWithoutBegin);
        ExecSql(db_.get(), "ROLLBACK");
        tranCount_ = 0;
        return;
    }
  }

  // Runs a statement the translation wrote.
  void RunTranslated(const QString& text, Run& run) {
    const std::vector<sql::Token> tokens = sql::CodeTokens(text);
    if (tokens.empty()) return;
    if (sql::IsWord(text, tokens[0], QLatin1StringView("alter"))) {
      const QStringList statements = TranslateAlterTableAdd(text);
      if (!statements.isEmpty()) {
        for (const QString& one : statements) RunSqlite(one, run);
        return;
      }
    } else if (sql::IsWord(text, tokens[0], QLatin1StringView("backup"))) {
      if (const auto backup = ParseBackup(text)) {
        BackupDatabase(folder_, backup->database, backup->path);
        return;
      }
    } else if (sql::IsWord(text, tokens[0], QLatin1StringView("set")) && tokens.size() > 2 &&
               sql::IsWord(text, tokens[1], QLatin1StringView("nocount"))) {
      nocount_ = sql::IsWord(text, tokens[2], QLatin1StringView("on"));
      return;
    }
    const TsqlStatement statementForm = ParseTsqlStatement(text);
    if (statementForm.kind != TsqlStatement::Kind::Other) {
      RunScriptStatement(statementForm, run);
      return;
    }
    RunSqlite(text, run);
  }

  // The statements the connection runs itself. Variables live as long as the connection, since
  // the test server hands a batch over one statement at a time.
  void RunScriptStatement(const TsqlStatement& statement, Run& run) {
    using Kind = TsqlStatement::Kind;
    switch (statement.kind) {
      case Kind::Declare:
        for (const TsqlStatement::Assignment& a : statement.assignments) {
          const QVariant value =
              a.expression.isEmpty() ? QVariant() : Evaluate(Converted(a.type, a.expression), run);
          variables_.insert(a.variable.toLower(), {a.type, value});
        }
        break;
      case Kind::SetVariable: {
        const TsqlStatement::Assignment& a = statement.assignments.front();
        Variable& v = DeclaredVariable(a.variable);
        v.value = Evaluate(Converted(v.type, a.expression), run);
        declared_.SetRowCount(1);
        break;
      }
      case Kind::SelectAssign: {
        QStringList values;
        for (const TsqlStatement::Assignment& a : statement.assignments)
          values << Converted(DeclaredVariable(a.variable).type, a.expression);
        const QString sql = QStringLiteral("SELECT ") + values.join(QStringLiteral(", ")) +
                            QStringLiteral(" ") + statement.rest;
        const StmtHandle stmt = Prepare(sql, run);
        // As on SQL Server, the last row's values stay; no row changes nothing.
        int rc;
        qint64 rows = 0;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
          ++rows;
          for (std::size_t i = 0; i < statement.assignments.size(); ++i)
            DeclaredVariable(statement.assignments[i].variable).value =
                ColumnValue(stmt.get(), static_cast<int>(i));
        }
        if (rc != SQLITE_DONE) RaiseSqliteError(db_.get(), sql);
        declared_.SetRowCount(rows);
        break;
      }
      case Kind::Print:
        Say(Evaluate(Converted(QStringLiteral("nvarchar(4000)"), statement.expression), run)
                .toString());
        break;
      case Kind::RaiseError: {
        const QString text =
            Evaluate(Converted(QStringLiteral("nvarchar(2047)"), statement.expression), run)
                .toString();
        if (statement.severity > 10)
          RaiseServerError(ServerError::Message, statement.severity, text);
        Say(text);
        break;
      }
      case Kind::SetOption:
        declared_.SetRowCount(0);
        break;
      case Kind::Other:
        break;
    }
  }

  void Say(const QString& text) {
    messages_ << text;
    StatementNote note;
    note.text = text;
    notes_.push_back(std::move(note));
  }

  struct Variable {
    QString type;
    QVariant value;
  };

  Variable& DeclaredVariable(const QString& name) {
    const auto it = variables_.find(name.toLower());
    if (it == variables_.end()) RaiseServerError(ServerError::UndeclaredVariable, {name});
    return *it;
  }

  static QString Converted(const QString& type, const QString& expression) {
    return QStringLiteral("tsql_convert('%1', (%2\n))").arg(type, expression);
  }

  StmtHandle Prepare(const QString& sql, Run& run) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare16_v2(db_.get(), sql.utf16(), static_cast<int>(sql.size() * 2), &raw,
                             nullptr) != SQLITE_OK)
      RaiseSqliteError(db_.get(), sql);
    StmtHandle stmt(raw);
    Bind(raw, run.binder);
    return stmt;
  }

  QVariant Evaluate(const QString& expression, Run& run) {
    const QString sql = QStringLiteral("SELECT ") + expression;
    const StmtHandle stmt = Prepare(sql, run);
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) RaiseSqliteError(db_.get(), sql);
    return ColumnValue(stmt.get(), 0);
  }

  // Runs a translated statement: one SQLite statement, or the few one T-SQL statement became.
  void RunSqlite(const QString& text, Run& run) {
    const QStringView view(text);
    qsizetype pos = 0;
    while (pos < text.size()) {
      const char16_t* start = view.utf16() + pos;
      sqlite3_stmt* raw = nullptr;
      const void* tail = nullptr;
      if (sqlite3_prepare16_v2(db_.get(), start, static_cast<int>((text.size() - pos) * 2), &raw,
                               &tail) != SQLITE_OK)
        RaiseSqliteError(db_.get(), text.mid(pos));
      if (!raw) return;  // only blanks and comments were left
      const StmtHandle stmt(raw);
      Bind(raw, run.binder);
      Step(raw, run);
      pos = tail ? static_cast<const char16_t*>(tail) - view.utf16() : text.size();
    }
  }

  void Bind(sqlite3_stmt* stmt, Binder& binder) {
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(stmt, i);
      QVariant value;
      const QString key = name ? QString::fromUtf8(name) : QString();
      const auto v = variables_.constFind(key.toLower());
      if (!name)
        value = binder.Positional();
      else if (v != variables_.constEnd() && !binder.Supplies(key))
        value = v->value;
      else
        value = binder.Named(key);
      if (BindValue(stmt, i, value) != SQLITE_OK) RaiseSqliteError(db_.get());
    }
  }

  void Step(sqlite3_stmt* stmt, Run& run) {
    const int columns = sqlite3_column_count(stmt);
    int rc;
    qint64 rows = 0;
    if (columns > 0 && run.keepRows) {
      ResultBuilder builder(stmt);
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        builder.AddRow();
        ++rows;
      }
      if (rc != SQLITE_DONE) RaiseSqliteError(db_.get(), QString::fromUtf8(sqlite3_sql(stmt)));
      // The result before goes into the notes where it came, before the counts that followed it.
      if (run.result) {
        StatementNote earlier;
        earlier.kind = StatementNote::Kind::Rows;
        earlier.rows = std::move(run.result);
        notes_.insert(notes_.begin() + static_cast<std::ptrdiff_t>(resultNoteAt_),
                      std::move(earlier));
      }
      run.result = builder.Finish();
      resultNoteAt_ = notes_.size();
    } else {
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ++rows;
        if (run.keepRows) continue;
        run.lastRowNames.resize(static_cast<std::size_t>(columns));
        run.lastRow.resize(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i) {
          run.lastRowNames[static_cast<std::size_t>(i)] =
              QString::fromUtf8(sqlite3_column_name(stmt, i));
          run.lastRow[static_cast<std::size_t>(i)] = ColumnValue(stmt, i);
        }
      }
      if (rc != SQLITE_DONE) RaiseSqliteError(db_.get(), QString::fromUtf8(sqlite3_sql(stmt)));
    }
    declared_.SetRowCount(rows);
    if (!sqlite3_stmt_readonly(stmt)) {
      const QString verb = StatementVerb(stmt);
      if (verb == QLatin1StringView("INSERT") || verb == QLatin1StringView("UPDATE") ||
          verb == QLatin1StringView("DELETE") || verb == QLatin1StringView("REPLACE") ||
          verb == QLatin1StringView("WITH")) {
        rowsAffected_ = sqlite3_changes64(db_.get());
        declared_.SetRowCount(rowsAffected_);
        if (nocount_) return;
        StatementNote note;
        note.kind = StatementNote::Kind::RowsAffected;
        note.count = rowsAffected_;
        notes_.push_back(std::move(note));
      }
    }
  }

  bool Condition(QStringView condition, Run& run) {
    // The line break keeps a trailing "--" comment of the condition from swallowing the rest.
    const QString sql = Translate(QStringLiteral("SELECT CASE WHEN (") + condition.toString() +
                                  QStringLiteral("\n) THEN 1 ELSE 0 END"));
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare16_v2(db_.get(), sql.utf16(), static_cast<int>(sql.size() * 2), &raw,
                             nullptr) != SQLITE_OK)
      RaiseSqliteError(db_.get(), sql);
    const StmtHandle stmt(raw);
    Bind(raw, run.binder);
    const int rc = sqlite3_step(raw);
    if (rc != SQLITE_ROW) RaiseSqliteError(db_.get(), sql);
    return sqlite3_column_int(raw, 0) != 0;
  }

  QString folder_;
  Catalog catalog_;
  std::unique_ptr<LockWaiter> waiter_;  // the handle's busy handler: outlives it
  DbHandle db_;                         // closed before the catalog whose functions it holds goes
  DeclaredColumns declared_;            // after db_: its statements are finalized before db_ closes
  qint64 rowsAffected_ = -1;
  QHash<QString, Variable> variables_;   // by lower-case name, "@" included
  QHash<QString, QString> columnTypes_;  // declared types by lower-case column name
  std::pair<qint64, qint64> columnTypesVersion_{-1, -1};
  QStringList messages_;
  std::vector<StatementNote> notes_;
  std::size_t resultNoteAt_ = 0;  // where the result kept last came among the notes
  bool nocount_ = false;          // SET NOCOUNT ON: no row counts among the notes
  int tranCount_ = 0;             // the BEGIN TRANs the open transaction counts
};

// `number`: SQL Server's, 17 for a server that cannot be reached, 4060 for a database.
[[noreturn]] void FailOpen(int number, const QString& text, const QString& detail = {}) {
  std::vector<TDBError> errors{{SQLITE_CANTOPEN, number, text, 0, 11}};
  if (!detail.isEmpty()) errors.push_back({SQLITE_CANTOPEN, SQLITE_CANTOPEN, detail});
  throw EDBEngineError(text, std::move(errors));
}

}  // namespace

std::unique_ptr<BackendConnection> OpenEmbedded(const ConnectSettings& settings) {
  const QString folder = embedded::SuiteFolder(settings.server);
  if (!QFileInfo(folder).isDir())
    FailOpen(17,
             QStringLiteral("SQL Server does not exist or access denied. (embedded suite folder "
                            "'%1' not found)")
                 .arg(folder));
  QString name = settings.database.trimmed();
  if (name.isEmpty()) name = QStringLiteral("master");
  const QString loginFailed = ServerErrorMessage(ServerError::CannotOpenDatabase, {name});
  const int loginFailedNumber = ServerErrorInfo(ServerError::CannotOpenDatabase).number;
  const QString file = embedded::FindDatabaseFile(folder, name);
  if (file.isEmpty()) FailOpen(loginFailedNumber, loginFailed);

  sqlite3* raw = nullptr;
  // No mutex of SQLite's own: a connection is used by one thread at a time (a cursor reading
  // ahead on a worker has it to itself meanwhile), and the locking cost an eighth of a long read.
  const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  embedded::DbHandle db(raw);
  if (rc != SQLITE_OK)
    FailOpen(loginFailedNumber, loginFailed, QString::fromUtf8(sqlite3_errmsg(raw)));
  sqlite3_extended_result_codes(raw, 1);
  embedded::RefuseDoubleQuotedStrings(raw);
  std::unique_ptr<LockWaiter> waiter;
  {
    const std::lock_guard lock(lockWaitMutex);
    waiter = std::make_unique<LockWaiter>(ProcessLockWait());
  }
  sqlite3_busy_handler(raw, &LockWaiter::Handler, waiter.get());
  embedded::ExecSql(raw, "PRAGMA foreign_keys = ON; PRAGMA temp_store = MEMORY");
  return std::make_unique<EmbeddedConnection>(folder, std::move(waiter), std::move(db));
}

void SetEmbeddedLockWait(LockWait wait) {
  const std::lock_guard lock(lockWaitMutex);
  ProcessLockWait() = std::move(wait);
}

}  // namespace qav::db
