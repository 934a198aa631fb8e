#include "export/CsvExport.h"

#include "export/CellValue.h"
#include "export/WorksheetRecords.h"

#include <charconv>
#include <cmath>

namespace qav {

namespace {

// The shortest plain decimal text that reads back as the same double, "." as decimal point:
// never an exponent, which spreadsheets show as 1.00E+05 for an amount of 100000.
QString NumberText(double value) {
  // The longest, 327 characters, is the smallest subnormal below zero: "-0.", 323 zeros, "5".
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString IsoText(TCellValue::Kind kind, double value) {
  const QDateTime at = db::DecodeDateTime(value);
  const QTime time = at.time();
  const QString clock =
      time.toString(time.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
  const QString date = at.date().toString(QStringLiteral("yyyy-MM-dd"));
  switch (kind) {
    case TCellValue::Date:
      return date;
    case TCellValue::Time:
      return clock;
    default:
      return date + u' ' + clock;
  }
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

bool TExportToCsv::ReadsFieldValue(const db::TField&, TCellType cellType) const {
  return IsTypedCell(cellType, Options & soFieldMask);
}

void TExportToCsv::WriteCell(const db::TField* field, TCellType cellType, int, int,
                             const QString& text, db::TAlignment, const QFont*, const QColor&) {
  if (cellsInRow_++ > 0) Stream()->WriteByte(',');
  const TCellValue value = CellValueOf(field, cellType, text, Options & soFieldMask);
  switch (value.kind) {
    case TCellValue::Empty:
      break;
    case TCellValue::Integer:
      WriteUtf8(QString::number(value.integer));
      break;
    case TCellValue::Number:
      // Infinities and NaN keep the words of the cell's text.
      WriteUtf8(std::isfinite(value.number) ? NumberText(value.number)
                                            : Field(CellText(field, text)));
      break;
    case TCellValue::Date:
    case TCellValue::Time:
    case TCellValue::DateTime:
      WriteUtf8(IsoText(value.kind, value.number));
      break;
    case TCellValue::Boolean:
    case TCellValue::Text:
      WriteUtf8(Field(CellText(field, text)));
      break;
  }
}

}  // namespace qav
