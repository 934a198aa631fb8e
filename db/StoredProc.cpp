#include "db/StoredProc.h"

#include "db/Database.h"

namespace qav::db {

TDatabase& TStoredProc::Database() const {
  return TSession::Get(sessionName_).DatabaseFor(parent(), databaseName_);
}

void TStoredProc::ExecProc() {
  TDatabase& db = Database();
  db.AcquireUse();
  struct Release {
    TDatabase& db;
    ~Release() { db.ReleaseUse(); }
  } release{db};

  std::vector<ProcArg> args;
  args.reserve(static_cast<size_t>(params_.Count()));
  for (const TParam& p : params_) {
    const bool sendsValue =
        p.ParamType() == ptInput || p.ParamType() == ptInputOutput || p.ParamType() == ptUnknown;
    args.push_back({p.Name(), p.DataType(), p.ParamType(), sendsValue ? p.Value() : QVariant()});
  }
  db.Backend().ExecProc(procName_, args);
  for (size_t i = 0; i < args.size(); ++i) {
    TParam& p = params_[static_cast<int>(i)];
    if (p.ParamType() == ptOutput || p.ParamType() == ptInputOutput || p.ParamType() == ptResult)
      p.SetValue(args[i].value);
  }
}

void TStoredProc::Close() {
  for (TParam& p : params_)
    if (p.ParamType() == ptOutput || p.ParamType() == ptResult) p.Clear();
}

}  // namespace qav::db
