#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace qav::db {

// The rows of one result set, kept compactly: eight bytes and a one-byte tag per cell, and the
// bytes of texts and binary values packed into large shared blocks. A million rows of ten
// columns take about 90 MB plus their text, instead of a heap object per cell.
class RowStore {
 public:
  enum class Kind : std::uint8_t { Null, Int, Float, Bytes };

  explicit RowStore(int columns = 0) : columns_(columns) {}
  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;

  int Columns() const { return columns_; }
  qint64 Rows() const { return columns_ ? static_cast<qint64>(tags_.size()) / columns_ : 0; }

  // Drops every row. The cell arrays and one block of text keep their memory, for a reader that
  // refills the same store window after window.
  void Clear();
  // Appends a row whose cells are all null; the Set calls below fill the last row.
  void AddRow();
  void SetNull(int column);
  void SetInt(int column, qint64 value);
  void SetFloat(int column, double value);
  void SetBytes(int column, std::string_view bytes);

  Kind KindAt(qint64 row, int column) const { return static_cast<Kind>(tags_[Index(row, column)]); }
  bool IsNull(qint64 row, int column) const { return KindAt(row, column) == Kind::Null; }
  qint64 IntAt(qint64 row, int column) const;
  double FloatAt(qint64 row, int column) const;
  std::string_view BytesAt(qint64 row, int column) const;

  // Bytes held, for the memory benchmark.
  std::size_t MemoryUsed() const;

 private:
  static constexpr std::size_t kBlockSize = 1 << 20;

  std::size_t Index(qint64 row, int column) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column);
  }
  std::size_t LastRowIndex(int column) const { return tags_.size() - columns_ + column; }

  int columns_ = 0;
  std::vector<std::uint64_t> cells_;
  std::vector<std::uint8_t> tags_;
  // A Bytes cell holds the block number in its upper 32 bits and the offset in the lower ones;
  // the value starts with its 32-bit length. A value larger than a block gets a block of its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::size_t> blockSizes_;
  std::size_t used_ = kBlockSize;  // bytes used in the last block; full until one exists
};

}  // namespace qav::db
