#include "export/WorksheetRecords.h"

#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "export/CellFileExport.h"
#include "export/ExportStrings.h"

#include <charconv>
#include <limits>

namespace qav {

void RequireOutputFile(TExportToCellFile& exporter) {
  if (!exporter.Stream())
    throw Exception(FormatExportText(exporter.GetLanguageString(lsPropertyNotSpecified),
                                     QStringLiteral("FileName")));
}

void CheckWorksheetCell(const QString& formatName, int row, int column, int lastColumn,
                        int lastRow) {
  // Messages count rows and columns from 1, as the spreadsheet programs show them.
  if (row > lastRow)
    throw ERangeError(QStringLiteral("%1 files hold at most %2 rows; row %3 cannot be written.")
                          .arg(formatName)
                          .arg(static_cast<qint64>(lastRow) + 1)
                          .arg(static_cast<qint64>(row) + 1));
  if (column > lastColumn)
    throw ERangeError(
        QStringLiteral("%1 files hold at most %2 columns; column %3 cannot be written.")
            .arg(formatName)
            .arg(static_cast<qint64>(lastColumn) + 1)
            .arg(static_cast<qint64>(column) + 1));
}

int IntegerOrZero(QStringView text) {
  qsizetype i = 0;
  const bool negative = !text.isEmpty() && text[0] == u'-';
  if (!text.isEmpty() && (text[0] == u'-' || text[0] == u'+')) ++i;
  if (i == text.size()) return 0;
  qint64 value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return 0;
    value = value * 10 + (c - u'0');
    if (value > static_cast<qint64>(std::numeric_limits<int>::max()) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max()) return 0;
  return static_cast<int>(value);
}

double NumberOrZero(const QString& text) {
  // The run's own texts are plain ASCII numbers: read them straight, and leave everything
  // else (blanks, other characters) to the program's reader, whose rules these follow.
  const QChar decimal = FormatSettings().DecimalSeparator;
  char ascii[64];
  qsizetype start = !text.isEmpty() && text[0] == u'+' ? 1 : 0;
  qsizetype n = 0;
  bool plain = text.size() - start < static_cast<qsizetype>(sizeof ascii);
  for (qsizetype i = start; plain && i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == decimal)
      ascii[n++] = '.';
    else if ((c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'e' || c == u'E')
      ascii[n++] = static_cast<char>(c.unicode());
    else
      plain = false;
  }
  if (plain) {
    double value = 0;
    const auto result = std::from_chars(ascii, ascii + n, value);
    if (result.ec == std::errc() && result.ptr == ascii + n) return value;
  }
  double value = 0;
  return TryStrToFloat(text, value) ? value : 0.0;
}

bool IsNonFiniteText(QStringView text) {
  return text == u"INF" || text == u"-INF" || text == u"NAN";
}

QStringView CutToBytes(QStringView text, int maxBytes, int& byteCount) {
  qsizetype i = 0;
  int bytes = 0;
  while (i < text.size() && bytes < maxBytes) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    ++i;
    ++bytes;
  }
  byteCount = bytes;
  return text.first(i);
}

TLotusCell ChooseLotusCell(TCellType cellType, const QString& text, bool fieldMask) {
  TLotusCell cell;
  int integer = 0;
  if (fieldMask) {
    cellType = ctString;
  } else if (cellType == ctInteger) {
    integer = IntegerOrZero(text);
    if (integer < -32767 || integer > 32767) cellType = ctFloat;
  }
  switch (cellType) {
    case ctBlank:
      cell.Record = lrBlank;
      break;
    case ctInteger:
      cell.Record = lrInteger;
      cell.Integer = static_cast<qint16>(integer);
      break;
    case ctFloat:
    case ctCurrency:
      if (IsNonFiniteText(text)) break;
      cell.Record = lrNumber;
      cell.Number = NumberOrZero(text);
      break;
    default:
      cell.Record = lrLabel;
      break;
  }
  return cell;
}

char LotusLabelPrefix(db::TAlignment alignment) {
  switch (alignment) {
    case db::taRightJustify:
      return '"';
    case db::taCenter:
      return '^';
    default:
      return '\'';
  }
}

}  // namespace qav
