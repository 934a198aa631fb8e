#include "db/Query.h"

#include "db/Database.h"
#include "db/Errors.h"

namespace qav::db {

TQuery::TQuery(QObject* owner) : TDataSet(owner) {}

TQuery::~TQuery() {
  try {
    Close();
  } catch (...) {
  }
}

void TQuery::SetDatabaseName(const QString& name) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  databaseName_ = name;
}

void TQuery::SetSessionName(const QString& name) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  sessionName_ = name.isEmpty() ? QStringLiteral("Default") : name;
}

void TQuery::SetSQL(const QStringList& lines) {
  Close();
  adopted_.reset();
  sql_ = lines;
  SQLChanged();
  if (!paramCheck_) return;
  TParams fresh;
  for (const QString& name : ScanParamNames(StatementText(), u':'))
    fresh.CreateParam(ftUnknown, name, ptUnknown);
  fresh.AssignValues(params_);
  params_ = std::move(fresh);
}

TDatabase& TQuery::Database() const {
  return TSession::Get(sessionName_).DatabaseFor(parent(), databaseName_);
}

QString TQuery::BoundText(std::vector<QVariant>& args) const {
  const QString text = paramCheck_ ? BindParams(StatementText(), params_, args) : StatementText();
  if (text.trimmed().isEmpty())
    throw EDatabaseError(QStringLiteral("%1: No SQL statement available").arg(DataSetLabel()));
  return text;
}

std::unique_ptr<ResultSet> TQuery::Run() {
  std::vector<QVariant> args;
  const QString text = BoundText(args);
  BackendConnection& backend = openOn_->Backend();
  auto result = backend.Execute(text, args);
  rowsAffected_ = backend.RowsAffected();
  return result;
}

TDatabase& TQuery::AttachToDatabase() {
  TDatabase& db = Database();
  db.AcquireUse();
  openOn_ = &db;
  db.AttachDataSet(this);
  return db;
}

std::unique_ptr<ResultSet> TQuery::OpenCursor() {
  AttachToDatabase();
  try {
    return Run();  // a null result makes the dataset call CloseCursor
  } catch (...) {
    CloseCursor();
    throw;
  }
}

std::unique_ptr<BackendCursor> TQuery::OpenForwardCursor() {
  TDatabase& db = AttachToDatabase();
  if (adopted_) return std::move(adopted_);
  try {
    std::vector<QVariant> args;
    const QString text = BoundText(args);
    BackendConnection& backend = db.Backend();
    auto cursor = backend.OpenCursor(text, args);
    rowsAffected_ = backend.RowsAffected();
    return cursor;
  } catch (...) {
    CloseCursor();
    throw;
  }
}

void TQuery::CloseCursor() {
  if (!openOn_) return;
  TDatabase* db = openOn_;
  openOn_ = nullptr;
  db->DetachDataSet(this);
  db->ReleaseUse();
}

void TQuery::ConnectionHeld(bool held) {
  if (openOn_) openOn_->SetBackgroundUser(held ? this : nullptr);
}

void TQuery::ExecSQL() {
  Close();
  TDatabase& db = Database();
  db.AcquireUse();
  openOn_ = &db;
  try {
    Run();
  } catch (...) {
    openOn_ = nullptr;
    db.ReleaseUse();
    throw;
  }
  openOn_ = nullptr;
  db.ReleaseUse();
}

QString BindParams(const QString& text, const TParams& params, std::vector<QVariant>& args) {
  const std::vector<ParamToken> tokens = ScanParamTokens(text, u':');
  if (tokens.empty()) return text;
  QString out;
  out.reserve(text.size());
  qsizetype at = 0;
  for (const ParamToken& t : tokens) {
    const TParam& p = params.ParamByName(t.name);
    if (!p.Bound() && p.DataType() == ftUnknown)
      throw EDatabaseError(QStringLiteral("No value for parameter '%1'").arg(t.name));
    out += QStringView(text).mid(at, t.start - at);
    out += u'?';
    at = t.start + t.length;
    args.push_back(p.Value());
  }
  out += QStringView(text).mid(at);
  return out;
}

}  // namespace qav::db
