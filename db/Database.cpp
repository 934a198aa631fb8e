#include "db/Database.h"

#include "db/DataSet.h"
#include "db/Errors.h"

#include <algorithm>
#include <map>

namespace qav::db {

TDatabase::TDatabase(QObject* owner) : QObject(owner) {
  session_ = &TSession::Default();
  session_->Register(this);
}

TDatabase::~TDatabase() {
  try {
    Close();
  } catch (...) {
    // A connection that fails to close cleanly is gone all the same.
  }
  session_->Unregister(this);
}

void TDatabase::SetDatabaseName(const QString& name) {
  if (Connected() && name != databaseName_)
    throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open database"));
  databaseName_ = name;
  setObjectName(name);
}

const QString& TDatabase::SessionName() const {
  return session_->SessionName();
}

void TDatabase::SetSessionName(const QString& name) {
  TSession& next = TSession::Get(name.isEmpty() ? QStringLiteral("Default") : name);
  if (&next == session_) return;
  session_->Unregister(this);
  session_ = &next;
  session_->Register(this);
}

void TDatabase::Open() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (driverName_.compare(QLatin1String("MSSQL"), Qt::CaseInsensitive) != 0)
    throw EDatabaseError(QStringLiteral("Unknown driver: %1").arg(driverName_));
  backend_ = OpenBackend(ConnectSettings::FromParams(params_));
  if (AfterConnect) AfterConnect(*this);
}

void TDatabase::Close() {
  if (!Connected()) return;
  closing_ = true;
  const std::vector<TDataSet*> open = dataSets_;
  for (TDataSet* ds : open) ds->Close();
  backend_.reset();
  useCount_ = 0;
  closing_ = false;
}

BackendConnection& TDatabase::Backend() {
  if (!backend_)
    throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed database"));
  if (TDataSet* user = backgroundUser_) {
    // Its rows come in whole; a failure stays the fetch's own (FetchError), not this caller's.
    try {
      user->CompleteFetch();
    } catch (const std::exception&) {
    }
  }
  return *backend_;
}

bool TDatabase::InTransaction() const {
  return backend_ && backend_->InTransaction();
}

void TDatabase::StartTransaction() {
  if (InTransaction()) throw EDatabaseError(QStringLiteral("A transaction is already active"));
  Backend().StartTransaction();
}

void TDatabase::Commit() {
  Backend().Commit();
}

void TDatabase::Rollback() {
  Backend().Rollback();
}

void TDatabase::Execute(const QString& sql) {
  Backend().Execute(sql, {});
}

void TDatabase::AcquireUse() {
  Open();
  ++useCount_;
}

void TDatabase::ReleaseUse() {
  if (useCount_ > 0) --useCount_;
  if (useCount_ == 0 && !keepConnection_ && !closing_) Close();
}

void TDatabase::AttachDataSet(TDataSet* dataSet) {
  if (std::find(dataSets_.begin(), dataSets_.end(), dataSet) == dataSets_.end())
    dataSets_.push_back(dataSet);
}

void TDatabase::DetachDataSet(TDataSet* dataSet) {
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), dataSet), dataSets_.end());
}

TSession& TSession::Get(const QString& name) {
  static std::map<QString, std::unique_ptr<TSession>> sessions;
  auto& slot = sessions[name.toUpper()];
  if (!slot) slot = std::make_unique<TSession>(name);
  return *slot;
}

TDatabase* TSession::FindDatabase(const QString& name) const {
  for (TDatabase* db : databases_)
    if (db->DatabaseName().compare(name, Qt::CaseInsensitive) == 0) return db;
  return nullptr;
}

TDatabase& TSession::DatabaseFor(const QObject* owner, const QString& name) const {
  if (owner) {
    for (QObject* child : owner->children()) {
      auto* db = qobject_cast<TDatabase*>(child);
      if (db && db->HandleShared() && &db->Session() == this &&
          db->DatabaseName().compare(name, Qt::CaseInsensitive) == 0)
        return *db;
    }
  }
  if (TDatabase* db = FindDatabase(name)) return *db;
  throw EDatabaseError(QStringLiteral("Unknown database: %1").arg(name));
}

void TSession::Unregister(TDatabase* db) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), db), databases_.end());
}

}  // namespace qav::db
