#include "export/TextExport.h"

#include "core/Exception.h"
#include "export/CellValue.h"

#include <charconv>

namespace qav {

namespace {

using namespace db;

// Qualified under tqNoNumber.
bool IsNumberClass(TFieldType type) {
  return IsIntegerType(type) || IsFloatType(type);
}

// Qualified under tqStringOnly: every text field (fixed-length and wide ones too, which can hold
// a separator as well as any other) and every large-object field.
bool IsStringLike(TFieldType type) {
  return IsTextType(type) || type == ftBlob || type == ftGraphic;
}

// Characters as the code page counts them: a pair of surrogates is one.
qsizetype CharacterCount(const QString& text) {
  qsizetype n = text.size();
  for (qsizetype i = 1; i < text.size(); ++i)
    if (text[i].isLowSurrogate() && text[i - 1].isHighSurrogate()) --n;
  return n;
}

}  // namespace

TExportToText::TExportToText(QObject* owner) : TExportToCellFile(owner) {
  Options &= ~TExportOptions(soBlankRowAfterCaptions);
  TextQualifying = tqStringOnly;
  SetExportType(2);
}

void TExportToText::Assign(const TExportCustomBaseComponent& source) {
  TExportToCellFile::Assign(source);
  if (const auto* text = dynamic_cast<const TExportToText*>(&source))
    TextQualifying = text->TextQualifying;
}

QString TExportToText::GetDefaultExt() {
  return Fixed ? QStringLiteral(".TXT") : QStringLiteral(".CSV");
}

void TExportToText::WriteDimensions(int, int columnCount) {
  widths_.assign(static_cast<size_t>(std::max(columnCount, 0)), 0);
}

void TExportToText::WriteColumnWidth(int column, int width) {
  if (column >= 0 && static_cast<size_t>(column) < widths_.size())
    widths_[static_cast<size_t>(column)] = width;
}

void TExportToText::EndRow(bool extraRow) {
  TExportToCellFile::EndRow(extraRow);
  WriteString(RecordSeparator);
}

bool TExportToText::ReadsFieldValue(const db::TField& field, TCellType cellType) const {
  return WritesStoredValue(field, cellType);
}

bool TExportToText::WritesStoredValue(const db::TField& field, TCellType cellType) const {
  // A cell handler sees, and may change, every text: it gets them all made.
  return !OnGetCellParams && !Fixed && !BlankIfZero && !(Options & soFieldMask) &&
         CharacterSet == csANSI_WINDOWS && (TextQualifier.isNull() || !Qualifies(&field, cellType));
}

void TExportToText::WriteStoredValue(const db::TField& field, TCellType cellType) {
  if (cellType == ctBlank || !Stream()) return;
  if (const auto utf8 = StoredText(field)) {
    Stream()->WriteCp874FromUtf8(*utf8);
  } else if (cellType == ctInteger && !field.IsNull()) {
    // As the plain text has it, without a QString between.
    try {
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, field.AsLargeInt());
      Stream()->WriteBytes(digits, end.ptr - digits);
    } catch (const EConvertError&) {
      WriteString(GetFieldText(&field));
    }
  } else {
    WriteString(GetFieldText(&field));
  }
}

bool TExportToText::Qualifies(const db::TField* field, TCellType cellType) const {
  if (TextQualifying == tqAny) return true;
  if (!field) return cellType == ctString;
  const TFieldType type = field->DataType();
  return (TextQualifying == tqStringOnly && IsStringLike(type)) ||
         (TextQualifying == tqNoNumber && IsNumberClass(type));
}

void TExportToText::WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                              const QString& text, db::TAlignment, const QFont*, const QColor&) {
  const bool qualify = !TextQualifier.isNull() && Qualifies(field, cellType);
  // A column outside the width table (more header lines than the reversed layout's table
  // has columns) is not padded.
  const int width = Fixed && column >= 0 && static_cast<size_t>(column) < widths_.size()
                        ? widths_[static_cast<size_t>(column)]
                        : 0;
  const qsizetype length = width > 0 ? CharacterCount(text) : 0;
  const bool pad = length < width;
  const bool blankRowAfterTitle =
      AddTitle && Options & soBlankRowAfterCaptions && row == static_cast<int>(Header.size()) + 1;
  const bool separate =
      !Separator.isNull() && column < VisibleColumnCount() - 1 && InData() && !blankRowAfterTitle;

  if (text.isEmpty() && field && WritesStoredValue(*field, cellType)) {
    // The run left the text to this writer (ReadsFieldValue).
    WriteStoredValue(*field, cellType);
  } else if (!qualify && !pad) {
    // The usual cell: its text as it is, no copy.
    WriteString(text);
  } else {
    QString cell = text;
    if (pad) {
      const QString blanks(width - length, u' ');
      cell = field && IsExportNumericType(field->DataType()) ? blanks + cell : cell + blanks;
    }
    if (qualify) {
      cell.replace(TextQualifier, QString(2, TextQualifier));
      cell = TextQualifier + cell + TextQualifier;
    }
    WriteString(cell);
  }
  if (separate) {
    if (separatorText_.size() != 1 || separatorText_[0] != Separator) separatorText_ = Separator;
    WriteString(separatorText_);
  }
}

}  // namespace qav
