#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qav::db {

// The rows of one result set, kept compactly: each row is encoded with variable width in
// shared blocks of 1 MiB, its tags first (one byte per cell: the kind and the size of what
// follows), then only the bytes each cell needs. An integer takes its significant bytes
// (zig-zag); a double that is exactly n / 10^k (money, decimals) or a date at a whole second or
// millisecond takes the bytes of that integer, any other double its eight bytes; a text of up to
// 63 bytes follows its tag, a longer one a varint length; a null is its tag alone. A row is found
// by a four-byte reference (the block, counted from its group of 256 rows, and the offset); a
// cell by adding up the sizes of the cells before it, from the start of the row or, in a row of
// more than 16 columns, from the nearest of the offsets it keeps of every sixteenth cell. A
// million rows of the benchmark table (10 columns of ints, codes, Thai names, money, decimals,
// floats, dates, notes) take 103 MB, 0.77 times the size of their tab-separated text; with eight
// bytes and a tag per cell they took 157 MB.
//
// The row being filled (AddRow and the Set calls, in any column order, overwriting) stays in a
// staging row until the next AddRow encodes it; reading it reads the staging row (a text read
// from it lasts until the next Set or AddRow, one from an encoded row until Clear). Reading does
// not change the store, so that threads may share one nobody is filling (each thread remembers
// where it read last, to find the next cell of the same row from there).
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

  // A cell as ReadRow gives it: its kind and the value of that kind, as the calls above read it.
  struct CellView {
    Kind kind = Kind::Null;
    qint64 integer = 0;
    double number = 0;
    std::string_view bytes;
  };
  // Every cell of a row, in column order, into `cells` (Columns() of them): one walk over the
  // row for a reader that takes each of its cells, rather than a search for every cell. Texts
  // last as those of BytesAt do.
  void ReadRow(qint64 row, CellView* cells) const;

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
