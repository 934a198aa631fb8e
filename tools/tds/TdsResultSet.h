#pragma once

#include "db/Backend.h"
#include "tools/tds/TdsTokens.h"

#include <vector>

namespace qav::tds {

// Decimal columns without a declared precision and scale (a computed column) go with room for
// the largest values a double holds exactly and eight places.
inline constexpr std::uint8_t kDecimalPrecision = 38;
inline constexpr std::uint8_t kDecimalScale = 8;

// Sends a result set of the engine as SQL Server would send the same columns: the TDS type
// of each column follows the field type and size, and where the cells do not fit that type
// (a date the engine could not read stays text) the column goes as text, so that nothing is
// lost. Columns declared nchar, nvarchar or ntext go as such; other text that code page 874
// holds goes as char/varchar/text with the Thai collation, as the suite's servers keep their
// 8-bit columns, and any other text as nchar/nvarchar/ntext. Decimals keep their declared precision and
// scale where every value fits them. A client of TDS 7.2, which has no date, time or datetime2,
// gets those columns as nvarchar text, as SQL Server sends them to down-level clients.
class ResultEncoder {
 public:
  explicit ResultEncoder(const db::ResultSet& result, std::uint32_t tdsVersion = 0x74000004);

  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  // Sends column `col` as a parameter selected back: in the type the client gave it, with the
  // value it sent, as SQL Server echoes "SELECT @p". Long types (text, ntext, image) keep the
  // column's own form.
  void Echo(int col, const TypeInfo& type, const QVariant& value);
  void WriteMetadata(Writer& w) const;
  // Raises std::range_error for a value the chosen type cannot hold.
  void WriteRow(Writer& w, qint64 row) const;

 private:
  enum class Source : std::uint8_t {
    Int,
    Bit,
    Float,
    Money,
    Decimal,
    Date,
    Time,
    DateTime,
    DateTime2,
    DateText,  // date, time or datetime2 for a client that predates them
    Ansi,
    Unicode,
    Binary,
    Echo  // a parameter's value in its own type
  };
  struct Plan {
    Source source;
    bool isLong;                   // text, ntext, image
    Source asText = Source::Date;  // of DateText: the type the text stands for
  };

  void WriteCell(Writer& w, const ColumnInfo& column, Plan plan, qint64 row, int col) const;

  const db::ResultSet& result_;
  std::vector<ColumnInfo> columns_;
  std::vector<Plan> plans_;
  std::vector<QVariant> echoes_;  // by column, for Source::Echo
};

}  // namespace qav::tds
