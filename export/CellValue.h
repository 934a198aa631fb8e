#pragma once

#include "db/DateTime.h"
#include "export/ExportComponent.h"

#include <QString>
#include <optional>
#include <string_view>

namespace qav {

// A record cell as the typed formats (the Excel workbook, CSV) keep it. The classic writers
// read the cell's text, which the run's separators shape; these read the field's own value, so
// that numbers and dates come out the same whatever the process-wide format settings are.
struct TCellValue {
  enum Kind { Empty, Integer, Number, Boolean, Date, Time, DateTime, Text };

  Kind kind = Empty;
  qint64 integer = 0;
  // Number; for Date, Time and DateTime the date-time number (days since 30 December 1899).
  double number = 0;
  bool boolean = false;
};

// True for a text a spreadsheet would take for a formula when it opens a CSV or text file: one
// that begins with "=", "+", "-", "@", a tab or a carriage return (OWASP's list for CSV
// injection). The writers that guard against it put a "'" before such a text, which makes it
// text to the spreadsheet.
inline bool LooksLikeFormula(char first) {
  return first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' ||
         first == '\r';
}
inline bool LooksLikeFormula(std::string_view utf8) {
  return !utf8.empty() && LooksLikeFormula(utf8.front());
}
inline bool LooksLikeFormula(const QString& text) {
  return !text.isEmpty() && text.front().unicode() < 0x80 &&
         LooksLikeFormula(static_cast<char>(text.front().unicode()));
}

// The cell types whose value the typed formats read from the field (numbers, money, dates
// and times), unless every cell is to be text (fieldMask).
bool IsTypedCell(TCellType cellType, bool fieldMask);

// The value of a cell handed to WriteCell. Cells without a field (titles, header and footer
// lines, columns an engine supplies itself), cells the run made text (soFieldMask, a cell
// handler's choice) and values the database handed over in a form of their own are Text (the
// writer's CellText gives it when the run left it empty); blanked cells are Empty.
TCellValue CellValueOf(const db::TField* field, TCellType cellType, const QString& text,
                       bool fieldMask);

// The current record's cell of a text field as the row store holds it (UTF-8), for the writers
// that copy its bytes rather than make a QString of it; nullopt for a cell of another kind or
// a dataset without a row store.
std::optional<std::string_view> StoredText(const db::TField& field);

}  // namespace qav
