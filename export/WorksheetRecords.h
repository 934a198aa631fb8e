#pragma once

#include "db/FieldTypes.h"
#include "export/ExportComponent.h"

#include <QString>
#include <QStringView>

namespace qav {

// What the Excel, Lotus and Quattro writers share beyond the record stream itself (header,
// little-endian words and doubles are TRecordWriter's): the reading of cell texts as numbers,
// the cutting of texts to a record's length byte, and the limits of the cell numbering.

class TExportToCellFile;

// The binary writers need a file: an export without FileName fails with "Property FileName is
// not specified." rather than finishing without output.
void RequireOutputFile(TExportToCellFile& exporter);

// Rows are 16-bit words in all three formats.
constexpr int kWorksheetLastRow = 65535;

// Raises ERangeError naming the format's limit when a cell would go to a row or column the
// format cannot number: written as its low bits it would land on top of another cell.
void CheckWorksheetCell(const QString& formatName, int row, int column, int lastColumn,
                        int lastRow = kWorksheetLastRow);

// The text read as a 32-bit integer (sign and digits, nothing else); 0 when it is not one.
int IntegerOrZero(QStringView text);
// The text read as a floating-point number with the process's decimal separator; 0.0 when it
// is not one.
double NumberOrZero(const QString& text);

// The text of a value that no NUMBER record holds as itself: "INF", "-INF" and "NAN", as the
// program writes infinities and not-a-number. Such a cell is written as a label with its text.
bool IsNonFiniteText(QStringView text);

// The longest start of the text that fits in maxBytes code page 874 bytes. The code page has
// one byte per character (a character it lacks becomes one "?"), so byteCount, the bytes the
// result takes, is its character count; a surrogate pair is never split.
QStringView CutToBytes(QStringView text, int maxBytes, int& byteCount);

// The Lotus family (Lotus 1-2-3 and Quattro Pro) turns a cell into one of four records, by the
// same rules in both formats.
enum TLotusRecord { lrBlank, lrInteger, lrNumber, lrLabel };

struct TLotusCell {
  TLotusRecord Record = lrLabel;
  qint16 Integer = 0;
  double Number = 0;
};

// With fieldMask every cell is a label; an integer outside -32767..32767 becomes a number.
// Texts that do not convert give 0; an empty text keeps its type; an infinite or not-a-number
// value is a label.
TLotusCell ChooseLotusCell(TCellType cellType, const QString& text, bool fieldMask);

// The character in front of a label's text that tells the alignment.
char LotusLabelPrefix(db::TAlignment alignment);

}  // namespace qav
