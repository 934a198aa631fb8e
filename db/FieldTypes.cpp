#include "db/FieldTypes.h"

#include <array>

namespace qav::db {

namespace {

constexpr std::array<const char*, ftLargeint + 1> kFieldTypeNames = {
    "ftUnknown", "ftString",    "ftSmallint",   "ftInteger", "ftWord", "ftBoolean",
    "ftFloat",   "ftCurrency",  "ftBCD",        "ftDate",    "ftTime", "ftDateTime",
    "ftBytes",   "ftVarBytes",  "ftAutoInc",    "ftBlob",    "ftMemo", "ftGraphic",
    "ftFmtMemo", "ftFixedChar", "ftWideString", "ftLargeint"};

constexpr std::array<const char*, ptResult + 1> kParamTypeNames = {
    "ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult"};

}  // namespace

QString FieldTypeName(TFieldType type) {
  return QString::fromLatin1(kFieldTypeNames.at(static_cast<size_t>(type)));
}

TFieldType FieldTypeFromName(const QString& name) {
  for (size_t i = 0; i < kFieldTypeNames.size(); ++i)
    if (name.compare(QLatin1String(kFieldTypeNames[i]), Qt::CaseInsensitive) == 0)
      return static_cast<TFieldType>(i);
  return ftUnknown;
}

QString ParamTypeName(TParamType type) {
  return QString::fromLatin1(kParamTypeNames.at(static_cast<size_t>(type)));
}

TParamType ParamTypeFromName(const QString& name) {
  for (size_t i = 0; i < kParamTypeNames.size(); ++i)
    if (name.compare(QLatin1String(kParamTypeNames[i]), Qt::CaseInsensitive) == 0)
      return static_cast<TParamType>(i);
  return ptUnknown;
}

bool IsTextType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftMemo ||
         type == ftFmtMemo;
}

bool IsIntegerType(TFieldType type) {
  return type == ftSmallint || type == ftInteger || type == ftWord || type == ftAutoInc ||
         type == ftLargeint;
}

bool IsFloatType(TFieldType type) {
  return type == ftFloat || type == ftCurrency || type == ftBCD;
}

bool IsDateTimeType(TFieldType type) {
  return type == ftDate || type == ftTime || type == ftDateTime;
}

bool IsBinaryType(TFieldType type) {
  return type == ftBytes || type == ftVarBytes || type == ftBlob || type == ftGraphic;
}

int DefaultDisplayWidth(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return size > 0 ? size : 20;
    case ftSmallint:
      return 6;
    case ftInteger:
    case ftAutoInc:
      return 11;
    case ftWord:
      return 5;
    case ftLargeint:
      return 15;
    case ftBoolean:
      return 5;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return 10;
    case ftDate:
      return 10;  // dd/mm/yyyy
    case ftTime:
      return 8;  // hh:nn:ss
    case ftDateTime:
      return 19;
    case ftBytes:
    case ftVarBytes:
      return size > 0 ? size * 2 : 10;
    default:
      return 10;
  }
}

TAlignment DefaultAlignment(TFieldType type) {
  return IsIntegerType(type) || IsFloatType(type) ? taRightJustify : taLeftJustify;
}

}  // namespace qav::db
