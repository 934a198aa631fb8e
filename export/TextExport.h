#pragma once

#include "export/CellFileExport.h"

#include <vector>

namespace qav {

// Which cells get the text qualifier.
enum TTextQualifying {
  tqAny,         // every cell
  tqStringOnly,  // text fields, and title, header and footer cells
  tqNoNumber,    // numeric fields, and title, header and footer cells
};

// Plain text: one line per row, cells separated by Separator, optionally enclosed in
// TextQualifier, or padded to the column widths (Fixed). Texts are code page 874 bytes.
class TExportToText : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToText(QObject* owner = nullptr);

  TTextQualifying TextQualifying = tqStringOnly;
  // Separated text is meant for spreadsheets: a text of a text field (or a title) that one would
  // run as a formula gets a "'" before it, which makes it text there (LooksLikeFormula). Fixed
  // columns are left as they are.
  bool GuardFormulas = true;

  void Assign(const TExportCustomBaseComponent& source) override;
  int GetFormatVariant() override { return Fixed ? 1 : 2; }
  QString GetDefaultExt() override;

 protected:
  bool CanAppend() override { return true; }
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteColumnWidth(int column, int width) override;
  void EndRow(bool extraRow) override;
  bool ReadsFieldValue(const db::TField& field, TCellType cellType) const override;
  bool BeginRecords() override;
  void WriteRecord() override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;

 private:
  bool Qualifies(const db::TField* field, TCellType cellType) const;
  // True when the cell goes to the file as the field's plain text, neither qualified, padded,
  // nor changed by the settings: then it is written from the row store itself.
  bool WritesStoredValue(const db::TField& field, TCellType cellType) const;
  // Texts and integers straight from the row store's bytes; the rest through its plain text.
  void WriteStoredValue(const db::TField& field, TCellType cellType);

  // True when a text of this field (or a cell without one) is to be guarded.
  bool Guards(const db::TField* field) const;
  // A record cell as the run would write it without WriteRecord.
  void WriteFieldCell(const db::TField& field);
  // Column widths in characters, by output column, for Fixed.
  std::vector<int> widths_;
  QString separatorText_;
};

}  // namespace qav
