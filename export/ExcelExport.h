#pragma once

#include "export/CellFileExport.h"

#include <QBuffer>
#include <QStringView>
#include <memory>
#include <vector>

namespace qav {

// An Excel worksheet as a bare stream of BIFF records: BOF, five FORMAT records, DIMENSIONS,
// COLWIDTH..., the cell records in the order the run hands them over, the FONT records of the
// fonts the cells used, EOF. Dates, times and money are numbers in the matching format.
class TExportToXLS : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToXLS(QObject* owner = nullptr);
  ~TExportToXLS() override;

  QString GetDefaultExt() override { return QStringLiteral(".XLS"); }

  // Record types.
  static constexpr quint16 kBlank = 0x0001;
  static constexpr quint16 kInteger = 0x0002;
  static constexpr quint16 kNumber = 0x0003;
  static constexpr quint16 kLabel = 0x0004;
  static constexpr quint16 kEof = 0x000A;
  static constexpr quint16 kFormat = 0x001E;
  static constexpr quint16 kColWidth = 0x0024;
  static constexpr quint16 kFont = 0x0031;
  static constexpr quint16 kDimensions = 0x0200;
  static constexpr quint16 kBof = 0x0409;

  // Format indices: the order of the FORMAT records.
  enum TFormatIndex { fiGeneral = 0, fiDate = 1, fiTime = 2, fiDateTime = 3, fiCurrency = 4 };

  // A cell's font index takes two bits.
  static constexpr int kMaxFonts = 4;
  static constexpr int kLabelBytes = 255;
  // What a worksheet of this format holds: DIMENSIONS counts rows in 16 bits, and a column
  // past the 256th is dropped by the readers.
  static constexpr int kRows = 65535;
  static constexpr int kColumns = 256;

  TGridLimits GridLimits() const override;

  // The fonts the current file's cells used, in the order first used.
  const std::vector<QFont>& FontList() const { return fontList_; }
  // The FONT records collected for the current file; empty when none is waiting.
  QByteArray FontBuffer() const;

  // The short time format of the FORMAT records: the process's long time pattern without its
  // seconds, with minutes spelt "mm" as the regional settings and spreadsheets spell them.
  static QString ShortTimeFormat();

 protected:
  void BeginExport() override;
  void EndExport() override;
  void WriteFileBegin() override;
  void WriteFileEnd() override;
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteColumnWidth(int column, int width) override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;
  // Appends the font's FONT record to FontBuffer.
  virtual void WriteFont(const QFont& font);
  // Writes one FORMAT record to the file.
  virtual void WriteFormat(const QString& format);

  // The cell's font index: its place in FontList, which takes up to four distinct fonts; 0
  // for no font and for a fifth one.
  int RegisterFont(const QFont* font);

  // The records, in file order.
  void WriteBof();
  void WriteDimensionsRecord(int rowCount, int columnCount);
  void WriteColWidth(int column, int width);
  void WriteBlank(int row, int column, quint8 attributes, db::TAlignment alignment);
  void WriteInteger(int row, int column, quint8 attributes, db::TAlignment alignment,
                    quint16 value);
  void WriteNumber(int row, int column, quint8 attributes, db::TAlignment alignment, double value);
  void WriteLabel(int row, int column, quint8 attributes, db::TAlignment alignment,
                  QStringView text);
  void WriteEof();

 private:
  // Row, column and the three attribute bytes that start every cell record.
  void WriteCellHeader(quint16 type, quint16 dataLength, int row, int column, quint8 attributes,
                       db::TAlignment alignment);
  void FreeFonts();

  struct FontKey {
    QString name;
    int style = 0;
    int size = 0;
  };
  std::vector<QFont> fontList_;
  std::vector<FontKey> fontKeys_;
  std::unique_ptr<QBuffer> fontBuffer_;
  std::unique_ptr<TRecordWriter> fontWriter_;
};

}  // namespace qav
