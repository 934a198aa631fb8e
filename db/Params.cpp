#include "db/Params.h"

#include "db/Errors.h"

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
  bool literal = false;
  const qsizetype n = text.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = text[i];
    if (IsQuote(c)) {
      literal = !literal;
    } else if (c == marker && !literal) {
      if (i + 1 < n && text[i + 1] == marker) {
        i += 2;
        continue;
      }
      qsizetype j = i + 1;
      while (j < n && (literal || !IsDelimiter(text[j], extra))) {
        if (IsQuote(text[j])) literal = !literal;
        ++j;
      }
      QString name = text.mid(i + 1, j - i - 1).toString();
      if (!name.isEmpty() && IsQuote(name[0])) name = StripNameQuotes(name);
      tokens.push_back({name, i, j - i});
      i = j + 1;  // the character that ended the name is not examined again
      continue;
    }
    ++i;
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
