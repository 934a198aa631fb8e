#include "export/QuattroExport.h"

#include "export/WorksheetRecords.h"

#include <algorithm>

namespace qav {

namespace {

constexpr quint8 kCellFormat = 0x00;

const QString& FormatName() {
  static const QString name = QStringLiteral("Quattro Pro worksheet");
  return name;
}

}  // namespace

TExportToQuattro::TExportToQuattro(QObject* owner) : TExportToCellFile(owner) {
  SetExportType(10);
}

void TExportToQuattro::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  RequireOutputFile(*this);
  WriteBof();
}

void TExportToQuattro::WriteFileEnd() {
  WriteEof();
}

void TExportToQuattro::WriteDimensions(int rowCount, int columnCount) {
  // The rows announced are all written, so an export that cannot fit fails before its cells.
  CheckWorksheetCell(FormatName(), rowCount - 1, 0, kLastColumn);
  WriteRange(columnCount - 1, rowCount - 1);
}

void TExportToQuattro::WriteColumnWidth(int column, int width) {
  // A column past the last one cannot be named; its low byte would give another column this
  // width. The reversed layout announces one column more than it fills.
  if (column > kLastColumn) return;
  WriteColW1(column, width);
}

void TExportToQuattro::WriteCell(const db::TField*, TCellType cellType, int row, int column,
                                 const QString& text, db::TAlignment alignment, const QFont*,
                                 const QColor&) {
  CheckWorksheetCell(FormatName(), row, column, kLastColumn);
  const TLotusCell cell = ChooseLotusCell(cellType, text, Options & soFieldMask);
  switch (cell.Record) {
    case lrBlank:
      WriteBlank(column, row);
      break;
    case lrInteger:
      WriteInteger(column, row, cell.Integer);
      break;
    case lrNumber:
      WriteNumber(column, row, cell.Number);
      break;
    case lrLabel:
      WriteLabel(column, row, alignment, text);
      break;
  }
}

void TExportToQuattro::WriteBof() {
  Stream()->WriteRecordHeader(kBof, 2);
  Stream()->WriteWord(kVersion);
}

void TExportToQuattro::WriteRange(int lastColumn, int lastRow) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kRange, 8);
  out.WriteWord(0);
  out.WriteWord(0);
  out.WriteByte(static_cast<quint8>(lastColumn));
  out.WriteByte(0);
  out.WriteWord(static_cast<quint16>(lastRow));
}

void TExportToQuattro::WriteColW1(int column, int width) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kColW1, 3);
  out.WriteByte(static_cast<quint8>(column));
  out.WriteByte(0);
  // A wider column keeps the widest width the byte holds rather than its low bits, which
  // would make a 256-character column hidden.
  out.WriteByte(static_cast<quint8>(std::clamp(width, 0, 255)));
}

void TExportToQuattro::WriteCellHeader(quint16 opcode, quint16 dataLength, int column, int row) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(opcode, dataLength);
  out.WriteByte(kCellFormat);
  out.WriteByte(static_cast<quint8>(column));
  out.WriteByte(0);
  out.WriteWord(static_cast<quint16>(row));
}

void TExportToQuattro::WriteBlank(int column, int row) {
  WriteCellHeader(kBlank, 5, column, row);
}

void TExportToQuattro::WriteInteger(int column, int row, qint16 value) {
  WriteCellHeader(kInteger, 7, column, row);
  Stream()->WriteSmallInt(value);
}

void TExportToQuattro::WriteNumber(int column, int row, double value) {
  WriteCellHeader(kNumber, 13, column, row);
  Stream()->WriteDouble(value);
}

void TExportToQuattro::WriteLabel(int column, int row, db::TAlignment alignment, QStringView text) {
  int bytes = 0;
  const QStringView cut = CutToBytes(text, kLabelBytes, bytes);
  WriteCellHeader(kLabel, static_cast<quint16>(bytes + 7), column, row);
  TRecordWriter& out = *Stream();
  out.WriteByte(static_cast<quint8>(LotusLabelPrefix(alignment)));
  out.WriteCp874(cut);
  out.WriteByte(0);
}

void TExportToQuattro::WriteEof() {
  Stream()->WriteRecordHeader(kEof, 0);
}

}  // namespace qav
