#include "export/CsvExport.h"

#include "core/FormatSettings.h"
#include "export/CellValue.h"
#include "export/WorksheetRecords.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qav {

namespace {

// The shortest plain decimal text that reads back as the same double, "." as decimal point:
// never an exponent, which spreadsheets show as 1.00E+05 for an amount of 100000. Written at
// `out`, which has room for kFixedChars; its end.
// The longest, 327 characters, is the smallest subnormal below zero: "-0.", 323 zeros, "5".
constexpr size_t kFixedChars = 400;
char* FixedText(double value, char* out) {
  return std::to_chars(out, out + kFixedChars, value, std::chars_format::fixed).ptr;
}

QString NumberText(double value) {
  char buffer[kFixedChars];
  return QString::fromLatin1(buffer, FixedText(value, buffer) - buffer);
}

// `width` digits of n, zeros in front.
char* Digits(char* out, int n, int width) {
  for (int i = width - 1; i >= 0; --i, n /= 10) out[i] = static_cast<char>('0' + n % 10);
  return out + width;
}

// "yyyy-MM-dd", "HH:mm:ss[.zzz]" or both, written into `out` (at least 32 bytes); its end.
char* IsoText(TCellValue::Kind kind, double value, char* out) {
  const TDateFields at = DateFieldsOf(value);
  if (kind != TCellValue::Time) {
    if (at.year < 0 || at.year > 9999) {
      const QByteArray date =
          QDate(at.year, at.month, at.day).toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
      out = std::copy(date.begin(), date.end(), out);
    } else {
      out = Digits(out, at.year, 4);
      *out++ = '-';
      out = Digits(out, at.month, 2);
      *out++ = '-';
      out = Digits(out, at.day, 2);
    }
    if (kind == TCellValue::Date) return out;
    if (kind == TCellValue::DateTime) *out++ = ' ';
  }
  out = Digits(out, at.hour, 2);
  *out++ = ':';
  out = Digits(out, at.minute, 2);
  *out++ = ':';
  out = Digits(out, at.second, 2);
  if (at.msec) {
    *out++ = '.';
    out = Digits(out, at.msec, 3);
  }
  return out;
}

}  // namespace

TExportToCsv::TExportToCsv(QObject* owner) : TExportToCellFile(owner) {
  Options &= ~TExportOptions(soBlankRowAfterCaptions);
}

QString TExportToCsv::Field(const QString& text) {
  static const QString special = QStringLiteral(",\"\r\n");
  bool quote = false;
  for (QChar c : text)
    if (special.contains(c)) {
      quote = true;
      break;
    }
  if (!quote) return text;
  QString quoted = text;
  quoted.replace(u'"', QStringLiteral("\"\""));
  return u'"' + quoted + u'"';
}

void TExportToCsv::WriteUtf8(const QString& text) {
  Stream()->WriteBytes(text.toUtf8());
}

void TExportToCsv::WriteField(std::string_view utf8) {
  if (utf8.empty()) {
    // Alone on its line an empty field is an empty line, which readers take for no row at all,
    // and for the same as NULL: the empty text is quoted there.
    if (VisibleColumnCount() == 1) Stream()->WriteBytes("\"\"", 2);
    return;
  }
  const bool guard = GuardFormulas && LooksLikeFormula(utf8);
  // A loop of its own: find_first_of looks each byte up in the set with a call.
  const auto special = [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; };
  if (std::none_of(utf8.begin(), utf8.end(), special)) {
    if (guard) Stream()->WriteByte('\'');
    Stream()->WriteBytes(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return;
  }
  Stream()->WriteByte('"');
  if (guard) Stream()->WriteByte('\'');
  for (std::size_t quote = utf8.find('"'); quote != std::string_view::npos;
       quote = utf8.find('"')) {
    // The quote doubled.
    Stream()->WriteBytes(utf8.data(), static_cast<qsizetype>(quote + 1));
    Stream()->WriteByte('"');
    utf8.remove_prefix(quote + 1);
  }
  Stream()->WriteBytes(utf8.data(), static_cast<qsizetype>(utf8.size()));
  Stream()->WriteByte('"');
}

void TExportToCsv::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  RequireOutputFile(*this);
  Stream()->WriteBytes("\xEF\xBB\xBF", 3);
}

void TExportToCsv::BeginRow(bool extraRow) {
  TExportToCellFile::BeginRow(extraRow);
  cellsInRow_ = 0;
}

void TExportToCsv::EndRow(bool extraRow) {
  Stream()->WriteBytes("\r\n", 2);
  TExportToCellFile::EndRow(extraRow);
}

bool TExportToCsv::ReadsFieldValue(const db::TField& field, TCellType cellType) const {
  // A text is copied from the row store in WriteCell, unless the character set changes it.
  return IsTypedCell(cellType, Options & soFieldMask) ||
         (cellType == ctString && !OnGetCellParams && CharacterSet == csANSI_WINDOWS &&
          db::IsTextType(field.DataType()));
}

bool TExportToCsv::BeginRecords() {
  // Cells typed as their fields are, without the zero rule.
  return !BlankIfZero && !(Options & soFieldMask);
}

void TExportToCsv::WriteRecord() {
  TRecordWriter& out = *Stream();
  const db::RowStore::CellView* const cells = RecordCells();
  for (const db::TField* field : RecordFields()) {
    if (cellsInRow_++ > 0) out.WriteByte(',');
    const db::TFieldType type = field->DataType();
    const db::RowStore::CellView* cell = cells ? &cells[field->Index()] : nullptr;
    if (cell && cell->kind == db::RowStore::Kind::Null) continue;
    if (cell && cell->kind == db::RowStore::Kind::Bytes && db::IsTextType(type)) {
      WriteField(cell->bytes);
    } else if (cell && cell->kind == db::RowStore::Kind::Int && db::IsIntegerType(type)) {
      char* const start = out.Room(24);
      out.Commit(std::to_chars(start, start + 24, cell->integer).ptr);
    } else if (cell && cell->kind == db::RowStore::Kind::Int && type == db::ftBoolean) {
      if (cell->integer)
        out.WriteBytes("True", 4);
      else
        out.WriteBytes("False", 5);
    } else if (cell && cell->kind == db::RowStore::Kind::Float && db::IsFloatType(type) &&
               std::isfinite(cell->number)) {
      char* const start = out.Room(kFixedChars);
      out.Commit(FixedText(cell->number, start));
    } else if (cell && cell->kind == db::RowStore::Kind::Float && db::IsDateTimeType(type)) {
      char* const start = out.Room(32);
      out.Commit(IsoText(type == db::ftDate   ? TCellValue::Date
                         : type == db::ftTime ? TCellValue::Time
                                              : TCellValue::DateTime,
                         cell->number, start));
    } else if (!field->IsNull()) {
      // The rest as the cell loop writes it.
      const TCellType cellType = GetCellTypeOfField(field, false);
      WriteValue(field, cellType,
                 ReadsFieldValue(*field, cellType) ? QString() : GetFieldText(field));
    }
  }
}

void TExportToCsv::WriteCell(const db::TField* field, TCellType cellType, int, int,
                             const QString& given, db::TAlignment, const QFont*, const QColor&) {
  if (cellsInRow_++ > 0) Stream()->WriteByte(',');
  WriteValue(field, cellType, given);
}

void TExportToCsv::WriteValue(const db::TField* field, TCellType cellType, const QString& given) {
  // A text the run left to this writer is copied as the row store holds it, or made now.
  const bool left =
      cellType == ctString && field && given.isEmpty() && ReadsFieldValue(*field, cellType);
  if (left)
    if (const auto stored = StoredText(*field)) return WriteField(*stored);
  const QString text = left ? CellText(field, given) : given;
  const TCellValue value = CellValueOf(field, cellType, text, Options & soFieldMask);
  switch (value.kind) {
    case TCellValue::Empty:
      // An empty text, not NULL, alone on its line.
      if (field && cellType == ctString && !field->IsNull()) WriteField({});
      break;
    case TCellValue::Integer: {
      char digits[24];
      Stream()->WriteBytes(
          digits, std::to_chars(digits, digits + sizeof digits, value.integer).ptr - digits);
      break;
    }
    case TCellValue::Number:
      // Infinities and NaN keep the words of the cell's text.
      WriteUtf8(std::isfinite(value.number) ? NumberText(value.number)
                                            : Field(CellText(field, text)));
      break;
    case TCellValue::Date:
    case TCellValue::Time:
    case TCellValue::DateTime: {
      char iso[32];
      Stream()->WriteBytes(iso, IsoText(value.kind, value.number, iso) - iso);
      break;
    }
    case TCellValue::Boolean:
    case TCellValue::Text:
      WriteField(CellText(field, text).toUtf8().toStdString());
      break;
  }
}

}  // namespace qav
