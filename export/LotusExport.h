#pragma once

#include "export/LotusFamilyExport.h"

namespace qav {

// A Lotus 1-2-3 worksheet: BOF, RANGE, the cell records in the order the run hands them over,
// EOF. No column widths, fonts or formats; dates and times go in as the texts the run made.
class TExportToWKS : public TLotusFamilyExport {
  Q_OBJECT

 public:
  explicit TExportToWKS(QObject* owner = nullptr);

  QString GetDefaultExt() override { return QStringLiteral(".WK1"); }

  // The version word of BOF: Lotus 1-2-3.
  static constexpr quint16 kVersion = 0x0404;
  // Longest label text, in bytes.
  static constexpr int kLabelBytes = 254;
  // What a worksheet holds as the readers read it: columns past the 256th are wrapped onto the
  // first ones or refused, though the records number them in 16 bits, and a row past the
  // 32,768th makes the file unreadable.
  static constexpr int kRows = 32768;
  static constexpr int kColumns = 256;

  TGridLimits GridLimits() const override;

 protected:
  void WriteColumnWidth(int column, int width) override;

  quint16 Version() const override { return kVersion; }
  int LabelBytes() const override { return kLabelBytes; }
  quint8 CellFormat(quint16 opcode) const override;
  void WriteColumnNumber(int column) override;
};

}  // namespace qav
