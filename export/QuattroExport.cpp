#include "export/QuattroExport.h"

#include <algorithm>

namespace qav {

TExportToQuattro::TExportToQuattro(QObject* owner) : TLotusFamilyExport(owner) {
  SetExportType(10);
}

TGridLimits TExportToQuattro::GridLimits() const {
  return {QStringLiteral("Quattro Pro worksheets"), kRows, kColumns};
}

void TExportToQuattro::WriteColumnWidth(int column, int width) {
  // A column past the last one cannot be named; its low byte would give another column this
  // width. The reversed layout announces one column more than it fills.
  if (column >= kColumns) return;
  WriteColW1(column, width);
}

void TExportToQuattro::WriteColW1(int column, int width) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kColW1, 3);
  WriteColumnNumber(column);
  // A wider column keeps the widest width the byte holds rather than its low bits, which
  // would make a 256-character column hidden.
  out.WriteByte(static_cast<quint8>(std::clamp(width, 0, 255)));
}

// One byte for the column and a byte of zero where Lotus has the column's high byte.
void TExportToQuattro::WriteColumnNumber(int column) {
  Stream()->WriteByte(static_cast<quint8>(column));
  Stream()->WriteByte(0);
}

}  // namespace qav
