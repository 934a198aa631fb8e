#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace qav::db {

// The rows of one result set, kept compactly: eight bytes and a one-byte tag per cell, and the
// bytes of texts and binary values packed into large shared blocks behind a length of one byte
// (five from 128 bytes on). The cells live in chunks of a fixed size, so that a growing result
// never copies what it holds nor keeps room it does not use. A million rows of ten columns take
// about 90 MB plus their text, instead of a heap object per cell.
class RowStore {
 public:
  enum class Kind : std::uint8_t { Null, Int, Float, Bytes };

  explicit RowStore(int columns = 0) : columns_(columns) {}
  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;

  int Columns() const { return columns_; }
  qint64 Rows() const { return columns_ ? static_cast<qint64>(count_ / columns_) : 0; }

  // Drops every row. The first chunk of cells and one block of text keep their memory, for a
  // reader that refills the same store window after window.
  void Clear();
  // Appends a row whose cells are all null; the Set calls below fill the last row.
  void AddRow();
  void SetNull(int column);
  void SetInt(int column, qint64 value);
  void SetFloat(int column, double value);
  void SetBytes(int column, std::string_view bytes);
  // Appends copies of the rows of `other`, a store of as many columns.
  void AppendRows(const RowStore& other);

  Kind KindAt(qint64 row, int column) const {
    const std::size_t i = Index(row, column);
    return static_cast<Kind>(chunks_[i >> kChunkShift].tags[i & kChunkMask]);
  }
  bool IsNull(qint64 row, int column) const { return KindAt(row, column) == Kind::Null; }
  qint64 IntAt(qint64 row, int column) const;
  double FloatAt(qint64 row, int column) const;
  std::string_view BytesAt(qint64 row, int column) const;

  // Bytes held, for the memory benchmark.
  std::size_t MemoryUsed() const;

 private:
  static constexpr std::size_t kBlockSize = 1 << 20;
  static constexpr int kChunkShift = 13;
  static constexpr std::size_t kChunkCells = std::size_t{1} << kChunkShift;
  static constexpr std::size_t kChunkMask = kChunkCells - 1;

  struct Chunk {
    std::unique_ptr<std::uint64_t[]> cells;
    std::unique_ptr<std::uint8_t[]> tags;
  };

  std::size_t Index(qint64 row, int column) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column);
  }
  std::size_t LastRowIndex(int column) const { return count_ - columns_ + column; }
  std::uint64_t& CellAt(std::size_t i) { return chunks_[i >> kChunkShift].cells[i & kChunkMask]; }
  std::uint64_t CellAt(std::size_t i) const {
    return chunks_[i >> kChunkShift].cells[i & kChunkMask];
  }
  std::uint8_t& TagAt(std::size_t i) { return chunks_[i >> kChunkShift].tags[i & kChunkMask]; }
  void Set(std::size_t i, Kind kind, std::uint64_t cell) {
    Chunk& c = chunks_[i >> kChunkShift];
    c.tags[i & kChunkMask] = static_cast<std::uint8_t>(kind);
    c.cells[i & kChunkMask] = cell;
  }
  // Makes room for `cells` more cells, all null.
  void Grow(std::size_t cells);
  // Copies the bytes into the blocks and returns the reference a Bytes cell holds.
  std::uint64_t Store(std::string_view bytes);
  static std::string_view Read(const char* at);

  int columns_ = 0;
  std::size_t count_ = 0;  // cells in use
  std::vector<Chunk> chunks_;
  // A Bytes cell holds the block number in its upper 32 bits and the offset in the lower ones.
  // A value larger than a block gets a block of its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::size_t> blockSizes_;
  std::size_t used_ = kBlockSize;  // bytes used in the last block; full until one exists
};

}  // namespace qav::db
