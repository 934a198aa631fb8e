#include "export/LotusExport.h"

#include "export/WorksheetRecords.h"

namespace qav {

namespace {

// Format bytes of the cell records.
constexpr quint8 kBlankFormat = 0x22;
constexpr quint8 kIntegerFormat = 0x82;
constexpr quint8 kNumberFormat = 0xF1;
constexpr quint8 kLabelFormat = 0xF1;

const QString& FormatName() {
  static const QString name = QStringLiteral("Lotus 1-2-3 worksheet");
  return name;
}

}  // namespace

TExportToWKS::TExportToWKS(QObject* owner) : TExportToCellFile(owner) {
  SetExportType(9);
}

void TExportToWKS::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  RequireOutputFile(*this);
  WriteBof();
}

void TExportToWKS::WriteFileEnd() {
  WriteEof();
}

void TExportToWKS::WriteDimensions(int rowCount, int columnCount) {
  // The rows announced are all written, so an export that cannot fit fails before its cells.
  CheckWorksheetCell(FormatName(), rowCount - 1, 0, kLastColumn);
  WriteRange(columnCount - 1, rowCount - 1);
}

void TExportToWKS::WriteColumnWidth(int, int) {}

void TExportToWKS::WriteCell(const db::TField*, TCellType cellType, int row, int column,
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

void TExportToWKS::WriteBof() {
  Stream()->WriteRecordHeader(kBof, 2);
  Stream()->WriteWord(kVersion);
}

void TExportToWKS::WriteRange(int lastColumn, int lastRow) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kRange, 8);
  out.WriteWord(0);
  out.WriteWord(0);
  out.WriteWord(static_cast<quint16>(lastColumn));
  out.WriteWord(static_cast<quint16>(lastRow));
}

void TExportToWKS::WriteCellHeader(quint16 opcode, quint16 dataLength, quint8 format, int column,
                                   int row) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(opcode, dataLength);
  out.WriteByte(format);
  out.WriteWord(static_cast<quint16>(column));
  out.WriteWord(static_cast<quint16>(row));
}

void TExportToWKS::WriteBlank(int column, int row) {
  WriteCellHeader(kBlank, 5, kBlankFormat, column, row);
}

void TExportToWKS::WriteInteger(int column, int row, qint16 value) {
  WriteCellHeader(kInteger, 7, kIntegerFormat, column, row);
  Stream()->WriteSmallInt(value);
}

void TExportToWKS::WriteNumber(int column, int row, double value) {
  WriteCellHeader(kNumber, 13, kNumberFormat, column, row);
  Stream()->WriteDouble(value);
}

void TExportToWKS::WriteLabel(int column, int row, db::TAlignment alignment, QStringView text) {
  int bytes = 0;
  const QStringView cut = CutToBytes(text, kLabelBytes, bytes);
  WriteCellHeader(kLabel, static_cast<quint16>(bytes + 7), kLabelFormat, column, row);
  TRecordWriter& out = *Stream();
  out.WriteByte(static_cast<quint8>(LotusLabelPrefix(alignment)));
  out.WriteCp874(cut);
  out.WriteByte(0);
}

void TExportToWKS::WriteEof() {
  Stream()->WriteRecordHeader(kEof, 0);
}

}  // namespace qav
