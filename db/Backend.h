#pragma once

#include "db/FieldTypes.h"
#include "db/RowStore.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

namespace qav::db {

// A result column as the back end describes it.
struct FieldDef {
  QString name;
  TFieldType type = ftUnknown;
  int size = 0;  // declared length of text and binary columns, 0 otherwise
  // Declared precision and scale of decimal columns; 0 when not declared.
  int precision = 0;
  int scale = 0;
  // Declared as nchar, nvarchar or ntext, where the back end knows (the embedded one does).
  bool national = false;
};

// The rows of one result set. Back ends store integers, booleans and the integral types as Int
// cells; floating, money and decimal values as Float cells; dates and times as Float cells
// holding a TDateTime (a date that cannot be read stays Bytes, so nothing is lost); texts as
// UTF-8 Bytes and binary values as raw Bytes.
struct ResultSet {
  std::vector<FieldDef> fields;
  RowStore rows;
};

// The rows of one result read forward a window at a time, so that a reader of a long result
// holds only the rows it is working on. The statement stays open on its connection until the
// cursor goes or the last row has been fetched; a server that takes one statement at a time
// per connection (SQL Server without multiple active results) takes no other meanwhile.
class BackendCursor {
 public:
  virtual ~BackendCursor() = default;

  // The result's columns, known once the cursor is open.
  virtual const std::vector<FieldDef>& Fields() const = 0;
  // Replaces the rows of `window` (a store of Fields().size() columns) with the next rows of the
  // result, at most maxRows of them, and returns how many; 0 at the end. The exceptions: a back
  // end that reads ahead to type its columns hands its read-ahead rows over whole in the first
  // window, and one that cannot stream hands over its whole result there.
  virtual qint64 Fetch(RowStore& window, int maxRows) = 0;
  // Asks a Fetch running on another thread to stop soon; that Fetch then raises the server's
  // "cancelled" error. Safe to call from any thread, and harmless when nothing runs.
  virtual void Interrupt() {}
};

// A cursor over rows already read: the whole result goes out in the first window.
std::unique_ptr<BackendCursor> CursorOverResult(std::unique_ptr<ResultSet> result);

// What one statement of a batch said besides the result that Execute or OpenCursor hands back,
// in the order the statements ran.
struct StatementNote {
  enum class Kind { Rows, RowsAffected, Message };
  Kind kind = Kind::Message;
  qint64 count = 0;                 // RowsAffected: the rows the statement changed
  QString text;                     // Message: PRINT text, or RAISERROR below severity 11
  std::unique_ptr<ResultSet> rows;  // Rows: a result set that a later one followed
};

// One argument of a stored procedure call: the declared parameter and its value. The back end
// fills the values of output, in-out and result arguments.
struct ProcArg {
  QString name;  // as declared, "@NAME" or "Result"
  TFieldType type = ftUnknown;
  TParamType direction = ptInput;
  QVariant value;
};

// The connection parameters the engine understands, read from the NAME=VALUE list.
struct ConnectSettings {
  QString server;    // "SERVER NAME"
  QString database;  // "DATABASE NAME"
  QString user;      // "USER NAME"
  QString password;  // "PASSWORD"
  QStringList params;

  static ConnectSettings FromParams(const QStringList& params);
  // The value of NAME in the list (names compared without regard to case), or empty.
  static QString Value(const QStringList& params, const QString& name);
};

// What a database server offers through one open connection. Statements carry positional "?"
// placeholders bound from the argument list in order. Errors are EDBEngineError carrying the
// server's own message.
class BackendConnection {
 public:
  virtual ~BackendConnection() = default;

  // Runs a statement; returns its rows when it produced a result set, nullptr otherwise.
  virtual std::unique_ptr<ResultSet> Execute(const QString& sql,
                                             const std::vector<QVariant>& args) = 0;
  // Rows changed by the last statement that changed rows, -1 when unknown.
  virtual qint64 RowsAffected() const = 0;
  // Opens the result that Execute would return for reading forward; nullptr when the statement
  // produces none. The default runs Execute and hands its rows over in one window; back ends
  // that can stream a statement's rows override it.
  virtual std::unique_ptr<BackendCursor> OpenCursor(const QString& sql,
                                                    const std::vector<QVariant>& args);

  virtual bool InTransaction() const = 0;
  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  virtual void ExecProc(const QString& name, std::vector<ProcArg>& args) = 0;

  // The texts of PRINT (and of RAISERROR below severity 11) since the last call, oldest first.
  virtual QStringList TakeMessages() { return {}; }
  // The notes of the last Execute or OpenCursor (and of a cursor's rows read since), oldest
  // first; each Execute or OpenCursor starts a new list.
  virtual std::vector<StatementNote> TakeNotes() { return {}; }

  // Asks an Execute, ExecProc or OpenCursor running on another thread to stop soon; it then
  // raises the server's "cancelled" error. Safe to call from any thread, and harmless when
  // nothing runs.
  virtual void Interrupt() {}
};

// Opens the back end that the server name chooses: "embedded:FOLDER" for the embedded suite,
// a scheme registered below, or else SQL Server through ODBC.
std::unique_ptr<BackendConnection> OpenBackend(const ConnectSettings& settings);

// Lets tests and tools put a back end of their own behind server names that begin with
// `prefix` (compared without regard to case). A null factory removes the scheme.
using BackendFactory = std::function<std::unique_ptr<BackendConnection>(const ConnectSettings&)>;
void RegisterBackendScheme(const QString& prefix, BackendFactory factory);

}  // namespace qav::db
