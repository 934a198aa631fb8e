#pragma once

#include "db/Params.h"

#include <QObject>

namespace qav::db {

class TDatabase;

// A stored procedure on a named connection, with its parameters declared in order: "Result"
// first, then the "@NAME" parameters, each input, output, in-out or result.
class TStoredProc : public QObject {
  Q_OBJECT

 public:
  explicit TStoredProc(QObject* owner = nullptr) : QObject(owner) {}

  const QString& StoredProcName() const { return procName_; }
  void SetStoredProcName(const QString& name) { procName_ = name; }
  const QString& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString& name) { databaseName_ = name; }
  const QString& SessionName() const { return sessionName_; }
  void SetSessionName(const QString& name) { sessionName_ = name; }

  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  TParam& ParamByName(const QString& name) { return params_.ParamByName(name); }

  // Runs the procedure with the input values and reads back its outputs.
  void ExecProc();
  // Forgets the outputs of the last run; the declared parameters and inputs stay.
  void Close();

  TDatabase& Database() const;

 private:
  QString procName_;
  QString databaseName_;
  QString sessionName_ = QStringLiteral("Default");
  TParams params_;
};

}  // namespace qav::db
