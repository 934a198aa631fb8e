#pragma once

#include "sql/TsqlParser.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace qav::tds {

// What the server itself does with a statement instead of handing it to the engine.
struct ServerStatement {
  enum class Kind {
    Engine,      // everything else
    Use,         // USE database
    Set,         // SET option ...
    WaitFor,     // WAITFOR DELAY 'hh:mm:ss[.mmm]'
    BeginTran,   // BEGIN TRAN[SACTION]
    Commit,      // COMMIT [TRAN[SACTION]|WORK], also under IF @@TRANCOUNT > 0
    Rollback,    // ROLLBACK ..., likewise
    RaiseError,  // RAISERROR('text', severity, state [, literal]...) [WITH ...]
  };
  Kind kind = Kind::Engine;
  QString name;           // Use: the database; Set: the option, upper case
  bool on = false;        // Set: ON or OFF
  bool whenOpen = false;  // Commit, Rollback: under IF @@TRANCOUNT > 0, so never an error
  int milliseconds = 0;   // WaitFor
  QString text;           // RaiseError: with its arguments filled in
  int severity = 0, state = 0;
};

// One statement of a batch as the server runs it.
struct BatchStatement {
  QString text;  // its first token to its last, without the ";" after it
  int line = 1;  // the batch's line on which it begins, counted from 1
  sql::StatementKind kind = sql::StatementKind::Other;
  ServerStatement server;
};

// The statements of a batch, one after another, split by the parser with or without ";": an
// IF, WHILE or BEGIN ... END block is one statement, handed to the engine whole. Raises
// sql::ETsqlSyntax for a batch SQL Server refuses before running any of it.
std::vector<BatchStatement> SplitBatch(const QString& sql);

// The names declared by sp_executesql's parameter list ("@P1 int,@P2 nvarchar(4000) OUTPUT"),
// in order.
QStringList DeclaredParameterNames(QStringView declarations);

// Replaces the parameter names of a statement ("@P1") by the engine's numbered placeholders
// ("?1"), outside quotes and comments; names are compared without regard to case.
QString NumberParameters(QStringView sql, const QStringList& names);

// The "@NAME" variables a procedure body uses, in order of first use: the procedure's input
// parameters, as SQL Server would have them declared.
QStringList BodyVariables(QStringView body);

// RAISERROR's message with its arguments filled in, as SQL Server fills %d, %i, %o, %s, %u,
// %x and %X (with flags, width and precision, "*" taking them from the arguments); a missing or
// NULL argument gives "(null)".
QString FormatRaiserror(QStringView format, const std::vector<QVariant>& args);

// For each column of a SELECT, the engine's placeholder ("?2": 2) that the column is alone
// (under an alias or not), 0 for other columns; empty when the text is no SELECT whose columns
// can be told apart.
std::vector<int> SelectedParameters(QStringView sql);

// What a session answers for @@VERSION, @@SPID and DB_NAME(), which the engine does not know.
struct SessionValues {
  QString version;
  int spid = 0;
  QString database;
};
// The statement with those put in as literals, outside quotes and comments.
QString WithSessionValues(QStringView sql, const SessionValues& values);

}  // namespace qav::tds
