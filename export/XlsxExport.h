#pragma once

#include "export/CellFileExport.h"

#include <memory>

namespace qav {

// An Excel workbook (.xlsx, Office Open XML) written through libxlsxwriter: numbers as numbers
// (integers of up to 15 digits, beyond which Excel would change them, stay text), money and
// decimals in a number format with their decimals, dates and times as Excel dates in the
// console's dd/mm/yyyy, Booleans as TRUE and FALSE, text as Unicode, NULL as an empty cell. The
// title row is bold and frozen under an autofilter; columns take the fields' display widths.
// Rows go to the file as they come (the library's constant-memory mode), so memory does not
// grow with the rows; a reversed layout, which writes across the rows, is held in memory.
class TExportToXlsx : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToXlsx(QObject* owner = nullptr);
  ~TExportToXlsx() override;

  QString GetDefaultExt() override { return QStringLiteral(".XLSX"); }

  // What one worksheet holds.
  static constexpr int kLastRow = 1048575;
  static constexpr int kLastColumn = 16383;
  static constexpr int kMaxTextLength = 32767;
  // Excel keeps 15 significant digits: a larger integer is written as text.
  static constexpr qint64 kLargestExactInteger = 999999999999999;

  // The Excel date number of a date-time number, or a negative number for a day before
  // 1 January 1900, which Excel cannot show as a date. Excel counts a 29 February 1900 that
  // never was, so its numbers of the first two months of 1900 are one less than ours.
  static double ExcelDateNumber(double dateTime);

 protected:
  void CreateStream(const QString& fileName) override;
  void WriteFileBegin() override;
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteColumnWidth(int column, int width) override;
  bool ReadsFieldValue(const db::TField& field, TCellType cellType) const override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;
  void CloseFile() override;

 private:
  struct Workbook;
  // The title row of the columnar layout, or -1.
  int TitleRow() const;
  void WriteText(int row, int column, const QString& text, bool title);
  // Closes the workbook, which writes the file, and raises its error.
  void Finish();

  std::unique_ptr<Workbook> book_;
};

}  // namespace qav
