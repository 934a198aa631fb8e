#include "tools/tds/TdsResultSet.h"

#include "db/DateTime.h"
#include "tools/tds/TdsLogin.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qav::tds {

namespace {

using db::RowStore;

// What the cells of one column hold.
struct Scan {
  qint64 ints = 0, floats = 0, bytes = 0;
  qint64 minInt = 0, maxInt = 0;
  qint64 maxBytes = 0;  // longest value in bytes (binary columns)
  qint64 maxUtf16 = 0;  // longest text in UTF-16 units
  qint64 maxAnsi = 0;   // longest text in code page 874 bytes
  bool ansi = true;     // every text fits code page 874
};

QString CellText(const RowStore& rows, qint64 row, int col) {
  switch (rows.KindAt(row, col)) {
    case RowStore::Kind::Int:
      return QString::number(rows.IntAt(row, col));
    case RowStore::Kind::Float:
      return QString::number(rows.FloatAt(row, col), 'g', 15);
    case RowStore::Kind::Bytes: {
      const std::string_view b = rows.BytesAt(row, col);
      return QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
    }
    default:
      return {};
  }
}

Scan ScanColumn(const RowStore& rows, int col, bool text) {
  Scan s;
  for (qint64 r = 0; r < rows.Rows(); ++r) {
    switch (rows.KindAt(r, col)) {
      case RowStore::Kind::Int: {
        const qint64 v = rows.IntAt(r, col);
        s.minInt = s.ints ? std::min(s.minInt, v) : v;
        s.maxInt = s.ints ? std::max(s.maxInt, v) : v;
        ++s.ints;
        break;
      }
      case RowStore::Kind::Float:
        ++s.floats;
        break;
      case RowStore::Kind::Bytes:
        ++s.bytes;
        s.maxBytes = std::max<qint64>(s.maxBytes, static_cast<qint64>(rows.BytesAt(r, col).size()));
        break;
      default:
        continue;
    }
    if (text) {
      const QString t = CellText(rows, r, col);
      bool lossless = true;
      const QByteArray ansi = EncodeAnsi(t, kThaiCiAs, &lossless);
      s.ansi = s.ansi && lossless;
      s.maxAnsi = std::max<qint64>(s.maxAnsi, ansi.size());
      s.maxUtf16 = std::max<qint64>(s.maxUtf16, t.size());
    }
  }
  return s;
}

// The range of SQL Server's datetime, as the engine's date numbers.
const double kFirstDateTime = db::EncodeDateTime(QDate(1753, 1, 1));
const double kBeyondDateTime = db::EncodeDateTime(QDate(10000, 1, 1));

double MinNumber(const RowStore& rows, int col) {
  double lowest = std::numeric_limits<double>::max();
  for (qint64 r = 0; r < rows.Rows(); ++r)
    if (rows.KindAt(r, col) == RowStore::Kind::Float)
      lowest = std::min(lowest, rows.FloatAt(r, col));
  return lowest;
}

double MaxNumber(const RowStore& rows, int col) {
  double highest = std::numeric_limits<double>::lowest();
  for (qint64 r = 0; r < rows.Rows(); ++r)
    if (rows.KindAt(r, col) == RowStore::Kind::Float)
      highest = std::max(highest, rows.FloatAt(r, col));
  return highest;
}

bool Fits(const Scan& s, qint64 lo, qint64 hi) {
  return !s.ints || (s.minInt >= lo && s.maxInt <= hi);
}

TypeInfo Nullable(DataType type, std::uint32_t length) {
  TypeInfo t;
  t.type = type;
  t.length = length;
  return t;
}

// The day (from 1899-12-30) and the milliseconds of a TDateTime, split as DecodeDateTime
// splits it but without a QDateTime, which would consult the time zone for every cell.
void SplitDateTime(double value, qint64& day, qint64& msecs) {
  constexpr qint64 kMsecsPerDay = 86400000;
  const double days = std::trunc(value);
  msecs = std::llround(std::fabs(value - days) * kMsecsPerDay);
  day = static_cast<qint64>(days);
  if (msecs >= kMsecsPerDay) {
    msecs -= kMsecsPerDay;
    day += value < 0 ? -1 : 1;
  }
}

const qint64 kDaysFrom0001 = QDate(1, 1, 1).daysTo(QDate(1899, 12, 30));
const qint64 kDaysFrom1900 = QDate(1900, 1, 1).daysTo(QDate(1899, 12, 30));

// Fills a dummy text pointer and time stamp: clients only check that they are there.
void WriteTextPointer(Writer& w) {
  w.U8(16);
  w.Zeros(16);
  w.Zeros(8);
}

// The text SQL Server sends a down-level client for a date (10 characters), a time of scale 3
// (12) or a datetime2 of scale 3 (23).
QString DownLevelText(qint64 day, qint64 msecs, bool date, bool time) {
  const QDate d = QDate(1899, 12, 30).addDays(day);
  const QTime t = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
  const QString dateText = QStringLiteral("%1-%2-%3")
                               .arg(d.year(), 4, 10, QLatin1Char('0'))
                               .arg(d.month(), 2, 10, QLatin1Char('0'))
                               .arg(d.day(), 2, 10, QLatin1Char('0'));
  const QString timeText = t.toString(QStringLiteral("HH:mm:ss.zzz"));
  if (date && time) return dateText + u' ' + timeText;
  return date ? dateText : timeText;
}

// The declared precision and scale of a decimal column when every value fits them, else room
// for any value.
void DecimalShape(const db::FieldDef& f, const RowStore& rows, int col, std::uint8_t& precision,
                  std::uint8_t& scale) {
  precision = kDecimalPrecision;
  scale = kDecimalScale;
  if (f.precision <= 0 || f.precision > 38 || f.scale < 0 || f.scale > f.precision) return;
  const long double limit = std::pow(10.0L, f.precision);  // in units of the last place
  for (qint64 r = 0; r < rows.Rows(); ++r) {
    long double v = 0;
    if (rows.KindAt(r, col) == RowStore::Kind::Int)
      v = rows.IntAt(r, col);
    else if (rows.KindAt(r, col) == RowStore::Kind::Float)
      v = rows.FloatAt(r, col);
    const long double rounded = std::roundl(std::fabs(v) * std::pow(10.0L, f.scale));
    if (rounded >= limit) {
      scale = static_cast<std::uint8_t>(f.scale);  // a value the engine let past the declaration
      return;
    }
  }
  precision = static_cast<std::uint8_t>(f.precision);
  scale = static_cast<std::uint8_t>(f.scale);
}

}  // namespace

ResultEncoder::ResultEncoder(const db::ResultSet& result, std::uint32_t tdsVersion)
    : result_(result) {
  using namespace db;
  const RowStore& rows = result.rows;
  for (int col = 0; col < static_cast<int>(result.fields.size()); ++col) {
    const FieldDef& f = result.fields[static_cast<std::size_t>(col)];
    ColumnInfo info;
    info.name = f.name;
    Plan plan{Source::Unicode, false};
    bool asText = true;
    const Scan numbers = ScanColumn(rows, col, false);
    const bool onlyInts = numbers.floats == 0 && numbers.bytes == 0;
    const bool onlyNumbers = numbers.bytes == 0;
    if ((IsIntegerType(f.type) || f.type == ftBoolean) && onlyInts) {
      asText = false;
      if (f.type == ftBoolean && Fits(numbers, 0, 1)) {
        info.type = Nullable(DataType::BitN, 1);
        plan.source = Source::Bit;
      } else {
        std::uint32_t length = 8;
        if (f.type == ftSmallint && Fits(numbers, -32768, 32767))
          length = 2;
        else if (f.type != ftLargeint && Fits(numbers, std::numeric_limits<qint32>::min(),
                                              std::numeric_limits<qint32>::max()))
          length = 4;
        info.type = Nullable(DataType::IntN, length);
        plan.source = Source::Int;
      }
    } else if ((IsFloatType(f.type) || IsIntegerType(f.type) || f.type == ftBoolean) &&
               onlyNumbers) {
      asText = false;
      if (f.type == ftCurrency) {
        info.type = Nullable(DataType::MoneyN, 8);
        plan.source = Source::Money;
      } else if (f.type == ftBCD) {
        std::uint8_t precision = 0, scale = 0;
        DecimalShape(f, rows, col, precision, scale);
        info.type = Nullable(DataType::DecimalN, 1 + DecimalLength(precision));
        info.type.precision = precision;
        info.type.scale = scale;
        plan.source = Source::Decimal;
      } else {
        info.type = Nullable(DataType::FltN, 8);
        plan.source = Source::Float;
      }
    } else if (IsDateTimeType(f.type) && onlyNumbers) {
      asText = false;
      if (f.type == ftDate) {
        info.type = Nullable(DataType::DateN, 3);
        plan.source = Source::Date;
      } else if (f.type == ftTime) {
        info.type = Nullable(DataType::TimeN, 0);
        info.type.scale = 3;
        plan.source = Source::Time;
      } else if (numbers.floats && (MinNumber(rows, col) < kFirstDateTime ||
                                    MaxNumber(rows, col) >= kBeyondDateTime)) {
        // Outside what datetime holds: SQL Server would keep such values as datetime2.
        info.type = Nullable(DataType::DateTime2N, 0);
        info.type.scale = 3;
        plan.source = Source::DateTime2;
      } else {
        info.type = Nullable(DataType::DateTimeN, 8);
        plan.source = Source::DateTime;
      }
      if (tdsVersion < kTds73 && plan.source != Source::DateTime) {
        const int length = plan.source == Source::Date ? 10 : plan.source == Source::Time ? 12 : 23;
        plan.asText = plan.source;
        plan.source = Source::DateText;
        info.type = Nullable(DataType::NVarChar, static_cast<std::uint32_t>(2 * length));
        info.type.collation = kThaiCiAs;
      }
    } else if (IsBinaryType(f.type)) {
      asText = false;
      plan.source = Source::Binary;
      const qint64 length = std::max<qint64>({f.size, numbers.maxBytes, 1});
      if (f.type == ftBlob || f.type == ftGraphic || length > 8000) {
        info.type = Nullable(DataType::Image, 0x7FFFFFFF);
        plan.isLong = true;
      } else {
        info.type = Nullable(f.type == ftBytes ? DataType::BigBinary : DataType::BigVarBinary,
                             static_cast<std::uint32_t>(length));
      }
    }
    if (asText) {
      const Scan s = ScanColumn(rows, col, true);
      const bool memo = f.type == ftMemo || f.type == ftFmtMemo;
      const bool fixed = f.type == ftFixedChar;
      if (s.ansi && !f.national) {
        plan.source = Source::Ansi;
        const qint64 length = std::max<qint64>({f.size, s.maxAnsi, 1});
        if (memo || length > 8000) {
          info.type = Nullable(DataType::Text, 0x7FFFFFFF);
          plan.isLong = true;
        } else {
          info.type = Nullable(fixed ? DataType::BigChar : DataType::BigVarChar,
                               static_cast<std::uint32_t>(length));
        }
      } else {
        plan.source = Source::Unicode;
        const qint64 length = std::max<qint64>({f.size, s.maxUtf16, 1});
        if (memo || length > 4000) {
          info.type = Nullable(DataType::NText, 0x7FFFFFFE);
          plan.isLong = true;
        } else {
          info.type = Nullable(fixed ? DataType::NChar : DataType::NVarChar,
                               static_cast<std::uint32_t>(length * 2));
        }
      }
      info.type.collation = kThaiCiAs;
    }
    columns_.push_back(info);
    plans_.push_back(plan);
  }
}

void ResultEncoder::Echo(int col, const TypeInfo& type, const QVariant& value) {
  if (type.IsLong() || type.type == DataType::Null || col < 0 ||
      col >= static_cast<int>(columns_.size()))
    return;
  const auto c = static_cast<std::size_t>(col);
  columns_[c].type = type;
  // "?2" is no name the client wrote: SQL Server sends an unnamed column.
  if (columns_[c].name.startsWith(u'?')) columns_[c].name.clear();
  plans_[c] = {Source::Echo, false};
  echoes_.resize(columns_.size());
  echoes_[c] = value;
}

void ResultEncoder::WriteMetadata(Writer& w) const {
  WriteColMetadata(w, columns_);
}

void ResultEncoder::WriteRow(Writer& w, qint64 row) const {
  w.U8(static_cast<std::uint8_t>(Token::Row));
  for (int col = 0; col < static_cast<int>(columns_.size()); ++col)
    WriteCell(w, columns_[static_cast<std::size_t>(col)], plans_[static_cast<std::size_t>(col)],
              row, col);
}

void ResultEncoder::WriteCell(Writer& w, const ColumnInfo& column, Plan plan, qint64 row,
                              int col) const {
  if (plan.source == Source::Echo) {
    WriteValue(w, column.type, echoes_[static_cast<std::size_t>(col)]);
    return;
  }
  const RowStore& rows = result_.rows;
  const RowStore::Kind kind = rows.KindAt(row, col);
  if (kind == RowStore::Kind::Null) {
    if (plan.isLong)
      w.U8(0);  // no text pointer
    else if (plan.source == Source::Ansi || plan.source == Source::Unicode ||
             plan.source == Source::Binary || plan.source == Source::DateText)
      w.U16(0xFFFF);
    else
      w.U8(0);
    return;
  }
  const auto number = [&] {
    return kind == RowStore::Kind::Int ? static_cast<double>(rows.IntAt(row, col))
                                       : rows.FloatAt(row, col);
  };
  const auto withLength = [&](const QByteArray& bytes) {
    if (plan.isLong) {
      WriteTextPointer(w);
      w.U32(static_cast<std::uint32_t>(bytes.size()));
    } else {
      w.U16(static_cast<std::uint16_t>(bytes.size()));
    }
    w.Bytes(bytes);
  };
  switch (plan.source) {
    case Source::Int: {
      const qint64 v = rows.IntAt(row, col);
      w.U8(static_cast<std::uint8_t>(column.type.length));
      for (std::uint32_t i = 0; i < column.type.length; ++i)
        w.U8(static_cast<std::uint8_t>(static_cast<quint64>(v) >> (8 * i)));
      return;
    }
    case Source::Bit:
      w.U8(1);
      w.U8(rows.IntAt(row, col) != 0 ? 1 : 0);
      return;
    case Source::Float: {
      const double d = number();
      quint64 bits;
      std::memcpy(&bits, &d, 8);
      w.U8(8);
      w.U64(bits);
      return;
    }
    case Source::Money:
      w.U8(8);
      WriteMoney(w, number(), 8);
      return;
    case Source::Decimal:
      w.U8(static_cast<std::uint8_t>(column.type.length));
      WriteDecimal(w, number(), column.type.precision, column.type.scale);
      return;
    case Source::Date:
    case Source::Time:
    case Source::DateTime:
    case Source::DateTime2: {
      qint64 day = 0, msecs = 0;
      SplitDateTime(number(), day, msecs);
      const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
      if (plan.source == Source::Date) {
        w.U8(3);
        WriteDate(w, day + kDaysFrom0001);
      } else if (plan.source == Source::Time) {
        w.U8(static_cast<std::uint8_t>(TimeLength(column.type.scale)));
        WriteTime(w, time, column.type.scale);
      } else if (plan.source == Source::DateTime) {
        w.U8(8);
        WriteDateTime(w, day + kDaysFrom1900, msecs);
      } else {
        w.U8(static_cast<std::uint8_t>(TimeLength(column.type.scale) + 3));
        WriteTime(w, time, column.type.scale);
        WriteDate(w, day + kDaysFrom0001);
      }
      return;
    }
    case Source::DateText: {
      qint64 day = 0, msecs = 0;
      SplitDateTime(number(), day, msecs);
      withLength(ToUcs2(
          DownLevelText(day, msecs, plan.asText != Source::Time, plan.asText != Source::Date)));
      return;
    }
    case Source::Ansi:
      withLength(EncodeAnsi(CellText(rows, row, col), column.type.collation));
      return;
    case Source::Unicode:
      withLength(ToUcs2(CellText(rows, row, col)));
      return;
    case Source::Binary: {
      if (kind == RowStore::Kind::Bytes) {
        const std::string_view b = rows.BytesAt(row, col);
        withLength(QByteArray(b.data(), static_cast<qsizetype>(b.size())));
      } else {
        withLength(CellText(rows, row, col).toUtf8());
      }
      return;
    }
    case Source::Echo:
      return;  // written above
  }
}

}  // namespace qav::tds
