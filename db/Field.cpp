#include "db/Field.h"

#include "db/DataSet.h"
#include "db/Errors.h"

#include <cmath>
#include <limits>

namespace qav::db {

namespace {

QString FormatDateTimeField(TFieldType type, TDateTime value) {
  const QDateTime dt = DecodeDateTime(value);
  switch (type) {
    case ftDate:
      return dt.date().toString(QStringLiteral("dd/MM/yyyy"));
    case ftTime:
      return dt.time().toString(QStringLiteral("HH:mm:ss"));
    default:
      if (dt.time().msecsSinceStartOfDay() == 0)
        return dt.date().toString(QStringLiteral("dd/MM/yyyy"));
      return dt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
  }
}

}  // namespace

TField::TField(TDataSet* dataSet, int index, const FieldDef& def)
    : dataSet_(dataSet),
      index_(index),
      name_(def.name),
      type_(def.type),
      size_(def.size),
      precision_(def.precision),
      scale_(def.scale),
      displayLabel_(def.name),
      displayWidth_(DefaultDisplayWidth(def.type, def.size)),
      alignment_(DefaultAlignment(def.type)) {}

qint64 TField::Row() const {
  if (!dataSet_->Active() || dataSet_->IsEmpty())
    throw EDatabaseError(QStringLiteral("%1: No current record").arg(Describe()));
  return dataSet_->CurrentRow();
}

QString TField::Describe() const {
  const QString owner = dataSet_->objectName();
  return owner.isEmpty() ? name_ : owner + u'.' + name_;
}

bool TField::IsNull() const {
  if (!dataSet_->Active() || dataSet_->IsEmpty()) return true;
  return dataSet_->Store()->IsNull(Row(), index_);
}

QString TField::AsString() const {
  if (IsNull()) return {};
  return AsStringAt(Row());
}

QString TField::AsStringAt(qint64 row) const {
  const RowStore* store = dataSet_->Store();
  if (!store || row < 0 || row >= store->Rows()) return {};
  const RowStore& s = *store;
  switch (s.KindAt(row, index_)) {
    case RowStore::Kind::Int:
      if (type_ == ftBoolean)
        return s.IntAt(row, index_) ? QStringLiteral("True") : QStringLiteral("False");
      return QString::number(s.IntAt(row, index_));
    case RowStore::Kind::Float:
      if (IsDateTimeType(type_)) return FormatDateTimeField(type_, s.FloatAt(row, index_));
      return QString::number(s.FloatAt(row, index_), 'g', 15);
    case RowStore::Kind::Bytes: {
      const std::string_view bytes = s.BytesAt(row, index_);
      if (IsBinaryType(type_))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
      return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    case RowStore::Kind::Null:
      break;
  }
  return {};
}

qint64 TField::AsLargeInt() const {
  if (IsNull()) return 0;
  const RowStore& s = *dataSet_->Store();
  const qint64 row = Row();
  switch (s.KindAt(row, index_)) {
    case RowStore::Kind::Int:
      return s.IntAt(row, index_);
    case RowStore::Kind::Float: {
      const double v = std::round(s.FloatAt(row, index_));
      if (std::fabs(v) < 9.2e18) return static_cast<qint64>(v);
      break;
    }
    case RowStore::Kind::Bytes: {
      bool ok = false;
      const qint64 v = AsString().trimmed().toLongLong(&ok);
      if (ok) return v;
      break;
    }
    case RowStore::Kind::Null:
      return 0;
  }
  throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(AsString()));
}

int TField::AsInteger() const {
  const qint64 v = AsLargeInt();
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(v));
  return static_cast<int>(v);
}

double TField::AsFloat() const {
  if (IsNull()) return 0.0;
  const RowStore& s = *dataSet_->Store();
  const qint64 row = Row();
  switch (s.KindAt(row, index_)) {
    case RowStore::Kind::Int:
      return static_cast<double>(s.IntAt(row, index_));
    case RowStore::Kind::Float:
      return s.FloatAt(row, index_);
    case RowStore::Kind::Bytes: {
      bool ok = false;
      const double v = AsString().trimmed().toDouble(&ok);
      if (ok) return v;
      throw EConvertError(
          QStringLiteral("'%1' is not a valid floating point value").arg(AsString()));
    }
    case RowStore::Kind::Null:
      break;
  }
  return 0.0;
}

TDateTime TField::AsDateTime() const {
  if (IsNull()) return 0.0;
  const RowStore& s = *dataSet_->Store();
  const qint64 row = Row();
  switch (s.KindAt(row, index_)) {
    case RowStore::Kind::Int:
      return static_cast<double>(s.IntAt(row, index_));
    case RowStore::Kind::Float:
      return s.FloatAt(row, index_);
    case RowStore::Kind::Bytes:
      if (auto v = ParseIsoDateTime(AsString())) return *v;
      throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(AsString()));
    case RowStore::Kind::Null:
      break;
  }
  return 0.0;
}

bool TField::AsBoolean() const {
  if (IsNull()) return false;
  const RowStore& s = *dataSet_->Store();
  const qint64 row = Row();
  if (s.KindAt(row, index_) == RowStore::Kind::Bytes) {
    const QString text = AsString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
    throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
  }
  return AsFloat() != 0.0;
}

QByteArray TField::AsBytes() const {
  if (IsNull()) return {};
  const RowStore& s = *dataSet_->Store();
  const qint64 row = Row();
  if (s.KindAt(row, index_) == RowStore::Kind::Bytes) {
    const std::string_view bytes = s.BytesAt(row, index_);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return AsString().toUtf8();
}

QVariant TField::AsVariant() const {
  if (IsNull()) return {};
  const RowStore::Kind kind = dataSet_->Store()->KindAt(Row(), index_);
  if (type_ == ftBoolean && kind == RowStore::Kind::Int) return AsBoolean();
  if (IsDateTimeType(type_) && kind == RowStore::Kind::Float) return DecodeDateTime(AsDateTime());
  if (IsBinaryType(type_)) return AsBytes();
  switch (kind) {
    case RowStore::Kind::Int:
      return QVariant::fromValue(AsLargeInt());
    case RowStore::Kind::Float:
      return AsFloat();
    default:
      return AsString();
  }
}

}  // namespace qav::db
