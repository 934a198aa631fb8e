#include "export/LotusFamilyExport.h"

#include "export/WorksheetRecords.h"

#include <algorithm>

namespace qav {

void TLotusFamilyExport::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  RequireOutputFile(*this);
  WriteBof();
}

void TLotusFamilyExport::WriteFileEnd() {
  WriteEof();
}

void TLotusFamilyExport::WriteDimensions(int rowCount, int columnCount) {
  // The run has checked the rows; the columns announced are one more than those filled, which
  // at the last column would name a column the sheet does not have (or, as its low byte, the
  // first).
  WriteRange(std::min(columnCount, GridLimits().Columns) - 1, rowCount - 1);
}

void TLotusFamilyExport::WriteCell(const db::TField*, TCellType cellType, int row, int column,
                                   const QString& text, db::TAlignment alignment, const QFont*,
                                   const QColor&) {
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

void TLotusFamilyExport::WriteBof() {
  Stream()->WriteRecordHeader(kBof, 2);
  Stream()->WriteWord(Version());
}

void TLotusFamilyExport::WriteRange(int lastColumn, int lastRow) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kRange, 8);
  out.WriteWord(0);
  out.WriteWord(0);
  WriteColumnNumber(lastColumn);
  out.WriteWord(static_cast<quint16>(lastRow));
}

void TLotusFamilyExport::WriteCellHeader(quint16 opcode, quint16 dataLength, int column, int row) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(opcode, dataLength);
  out.WriteByte(CellFormat(opcode));
  WriteColumnNumber(column);
  out.WriteWord(static_cast<quint16>(row));
}

void TLotusFamilyExport::WriteBlank(int column, int row) {
  WriteCellHeader(kBlank, 5, column, row);
}

void TLotusFamilyExport::WriteInteger(int column, int row, qint16 value) {
  WriteCellHeader(kInteger, 7, column, row);
  Stream()->WriteSmallInt(value);
}

void TLotusFamilyExport::WriteNumber(int column, int row, double value) {
  WriteCellHeader(kNumber, 13, column, row);
  Stream()->WriteDouble(value);
}

void TLotusFamilyExport::WriteLabel(int column, int row, db::TAlignment alignment,
                                    QStringView text) {
  int bytes = 0;
  const QStringView cut = CutToBytes(text, LabelBytes(), bytes);
  if (cut.size() < text.size()) CountCutText(LabelBytes());
  WriteCellHeader(kLabel, static_cast<quint16>(bytes + 7), column, row);
  TRecordWriter& out = *Stream();
  out.WriteByte(static_cast<quint8>(LotusLabelPrefix(alignment)));
  out.WriteCp874(cut);
  out.WriteByte(0);
}

void TLotusFamilyExport::WriteEof() {
  Stream()->WriteRecordHeader(kEof, 0);
}

}  // namespace qav
