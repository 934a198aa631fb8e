#include "db/Params.h"

#include "db/Errors.h"
#include "sql/TsqlLexer.h"

#include <QDateTime>

namespace qav::db {

void TParam::SetAsInteger(qint64 value) {
  if (dataType_ == ftUnknown) dataType_ = ftInteger;
  SetValue(QVariant::fromValue(value));
}

void TParam::SetAsString(const QString& value) {
  if (dataType_ == ftUnknown) dataType_ = ftString;
  SetValue(value);
}

void TParam::SetAsFloat(double value) {
  if (dataType_ == ftUnknown) dataType_ = ftFloat;
  SetValue(value);
}

void TParam::SetAsDateTime(const QDateTime& value) {
  if (dataType_ == ftUnknown) dataType_ = ftDateTime;
  SetValue(value);
}

void TParam::SetAsBoolean(bool value) {
  if (dataType_ == ftUnknown) dataType_ = ftBoolean;
  SetValue(value);
}

void TParam::SetNull() {
  SetValue(QVariant());
}

qint64 TParam::AsInteger() const {
  if (value_.isNull()) return 0;
  bool ok = false;
  const qint64 result = value_.toLongLong(&ok);
  if (!ok) {
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(value_.toString()));
  }
  return result;
}

QString TParam::AsString() const {
  return value_.isNull() ? QString() : value_.toString();
}

double TParam::AsFloat() const {
  return value_.isNull() ? 0.0 : value_.toDouble();
}

void TParam::Assign(const TParam& other) {
  dataType_ = other.dataType_;
  paramType_ = other.paramType_;
  value_ = other.value_;
  bound_ = other.bound_;
}

TParam& TParams::CreateParam(TFieldType type, const QString& name, TParamType direction) {
  items_.emplace_back(name, type, direction);
  return items_.back();
}

TParam* TParams::FindParam(const QString& name) {
  for (auto& p : items_)
    if (p.Name().compare(name, Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

const TParam* TParams::FindParam(const QString& name) const {
  return const_cast<TParams*>(this)->FindParam(name);
}

TParam& TParams::ParamByName(const QString& name) {
  if (TParam* p = FindParam(name)) return *p;
  throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
}

const TParam& TParams::ParamByName(const QString& name) const {
  return const_cast<TParams*>(this)->ParamByName(name);
}

void TParams::AssignValues(const TParams& source) {
  for (const TParam& s : source.items_)
    if (TParam* p = FindParam(s.Name())) p->Assign(s);
}

namespace {

bool IsQuote(QChar c) {
  return c == u'\'' || c == u'"';
}

bool IsDelimiter(QChar c, QStringView extra) {
  return c == u'\n' || c == u'\r' || c == u' ' || c == u')' || c == u',' || c == u';' ||
         extra.contains(c);
}

// Markers stand in code only: a string, a quoted or bracketed name and a comment are text.
bool MayHoldMarker(const sql::Token& t) {
  return t.kind == sql::TokenKind::Operator || t.kind == sql::TokenKind::Param;
}

}  // namespace

QString StripNameQuotes(QString name) {
  for (QChar quote : {QChar(u'\''), QChar(u'"')}) {
    if (name.startsWith(quote)) {
      name.remove(0, 1);
      if (name.endsWith(quote)) name.chop(1);
    }
  }
  return name;
}

std::vector<ParamToken> ScanParamTokens(QStringView text, QChar marker, QStringView extra) {
  std::vector<ParamToken> tokens;
  const qsizetype n = text.size();
  qsizetype resume = 0;  // what a name took in, and the character that ended it, is not code
  sql::Lexer lexer(text);
  while (!lexer.AtEnd()) {
    const sql::Token t = lexer.Next();
    if (!MayHoldMarker(t)) continue;
    for (qsizetype i = std::max(t.start, resume); i < t.End(); ++i) {
      if (text[i] != marker) continue;
      if (i + 1 < n && text[i + 1] == marker) {  // a doubled marker is no reference
        resume = i + 2;
        break;
      }
      qsizetype j = i + 1;
      QString name;
      if (j < n && IsQuote(text[j])) {
        // A name in quotes runs to its closing quote.
        j += sql::Lexer(text.mid(j)).Next().length;
        name = StripNameQuotes(text.mid(i + 1, j - i - 1).toString());
      } else {
        while (j < n && !IsDelimiter(text[j], extra) && !IsQuote(text[j])) ++j;
        name = text.mid(i + 1, j - i - 1).toString();
      }
      tokens.push_back({name, i, j - i});
      resume = j < n && IsDelimiter(text[j], extra) ? j + 1 : j;
      break;
    }
  }
  return tokens;
}

QStringList ScanParamNames(QStringView text, QChar marker, QStringView extra) {
  QStringList names;
  for (const ParamToken& t : ScanParamTokens(text, marker, extra))
    if (!names.contains(t.name, Qt::CaseInsensitive)) names.append(t.name);
  return names;
}

}  // namespace qav::db
