#pragma once

#include <QString>

namespace qav::db {

// The toolkit's field types, in the toolkit's order, so that stored numbers keep their meaning.
enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftFixedChar,
  ftWideString,
  ftLargeint,
};

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// The field type's name as the toolkit spells it ("ftString").
QString FieldTypeName(TFieldType type);
// Parses a name written by FieldTypeName; ftUnknown for anything else.
TFieldType FieldTypeFromName(const QString& name);
QString ParamTypeName(TParamType type);
TParamType ParamTypeFromName(const QString& name);

bool IsTextType(TFieldType type);      // ftString, ftFixedChar, ftWideString, ftMemo, ftFmtMemo
bool IsIntegerType(TFieldType type);   // ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint
bool IsFloatType(TFieldType type);     // ftFloat, ftCurrency, ftBCD
bool IsDateTimeType(TFieldType type);  // ftDate, ftTime, ftDateTime
bool IsBinaryType(TFieldType type);    // ftBytes, ftVarBytes, ftBlob, ftGraphic

// Width in characters of the field's usual display text; text fields use their declared size.
int DefaultDisplayWidth(TFieldType type, int size);
// Numbers are right-aligned, everything else left-aligned.
TAlignment DefaultAlignment(TFieldType type);

}  // namespace qav::db
