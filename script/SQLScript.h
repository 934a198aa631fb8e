#pragma once

#include "db/Errors.h"
#include "db/Params.h"
#include "script/ScriptQuery.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <functional>

namespace qav {

namespace db {
class TDatabase;
}

// What a script error handler wants done with a failing statement.
enum TScriptAction { scaFail, scaAbort, scaRetry, scaIgnore, scaReport };

class TSQLScript;

using TScriptNotifyEvent = std::function<void(TSQLScript& sender)>;
using TScriptErrorEvent = std::function<void(TSQLScript& sender, db::EDatabaseError& e, int lineNo,
                                             int statementNo, TScriptAction& action)>;

// Runs a script of several SQL statements, one at a time, on a named connection. Statements
// end at a line holding only Term ("/" unless changed) or, with SemicolonTerm, at the first ";"
// of a line. Parameters (":Name") of the whole script are collected in Params and bound per
// statement; "%Name" references are macros of the statement query.
class TSQLScript : public QObject {
  Q_OBJECT

 public:
  explicit TSQLScript(QObject* owner = nullptr);
  ~TSQLScript() override;

  const QString& DatabaseName() const { return query_->DatabaseName(); }
  void SetDatabaseName(const QString& name) { query_->SetDatabaseName(name); }
  const QString& SessionName() const { return query_->SessionName(); }
  void SetSessionName(const QString& name) { query_->SetSessionName(name); }

  bool IgnoreParams() const { return ignoreParams_; }
  void SetIgnoreParams(bool ignore) { ignoreParams_ = ignore; }
  bool SemicolonTerm() const { return semicolonTerm_; }
  void SetSemicolonTerm(bool term) { semicolonTerm_ = term; }
  QChar Term() const { return term_; }
  void SetTerm(QChar term) { term_ = term; }
  bool Transaction() const { return transaction_; }
  void SetTransaction(bool transaction) { transaction_ = transaction; }

  // Every change of the script rebuilds Params, keeping the values of names already known.
  const QStringList& SQL() const { return sql_; }
  void SetSQL(const QStringList& lines);
  // The whole script as one text; CR LF, LF and CR all end a line.
  void SetSQL(const QString& text);

  db::TParams& Params() { return params_; }
  const db::TParams& Params() const { return params_; }
  // Copies values only into parameters whose names the script already has.
  void SetParams(const db::TParams& params) { params_.AssignValues(params); }

  TScriptNotifyEvent BeforeExec;
  // Only after a run that succeeded.
  TScriptNotifyEvent AfterExec;
  TScriptErrorEvent OnScriptError;

  // Runs every statement of the script.
  void Run() { RunStatement(-1); }
  // Runs the statement of that zero-based number (only statements holding a line count), or
  // all of them for -1.
  void RunStatement(int statementNo);

  // The query each statement runs through, with the macros of the last statement.
  TScriptQuery& StatementQuery() { return *query_; }
  const TScriptQuery& StatementQuery() const { return *query_; }

  // Stored settings, as a JSON object:
  //   "DatabaseName", "SessionName": strings; "SQL": array of lines;
  //   "Transaction": bool, always written;
  //   "IgnoreParams", "SemicolonTerm": bool, "Term": one-character string, each written only
  //   when it differs from its default;
  //   "ParamData": array, always written, of {"DataType": "ftString", "Name": "p",
  //   "ParamType": "ptInput"} plus, where a value was given, "Value": an object with one key
  //   naming the kind of value: {"Null": null}, {"Integer": "123"} (a string, so that 64-bit
  //   values stay exact), {"Float": 1.5}, {"Boolean": true}, {"String": "..."},
  //   {"Bytes": base64}, {"DateTime": ISO 8601 with milliseconds}.
  // Loading restores everything the settings describe and defaults for what they leave out.
  QByteArray SaveSettings() const;
  void LoadSettings(const QByteArray& settings);
  // True while settings are being loaded: a change of the script then replaces Params.
  bool Loading() const { return loading_; }

 protected:
  // Splits the script and runs the chosen statements, inside one transaction when asked.
  virtual void RunStatements(int statementNo);
  // Runs the statement now in the statement query; errors go through OnScriptError.
  void ExecuteOne(int lineNo, int statementNo);

 private:
  void SQLChanged();
  db::TDatabase& Database() const;

  // Declared so that destruction frees the query, then the script, then the parameters.
  db::TParams params_;
  QStringList sql_;
  TScriptQuery* query_;
  bool transaction_ = false;
  bool semicolonTerm_ = true;
  bool ignoreParams_ = false;
  QChar term_ = u'/';
  bool loading_ = false;
};

}  // namespace qav
