#include "export/LotusExport.h"

namespace qav {

TExportToWKS::TExportToWKS(QObject* owner) : TLotusFamilyExport(owner) {
  SetExportType(9);
}

TGridLimits TExportToWKS::GridLimits() const {
  return {QStringLiteral("Lotus 1-2-3 worksheets"), kRows, kColumns};
}

// Lotus keeps no column widths.
void TExportToWKS::WriteColumnWidth(int, int) {}

quint8 TExportToWKS::CellFormat(quint16 opcode) const {
  switch (opcode) {
    case kBlank:
      return 0x22;
    case kInteger:
      return 0x82;
    default:  // NUMBER and LABEL
      return 0xF1;
  }
}

void TExportToWKS::WriteColumnNumber(int column) {
  Stream()->WriteWord(static_cast<quint16>(column));
}

}  // namespace qav
