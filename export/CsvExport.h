#pragma once

#include "export/CellFileExport.h"

#include <string_view>

namespace qav {

// Comma-separated values as RFC 4180 has them, in UTF-8 with a byte-order mark (so that Excel
// reads Thai): one line per row ending in CR LF; a field holding a comma, a quote, CR or LF is
// quoted, its quotes doubled. Numbers use "." whatever the process-wide settings, dates and
// times are ISO 8601 (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss, hh:mm:ss; milliseconds when there are
// any), NULL is an empty field (an empty text alone on its line is ""). Every character is kept;
// a text that a spreadsheet would take for a formula gets a "'" before it (GuardFormulas).
class TExportToCsv : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToCsv(QObject* owner = nullptr);

  // A text that a spreadsheet would run as a formula ("=HYPERLINK(...)", "+1+2", "@SUM()") gets
  // a "'" before it, which makes it text there (LooksLikeFormula). Numbers are never changed.
  bool GuardFormulas = true;

  QString GetDefaultExt() override { return QStringLiteral(".CSV"); }

  // The field's text as it goes into the file.
  static QString Field(const QString& text);

 protected:
  void WriteFileBegin() override;
  void BeginRow(bool extraRow) override;
  void EndRow(bool extraRow) override;
  bool ReadsFieldValue(const db::TField& field, TCellType cellType) const override;
  bool BeginRecords() override;
  void WriteRecord() override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;

 private:
  void WriteUtf8(const QString& text);
  // A cell after its comma.
  void WriteValue(const db::TField* field, TCellType cellType, const QString& given);
  // A text as the row store holds it, quoted where it must be as Field quotes it.
  void WriteField(std::string_view utf8);

  // Cells written in the current row: every one after the first takes a comma before it.
  int cellsInRow_ = 0;
};

}  // namespace qav
