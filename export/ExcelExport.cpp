#include "export/ExcelExport.h"

#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "db/DateTime.h"
#include "export/WorksheetRecords.h"

#include <algorithm>
#include <limits>

namespace qav {

namespace {

quint8 AlignmentCode(db::TAlignment alignment) {
  switch (alignment) {
    case db::taRightJustify:
      return 3;
    case db::taCenter:
      return 2;
    default:
      return 1;
  }
}

// The format that shows a cell of the type. Other types take General whatever their font.
quint8 FormatIndexOf(TCellType cellType) {
  switch (cellType) {
    case ctDate:
      return TExportToXLS::fiDate;
    case ctTime:
      return TExportToXLS::fiTime;
    case ctDateTime:
      return TExportToXLS::fiDateTime;
    case ctCurrency:
      return TExportToXLS::fiCurrency;
    default:
      return TExportToXLS::fiGeneral;
  }
}

int StyleBits(const QFont& font) {
  return (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
         (font.strikeOut() ? 8 : 0);
}

// Whole points, as the font dialog keeps them; a font given in pixels counts at 96 per inch.
int PointSize(const QFont& font) {
  if (font.pointSizeF() > 0) return qRound(font.pointSizeF());
  if (font.pixelSize() > 0) return (font.pixelSize() * 72 + 48) / 96;
  return 0;
}

int DayNumber(const QDate& date) {
  static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
  return static_cast<int>(date.toJulianDay() - epoch);
}

bool ReadTimeField(QStringView text, int limit, int& value) {
  if (text.isEmpty() || text.size() > 2) return false;
  value = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value < limit;
}

// A time of day in the process's formats: hours and minutes, optionally seconds and their
// fraction, separated by the time separator, optionally followed by AM or PM.
bool TryReadTime(QStringView text, QTime& time) {
  const TFormatSettings& fs = FormatSettings();
  text = text.trimmed();
  int pm = -1;
  if (text.size() > 2 &&
      (text.endsWith(u"AM", Qt::CaseInsensitive) || text.endsWith(u"PM", Qt::CaseInsensitive))) {
    pm = text.endsWith(u"PM", Qt::CaseInsensitive) ? 1 : 0;
    text = text.chopped(2).trimmed();
  }
  QStringView parts[3];
  qsizetype count = 0;
  for (qsizetype start = 0;;) {
    const qsizetype at = text.indexOf(fs.TimeSeparator, start);
    if (count == 3) return false;
    parts[count++] = text.sliced(start, (at < 0 ? text.size() : at) - start);
    if (at < 0) break;
    start = at + 1;
  }
  if (count < 2) return false;
  int hour = 0, minute = 0, second = 0, msec = 0;
  if (!ReadTimeField(parts[0], 24, hour) || !ReadTimeField(parts[1], 60, minute)) return false;
  if (count == 3) {
    QStringView seconds = parts[2];
    const qsizetype point = seconds.indexOf(fs.DecimalSeparator);
    if (point >= 0) {
      const QStringView fraction = seconds.sliced(point + 1);
      if (fraction.isEmpty() || fraction.size() > 3) return false;
      for (QChar c : fraction) {
        if (c < u'0' || c > u'9') return false;
        msec = msec * 10 + (c.unicode() - u'0');
      }
      for (qsizetype k = fraction.size(); k < 3; ++k) msec *= 10;
      seconds = seconds.first(point);
    }
    if (!ReadTimeField(seconds, 60, second)) return false;
  }
  if (pm >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  time = QTime(hour, minute, second, msec);
  return time.isValid();
}

QDate ReadDate(const QString& text) {
  return StrToDate(text);
}

bool TryReadDate(const QString& text, QDate& date) {
  try {
    date = StrToDate(text);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

// A date, a date and a time after a blank, or a time alone; 0.0 when the text is none.
double DateTimeOrZero(const QString& text) {
  const QString trimmed = text.trimmed();
  const qsizetype blank = trimmed.indexOf(u' ');
  QDate date;
  QTime time(0, 0);
  if (TryReadDate(blank < 0 ? trimmed : trimmed.left(blank), date)) {
    if (blank < 0) return db::EncodeDateTime(date);
    return TryReadTime(QStringView(trimmed).sliced(blank), time) ? db::EncodeDateTime(date, time)
                                                                 : 0.0;
  }
  return TryReadTime(trimmed, time) ? db::EncodeDateTime(QDate(1899, 12, 30), time) : 0.0;
}

double TimeOrZero(const QString& text) {
  QTime time;
  return TryReadTime(text, time) ? time.msecsSinceStartOfDay() / 86400000.0 : 0.0;
}

}  // namespace

TExportToXLS::TExportToXLS(QObject* owner) : TExportToCellFile(owner) {
  SetExportType(4);
}

TExportToXLS::~TExportToXLS() = default;

QString TExportToXLS::ShortTimeFormat() {
  QString pattern = FormatSettings().LongTimeFormat;
  const qsizetype seconds = pattern.indexOf(u's', 0, Qt::CaseInsensitive);
  if (seconds > 0) {
    qsizetype end = seconds;
    while (end < pattern.size() && pattern[end].toLower() == u's') ++end;
    qsizetype start = seconds;
    while (start > 0 && !pattern[start - 1].isLetter()) --start;
    pattern.remove(start, end - start);
  }
  for (QChar& c : pattern)
    if (c == u'n' || c == u'N') c = u'm';
  return pattern;
}

QByteArray TExportToXLS::FontBuffer() const {
  return fontBuffer_ ? fontBuffer_->data() : QByteArray();
}

void TExportToXLS::BeginExport() {
  TExportToCellFile::BeginExport();
  FreeFonts();
}

void TExportToXLS::EndExport() {
  FreeFonts();
  fontWriter_.reset();
  fontBuffer_.reset();
  TExportToCellFile::EndExport();
}

void TExportToXLS::FreeFonts() {
  fontList_.clear();
  fontKeys_.clear();
}

void TExportToXLS::WriteFileBegin() {
  TExportToCellFile::WriteFileBegin();
  RequireOutputFile(*this);
  WriteBof();
  const TFormatSettings& fs = FormatSettings();
  WriteFormat(QStringLiteral("General"));
  WriteFormat(fs.ShortDateFormat);
  WriteFormat(ShortTimeFormat());
  WriteFormat(fs.ShortDateFormat);
  WriteFormat(QStringLiteral("00.00") + fs.CurrencyString);
}

void TExportToXLS::WriteFileEnd() {
  for (const QFont& font : fontList_) WriteFont(font);
  if (fontBuffer_ && !fontBuffer_->data().isEmpty()) {
    Stream()->WriteBytes(fontBuffer_->data());
    fontBuffer_->buffer().clear();
    fontBuffer_->seek(0);
  }
  FreeFonts();
  WriteEof();
}

TGridLimits TExportToXLS::GridLimits() const {
  return {QStringLiteral("Excel worksheets"), kRows, kColumns};
}

void TExportToXLS::WriteDimensions(int rowCount, int columnCount) {
  // The run has checked the rows; the columns announced are one more than those filled, which
  // at the last column would name a column the sheet does not have.
  WriteDimensionsRecord(rowCount, std::min(columnCount, kColumns));
}

void TExportToXLS::WriteColumnWidth(int column, int width) {
  if (width < 1) return;
  if (width == 10) width = 12;
  // COLWIDTH has one byte for the column: a later column (the reversed layout announces one
  // more than it fills) would resize an earlier one.
  if (column >= kColumns) return;
  // Beyond 255 characters the width's low bits would shrink or hide the column.
  WriteColWidth(column, std::min(width, 255));
}

void TExportToXLS::WriteCell(const db::TField*, TCellType cellType, int row, int column,
                             const QString& text, db::TAlignment alignment, const QFont* font,
                             const QColor&) {
  int integer = 0;
  if (Options & soFieldMask) {
    cellType = ctString;
  } else if (text.isEmpty()) {
    cellType = ctBlank;
  } else if (cellType == ctInteger) {
    integer = IntegerOrZero(text);
    if (integer < 0 || integer > 255) cellType = ctFloat;
  }
  // An infinity is no number a NUMBER record holds as itself: it keeps its text.
  if ((cellType == ctFloat || cellType == ctCurrency) && IsNonFiniteText(text)) cellType = ctString;
  const auto attributes = static_cast<quint8>(RegisterFont(font) * 64 + FormatIndexOf(cellType));
  switch (cellType) {
    case ctBlank:
      WriteBlank(row, column, attributes, alignment);
      break;
    case ctInteger:
      WriteInteger(row, column, attributes, alignment, static_cast<quint16>(integer));
      break;
    case ctDate: {
      // A conversion error here ends the export.
      const int day = DayNumber(ReadDate(text));
      // INTEGER holds days up to 4 June 2079 and none before 1900; other days keep their
      // date format in a NUMBER rather than wrap to another date.
      if (day >= 0 && day <= std::numeric_limits<quint16>::max())
        WriteInteger(row, column, attributes, alignment, static_cast<quint16>(day));
      else
        WriteNumber(row, column, attributes, alignment, day);
      break;
    }
    case ctFloat:
    case ctCurrency:
      WriteNumber(row, column, attributes, alignment, NumberOrZero(text));
      break;
    case ctDateTime:
      WriteNumber(row, column, attributes, alignment, DateTimeOrZero(text));
      break;
    case ctTime:
      WriteNumber(row, column, attributes, alignment, TimeOrZero(text));
      break;
    default:
      WriteLabel(row, column, attributes, alignment, text);
      break;
  }
}

int TExportToXLS::RegisterFont(const QFont* font) {
  if (!font) return 0;
  FontKey key{font->family(), StyleBits(*font), PointSize(*font)};
  for (size_t i = 0; i < fontKeys_.size(); ++i) {
    const FontKey& k = fontKeys_[i];
    if (k.name == key.name && k.style == key.style && k.size == key.size)
      return static_cast<int>(i);
  }
  if (fontList_.size() >= kMaxFonts) return 0;
  fontList_.push_back(*font);
  fontKeys_.push_back(std::move(key));
  return static_cast<int>(fontList_.size() - 1);
}

void TExportToXLS::WriteFont(const QFont& font) {
  if (!fontBuffer_) {
    fontBuffer_ = std::make_unique<QBuffer>();
    fontBuffer_->open(QIODevice::WriteOnly);
    fontWriter_ = std::make_unique<TRecordWriter>(fontBuffer_.get());
  }
  int bytes = 0;
  const QString family = font.family();
  const QStringView name = CutToBytes(family, 255, bytes);
  TRecordWriter& out = *fontWriter_;
  out.WriteRecordHeader(kFont, static_cast<quint16>(bytes + 7));
  out.WriteWord(static_cast<quint16>(PointSize(font) * 20));
  out.WriteByte(static_cast<quint8>(StyleBits(font)));
  out.WriteByte(0);
  // Colour index 0x7FFF: the window text colour.
  out.WriteByte(0xFF);
  out.WriteByte(0x7F);
  out.WriteByte(static_cast<quint8>(bytes));
  out.WriteCp874(name);
  out.Flush();
}

void TExportToXLS::WriteFormat(const QString& format) {
  int bytes = 0;
  const QStringView text = CutToBytes(format, 255, bytes);
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kFormat, static_cast<quint16>(bytes + 1));
  out.WriteByte(static_cast<quint8>(bytes));
  out.WriteCp874(text);
}

void TExportToXLS::WriteBof() {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kBof, 6);
  out.WriteWord(0);       // version
  out.WriteWord(0x0010);  // a worksheet
  out.WriteWord(0);
}

void TExportToXLS::WriteDimensionsRecord(int rowCount, int columnCount) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kDimensions, 10);
  out.WriteWord(0);
  out.WriteWord(static_cast<quint16>(rowCount));
  out.WriteWord(0);
  out.WriteWord(static_cast<quint16>(columnCount));
  out.WriteWord(0);
}

void TExportToXLS::WriteColWidth(int column, int width) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(kColWidth, 4);
  out.WriteByte(static_cast<quint8>(column));  // first column
  out.WriteByte(static_cast<quint8>(column));  // last column
  out.WriteWord(static_cast<quint16>(width * 256));
}

void TExportToXLS::WriteCellHeader(quint16 type, quint16 dataLength, int row, int column,
                                   quint8 attributes, db::TAlignment alignment) {
  TRecordWriter& out = *Stream();
  out.WriteRecordHeader(type, dataLength);
  out.WriteWord(static_cast<quint16>(row));
  out.WriteWord(static_cast<quint16>(column));
  out.WriteByte(0);
  out.WriteByte(attributes);
  out.WriteByte(AlignmentCode(alignment));
}

void TExportToXLS::WriteBlank(int row, int column, quint8 attributes, db::TAlignment alignment) {
  WriteCellHeader(kBlank, 7, row, column, attributes, alignment);
}

void TExportToXLS::WriteInteger(int row, int column, quint8 attributes, db::TAlignment alignment,
                                quint16 value) {
  WriteCellHeader(kInteger, 9, row, column, attributes, alignment);
  Stream()->WriteWord(value);
}

void TExportToXLS::WriteNumber(int row, int column, quint8 attributes, db::TAlignment alignment,
                               double value) {
  WriteCellHeader(kNumber, 15, row, column, attributes, alignment);
  Stream()->WriteDouble(value);
}

void TExportToXLS::WriteLabel(int row, int column, quint8 attributes, db::TAlignment alignment,
                              QStringView text) {
  int bytes = 0;
  const QStringView cut = CutToBytes(text, kLabelBytes, bytes);
  if (cut.size() < text.size()) CountCutText(kLabelBytes);
  WriteCellHeader(kLabel, static_cast<quint16>(bytes + 8), row, column, attributes, alignment);
  Stream()->WriteByte(static_cast<quint8>(bytes));
  Stream()->WriteCp874(cut);
}

void TExportToXLS::WriteEof() {
  Stream()->WriteRecordHeader(kEof, 0);
}

}  // namespace qav
