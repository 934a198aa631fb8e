#pragma once

#include "db/DataSet.h"
#include "db/Params.h"

#include <QStringList>

namespace qav::db {

class TDatabase;

// A statement on a named connection. Parameters are written ":Name" in the text; the query
// finds them whenever its text changes and keeps the values of names it already had.
class TQuery : public TDataSet {
  Q_OBJECT

 public:
  explicit TQuery(QObject* owner = nullptr);
  ~TQuery() override;

  const QString& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString& name);
  const QString& SessionName() const { return sessionName_; }
  void SetSessionName(const QString& name);

  const QStringList& SQL() const { return sql_; }
  void SetSQL(const QStringList& lines);
  void SetSQL(const QString& text) { SetSQL(text.split(u'\n')); }
  // The statement as one text, lines joined with CR LF.
  QString Text() const { return sql_.join(QStringLiteral("\r\n")); }

  // When set (the default), a change of the text rebuilds Params.
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool check) { paramCheck_ = check; }
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  TParam& ParamByName(const QString& name) { return params_.ParamByName(name); }

  // Runs a statement that returns no rows, with its parameters bound.
  void ExecSQL();
  qint64 RowsAffected() const { return rowsAffected_; }

  // The connection the query works on, looked up by name (not opened).
  TDatabase& Database() const;

  // The next open of a forward-only or background-fetching query takes this cursor, opened
  // already on the query's connection (on a worker thread, say), instead of running the text.
  void AdoptCursor(std::unique_ptr<BackendCursor> cursor) { adopted_ = std::move(cursor); }

 protected:
  std::unique_ptr<ResultSet> OpenCursor() override;
  std::unique_ptr<BackendCursor> OpenForwardCursor() override;
  void CloseCursor() override;
  void ConnectionHeld(bool held) override;
  // The text to send when the text changes; a query with macros expands them here.
  virtual QString StatementText() const { return Text(); }
  // Called after the lines change, before parameters are discovered.
  virtual void SQLChanged() {}

 private:
  // The statement with its parameters bound, ready for the back end.
  QString BoundText(std::vector<QVariant>& args) const;
  std::unique_ptr<ResultSet> Run();
  // Attaches the query to its connection, opening it, for the time the result is open.
  TDatabase& AttachToDatabase();

  QString databaseName_;
  QString sessionName_ = QStringLiteral("Default");
  QStringList sql_;
  bool paramCheck_ = true;
  TParams params_;
  qint64 rowsAffected_ = -1;
  TDatabase* openOn_ = nullptr;
  std::unique_ptr<BackendCursor> adopted_;
};

// Replaces the ":Name" references of a statement by positional "?" placeholders and returns the
// values to bind in their order. Raises "No value for parameter 'NAME'" for a reference whose
// parameter has no value, and the parameter-not-found error for one missing from the list.
QString BindParams(const QString& text, const TParams& params, std::vector<QVariant>& args);

}  // namespace qav::db
