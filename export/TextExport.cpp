#include "export/TextExport.h"

#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "export/CellValue.h"

#include <algorithm>
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
  if (const auto* text = dynamic_cast<const TExportToText*>(&source)) {
    TextQualifying = text->TextQualifying;
    GuardFormulas = text->GuardFormulas;
  }
}

bool TExportToText::Guards(const db::TField* field) const {
  return GuardFormulas && !Fixed && (!field || db::IsTextType(field->DataType()));
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
    if (LooksLikeFormula(*utf8) && Guards(&field)) Stream()->WriteByte('\'');
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

bool TExportToText::BeginRecords() {
  // Cells that go out as their plain texts, unqualified and unpadded.
  return Stream() && !Fixed && !BlankIfZero && !(Options & soFieldMask) && TextQualifier.isNull() &&
         Separator.unicode() < 0x80;
}

void TExportToText::WriteFieldCell(const db::TField& field) {
  if (!field.IsNull()) WriteStoredValue(field, GetCellTypeOfField(&field, BlankIfZero));
}

void TExportToText::WriteRecord() {
  TRecordWriter& out = *Stream();
  const db::RowStore::CellView* const cells = RecordCells();
  const TFormatSettings& fs = FormatSettings();
  const char16_t point = fs.DecimalSeparator.unicode();
  // Numbers are written as bytes only with a separator that is one.
  const bool numbers = point < 0x80;
  const auto number = [&](char* (*format)(double, char*), double value) {
    char* const start = out.Room(kNumberChars);
    char* const end = format(value, start);
    if (point != u'.') std::replace(start, end, '.', static_cast<char>(point));
    out.Commit(end);
  };
  const int separators = VisibleColumnCount() - 1;
  const char separator = static_cast<char>(Separator.unicode());
  const std::vector<const db::TField*>& fields = RecordFields();
  for (size_t k = 0; k < fields.size(); ++k) {
    if (k > 0 && !Separator.isNull() && static_cast<int>(k) <= separators) out.WriteByte(separator);
    const db::TField& field = *fields[k];
    if (!cells) {
      WriteFieldCell(field);
      continue;
    }
    const db::RowStore::CellView& cell = cells[field.Index()];
    const TPlainForm form = PlainFormOf(field.DataType(), cell.kind);
    switch (form) {
      case TPlainForm::Empty:
        break;
      case TPlainForm::Integer: {
        char* const start = out.Room(24);
        out.Commit(std::to_chars(start, start + 24, cell.integer).ptr);
        break;
      }
      case TPlainForm::Boolean:
        if (cell.integer)
          out.WriteBytes("True", 4);
        else
          out.WriteBytes("False", 5);
        break;
      case TPlainForm::Float:
      case TPlainForm::Money:
        if (numbers)
          number(form == TPlainForm::Float ? FloatToChars : CurrToChars, cell.number);
        else
          WriteFieldCell(field);
        break;
      case TPlainForm::DateTime: {
        constexpr size_t kRoom = 64;
        char* const start = out.Room(kRoom);
        if (char* end = DateTimeChars(field.DataType(), cell.number, start, start + kRoom, fs))
          out.Commit(end);
        else
          WriteFieldCell(field);
        break;
      }
      case TPlainForm::Text:
        if (LooksLikeFormula(cell.bytes) && Guards(&field)) out.WriteByte('\'');
        out.WriteCp874FromUtf8(cell.bytes);
        break;
      case TPlainForm::Other:
        WriteFieldCell(field);
        break;
    }
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

  const bool guard = cellType == ctString && LooksLikeFormula(text) && Guards(field);
  if (text.isEmpty() && field && WritesStoredValue(*field, cellType)) {
    // The run left the text to this writer (ReadsFieldValue).
    WriteStoredValue(*field, cellType);
  } else if (!qualify && !pad && !guard) {
    // The usual cell: its text as it is, no copy.
    WriteString(text);
  } else {
    QString cell = guard ? u'\'' + text : text;
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
