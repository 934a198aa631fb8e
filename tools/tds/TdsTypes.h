#pragma once

#include "tools/tds/TdsWire.h"

#include <QVariant>
#include <cstdint>
#include <stdexcept>

namespace qav::tds {

// The data types of TYPE_INFO, by their codes on the wire.
enum class DataType : std::uint8_t {
  Null = 0x1F,
  Int1 = 0x30,
  Bit = 0x32,
  Int2 = 0x34,
  Int4 = 0x38,
  DateTime4 = 0x3A,
  Flt4 = 0x3B,
  Money = 0x3C,
  DateTime = 0x3D,
  Flt8 = 0x3E,
  Money4 = 0x7A,
  Int8 = 0x7F,
  Guid = 0x24,
  IntN = 0x26,
  Decimal = 0x37,
  Numeric = 0x3F,
  BitN = 0x68,
  DecimalN = 0x6A,
  NumericN = 0x6C,
  FltN = 0x6D,
  MoneyN = 0x6E,
  DateTimeN = 0x6F,
  DateN = 0x28,
  TimeN = 0x29,
  DateTime2N = 0x2A,
  DateTimeOffsetN = 0x2B,
  Char = 0x2F,
  VarChar = 0x27,
  Binary = 0x2D,
  VarBinary = 0x25,
  BigVarBinary = 0xA5,
  BigVarChar = 0xA7,
  BigBinary = 0xAD,
  BigChar = 0xAF,
  NVarChar = 0xE7,
  NChar = 0xEF,
  Xml = 0xF1,
  Udt = 0xF0,
  Text = 0x23,
  Image = 0x22,
  NText = 0x63,
  Variant = 0x62,
};

// A collation as TDS carries it: the Windows locale in the low 20 bits, comparison flags, a
// version nibble, and a sort id that is 0 for Windows collations.
struct Collation {
  std::uint32_t info = 0;
  std::uint8_t sortId = 0;

  std::uint32_t Lcid() const { return info & 0xFFFFF; }
  bool operator==(const Collation&) const = default;
};

inline constexpr std::uint32_t kIgnoreCase = 1u << 20;
inline constexpr std::uint32_t kIgnoreKana = 1u << 23;
inline constexpr std::uint32_t kIgnoreWidth = 1u << 22;
inline constexpr std::uint32_t kLcidThai = 0x041E;
// Thai_CI_AS: the suite's servers keep their 8-bit text in code page 874.
inline constexpr Collation kThaiCiAs{kLcidThai | kIgnoreCase | kIgnoreKana | kIgnoreWidth, 0};

// A parameter value that its type cannot hold (a date past 9999-12-31, say): SQL Server
// refuses the request with an error and keeps the connection.
class InvalidValue : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The length that marks a (max) type, sent as partially length-prefixed chunks.
inline constexpr std::uint32_t kMaxLength = 0xFFFF;

struct TypeInfo {
  DataType type = DataType::Null;
  std::uint32_t length = 0;  // the declared length in bytes; kMaxLength for (max)
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  Collation collation;

  bool IsPlp() const;
  bool IsLong() const;     // text, ntext, image: values carry a text pointer in rows
  bool IsUnicode() const;  // UTF-16 text
  bool IsAnsi() const;     // 8-bit text in the collation's code page
  bool IsBinary() const;
};

// The length of a fixed-length type's value, 0 for the others.
int FixedLength(DataType type);

TypeInfo ReadTypeInfo(Reader& r);
// `tableName` is written for the long types in COLMETADATA, never in parameters.
void WriteTypeInfo(Writer& w, const TypeInfo& t, bool inColumnMetadata = false);

// A parameter's value as the engine binds it: qint64, bool, double, QDateTime, QDate, QTime,
// QString or QByteArray; a null QVariant for NULL. Raises ProtocolError for types that the
// test server does not take (xml, user types, sql_variant), InvalidValue for values outside
// their type's range.
QVariant ReadValue(Reader& r, const TypeInfo& t);
// Writes `value` (of any of the kinds above) as a value of type `t`; values that do not
// convert are sent as NULL.
void WriteValue(Writer& w, const TypeInfo& t, const QVariant& value);

// The parts every value writer shares, also used for result rows.
void WriteMoney(Writer& w, double value, int length);
// Raises std::range_error when the value does not fit the precision.
void WriteDecimal(Writer& w, double value, std::uint8_t precision, std::uint8_t scale);
int DecimalLength(std::uint8_t precision);  // value bytes without the sign
// TDS datetime: days since 1900-01-01 and 1/300 seconds since midnight.
void WriteDateTime(Writer& w, const QDateTime& value);
void WriteDateTime(Writer& w, qint64 daysSince1900, qint64 msecs);
QDateTime ReadDateTime(std::uint32_t days, std::uint32_t ticks);
void WriteDate(Writer& w, const QDate& date);  // three bytes: days since 0001-01-01
void WriteDate(Writer& w, qint64 daysSince0001);
int TimeLength(std::uint8_t scale);
void WriteTime(Writer& w, const QTime& time, std::uint8_t scale);

// Text in the 8-bit code page of a collation: 874 for Thai, 1252 otherwise.
QByteArray EncodeAnsi(QStringView text, const Collation& collation, bool* lossless = nullptr);
QString DecodeAnsi(std::string_view bytes, const Collation& collation);

}  // namespace qav::tds
