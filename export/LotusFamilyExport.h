#pragma once

#include "export/CellFileExport.h"

#include <QStringView>

namespace qav {

// The record set that Lotus 1-2-3 and Quattro Pro worksheets share: BOF, RANGE, the cell
// records (BLANK, INTEGER, NUMBER, LABEL) in the order the run hands them over, EOF. A format
// says only what differs: its BOF version, the format byte of each cell record, how wide a
// column number is, its limits and its name.
class TLotusFamilyExport : public TExportToCellFile {
  Q_OBJECT

 public:
  // Opcodes.
  static constexpr quint16 kBof = 0;
  static constexpr quint16 kEof = 1;
  static constexpr quint16 kRange = 6;
  static constexpr quint16 kBlank = 12;
  static constexpr quint16 kInteger = 13;
  static constexpr quint16 kNumber = 14;
  static constexpr quint16 kLabel = 15;

 protected:
  using TExportToCellFile::TExportToCellFile;

  void WriteFileBegin() override;
  void WriteFileEnd() override;
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;

  // The records, in file order.
  void WriteBof();
  void WriteRange(int lastColumn, int lastRow);
  void WriteBlank(int column, int row);
  void WriteInteger(int column, int row, qint16 value);
  void WriteNumber(int column, int row, double value);
  void WriteLabel(int column, int row, db::TAlignment alignment, QStringView text);
  void WriteEof();

  // What the format fixes (its limits in GridLimits).
  virtual quint16 Version() const = 0;
  virtual int LabelBytes() const = 0;
  virtual quint8 CellFormat(quint16 opcode) const = 0;
  // A column number as the format's records hold it.
  virtual void WriteColumnNumber(int column) = 0;

 private:
  // The format byte, column and row that start every cell record.
  void WriteCellHeader(quint16 opcode, quint16 dataLength, int column, int row);
};

}  // namespace qav
