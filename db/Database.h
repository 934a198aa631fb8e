#pragma once

#include "db/Backend.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace qav::db {

class TDataSet;
class TSession;

enum TTransIsolation { tiDirtyRead, tiReadCommitted, tiRepeatableRead };

// A named connection. Queries and stored procedures find it by its DatabaseName; it opens on
// first use, filling its parameter list in BeforeConnect, and runs AfterConnect once logged in.
class TDatabase : public QObject {
  Q_OBJECT

 public:
  using Hook = std::function<void(TDatabase&)>;

  // Registers the connection in the engine session named "Default".
  explicit TDatabase(QObject* owner = nullptr);
  ~TDatabase() override;

  const QString& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString& name);
  const QString& DriverName() const { return driverName_; }
  void SetDriverName(const QString& name) { driverName_ = name; }
  QStringList& Params() { return params_; }
  const QStringList& Params() const { return params_; }
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }
  bool HandleShared() const { return handleShared_; }
  void SetHandleShared(bool shared) { handleShared_ = shared; }
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool keep) { keepConnection_ = keep; }
  const QString& SessionName() const;
  TSession& Session() const { return *session_; }
  void SetSessionName(const QString& name);
  TTransIsolation TransIsolation() const { return transIsolation_; }
  void SetTransIsolation(TTransIsolation level) { transIsolation_ = level; }

  Hook BeforeConnect;
  Hook AfterConnect;

  // Opens the connection: BeforeConnect, log in, AfterConnect. An error in AfterConnect reaches
  // the caller and leaves the connection open.
  void Open();
  // Closes every dataset open on the connection, then the connection.
  void Close();
  bool Connected() const { return backend_ != nullptr; }
  void SetConnected(bool connected) { connected ? Open() : Close(); }

  // The server takes statements in its own SQL dialect.
  bool IsSQLBased() const { return true; }
  bool InTransaction() const;
  void StartTransaction();
  void Commit();
  void Rollback();

  // The server's PRINT messages since the last call; none while closed.
  QStringList TakeMessages() { return backend_ ? backend_->TakeMessages() : QStringList(); }
  // What the statements of the last run said, in order (BackendConnection::TakeNotes); none
  // while closed. Like TakeMessages, it leaves a background fetch running.
  std::vector<StatementNote> TakeNotes() {
    return backend_ ? backend_->TakeNotes() : std::vector<StatementNote>();
  }

  // Runs a statement directly, without parameters and without a result.
  void Execute(const QString& sql);

  // Users are datasets and script runners working on the connection: the first use opens it,
  // and the last release closes it unless KeepConnection is set.
  void AcquireUse();
  void ReleaseUse();
  int UseCount() const { return useCount_; }

  void AttachDataSet(TDataSet* dataSet);
  void DetachDataSet(TDataSet* dataSet);

  // The open back end; raises "Cannot perform this operation on a closed database" when closed.
  // A dataset fetching its rows on a worker thread holds the connection: the fetch is finished
  // here first, so that the connection is only ever used by one thread at a time.
  BackendConnection& Backend();
  // The dataset whose background fetch holds the connection, or null.
  void SetBackgroundUser(TDataSet* dataSet) { backgroundUser_ = dataSet; }

 private:
  TSession* session_ = nullptr;
  QString databaseName_;
  QString driverName_ = QStringLiteral("MSSQL");
  QStringList params_;
  bool loginPrompt_ = false;
  bool handleShared_ = false;
  bool keepConnection_ = true;
  TTransIsolation transIsolation_ = tiReadCommitted;
  std::unique_ptr<BackendConnection> backend_;
  int useCount_ = 0;
  bool closing_ = false;
  std::vector<TDataSet*> dataSets_;
  TDataSet* backgroundUser_ = nullptr;
};

// An engine session: the connections registered in it, in order of creation.
class TSession {
 public:
  explicit TSession(QString name) : name_(std::move(name)) {}
  const QString& SessionName() const { return name_; }

  // The session of that name, created on first use. "Default" always exists.
  static TSession& Get(const QString& name);
  static TSession& Default() { return Get(QStringLiteral("Default")); }

  // The first registered connection of that name (without regard to case), or null.
  TDatabase* FindDatabase(const QString& name) const;
  // The connection a component owned by `owner` works on: the owner's own connection of that
  // name when it shares its handle, else the session's first of that name. Raises when none.
  TDatabase& DatabaseFor(const QObject* owner, const QString& name) const;

  const std::vector<TDatabase*>& Databases() const { return databases_; }

 private:
  friend class TDatabase;
  void Register(TDatabase* db) { databases_.push_back(db); }
  void Unregister(TDatabase* db);

  QString name_;
  std::vector<TDatabase*> databases_;
};

}  // namespace qav::db
