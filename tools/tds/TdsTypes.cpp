#include "tools/tds/TdsTypes.h"

#include "core/Cp874.h"

#include <QDateTime>
#include <QHash>
#include <QUuid>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace qav::tds {

namespace {

const std::array<long double, 39>& PowersOfTen() {
  // Worked out once: result rows may hold many decimals.
  static const std::array<long double, 39> powers = [] {
    std::array<long double, 39> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
  }();
  return powers;
}

const QDate kDateTimeEpoch(1900, 1, 1);
const QDate kDateEpoch(1, 1, 1);

// The upper half of code page 874, taken once from the program's own definition.
struct Cp874Map {
  QHash<char16_t, char> fromUnicode;
  Cp874Map() {
    for (int b = 0x80; b <= 0xFF; ++b) {
      const QString c = FromCp874(QByteArray(1, static_cast<char>(b)));
      if (c.size() == 1 && c[0] != QChar(0xFFFD))
        fromUnicode.insert(c[0].unicode(), static_cast<char>(b));
    }
  }
};

const Cp874Map& Cp874() {
  static const Cp874Map map;
  return map;
}

qint64 ReadSigned(std::string_view bytes) {
  quint64 v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<std::uint8_t>(bytes[i]);
  const unsigned bits = static_cast<unsigned>(bytes.size() * 8);
  if (bits < 64 && (v >> (bits - 1)) & 1) v |= ~quint64{0} << bits;  // sign-extend
  return static_cast<qint64>(v);
}

quint64 ReadUnsigned(std::string_view bytes) {
  quint64 v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<std::uint8_t>(bytes[i]);
  return v;
}

void WriteUnsigned(Writer& w, quint64 v, int bytes) {
  for (int i = 0; i < bytes; ++i) w.U8(static_cast<std::uint8_t>(v >> (8 * i)));
}

double ReadMoney(std::string_view b) {
  if (b.size() == 4) return static_cast<double>(ReadSigned(b)) / 10000.0;
  // Eight bytes: the high half first.
  const quint64 high = ReadUnsigned(b.substr(0, 4));
  const quint64 low = ReadUnsigned(b.substr(4, 4));
  return static_cast<double>(static_cast<qint64>(high << 32 | low)) / 10000.0;
}

double ReadDecimal(std::string_view b, std::uint8_t scale) {
  const bool positive = b[0] == 1;
  long double v = 0;
  for (std::size_t i = b.size() - 1; i >= 1; --i) v = v * 256 + static_cast<std::uint8_t>(b[i]);
  v /= PowersOfTen()[std::min<std::size_t>(scale, 38)];
  return static_cast<double>(positive ? v : -v);
}

// The last day of the date types, 9999-12-31, counted from 0001-01-01.
constexpr quint64 kLastDay = 3652058;

quint64 Power10(int n) {
  quint64 v = 1;
  while (n-- > 0) v *= 10;
  return v;
}

QTime ReadTime(std::string_view b, std::uint8_t scale) {
  quint64 units = ReadUnsigned(b);
  if (scale > 7 || units >= 86400 * Power10(scale)) throw InvalidValue("time beyond a day");
  for (int s = scale; s > 3; --s) units /= 10;
  qint64 msec = static_cast<qint64>(units);
  for (int s = scale; s < 3; ++s) msec *= 10;
  return QTime::fromMSecsSinceStartOfDay(static_cast<int>(msec % 86400000));
}

// SQL Server keeps the first three groups of a GUID little-endian.
QByteArray SwapGuid(QByteArray bytes) {
  std::swap(bytes[0], bytes[3]);
  std::swap(bytes[1], bytes[2]);
  std::swap(bytes[4], bytes[5]);
  std::swap(bytes[6], bytes[7]);
  return bytes;
}

QDate ReadDate(std::string_view b) {
  const quint64 days = ReadUnsigned(b);
  if (days > kLastDay) throw InvalidValue("date beyond 9999-12-31");
  return kDateEpoch.addDays(static_cast<qint64>(days));
}

QVariant TextValue(std::string_view bytes, const TypeInfo& t) {
  if (t.IsUnicode()) return FromUcs2(bytes);
  if (t.IsAnsi()) return DecodeAnsi(bytes, t.collation);
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A value of `length` bytes, or NULL, of the types whose length comes before each value.
QVariant FixedValue(DataType type, std::string_view b, const TypeInfo& t) {
  switch (type) {
    case DataType::Int1:
      return QVariant::fromValue(static_cast<qint64>(static_cast<std::uint8_t>(b[0])));
    case DataType::Int2:
    case DataType::Int4:
    case DataType::Int8:
    case DataType::IntN:
      if (b.size() == 1)
        return QVariant::fromValue(static_cast<qint64>(static_cast<std::uint8_t>(b[0])));
      return QVariant::fromValue(ReadSigned(b));
    case DataType::Bit:
    case DataType::BitN:
      return QVariant(b[0] != 0);
    case DataType::Flt4:
    case DataType::Flt8:
    case DataType::FltN:
      if (b.size() == 4) {
        const quint32 bits = static_cast<quint32>(ReadUnsigned(b));
        float f;
        std::memcpy(&f, &bits, 4);
        return QVariant(static_cast<double>(f));
      } else {
        const quint64 bits = ReadUnsigned(b);
        double d;
        std::memcpy(&d, &bits, 8);
        return QVariant(d);
      }
    case DataType::Money:
    case DataType::Money4:
    case DataType::MoneyN:
      return QVariant(ReadMoney(b));
    case DataType::DateTime:
    case DataType::DateTime4:
    case DataType::DateTimeN:
      if (b.size() == 4)
        return QDateTime(kDateTimeEpoch.addDays(static_cast<qint64>(ReadUnsigned(b.substr(0, 2)))),
                         QTime(0, 0).addSecs(static_cast<int>(ReadUnsigned(b.substr(2, 2))) * 60));
      return ReadDateTime(static_cast<std::uint32_t>(ReadUnsigned(b.substr(0, 4))),
                          static_cast<std::uint32_t>(ReadUnsigned(b.substr(4, 4))));
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::DecimalN:
    case DataType::NumericN:
      return QVariant(ReadDecimal(b, t.scale));
    case DataType::DateN:
      return ReadDate(b);
    case DataType::TimeN:
      return ReadTime(b, t.scale);
    case DataType::DateTime2N:
    case DataType::DateTimeOffsetN: {
      const std::size_t timeBytes = static_cast<std::size_t>(TimeLength(t.scale));
      QDateTime value(ReadDate(b.substr(timeBytes, 3)), ReadTime(b.substr(0, timeBytes), t.scale));
      if (type == DataType::DateTimeOffsetN) {
        // Stored as UTC with the offset of the local time beside it.
        const qint64 minutes = ReadSigned(b.substr(timeBytes + 3, 2));
        value = value.addSecs(minutes * 60);
      }
      return value;
    }
    case DataType::Guid:
      if (b.size() != 16) throw ProtocolError("a uniqueidentifier value is not 16 bytes");
      return QUuid::fromRfc4122(SwapGuid(QByteArray(b.data(), 16)))
          .toString(QUuid::WithBraces)
          .toUpper();
    default:
      return TextValue(b, t);
  }
}

}  // namespace

bool TypeInfo::IsPlp() const {
  return length == kMaxLength && (type == DataType::BigVarChar || type == DataType::BigVarBinary ||
                                  type == DataType::NVarChar);
}

bool TypeInfo::IsLong() const {
  return type == DataType::Text || type == DataType::NText || type == DataType::Image;
}

bool TypeInfo::IsUnicode() const {
  return type == DataType::NVarChar || type == DataType::NChar || type == DataType::NText;
}

bool TypeInfo::IsAnsi() const {
  return type == DataType::BigVarChar || type == DataType::BigChar || type == DataType::Text ||
         type == DataType::VarChar || type == DataType::Char;
}

bool TypeInfo::IsBinary() const {
  return type == DataType::BigVarBinary || type == DataType::BigBinary || type == DataType::Image ||
         type == DataType::VarBinary || type == DataType::Binary;
}

int FixedLength(DataType type) {
  switch (type) {
    case DataType::Null:
      return 0;
    case DataType::Int1:
    case DataType::Bit:
      return 1;
    case DataType::Int2:
      return 2;
    case DataType::Int4:
    case DataType::DateTime4:
    case DataType::Flt4:
    case DataType::Money4:
      return 4;
    case DataType::Money:
    case DataType::DateTime:
    case DataType::Flt8:
    case DataType::Int8:
      return 8;
    default:
      return -1;
  }
}

TypeInfo ReadTypeInfo(Reader& r) {
  TypeInfo t;
  t.type = static_cast<DataType>(r.U8());
  if (FixedLength(t.type) >= 0) {
    t.length = static_cast<std::uint32_t>(FixedLength(t.type));
    return t;
  }
  switch (t.type) {
    case DataType::Guid:
    case DataType::IntN:
    case DataType::BitN:
    case DataType::FltN:
    case DataType::MoneyN:
    case DataType::DateTimeN:
    case DataType::Char:
    case DataType::VarChar:
    case DataType::Binary:
    case DataType::VarBinary:
      t.length = r.U8();
      return t;
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::DecimalN:
    case DataType::NumericN:
      t.length = r.U8();
      t.precision = r.U8();
      t.scale = r.U8();
      return t;
    case DataType::DateN:
      t.length = 3;
      return t;
    case DataType::TimeN:
    case DataType::DateTime2N:
    case DataType::DateTimeOffsetN:
      t.scale = r.U8();
      return t;
    case DataType::BigVarBinary:
    case DataType::BigBinary:
      t.length = r.U16();
      return t;
    case DataType::BigVarChar:
    case DataType::BigChar:
    case DataType::NVarChar:
    case DataType::NChar:
      t.length = r.U16();
      t.collation.info = r.U32();
      t.collation.sortId = r.U8();
      return t;
    case DataType::Text:
    case DataType::NText:
      t.length = r.U32();
      t.collation.info = r.U32();
      t.collation.sortId = r.U8();
      return t;
    case DataType::Image:
      t.length = r.U32();
      return t;
    default:
      throw ProtocolError("data type not supported by the test server: " +
                          std::to_string(static_cast<int>(t.type)));
  }
}

void WriteTypeInfo(Writer& w, const TypeInfo& t, bool inColumnMetadata) {
  w.U8(static_cast<std::uint8_t>(t.type));
  if (FixedLength(t.type) >= 0) return;
  switch (t.type) {
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::DecimalN:
    case DataType::NumericN:
      w.U8(static_cast<std::uint8_t>(t.length));
      w.U8(t.precision);
      w.U8(t.scale);
      return;
    case DataType::DateN:
      return;
    case DataType::TimeN:
    case DataType::DateTime2N:
    case DataType::DateTimeOffsetN:
      w.U8(t.scale);
      return;
    case DataType::BigVarBinary:
    case DataType::BigBinary:
      w.U16(static_cast<std::uint16_t>(t.length));
      return;
    case DataType::BigVarChar:
    case DataType::BigChar:
    case DataType::NVarChar:
    case DataType::NChar:
      w.U16(static_cast<std::uint16_t>(t.length));
      w.U32(t.collation.info);
      w.U8(t.collation.sortId);
      return;
    case DataType::Text:
    case DataType::NText:
    case DataType::Image:
      w.U32(t.length);
      if (t.type != DataType::Image) {
        w.U32(t.collation.info);
        w.U8(t.collation.sortId);
      }
      if (inColumnMetadata) w.U8(0);  // no table name parts
      return;
    default:
      w.U8(static_cast<std::uint8_t>(t.length));
      return;
  }
}

QVariant ReadValue(Reader& r, const TypeInfo& t) {
  const int fixed = FixedLength(t.type);
  if (fixed == 0) return {};
  if (fixed > 0) return FixedValue(t.type, r.Bytes(static_cast<std::size_t>(fixed)), t);
  if (t.IsPlp()) {
    const std::uint64_t total = r.U64();
    if (total == ~std::uint64_t{0}) return {};
    std::string bytes;
    for (;;) {
      const std::uint32_t chunk = r.U32();
      if (chunk == 0) break;
      bytes.append(r.Bytes(chunk));
    }
    return TextValue(bytes, t);
  }
  switch (t.type) {
    case DataType::BigVarBinary:
    case DataType::BigBinary:
    case DataType::BigVarChar:
    case DataType::BigChar:
    case DataType::NVarChar:
    case DataType::NChar: {
      const std::uint16_t length = r.U16();
      if (length == 0xFFFF) return {};
      return TextValue(r.Bytes(length), t);
    }
    case DataType::Text:
    case DataType::NText:
    case DataType::Image: {
      const std::uint32_t length = r.U32();
      if (length == 0xFFFFFFFF) return {};
      return TextValue(r.Bytes(length), t);
    }
    default: {
      const std::uint8_t length = r.U8();
      if (length == 0) return {};
      return FixedValue(t.type, r.Bytes(length), t);
    }
  }
}

void WriteMoney(Writer& w, double value, int length) {
  const double limit = length == 4 ? 214748.3647 : 922337203685477.5807;
  if (!(std::fabs(value) <= limit))
    throw std::range_error("Arithmetic overflow error converting expression to data type money.");
  const qint64 units = std::llround(value * 10000.0);
  if (length == 4) {
    w.U32(static_cast<std::uint32_t>(static_cast<qint32>(units)));
    return;
  }
  w.U32(static_cast<std::uint32_t>(static_cast<quint64>(units) >> 32));
  w.U32(static_cast<std::uint32_t>(units));
}

int DecimalLength(std::uint8_t precision) {
  if (precision <= 9) return 4;
  if (precision <= 19) return 8;
  if (precision <= 28) return 12;
  return 16;
}

void WriteDecimal(Writer& w, double value, std::uint8_t precision, std::uint8_t scale) {
  if (precision > 38 || scale > precision) throw std::range_error("Invalid decimal precision.");
  const long double scaled =
      std::roundl(std::fabs(static_cast<long double>(value)) * PowersOfTen()[scale]);
  if (!std::isfinite(scaled) || scaled >= PowersOfTen()[precision])
    throw std::range_error("Arithmetic overflow error converting float to data type numeric.");
  unsigned __int128 v = static_cast<unsigned __int128>(scaled);
  w.U8(value < 0 && v != 0 ? 0 : 1);
  for (int i = 0; i < DecimalLength(precision); ++i) {
    w.U8(static_cast<std::uint8_t>(v));
    v >>= 8;
  }
}

void WriteDateTime(Writer& w, const QDateTime& value) {
  WriteDateTime(w, kDateTimeEpoch.daysTo(value.date()), value.time().msecsSinceStartOfDay());
}

void WriteDateTime(Writer& w, qint64 days, qint64 msecs) {
  qint64 ticks = (msecs * 300 + 500) / 1000;
  if (ticks >= 300LL * 86400) {
    ticks -= 300LL * 86400;
    ++days;
  }
  w.U32(static_cast<std::uint32_t>(static_cast<qint32>(days)));
  w.U32(static_cast<std::uint32_t>(ticks));
}

QDateTime ReadDateTime(std::uint32_t days, std::uint32_t ticks) {
  // datetime holds 1753-01-01 to 9999-12-31.
  const qint32 signedDays = static_cast<qint32>(days);
  if (signedDays < -53690 || signedDays > 2958463 || ticks >= 300u * 86400u)
    throw InvalidValue("datetime out of range");
  const qint64 msec = (static_cast<qint64>(ticks) * 1000 + 150) / 300;
  return QDateTime(kDateTimeEpoch.addDays(static_cast<qint32>(days)), QTime(0, 0)).addMSecs(msec);
}

void WriteDate(Writer& w, const QDate& date) {
  WriteDate(w, kDateEpoch.daysTo(date));
}

void WriteDate(Writer& w, qint64 daysSince0001) {
  WriteUnsigned(w, static_cast<quint64>(daysSince0001), 3);
}

int TimeLength(std::uint8_t scale) {
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

void WriteTime(Writer& w, const QTime& time, std::uint8_t scale) {
  quint64 units = static_cast<quint64>(time.msecsSinceStartOfDay());
  for (int s = 3; s < scale; ++s) units *= 10;
  for (int s = scale; s < 3; ++s) units /= 10;
  WriteUnsigned(w, units, TimeLength(scale));
}

QByteArray EncodeAnsi(QStringView text, const Collation& collation, bool* lossless) {
  QByteArray out;
  out.reserve(text.size());
  bool whole = true;
  const bool thai = collation.Lcid() == kLcidThai;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < 0x80 || (!thai && c < 0x100)) {
      out.append(static_cast<char>(c));
      continue;
    }
    if (thai) {
      const auto it = Cp874().fromUnicode.constFind(c);
      if (it != Cp874().fromUnicode.constEnd()) {
        out.append(*it);
        continue;
      }
    }
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    out.append('?');
    whole = false;
  }
  if (lossless) *lossless = whole;
  return out;
}

QString DecodeAnsi(std::string_view bytes, const Collation& collation) {
  const QByteArray raw(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (collation.Lcid() == kLcidThai) return FromCp874(raw);
  return QString::fromLatin1(raw);
}

namespace {

qint64 ToInt(const QVariant& v, bool& ok) {
  ok = true;
  switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return std::llround(v.toDouble());
    case QMetaType::Bool:
      return v.toBool() ? 1 : 0;
    case QMetaType::QString:
      return v.toString().trimmed().toLongLong(&ok);
    default:
      return v.toLongLong(&ok);
  }
}

QDateTime ToDateTime(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::QDateTime:
      return v.toDateTime();
    case QMetaType::QDate:
      return v.toDate().startOfDay(Qt::UTC);
    case QMetaType::QTime:
      return QDateTime(QDate(1900, 1, 1), v.toTime(), Qt::UTC);
    case QMetaType::QString: {
      QString s = v.toString().trimmed();
      // A text without a zone is a wall-clock value: read as UTC, never moved by local rules.
      if (s.size() > 10 && (s[10] == u' ' || s[10] == u'T')) {
        const QDate date = QDate::fromString(s.left(10), Qt::ISODate);
        const QTime time = QTime::fromString(s.mid(11), Qt::ISODateWithMs);
        if (date.isValid() && time.isValid()) return QDateTime(date, time, Qt::UTC);
      } else if (const QDate date = QDate::fromString(s, Qt::ISODate); date.isValid()) {
        return date.startOfDay(Qt::UTC);
      }
      QDateTime dt = QDateTime::fromString(s, Qt::ISODateWithMs);
      if (!dt.isValid()) dt = QDateTime::fromString(s.replace(u' ', u'T'), Qt::ISODateWithMs);
      return dt;
    }
    default:
      return {};
  }
}

QByteArray ToBytes(const QVariant& v, const TypeInfo& t) {
  if (t.IsUnicode()) return ToUcs2(v.toString());
  if (t.IsAnsi()) return EncodeAnsi(v.toString(), t.collation);
  if (v.typeId() == QMetaType::QString) return v.toString().toUtf8();
  return v.toByteArray();
}

}  // namespace

void WriteValue(Writer& w, const TypeInfo& t, const QVariant& value) {
  const bool null = value.isNull();
  const int fixed = FixedLength(t.type);
  if (t.IsPlp()) {
    if (null) {
      w.U64(~std::uint64_t{0});
      return;
    }
    const QByteArray bytes = ToBytes(value, t);
    w.U64(static_cast<std::uint64_t>(bytes.size()));
    if (!bytes.isEmpty()) {
      w.U32(static_cast<std::uint32_t>(bytes.size()));
      w.Bytes(bytes);
    }
    w.U32(0);
    return;
  }
  switch (t.type) {
    case DataType::BigVarBinary:
    case DataType::BigBinary:
    case DataType::BigVarChar:
    case DataType::BigChar:
    case DataType::NVarChar:
    case DataType::NChar: {
      if (null) {
        w.U16(0xFFFF);
        return;
      }
      const QByteArray bytes = ToBytes(value, t).left(static_cast<qsizetype>(t.length));
      w.U16(static_cast<std::uint16_t>(bytes.size()));
      w.Bytes(bytes);
      return;
    }
    case DataType::Text:
    case DataType::NText:
    case DataType::Image: {
      if (null) {
        w.U32(0xFFFFFFFF);
        return;
      }
      const QByteArray bytes = ToBytes(value, t);
      w.U32(static_cast<std::uint32_t>(bytes.size()));
      w.Bytes(bytes);
      return;
    }
    default:
      break;
  }
  // The types whose value has a one-byte length, or none when fixed.
  const auto lengthByte = [&](int length) {
    if (fixed < 0) w.U8(static_cast<std::uint8_t>(length));
  };
  const auto nullValue = [&] {
    if (fixed > 0) {
      w.Zeros(fixed);  // fixed types have no NULL; the caller chose a nullable type
    } else {
      w.U8(0);
    }
  };
  if (null) return nullValue();
  bool ok = true;
  switch (t.type) {
    case DataType::Int1:
    case DataType::Int2:
    case DataType::Int4:
    case DataType::Int8:
    case DataType::IntN: {
      const qint64 v = ToInt(value, ok);
      if (!ok) return nullValue();
      const int length = fixed > 0 ? fixed : static_cast<int>(t.length);
      lengthByte(length);
      WriteUnsigned(w, static_cast<quint64>(v), length);
      return;
    }
    case DataType::Bit:
    case DataType::BitN:
      lengthByte(1);
      w.U8(ToInt(value, ok) != 0 ? 1 : 0);
      return;
    case DataType::Flt4:
    case DataType::Flt8:
    case DataType::FltN: {
      const double d = value.toDouble(&ok);
      if (!ok) return nullValue();
      const int length = fixed > 0 ? fixed : static_cast<int>(t.length);
      lengthByte(length);
      if (length == 4) {
        const float f = static_cast<float>(d);
        quint32 bits;
        std::memcpy(&bits, &f, 4);
        w.U32(bits);
      } else {
        quint64 bits;
        std::memcpy(&bits, &d, 8);
        w.U64(bits);
      }
      return;
    }
    case DataType::Money:
    case DataType::Money4:
    case DataType::MoneyN: {
      const double d = value.toDouble(&ok);
      if (!ok) return nullValue();
      const int length = fixed > 0 ? fixed : static_cast<int>(t.length);
      lengthByte(length);
      WriteMoney(w, d, length);
      return;
    }
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::DecimalN:
    case DataType::NumericN: {
      const double d = value.toDouble(&ok);
      if (!ok) return nullValue();
      w.U8(static_cast<std::uint8_t>(1 + DecimalLength(t.precision)));
      WriteDecimal(w, d, t.precision, t.scale);
      return;
    }
    case DataType::DateTime:
    case DataType::DateTime4:
    case DataType::DateTimeN: {
      const QDateTime dt = ToDateTime(value);
      if (!dt.isValid()) return nullValue();
      const int length = fixed > 0 ? fixed : static_cast<int>(t.length);
      lengthByte(length);
      if (length == 4) {
        w.U16(static_cast<std::uint16_t>(kDateTimeEpoch.daysTo(dt.date())));
        w.U16(static_cast<std::uint16_t>(dt.time().msecsSinceStartOfDay() / 60000));
      } else {
        WriteDateTime(w, dt);
      }
      return;
    }
    case DataType::DateN: {
      const QDateTime dt = ToDateTime(value);
      if (!dt.isValid()) return nullValue();
      w.U8(3);
      WriteDate(w, dt.date());
      return;
    }
    case DataType::TimeN: {
      const QTime time =
          value.typeId() == QMetaType::QTime ? value.toTime() : ToDateTime(value).time();
      if (!time.isValid()) return nullValue();
      w.U8(static_cast<std::uint8_t>(TimeLength(t.scale)));
      WriteTime(w, time, t.scale);
      return;
    }
    case DataType::DateTime2N: {
      const QDateTime dt = ToDateTime(value);
      if (!dt.isValid()) return nullValue();
      w.U8(static_cast<std::uint8_t>(TimeLength(t.scale) + 3));
      WriteTime(w, dt.time(), t.scale);
      WriteDate(w, dt.date());
      return;
    }
    case DataType::Guid: {
      const QUuid uuid(value.toString());
      if (uuid.isNull()) return nullValue();
      w.U8(16);
      w.Bytes(SwapGuid(uuid.toRfc4122()));
      return;
    }
    default: {
      const QByteArray bytes = ToBytes(value, t).left(255);
      w.U8(static_cast<std::uint8_t>(bytes.size()));
      w.Bytes(bytes);
      return;
    }
  }
}

}  // namespace qav::tds
