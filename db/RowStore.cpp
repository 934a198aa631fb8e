#include "db/RowStore.h"

#include <cstring>
#include <stdexcept>

namespace qav::db {

void RowStore::Clear() {
  cells_.clear();
  tags_.clear();
  // An oversized block (one long value's own) is not worth keeping.
  const bool keepFirst = !blocks_.empty() && blockSizes_.front() == kBlockSize;
  blocks_.resize(keepFirst ? 1 : 0);
  blockSizes_.resize(keepFirst ? 1 : 0);
  used_ = keepFirst ? 0 : kBlockSize;
}

void RowStore::AddRow() {
  cells_.resize(cells_.size() + columns_, 0);
  tags_.resize(tags_.size() + columns_, static_cast<std::uint8_t>(Kind::Null));
}

void RowStore::SetNull(int column) {
  const std::size_t i = LastRowIndex(column);
  tags_[i] = static_cast<std::uint8_t>(Kind::Null);
  cells_[i] = 0;
}

void RowStore::SetInt(int column, qint64 value) {
  const std::size_t i = LastRowIndex(column);
  tags_[i] = static_cast<std::uint8_t>(Kind::Int);
  std::memcpy(&cells_[i], &value, sizeof value);
}

void RowStore::SetFloat(int column, double value) {
  const std::size_t i = LastRowIndex(column);
  tags_[i] = static_cast<std::uint8_t>(Kind::Float);
  std::memcpy(&cells_[i], &value, sizeof value);
}

void RowStore::SetBytes(int column, std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) throw std::length_error("value larger than 4 GB");
  const std::size_t need = sizeof(std::uint32_t) + bytes.size();
  if (used_ + need > (blocks_.empty() ? 0 : blockSizes_.back())) {
    const std::size_t size = need > kBlockSize ? need : kBlockSize;
    blocks_.push_back(std::make_unique<char[]>(size));
    blockSizes_.push_back(size);
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  const auto length = static_cast<std::uint32_t>(bytes.size());
  std::memcpy(at, &length, sizeof length);
  if (!bytes.empty()) std::memcpy(at + sizeof length, bytes.data(), bytes.size());
  const std::size_t i = LastRowIndex(column);
  tags_[i] = static_cast<std::uint8_t>(Kind::Bytes);
  cells_[i] = (static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | used_;
  used_ += need;
}

qint64 RowStore::IntAt(qint64 row, int column) const {
  qint64 value;
  std::memcpy(&value, &cells_[Index(row, column)], sizeof value);
  return value;
}

double RowStore::FloatAt(qint64 row, int column) const {
  double value;
  std::memcpy(&value, &cells_[Index(row, column)], sizeof value);
  return value;
}

std::string_view RowStore::BytesAt(qint64 row, int column) const {
  const std::uint64_t ref = cells_[Index(row, column)];
  const char* at = blocks_[ref >> 32].get() + (ref & 0xffffffffu);
  std::uint32_t length;
  std::memcpy(&length, at, sizeof length);
  return {at + sizeof length, length};
}

std::size_t RowStore::MemoryUsed() const {
  std::size_t total = cells_.capacity() * sizeof(std::uint64_t) + tags_.capacity();
  for (std::size_t size : blockSizes_) total += size;
  return total;
}

}  // namespace qav::db
