#include "db/RowStore.h"

#include <cstring>
#include <stdexcept>

namespace qav::db {

namespace {

// A length below this takes one byte; from it on, a marker byte and four bytes.
constexpr std::size_t kShortLength = 0x80;

}  // namespace

void RowStore::Clear() {
  count_ = 0;
  if (chunks_.size() > 1) chunks_.resize(1);
  // An oversized block (one long value's own) is not worth keeping.
  const bool keepFirst = !blocks_.empty() && blockSizes_.front() == kBlockSize;
  blocks_.resize(keepFirst ? 1 : 0);
  blockSizes_.resize(keepFirst ? 1 : 0);
  used_ = keepFirst ? 0 : kBlockSize;
}

void RowStore::Grow(std::size_t cells) {
  const std::size_t end = count_ + cells;
  while (chunks_.size() * kChunkCells < end) {
    Chunk c;
    c.cells = std::make_unique<std::uint64_t[]>(kChunkCells);  // zeroed
    c.tags = std::make_unique<std::uint8_t[]>(kChunkCells);    // zeroed: Null
    chunks_.push_back(std::move(c));
  }
  count_ = end;
}

void RowStore::AddRow() {
  // A chunk of a cleared store still holds the cells of before: the new row starts out null.
  const std::size_t start = count_;
  Grow(static_cast<std::size_t>(columns_));
  for (std::size_t i = start; i < count_; ++i) Set(i, Kind::Null, 0);
}

void RowStore::SetNull(int column) {
  Set(LastRowIndex(column), Kind::Null, 0);
}

void RowStore::SetInt(int column, qint64 value) {
  std::uint64_t cell;
  std::memcpy(&cell, &value, sizeof value);
  Set(LastRowIndex(column), Kind::Int, cell);
}

void RowStore::SetFloat(int column, double value) {
  std::uint64_t cell;
  std::memcpy(&cell, &value, sizeof value);
  Set(LastRowIndex(column), Kind::Float, cell);
}

void RowStore::SetBytes(int column, std::string_view bytes) {
  Set(LastRowIndex(column), Kind::Bytes, Store(bytes));
}

std::uint64_t RowStore::Store(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) throw std::length_error("value larger than 4 GB");
  const std::size_t head = bytes.size() < kShortLength ? 1 : 1 + sizeof(std::uint32_t);
  const std::size_t need = head + bytes.size();
  if (used_ + need > (blocks_.empty() ? 0 : blockSizes_.back())) {
    const std::size_t size = need > kBlockSize ? need : kBlockSize;
    blocks_.push_back(std::make_unique<char[]>(size));
    blockSizes_.push_back(size);
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  if (head == 1) {
    *at = static_cast<char>(bytes.size());
  } else {
    *at = static_cast<char>(kShortLength);
    const auto length = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(at + 1, &length, sizeof length);
  }
  if (!bytes.empty()) std::memcpy(at + head, bytes.data(), bytes.size());
  const std::uint64_t ref = (static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | used_;
  used_ += need;
  return ref;
}

std::string_view RowStore::Read(const char* at) {
  const auto first = static_cast<unsigned char>(*at);
  if (first < kShortLength) return {at + 1, first};
  std::uint32_t length;
  std::memcpy(&length, at + 1, sizeof length);
  return {at + 1 + sizeof length, length};
}

void RowStore::AppendRows(const RowStore& other) {
  if (other.columns_ != columns_) throw std::invalid_argument("rows of another shape");
  const std::size_t start = count_;
  Grow(other.count_);
  for (std::size_t k = 0; k < other.count_; ++k) {
    const Kind kind = static_cast<Kind>(other.chunks_[k >> kChunkShift].tags[k & kChunkMask]);
    const std::uint64_t cell = other.CellAt(k);
    if (kind == Kind::Bytes) {
      // The texts go into this store's blocks; the cell points there instead.
      Set(start + k, kind, Store(Read(other.blocks_[cell >> 32].get() + (cell & 0xffffffffu))));
    } else {
      Set(start + k, kind, cell);
    }
  }
}

qint64 RowStore::IntAt(qint64 row, int column) const {
  const std::uint64_t cell = CellAt(Index(row, column));
  qint64 value;
  std::memcpy(&value, &cell, sizeof value);
  return value;
}

double RowStore::FloatAt(qint64 row, int column) const {
  const std::uint64_t cell = CellAt(Index(row, column));
  double value;
  std::memcpy(&value, &cell, sizeof value);
  return value;
}

std::string_view RowStore::BytesAt(qint64 row, int column) const {
  const std::uint64_t ref = CellAt(Index(row, column));
  return Read(blocks_[ref >> 32].get() + (ref & 0xffffffffu));
}

std::size_t RowStore::MemoryUsed() const {
  std::size_t total = chunks_.size() * kChunkCells * (sizeof(std::uint64_t) + 1);
  for (std::size_t size : blockSizes_) total += size;
  return total;
}

}  // namespace qav::db
