#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qav::db {

// The rows of one result set, kept compactly. Each row is encoded with variable width in large
// shared blocks: per cell one tag byte telling its kind and size, then only the bytes it needs.
// Integers take their significant bytes (zig-zag), a double that is exactly n / 10^k (money,
// decimals) or a whole second or millisecond of a date takes the bytes of that integer, other
// doubles eight bytes, a short text its bytes behind the tag, and a null the tag alone. A row is
// found by a four-byte offset; a cell by walking the tags of the cells before it (a row of many
// columns also keeps the offset of every sixteenth cell). A million rows of the ten-column
// benchmark table take about 100 MB, 0.8 times the size of their tab-separated text.
//
// The row being filled (AddRow and the Set calls, in any column order, overwriting) stays in a
// staging row until the next AddRow encodes it; reading it reads the staging row. Reading never
// changes the store, so readers on several threads may share one that is not being filled.
class RowStore {
 public:
  enum class Kind : std::uint8_t { Null, Int, Float, Bytes };

  explicit RowStore(int columns = 0);
  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;

  int Columns() const { return columns_; }
  qint64 Rows() const { return columns_ ? sealed_ + (staged_ ? 1 : 0) : 0; }

  // Drops every row. The first block keeps its memory, for a reader that refills the same store
  // window after window.
  void Clear();
  // Appends a row whose cells are all null; the Set calls below fill the last row.
  void AddRow();
  void SetNull(int column);
  void SetInt(int column, qint64 value);
  void SetFloat(int column, double value);
  void SetBytes(int column, std::string_view bytes);
  // Appends copies of the rows of `other`, a store of as many columns.
  void AppendRows(const RowStore& other);

  Kind KindAt(qint64 row, int column) const;
  bool IsNull(qint64 row, int column) const { return KindAt(row, column) == Kind::Null; }
  qint64 IntAt(qint64 row, int column) const;
  double FloatAt(qint64 row, int column) const;
  std::string_view BytesAt(qint64 row, int column) const;

  // Bytes held, for the memory benchmark.
  std::size_t MemoryUsed() const;

 private:
  static constexpr std::size_t kNoBlock = ~std::size_t{0};
  static constexpr int kOffsetBits = 20;  // of a row reference: the offset in a block
  static constexpr std::size_t kBlockSize = std::size_t{1} << kOffsetBits;
  // A row larger than this gets a block of its own rather than leave the rest of one unused.
  static constexpr std::size_t kOwnBlockRow = kBlockSize / 8;
  static constexpr std::uint32_t kOffsetMask = (std::uint32_t{1} << kOffsetBits) - 1;
  // A group's rows lie in fewer blocks than it has rows, as each row starts at most one block.
  static constexpr int kGroupShift = 8;
  static constexpr int kRefChunkShift = 14;
  static constexpr std::size_t kRefChunkRows = std::size_t{1} << kRefChunkShift;

  // Tells a store's rows from those of another or of before a Clear, for the read cursor.
  struct Identity {
    std::uint64_t value = Next();
    Identity() = default;
    Identity(Identity&& o) noexcept : value(std::exchange(o.value, Next())) {}
    Identity& operator=(Identity&& o) noexcept {
      value = std::exchange(o.value, Next());
      return *this;
    }
    static std::uint64_t Next();
  };

  struct Cell {
    Kind kind = Kind::Null;
    std::uint64_t bits = 0;  // of the integer or the double
    std::string bytes;
  };

  const std::uint8_t* RowAt(qint64 row) const {
    const auto r = static_cast<std::size_t>(row);
    const std::uint32_t ref = rowRefs_[r >> kRefChunkShift][r & (kRefChunkRows - 1)];
    const std::size_t block = groupBlocks_[r >> kGroupShift] + (ref >> kOffsetBits);
    return blocks_[block].get() + (ref & kOffsetMask);
  }
  // The bytes of a cell after the row's tags, and its tag.
  const std::uint8_t* CellAt(qint64 row, int column, std::uint8_t& tag) const;
  const std::uint8_t* TagsAt(qint64 row) const;
  bool IsStaged(qint64 row) const { return row == sealed_; }
  const Cell& Staged(int column) const { return staging_[static_cast<std::size_t>(column)]; }
  Cell& Staged(int column) { return staging_[static_cast<std::size_t>(column)]; }
  // Encodes the staging row as the next row.
  void Seal();
  // Room for the next row of at most `size` bytes; records where it starts.
  std::uint8_t* Reserve(std::size_t size);

  Identity identity_;
  int columns_ = 0;
  qint64 sealed_ = 0;    // rows encoded
  bool staged_ = false;  // the last row is in the staging row
  std::vector<Cell> staging_;

  // Blocks of encoded rows; a row larger than a block gets a block of its own.
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::vector<std::size_t> blockSizes_;
  std::size_t current_ = kNoBlock;  // the block new rows go to
  std::size_t used_ = 0;            // bytes used in it

  // Per row, the block (counted from its group's first block) in the upper bits and the offset
  // in that block in the lower ones; the groups are runs of rows of a fixed count.
  std::vector<std::unique_ptr<std::uint32_t[]>> rowRefs_;
  std::vector<std::uint32_t> groupBlocks_;
};

}  // namespace qav::db
