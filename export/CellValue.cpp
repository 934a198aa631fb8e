#include "export/CellValue.h"

#include "core/Exception.h"
#include "db/DataSet.h"
#include "db/Field.h"

namespace qav {

bool IsTypedCell(TCellType cellType, bool fieldMask) {
  switch (cellType) {
    case ctInteger:
    case ctFloat:
    case ctCurrency:
    case ctDate:
    case ctDateTime:
    case ctTime:
      return !fieldMask;
    default:
      return false;
  }
}

TCellValue CellValueOf(const db::TField* field, TCellType cellType, const QString& text,
                       bool fieldMask) {
  TCellValue v;
  if (cellType == ctBlank) return v;
  if (!field || fieldMask || cellType == ctString) {
    // A field the classification made text stays text, except the types it leaves to the
    // classic formats' 16-bit numbers and words: large integers and Booleans.
    const db::TFieldType type = field ? field->DataType() : db::ftUnknown;
    if (!field || fieldMask || (type != db::ftLargeint && type != db::ftBoolean)) {
      if (!text.isEmpty()) v.kind = TCellValue::Text;
      return v;
    }
  }
  if (field->IsNull()) return v;
  try {
    switch (field->DataType()) {
      case db::ftSmallint:
      case db::ftInteger:
      case db::ftWord:
      case db::ftAutoInc:
      case db::ftLargeint:
        v.kind = TCellValue::Integer;
        v.integer = field->AsLargeInt();
        return v;
      case db::ftFloat:
      case db::ftCurrency:
      case db::ftBCD:
        v.kind = TCellValue::Number;
        v.number = field->AsFloat();
        return v;
      case db::ftBoolean:
        v.kind = TCellValue::Boolean;
        v.boolean = field->AsBoolean();
        return v;
      case db::ftDate:
        v.kind = TCellValue::Date;
        v.number = field->AsDateTime();
        return v;
      case db::ftTime:
        v.kind = TCellValue::Time;
        v.number = field->AsDateTime();
        return v;
      case db::ftDateTime:
        v.kind = TCellValue::DateTime;
        v.number = field->AsDateTime();
        return v;
      default:
        break;
    }
  } catch (const EConvertError&) {
    // A value the database handed over in a form of its own is written as it came.
  }
  v = TCellValue();
  v.kind = TCellValue::Text;
  return v;
}

std::optional<std::string_view> StoredText(const db::TField& field) {
  const db::TDataSet* data = field.DataSet();
  const db::RowStore* store = data->Store();
  const qint64 row = data->CurrentRow();
  if (!store || row < 0 || row >= store->Rows() || !db::IsTextType(field.DataType()) ||
      store->KindAt(row, field.Index()) != db::RowStore::Kind::Bytes)
    return std::nullopt;
  return store->BytesAt(row, field.Index());
}

}  // namespace qav
