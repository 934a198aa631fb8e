#pragma once

#include "export/CellFileExport.h"

#include <QStringView>

namespace qav {

// A Quattro Pro worksheet: the Lotus record set with Quattro's BOF, a COLW1 record per column,
// format bytes of 0 and one-byte column numbers: BOF, RANGE, COLW1..., the cell records, EOF.
// A sibling of the Lotus writer, not derived from it.
class TExportToQuattro : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToQuattro(QObject* owner = nullptr);

  QString GetDefaultExt() override { return QStringLiteral(".WQ1"); }

  // Opcodes.
  static constexpr quint16 kBof = 0;
  static constexpr quint16 kEof = 1;
  static constexpr quint16 kRange = 6;
  static constexpr quint16 kColW1 = 8;
  static constexpr quint16 kBlank = 12;
  static constexpr quint16 kInteger = 13;
  static constexpr quint16 kNumber = 14;
  static constexpr quint16 kLabel = 15;
  // The version word of BOF: Quattro Pro.
  static constexpr quint16 kVersion = 0x5120;
  // Longest label text, in bytes.
  static constexpr int kLabelBytes = 255;
  // Columns are one byte.
  static constexpr int kLastColumn = 255;

 protected:
  void WriteFileBegin() override;
  void WriteFileEnd() override;
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteColumnWidth(int column, int width) override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;

  // The records, in file order.
  void WriteBof();
  void WriteRange(int lastColumn, int lastRow);
  void WriteColW1(int column, int width);
  void WriteBlank(int column, int row);
  void WriteInteger(int column, int row, qint16 value);
  void WriteNumber(int column, int row, double value);
  void WriteLabel(int column, int row, db::TAlignment alignment, QStringView text);
  void WriteEof();

 private:
  // The format byte, column and row that start every cell record.
  void WriteCellHeader(quint16 opcode, quint16 dataLength, int column, int row);
};

}  // namespace qav
