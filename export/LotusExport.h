#pragma once

#include "export/CellFileExport.h"

#include <QStringView>

namespace qav {

// A Lotus 1-2-3 worksheet: BOF, RANGE, the cell records in the order the run hands them over,
// EOF. No column widths, fonts or formats; dates and times go in as the texts the run made.
class TExportToWKS : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToWKS(QObject* owner = nullptr);

  QString GetDefaultExt() override { return QStringLiteral(".WK1"); }

  // Opcodes.
  static constexpr quint16 kBof = 0;
  static constexpr quint16 kEof = 1;
  static constexpr quint16 kRange = 6;
  static constexpr quint16 kBlank = 12;
  static constexpr quint16 kInteger = 13;
  static constexpr quint16 kNumber = 14;
  static constexpr quint16 kLabel = 15;
  // The version word of BOF: Lotus 1-2-3.
  static constexpr quint16 kVersion = 0x0404;
  // Longest label text, in bytes.
  static constexpr int kLabelBytes = 254;
  // Columns are 16-bit words.
  static constexpr int kLastColumn = 65535;

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
  void WriteBlank(int column, int row);
  void WriteInteger(int column, int row, qint16 value);
  void WriteNumber(int column, int row, double value);
  void WriteLabel(int column, int row, db::TAlignment alignment, QStringView text);
  void WriteEof();

 private:
  // The format byte, column and row that start every cell record.
  void WriteCellHeader(quint16 opcode, quint16 dataLength, quint8 format, int column, int row);
};

}  // namespace qav
