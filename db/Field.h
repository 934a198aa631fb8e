#pragma once

#include "db/Backend.h"
#include "db/DateTime.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qav::db {

class TDataSet;

// One column of an open dataset, reading the dataset's current row from its row store.
class TField {
 public:
  TField(TDataSet* dataSet, int index, const FieldDef& def);

  TDataSet* DataSet() const { return dataSet_; }
  int Index() const { return index_; }
  const QString& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  // Declared precision and scale of a decimal column; 0 when not declared.
  int Precision() const { return precision_; }
  int Scale() const { return scale_; }

  const QString& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(QString label) { displayLabel_ = std::move(label); }
  int DisplayWidth() const { return displayWidth_; }
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment) { alignment_ = alignment; }

  bool IsNull() const;
  QString AsString() const;
  // The text of the value in any row of the open dataset, without moving its cursor; views
  // read the rows this way.
  QString AsStringAt(qint64 row) const;
  qint64 AsLargeInt() const;
  int AsInteger() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  bool AsBoolean() const;
  QByteArray AsBytes() const;
  // Null, qint64, double, bool, QString, QByteArray or QDateTime, by the field's type.
  QVariant AsVariant() const;

 private:
  qint64 Row() const;
  QString Describe() const;

  TDataSet* dataSet_;
  int index_;
  QString name_;
  TFieldType type_;
  int size_;
  int precision_;
  int scale_;
  QString displayLabel_;
  int displayWidth_;
  bool visible_ = true;
  TAlignment alignment_;
};

}  // namespace qav::db
