#pragma once

#include "db/FieldTypes.h"

#include <QString>
#include <QVariant>
#include <vector>

namespace qav::db {

// One named parameter of a statement or stored procedure. Its value is a QVariant holding
// nothing (null), a qint64, a double, a bool, a QString, a QByteArray or a QDateTime.
class TParam {
 public:
  TParam() = default;
  TParam(QString name, TFieldType type, TParamType direction)
      : name_(std::move(name)), dataType_(type), paramType_(direction) {}

  const QString& Name() const { return name_; }
  void SetName(QString name) { name_ = std::move(name); }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType type) { dataType_ = type; }
  TParamType ParamType() const { return paramType_; }
  void SetParamType(TParamType type) { paramType_ = type; }

  const QVariant& Value() const { return value_; }
  void SetValue(const QVariant& value) {
    value_ = value;
    bound_ = true;
  }
  bool IsNull() const { return value_.isNull(); }
  // A parameter is bound once a value (null included) has been given to it.
  bool Bound() const { return bound_; }
  void Clear() {
    value_ = QVariant();
    bound_ = false;
  }

  void SetAsInteger(qint64 value);
  void SetAsString(const QString& value);
  void SetAsFloat(double value);
  void SetAsDateTime(const QDateTime& value);
  void SetAsBoolean(bool value);
  void SetNull();
  qint64 AsInteger() const;
  QString AsString() const;
  double AsFloat() const;

  // Copies data type, direction and value, as a statement takes them from a script's list.
  void Assign(const TParam& other);

 private:
  QString name_;
  TFieldType dataType_ = ftUnknown;
  TParamType paramType_ = ptUnknown;
  QVariant value_;
  bool bound_ = false;
};

// An ordered list of parameters, looked up by name without regard to case.
class TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  TParam& operator[](int index) { return items_.at(static_cast<size_t>(index)); }
  const TParam& operator[](int index) const { return items_.at(static_cast<size_t>(index)); }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  TParam& CreateParam(TFieldType type, const QString& name, TParamType direction);
  TParam* FindParam(const QString& name);
  const TParam* FindParam(const QString& name) const;
  // Raises the parameter-not-found error when the name is absent.
  TParam& ParamByName(const QString& name);
  const TParam& ParamByName(const QString& name) const;
  void Clear() { items_.clear(); }

  // Copies values into the parameters of the same name; no parameter is added or removed.
  void AssignValues(const TParams& source);

 private:
  std::vector<TParam> items_;
};

// One reference to a named parameter found in a statement text.
struct ParamToken {
  QString name;      // without marker and without the quotes of a quoted name
  qsizetype start;   // index of the marker
  qsizetype length;  // marker and name as written
};

// Finds the parameter (or macro) references of a statement text: a marker character in code
// (never inside a string, a quoted or bracketed name or a comment) followed by a name that runs
// to the next delimiter (LF, CR, space, ")", ",", ";" and any extra delimiters) or quote. A
// doubled marker is not a reference; a name that begins with a quote runs to its closing quote.
std::vector<ParamToken> ScanParamTokens(QStringView text, QChar marker,
                                        QStringView extraDelimiters = {});

// A name written in quotes loses one pair of single quotes, then one pair of double quotes.
QString StripNameQuotes(QString name);

// The distinct names of ScanParamTokens, in order of first appearance.
QStringList ScanParamNames(QStringView text, QChar marker, QStringView extraDelimiters = {});

}  // namespace qav::db
