#include "script/SQLScript.h"

#include "core/ExceptionHandler.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "script/ScriptSplitter.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace qav {

using namespace qav::db;

namespace {

QJsonObject ValueToJson(const QVariant& value) {
  QJsonObject v;
  switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
      v[QStringLiteral("Null")] = QJsonValue::Null;
      break;
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
      v[QStringLiteral("Integer")] = value.toString();
      break;
    case QMetaType::Double:
    case QMetaType::Float:
      v[QStringLiteral("Float")] = value.toDouble();
      break;
    case QMetaType::Bool:
      v[QStringLiteral("Boolean")] = value.toBool();
      break;
    case QMetaType::QByteArray:
      v[QStringLiteral("Bytes")] = QString::fromLatin1(value.toByteArray().toBase64());
      break;
    case QMetaType::QDateTime:
      v[QStringLiteral("DateTime")] = value.toDateTime().toString(Qt::ISODateWithMs);
      break;
    default:
      v[QStringLiteral("String")] = value.toString();
      break;
  }
  return v;
}

QVariant ValueFromJson(const QJsonObject& v) {
  if (v.contains(QStringLiteral("Integer")))
    return QVariant::fromValue(v[QStringLiteral("Integer")].toString().toLongLong());
  if (v.contains(QStringLiteral("Float"))) return v[QStringLiteral("Float")].toDouble();
  if (v.contains(QStringLiteral("Boolean"))) return v[QStringLiteral("Boolean")].toBool();
  if (v.contains(QStringLiteral("String"))) return v[QStringLiteral("String")].toString();
  if (v.contains(QStringLiteral("Bytes")))
    return QByteArray::fromBase64(v[QStringLiteral("Bytes")].toString().toLatin1());
  if (v.contains(QStringLiteral("DateTime")))
    return QDateTime::fromString(v[QStringLiteral("DateTime")].toString(), Qt::ISODateWithMs);
  return QVariant();
}

}  // namespace

TSQLScript::TSQLScript(QObject* owner) : QObject(owner), query_(new TScriptQuery(this)) {}

TSQLScript::~TSQLScript() {
  delete query_;
  query_ = nullptr;
}

void TSQLScript::SetSQL(const QStringList& lines) {
  sql_ = lines;
  SQLChanged();
}

void TSQLScript::SetSQL(const QString& text) {
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
  QStringList lines = text.split(lineBreak);
  // A final line break ends the last line; it does not start another.
  if (lines.size() > 1 && lines.last().isEmpty()) lines.removeLast();
  if (text.isEmpty()) lines.clear();
  SetSQL(lines);
}

void TSQLScript::SQLChanged() {
  TParams fresh;
  for (const QString& name : ScanParamNames(sql_.join(QStringLiteral("\r\n")), u':'))
    fresh.CreateParam(ftUnknown, name, ptUnknown);
  // While loading, the stored parameter definitions follow and take over as they are.
  if (!loading_) fresh.AssignValues(params_);
  params_ = std::move(fresh);
}

TDatabase& TSQLScript::Database() const {
  return query_->Database();
}

void TSQLScript::RunStatement(int statementNo) {
  if (sql_.isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement available"));
  TDatabase& db = Database();
  db.AcquireUse();
  try {
    if (!db.Connected())
      throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed database"));
    if (BeforeExec) BeforeExec(*this);
    RunStatements(statementNo);
    if (AfterExec) AfterExec(*this);
  } catch (...) {
    db.ReleaseUse();
    throw;
  }
  db.ReleaseUse();
}

void TSQLScript::RunStatements(int statementNo) {
  TDatabase& db = Database();
  bool inTransaction = transaction_ && !db.InTransaction() && statementNo < 0;
  if (inTransaction) {
    try {
      if (!db.IsSQLBased()) db.SetTransIsolation(tiDirtyRead);
      db.StartTransaction();
    } catch (...) {
      // A server that refuses the transaction still gets the script, statement by statement.
      inTransaction = false;
    }
  }

  try {
    // The whole script is split before anything runs: a literal or comment left open at its
    // end stops the run before its first statement.
    const std::vector<TScriptStatement> statements = SplitScript(sql_, semicolonTerm_, term_);
    int n = 0;
    bool found = false;
    for (const TScriptStatement& statement : statements) {
      query_->SetSQL(statement.lines);
      if (statementNo < 0 || statementNo == n) {
        found = true;
        ExecuteOne(statement.lastLine, n);
        if (statementNo == n) break;
      }
      ++n;
    }
    if (!found)
      throw EDatabaseError(QStringLiteral("List index out of bounds (%1)").arg(statementNo));
    if (inTransaction) db.Commit();
  } catch (...) {
    if (inTransaction) {
      try {
        db.Rollback();
      } catch (...) {
        // The statement's own error says what went wrong; a failed rollback must not hide it.
      }
    }
    throw;
  }
}

void TSQLScript::ExecuteOne(int lineNo, int statementNo) {
  bool done = false;
  while (!done) {
    try {
      if (ignoreParams_) {
        Database().Execute(query_->ExpandedText());
      } else {
        for (TParam& p : query_->Params()) p.Assign(params_.ParamByName(p.Name()));
        query_->ExecSQL();
      }
      done = true;
    } catch (EDatabaseError& e) {
      TScriptAction action = scaFail;
      const QString lineText =
          QStringLiteral("%1 on line %2").arg(QStringLiteral("Error")).arg(lineNo);
      if (auto* engine = dynamic_cast<EDBEngineError*>(&e)) {
        engine->AddError(TDBError{0, lineNo, lineText});
      } else {
        QString message = e.Message();
        if (!message.isEmpty()) message += QStringLiteral(". ");
        e.SetMessage(message + lineText);
      }
      if (OnScriptError) OnScriptError(*this, e, lineNo, statementNo, action);
      switch (action) {
        case scaFail:
          throw;
        case scaAbort:
          throw EAbort(QStringLiteral("Operation aborted"));
        case scaRetry:
          break;
        case scaIgnore:
          done = true;
          break;
        case scaReport:
          HandleException(e);
          done = true;
          break;
      }
    }
  }
}

QByteArray TSQLScript::SaveSettings() const {
  QJsonObject o;
  o[QStringLiteral("DatabaseName")] = DatabaseName();
  if (ignoreParams_) o[QStringLiteral("IgnoreParams")] = true;
  if (!semicolonTerm_) o[QStringLiteral("SemicolonTerm")] = false;
  o[QStringLiteral("SessionName")] = SessionName();
  if (term_ != u'/') o[QStringLiteral("Term")] = QString(term_);
  o[QStringLiteral("SQL")] = QJsonArray::fromStringList(sql_);
  o[QStringLiteral("Transaction")] = transaction_;
  QJsonArray paramData;
  for (const TParam& p : params_) {
    QJsonObject item;
    item[QStringLiteral("DataType")] = FieldTypeName(p.DataType());
    item[QStringLiteral("Name")] = p.Name();
    item[QStringLiteral("ParamType")] = ParamTypeName(p.ParamType());
    if (p.Bound()) item[QStringLiteral("Value")] = ValueToJson(p.Value());
    paramData.append(item);
  }
  o[QStringLiteral("ParamData")] = paramData;
  return QJsonDocument(o).toJson();
}

void TSQLScript::LoadSettings(const QByteArray& settings) {
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(settings, &parseError);
  if (!doc.isObject())
    throw Exception(QStringLiteral("Invalid script settings: %1").arg(parseError.errorString()));
  const QJsonObject o = doc.object();

  struct LoadingScope {
    bool& flag;
    explicit LoadingScope(bool& f) : flag(f) { flag = true; }
    ~LoadingScope() { flag = false; }
  } scope(loading_);

  SetDatabaseName(o[QStringLiteral("DatabaseName")].toString());
  ignoreParams_ = o[QStringLiteral("IgnoreParams")].toBool(false);
  semicolonTerm_ = o[QStringLiteral("SemicolonTerm")].toBool(true);
  SetSessionName(o[QStringLiteral("SessionName")].toString());
  const QString term = o[QStringLiteral("Term")].toString();
  term_ = term.isEmpty() ? QChar(u'/') : term[0];
  QStringList lines;
  for (const QJsonValue& line : o[QStringLiteral("SQL")].toArray()) lines.append(line.toString());
  SetSQL(lines);
  transaction_ = o[QStringLiteral("Transaction")].toBool(false);
  // The parameter definitions come after the script, so that they are what stays.
  if (o.contains(QStringLiteral("ParamData"))) {
    TParams stored;
    for (const QJsonValue& entry : o[QStringLiteral("ParamData")].toArray()) {
      const QJsonObject item = entry.toObject();
      TParam& p =
          stored.CreateParam(FieldTypeFromName(item[QStringLiteral("DataType")].toString()),
                             item[QStringLiteral("Name")].toString(),
                             ParamTypeFromName(item[QStringLiteral("ParamType")].toString()));
      if (item.contains(QStringLiteral("Value")))
        p.SetValue(ValueFromJson(item[QStringLiteral("Value")].toObject()));
    }
    params_ = std::move(stored);
  }
}

}  // namespace qav
