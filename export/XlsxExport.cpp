#include "export/XlsxExport.h"

#include "core/Exception.h"
#include "core/FileError.h"
#include "db/Field.h"
#include "export/CellValue.h"
#include "export/ExportStrings.h"
#include "export/WorksheetRecords.h"
#include "platform/Console.h"

#include <xlsxwriter.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cmath>

namespace qav {

namespace {

const QString& FormatName() {
  static const QString name = QStringLiteral("Excel workbook");
  return name;
}

// Characters a workbook cannot hold: a NUL (the library takes C strings, so it would end the
// text there), half of a surrogate pair without its other half (no UTF-8 form), and U+FFFE and
// U+FFFF, which XML cannot hold at all: one of them makes the whole workbook unreadable. The
// other control characters the library writes as _xHHHH_ escapes.
bool Unholdable(const QString& text, qsizetype i) {
  const QChar c = text[i];
  if (c.isNull() || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF) return true;
  if (c.isHighSurrogate()) return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
  if (c.isLowSurrogate()) return i == 0 || !text[i - 1].isHighSurrogate();
  return false;
}

// The text without the characters a workbook cannot hold; `dropped` counts them.
QString HoldableText(const QString& text, qsizetype& dropped) {
  dropped = 0;
  qsizetype i = 0;
  while (i < text.size() && !Unholdable(text, i)) ++i;
  if (i == text.size()) return text;
  QString kept = text.first(i);
  for (; i < text.size(); ++i) {
    if (Unholdable(text, i))
      ++dropped;
    else
      kept += text[i];
  }
  return kept;
}

// A reader turns every "_xHHHH_" of a cell's text into the character HHHH, the way control
// characters travel: one that is the text's own is written with its "_" escaped ("_x005F_"), so
// that it reads back as written.
QString EscapedLiteralEscapes(const QString& text) {
  static const QRegularExpression escape(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
  if (!text.contains(QLatin1StringView("_x"))) return text;
  QString out = text;
  out.replace(escape, QStringLiteral("_x005F_"));
  return out;
}

}  // namespace

struct TExportToXlsx::Workbook {
  lxw_workbook* book = nullptr;
  lxw_worksheet* sheet = nullptr;
  QString fileName;
  lxw_format* title = nullptr;
  lxw_format* date = nullptr;
  lxw_format* dateTime = nullptr;
  lxw_format* time = nullptr;
  lxw_format* money = nullptr;
  lxw_format* decimal = nullptr;
  // The last record row written, for the autofilter's range.
  int lastRecordRow = -1;
  // Visible columns.
  int columns = 0;

  lxw_format* NumberFormat(const char* code) {
    lxw_format* format = workbook_add_format(book);
    format_set_num_format(format, code);
    return format;
  }
};

TExportToXlsx::TExportToXlsx(QObject* owner) : TExportToCellFile(owner) {
  Options &= ~TExportOptions(soBlankRowAfterCaptions);
}

TExportToXlsx::~TExportToXlsx() {
  if (book_ && book_->book) lxw_workbook_free(book_->book);
}

double TExportToXlsx::ExcelDateNumber(double dateTime) {
  if (dateTime < 2) return -1;  // before 1 January 1900
  return dateTime < 61 ? dateTime - 1 : dateTime;
}

int TExportToXlsx::TitleRow() const {
  return TitleRowCount() > 0 && Layout == elColumnar ? static_cast<int>(Header.size()) : -1;
}

void TExportToXlsx::CreateStream(const QString& fileName) {
  // The library writes the file only when the workbook closes: find out now, before the
  // records, whether it can be created at all.
  QFile probe(fileName);
  if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw FileError(FileAction::Create, fileName, probe.errorString());
  probe.close();

  auto book = std::make_unique<Workbook>();
  book->fileName = fileName;
  const QByteArray name = QFile::encodeName(fileName);
  lxw_workbook_options options{};
  // Rows go to a temporary file as they are finished, so memory stays flat; the reversed
  // layout fills the columns of every row at once and needs the rows kept.
  options.constant_memory = Layout == elReversedColumnar ? LXW_FALSE : LXW_TRUE;
  book->book = workbook_new_opt(name.constData(), &options);
  if (book->book) book->sheet = workbook_add_worksheet(book->book, nullptr);
  if (!book->sheet) {
    if (book->book) lxw_workbook_free(book->book);
    throw EInOutError(QStringLiteral("Cannot start the workbook %1").arg(fileName));
  }
  book->title = workbook_add_format(book->book);
  format_set_bold(book->title);
  book->date = book->NumberFormat("dd/mm/yyyy");
  book->dateTime = book->NumberFormat("dd/mm/yyyy hh:mm:ss");
  book->time = book->NumberFormat("hh:mm:ss");
  book->money = book->NumberFormat("#,##0.00");
  book->decimal = book->NumberFormat("#,##0.00##");
  book_ = std::move(book);
}

void TExportToXlsx::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  if (!book_)
    throw Exception(
        FormatExportText(GetLanguageString(lsPropertyNotSpecified), QStringLiteral("FileName")));
}

void TExportToXlsx::WriteDimensions(int rowCount, int columnCount) {
  book_->columns = columnCount - 1;
  // An export that cannot fit fails before its cells when its size is known ahead.
  if (rowCount >= 0)
    CheckWorksheetCell(FormatName(), rowCount + static_cast<int>(Header.size() + Footer.size()) - 1,
                       0, kLastColumn, kLastRow);
  CheckWorksheetCell(FormatName(), 0, columnCount - 2, kLastColumn, kLastRow);
}

void TExportToXlsx::WriteColumnWidth(int column, int width) {
  if (width < 1 || column > kLastColumn) return;
  worksheet_set_column(book_->sheet, static_cast<lxw_col_t>(column), static_cast<lxw_col_t>(column),
                       std::min(width, 255), nullptr);
}

void TExportToXlsx::WriteText(int row, int column, const QString& given, bool title) {
  qsizetype dropped = 0;
  const QString text = HoldableText(given, dropped);
  CountDroppedCharacters(dropped);
  if (text.size() > kMaxTextLength)
    throw ERangeError(
        QStringLiteral("%1 cells hold at most %2 characters; the text in row %3, column %4 has "
                       "%5.")
            .arg(FormatName())
            .arg(kMaxTextLength)
            .arg(row + 1)
            .arg(column + 1)
            .arg(text.size()));
  const QByteArray utf8 = EscapedLiteralEscapes(text).toUtf8();
  const lxw_error error = worksheet_write_string(book_->sheet, static_cast<lxw_row_t>(row),
                                                 static_cast<lxw_col_t>(column), utf8.constData(),
                                                 title ? book_->title : nullptr);
  if (error != LXW_NO_ERROR)
    throw EInOutError(QStringLiteral("%1: row %2, column %3: %4")
                          .arg(FormatName())
                          .arg(row + 1)
                          .arg(column + 1)
                          .arg(QString::fromUtf8(lxw_strerror(error))));
}

bool TExportToXlsx::ReadsFieldValue(const db::TField&, TCellType cellType) const {
  return IsTypedCell(cellType, Options & soFieldMask);
}

void TExportToXlsx::WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                              const QString& text, db::TAlignment, const QFont*, const QColor&) {
  CheckWorksheetCell(FormatName(), row, column, kLastColumn, kLastRow);
  const auto r = static_cast<lxw_row_t>(row);
  const auto c = static_cast<lxw_col_t>(column);
  if (field && InData()) book_->lastRecordRow = std::max(book_->lastRecordRow, row);
  const TCellValue value = CellValueOf(field, cellType, text, Options & soFieldMask);
  lxw_error error = LXW_NO_ERROR;
  switch (value.kind) {
    case TCellValue::Empty:
      return;
    case TCellValue::Integer:
      if (value.integer > kLargestExactInteger || value.integer < -kLargestExactInteger)
        return WriteText(row, column, QString::number(value.integer), false);
      error =
          worksheet_write_number(book_->sheet, r, c, static_cast<double>(value.integer), nullptr);
      break;
    case TCellValue::Number: {
      // Excel has no infinities: they keep the cell's text.
      if (!std::isfinite(value.number)) return WriteText(row, column, CellText(field, text), false);
      lxw_format* format = nullptr;
      if (field && field->DataType() == db::ftCurrency) format = book_->money;
      if (field && field->DataType() == db::ftBCD) format = book_->decimal;
      error = worksheet_write_number(book_->sheet, r, c, value.number, format);
      break;
    }
    case TCellValue::Time: {
      const double time = value.number - std::floor(value.number);
      error = worksheet_write_number(book_->sheet, r, c, time, book_->time);
      break;
    }
    case TCellValue::Date:
    case TCellValue::DateTime: {
      const double number = ExcelDateNumber(value.number);
      if (number < 0) return WriteText(row, column, CellText(field, text), false);
      error =
          worksheet_write_number(book_->sheet, r, c, number,
                                 value.kind == TCellValue::Date ? book_->date : book_->dateTime);
      break;
    }
    case TCellValue::Boolean:
      error = worksheet_write_boolean(book_->sheet, r, c, value.boolean, nullptr);
      break;
    case TCellValue::Text:
      return WriteText(row, column, CellText(field, text), !field && row == TitleRow());
  }
  if (error != LXW_NO_ERROR)
    throw EInOutError(QStringLiteral("%1: row %2, column %3: %4")
                          .arg(FormatName())
                          .arg(row + 1)
                          .arg(column + 1)
                          .arg(QString::fromUtf8(lxw_strerror(error))));
}

void TExportToXlsx::CloseFile() {
  if (!book_) return;
  try {
    WriteFooter();
  } catch (...) {
    try {
      Finish();
    } catch (...) {
      // The error that ended the footer is the one reported.
    }
    throw;
  }
  const int title = TitleRow();
  if (title >= 0 && book_->columns > 0) {
    worksheet_freeze_panes(book_->sheet, static_cast<lxw_row_t>(title + 1), 0);
    const int last = std::max(title, book_->lastRecordRow);
    worksheet_autofilter(book_->sheet, static_cast<lxw_row_t>(title), 0,
                         static_cast<lxw_row_t>(last), static_cast<lxw_col_t>(book_->columns - 1));
  }
  Finish();
}

void TExportToXlsx::Finish() {
  const std::unique_ptr<Workbook> book = std::move(book_);
  // The library prints its own "[ERROR] workbook_close()" lines; the error is reported here,
  // with the system's reason the library found.
  platform::StandardErrorCapture capture;
  const lxw_error error = workbook_close(book->book);
  const QString printed = QString::fromLocal8Bit(capture.Finish());
  if (error == LXW_NO_ERROR) return;
  QString reason = QString::fromUtf8(lxw_strerror(error));
  static const QString kSystemError = QStringLiteral("System error = ");
  const qsizetype at = printed.indexOf(kSystemError);
  if (at >= 0) {
    const QString system = printed.mid(at + kSystemError.size()).section(u'\n', 0, 0).trimmed();
    if (!system.isEmpty()) reason += QStringLiteral(" (%1)").arg(system);
  }
  throw FileError(FileAction::Write, book->fileName, reason);
}

}  // namespace qav
