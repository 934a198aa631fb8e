#pragma once

#include "export/LotusFamilyExport.h"

namespace qav {

// A Quattro Pro worksheet: the Lotus record set with Quattro's BOF, a COLW1 record per column,
// format bytes of 0 and one-byte column numbers: BOF, RANGE, COLW1..., the cell records, EOF.
class TExportToQuattro : public TLotusFamilyExport {
  Q_OBJECT

 public:
  explicit TExportToQuattro(QObject* owner = nullptr);

  QString GetDefaultExt() override { return QStringLiteral(".WQ1"); }

  static constexpr quint16 kColW1 = 8;
  // The version word of BOF: Quattro Pro.
  static constexpr quint16 kVersion = 0x5120;
  // Longest label text, in bytes.
  static constexpr int kLabelBytes = 255;
  // What a worksheet holds: columns are one byte, and a row past the 32,768th makes the file
  // unreadable.
  static constexpr int kRows = 32768;
  static constexpr int kColumns = 256;

  TGridLimits GridLimits() const override;

 protected:
  void WriteColumnWidth(int column, int width) override;
  void WriteColW1(int column, int width);

  quint16 Version() const override { return kVersion; }
  int LabelBytes() const override { return kLabelBytes; }
  quint8 CellFormat(quint16) const override { return 0x00; }
  void WriteColumnNumber(int column) override;
};

}  // namespace qav
