#include "db/RowStore.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace qav::db {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;
// A row larger than this gets a block of its own rather than leave the rest of one unused.
constexpr std::size_t kOwnBlockRow = kBlockSize / 8;
constexpr int kOffsetBits = 20;  // of a row reference; a row's offset is within a block
constexpr std::uint32_t kOffsetMask = (std::uint32_t{1} << kOffsetBits) - 1;
// A group's rows lie in at most this many blocks, as each row starts at most one block.
constexpr int kGroupShift = 8;
constexpr int kRefChunkShift = 14;
constexpr std::size_t kRefChunkRows = std::size_t{1} << kRefChunkShift;
// A row of more columns than this starts with the offsets of every such run of cells after the
// first, so that reaching a cell walks at most one run.
constexpr int kSpanShift = 4;
constexpr int kSpan = 1 << kSpanShift;

// The tags: the kind of a cell and how its bytes follow.
constexpr std::uint8_t kNullTag = 0x00;
constexpr std::uint8_t kDoubleTag = 0x01;      // the eight bytes of the double
constexpr std::uint8_t kLongBytesTag = 0x02;   // a varint length, then the bytes
constexpr std::uint8_t kIntTag = 0x10;         // + n: n bytes of the zig-zag integer
constexpr std::uint8_t kSecondsTag = 0x20;     // + n: a date and time to the second
constexpr std::uint8_t kMillisTag = 0x30;      // + n: a date and time to the millisecond
constexpr std::uint8_t kScaledTag = 0x40;      // + 16 k + n: a double that is the integer / 10^k
constexpr std::uint8_t kShortBytesTag = 0xc0;  // + length: the bytes
constexpr std::size_t kShortBytes = 0x40;
constexpr int kScales = 8;
constexpr std::array<double, kScales> kPowers = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
// Dates are days since 1899-12-30 and the fraction of the day, as db/DateTime builds them.
constexpr qint64 kSecondsPerDay = 86400;
constexpr qint64 kMsecsPerDay = 86400000;

struct TagInfo {
  RowStore::Kind kind = RowStore::Kind::Bytes;
  std::uint8_t size = 0;  // of the whole cell; 0 for a long text
};

constexpr std::array<TagInfo, 256> MakeTagTable() {
  std::array<TagInfo, 256> t{};
  t[kNullTag] = {RowStore::Kind::Null, 1};
  t[kDoubleTag] = {RowStore::Kind::Float, 9};
  for (int n = 0; n <= 8; ++n) {
    t[kIntTag + n] = {RowStore::Kind::Int, static_cast<std::uint8_t>(1 + n)};
    t[kSecondsTag + n] = {RowStore::Kind::Float, static_cast<std::uint8_t>(1 + n)};
    t[kMillisTag + n] = {RowStore::Kind::Float, static_cast<std::uint8_t>(1 + n)};
    for (int k = 0; k < kScales; ++k)
      t[kScaledTag + 16 * k + n] = {RowStore::Kind::Float, static_cast<std::uint8_t>(1 + n)};
  }
  for (std::size_t n = 0; n < kShortBytes; ++n)
    t[kShortBytesTag + n] = {RowStore::Kind::Bytes, static_cast<std::uint8_t>(1 + n)};
  return t;
}

constexpr std::array<TagInfo, 256> kTags = MakeTagTable();

std::uint64_t ZigZag(qint64 v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

qint64 UnZigZag(std::uint64_t u) {
  return static_cast<qint64>(u >> 1) ^ -static_cast<qint64>(u & 1);
}

std::uint64_t DoubleBits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

int ByteCount(std::uint64_t u) {
  return (std::bit_width(u) + 7) / 8;
}

std::uint8_t* PutInteger(std::uint8_t* at, std::uint8_t tag, qint64 value) {
  std::uint64_t u = ZigZag(value);
  const int n = ByteCount(u);
  *at++ = static_cast<std::uint8_t>(tag + n);
  for (int i = 0; i < n; ++i, u >>= 8) *at++ = static_cast<std::uint8_t>(u);
  return at;
}

qint64 GetInteger(const std::uint8_t* at) {
  const int n = at[0] & 0x0f;
  std::uint64_t u = 0;
  for (int i = n; i > 0; --i) u = (u << 8) | at[i];
  return UnZigZag(u);
}

std::uint8_t* PutVarint(std::uint8_t* at, std::uint64_t u) {
  for (; u >= 0x80; u >>= 7) *at++ = static_cast<std::uint8_t>(u | 0x80);
  *at++ = static_cast<std::uint8_t>(u);
  return at;
}

const std::uint8_t* GetVarint(const std::uint8_t* at, std::uint64_t& u) {
  u = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t b = *at++;
    u |= static_cast<std::uint64_t>(b & 0x7f) << shift;
    if (b < 0x80) return at;
  }
}

// The date and time a count of seconds or milliseconds stands for, built as db/DateTime does.
double DateFrom(qint64 count, qint64 perDay, qint64 msecsPerUnit) {
  const qint64 days = count / perDay;
  const qint64 msecs = (count < 0 ? -(count % perDay) : count % perDay) * msecsPerUnit;
  const double fraction = static_cast<double>(msecs) / kMsecsPerDay;
  const double d = static_cast<double>(days);
  return days < 0 ? d - fraction : d + fraction;
}

double ScaledFrom(qint64 n, int k) {
  return static_cast<double>(n) / kPowers[static_cast<std::size_t>(k)];
}

// Writes a double in the fewest bytes that give back every bit of it.
std::uint8_t* PutDouble(std::uint8_t* at, double v) {
  const std::uint64_t bits = DoubleBits(v);
  for (int k = 0; k < kScales; ++k) {
    const double m = v * kPowers[static_cast<std::size_t>(k)];
    if (!(std::fabs(m) < 0x1p53)) break;  // and NaN
    const double r = std::rint(m);
    // Only a product within rounding of a whole number can be one divided back.
    if (std::fabs(m - r) > std::fabs(m) * 0x1p-50) continue;
    const auto n = static_cast<qint64>(r);
    if (DoubleBits(ScaledFrom(n, k)) == bits)
      return PutInteger(at, static_cast<std::uint8_t>(kScaledTag + 16 * k), n);
  }
  if (std::fabs(v) < 3e6) {  // days of years 0 to 9999, with room
    const double days = std::trunc(v);
    const qint64 msecs = std::llround(std::fabs(v - days) * kMsecsPerDay);
    const auto d = static_cast<qint64>(days);
    if (msecs < kMsecsPerDay && DoubleBits(DateFrom(d * kMsecsPerDay + (d < 0 ? -msecs : msecs),
                                                    kMsecsPerDay, 1)) == bits) {
      if (msecs % 1000 == 0) {
        const qint64 seconds = msecs / 1000;
        return PutInteger(at, kSecondsTag, d * kSecondsPerDay + (d < 0 ? -seconds : seconds));
      }
      return PutInteger(at, kMillisTag, d * kMsecsPerDay + (d < 0 ? -msecs : msecs));
    }
  }
  *at++ = kDoubleTag;
  std::memcpy(at, &bits, sizeof bits);
  return at + sizeof bits;
}

std::uint8_t* PutBytes(std::uint8_t* at, std::string_view bytes) {
  if (bytes.size() < kShortBytes) {
    *at++ = static_cast<std::uint8_t>(kShortBytesTag + bytes.size());
  } else {
    *at++ = kLongBytesTag;
    at = PutVarint(at, bytes.size());
  }
  if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
  return at + bytes.size();
}

const std::uint8_t* SkipCell(const std::uint8_t* at) {
  if (const std::uint8_t size = kTags[*at].size) return at + size;
  std::uint64_t length;
  at = GetVarint(at + 1, length);
  return at + length;
}

std::size_t SpanTableSize(int columns) {
  return columns > kSpan
             ? sizeof(std::uint32_t) * static_cast<std::size_t>((columns - 1) >> kSpanShift)
             : 0;
}

}  // namespace

RowStore::RowStore(int columns)
    : columns_(columns), staging_(static_cast<std::size_t>(std::max(columns, 0))) {}

void RowStore::Clear() {
  sealed_ = 0;
  staged_ = false;
  for (Cell& c : staging_)
    if (c.bytes.capacity() > kBlockSize) std::string().swap(c.bytes);
  // A block of a single large row is not worth keeping.
  const bool keepFirst = !blocks_.empty() && blockSizes_.front() == kBlockSize;
  blocks_.resize(keepFirst ? 1 : 0);
  blockSizes_.resize(keepFirst ? 1 : 0);
  current_ = keepFirst ? 0 : kNoBlock;
  used_ = 0;
  if (rowRefs_.size() > 1) rowRefs_.resize(1);
  groupBlocks_.clear();
}

void RowStore::AddRow() {
  if (staged_) Seal();
  for (Cell& c : staging_) c.kind = Kind::Null;
  staged_ = true;
}

void RowStore::SetNull(int column) {
  Staged(column).kind = Kind::Null;
}

void RowStore::SetInt(int column, qint64 value) {
  Cell& c = Staged(column);
  c.kind = Kind::Int;
  c.bits = static_cast<std::uint64_t>(value);
}

void RowStore::SetFloat(int column, double value) {
  Cell& c = Staged(column);
  c.kind = Kind::Float;
  c.bits = DoubleBits(value);
}

void RowStore::SetBytes(int column, std::string_view bytes) {
  Cell& c = Staged(column);
  c.kind = Kind::Bytes;
  c.bytes.assign(bytes);
}

std::uint8_t* RowStore::Reserve(std::size_t size) {
  if ((sealed_ & ((qint64{1} << kGroupShift) - 1)) == 0)
    groupBlocks_.push_back(
        static_cast<std::uint32_t>(current_ == kNoBlock ? blocks_.size() : current_));
  std::size_t block;
  std::size_t offset = 0;
  if (size > kOwnBlockRow) {
    block = blocks_.size();
    blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(size));
    blockSizes_.push_back(size);
  } else {
    if (current_ == kNoBlock || used_ + size > kBlockSize) {
      current_ = blocks_.size();
      blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize));
      blockSizes_.push_back(kBlockSize);
      used_ = 0;
    }
    block = current_;
    offset = used_;
  }
  const auto row = static_cast<std::size_t>(sealed_);
  if ((row >> kRefChunkShift) == rowRefs_.size())
    rowRefs_.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(kRefChunkRows));
  rowRefs_[row >> kRefChunkShift][row & (kRefChunkRows - 1)] =
      static_cast<std::uint32_t>(((block - groupBlocks_.back()) << kOffsetBits) | offset);
  return blocks_[block].get() + offset;
}

void RowStore::Seal() {
  staged_ = false;
  std::size_t size = SpanTableSize(columns_);
  for (const Cell& c : staging_)
    size += c.kind == Kind::Bytes ? 11 + c.bytes.size() : c.kind == Kind::Null ? 1 : 9;
  std::uint8_t* const start = Reserve(size);
  std::uint8_t* at = start + SpanTableSize(columns_);
  for (int i = 0; i < columns_; ++i) {
    if (i && (i & (kSpan - 1)) == 0) {
      const auto offset = static_cast<std::uint32_t>(at - start);
      std::memcpy(start + sizeof offset * static_cast<std::size_t>((i >> kSpanShift) - 1), &offset,
                  sizeof offset);
    }
    const Cell& c = Staged(i);
    switch (c.kind) {
      case Kind::Null:
        *at++ = kNullTag;
        break;
      case Kind::Int:
        at = PutInteger(at, kIntTag, static_cast<qint64>(c.bits));
        break;
      case Kind::Float:
        at = PutDouble(at, std::bit_cast<double>(c.bits));
        break;
      case Kind::Bytes:
        at = PutBytes(at, c.bytes);
        break;
    }
  }
  if (size <= kOwnBlockRow) used_ += static_cast<std::size_t>(at - start);
  ++sealed_;
}

void RowStore::AppendRows(const RowStore& other) {
  if (other.columns_ != columns_) throw std::invalid_argument("rows of another shape");
  if (staged_) Seal();
  // Rows are encoded the same in every store: they are copied as they are.
  for (qint64 r = 0; r < other.sealed_; ++r) {
    const std::uint8_t* const from = other.RowAt(r);
    const std::uint8_t* end = from + SpanTableSize(columns_);
    for (int i = 0; i < columns_; ++i) end = SkipCell(end);
    const auto size = static_cast<std::size_t>(end - from);
    std::memcpy(Reserve(size), from, size);
    if (size <= kOwnBlockRow) used_ += size;
    ++sealed_;
  }
  if (other.staged_) {
    for (int i = 0; i < columns_; ++i) {
      const Cell& c = other.Staged(i);
      Cell& mine = Staged(i);
      mine.kind = c.kind;
      mine.bits = c.bits;
      if (c.kind == Kind::Bytes) mine.bytes.assign(c.bytes);
    }
    Seal();
  }
}

const std::uint8_t* RowStore::RowAt(qint64 row) const {
  const auto r = static_cast<std::size_t>(row);
  const std::uint32_t ref = rowRefs_[r >> kRefChunkShift][r & (kRefChunkRows - 1)];
  const std::size_t block = groupBlocks_[r >> kGroupShift] + (ref >> kOffsetBits);
  return blocks_[block].get() + (ref & kOffsetMask);
}

const std::uint8_t* RowStore::CellAt(qint64 row, int column) const {
  const std::uint8_t* const start = RowAt(row);
  const std::uint8_t* at = start + SpanTableSize(columns_);
  if (const int span = column >> kSpanShift; span > 0 && columns_ > kSpan) {
    std::uint32_t offset;
    std::memcpy(&offset, start + sizeof offset * static_cast<std::size_t>(span - 1), sizeof offset);
    at = start + offset;
    column &= kSpan - 1;
  }
  for (; column > 0; --column) at = SkipCell(at);
  return at;
}

RowStore::Kind RowStore::KindAt(qint64 row, int column) const {
  if (IsStaged(row)) return Staged(column).kind;
  return kTags[*CellAt(row, column)].kind;
}

qint64 RowStore::IntAt(qint64 row, int column) const {
  if (IsStaged(row)) return static_cast<qint64>(Staged(column).bits);
  const std::uint8_t* at = CellAt(row, column);
  return kTags[*at].kind == Kind::Int ? GetInteger(at) : 0;
}

double RowStore::FloatAt(qint64 row, int column) const {
  if (IsStaged(row)) return std::bit_cast<double>(Staged(column).bits);
  const std::uint8_t* at = CellAt(row, column);
  const std::uint8_t tag = *at;
  if (tag == kDoubleTag) {
    std::uint64_t bits;
    std::memcpy(&bits, at + 1, sizeof bits);
    return std::bit_cast<double>(bits);
  }
  if (tag >= kScaledTag && tag < kShortBytesTag)
    return ScaledFrom(GetInteger(at), (tag - kScaledTag) >> 4);
  if (tag >= kSecondsTag && tag < kMillisTag) return DateFrom(GetInteger(at), kSecondsPerDay, 1000);
  if (tag >= kMillisTag && tag < kScaledTag) return DateFrom(GetInteger(at), kMsecsPerDay, 1);
  return 0;
}

std::string_view RowStore::BytesAt(qint64 row, int column) const {
  if (IsStaged(row)) return Staged(column).bytes;
  const std::uint8_t* at = CellAt(row, column);
  const std::uint8_t tag = *at;
  std::uint64_t length = 0;
  if (tag >= kShortBytesTag) {
    length = tag - kShortBytesTag;
    ++at;
  } else if (tag == kLongBytesTag) {
    at = GetVarint(at + 1, length);
  }
  return {reinterpret_cast<const char*>(at), static_cast<std::size_t>(length)};
}

std::size_t RowStore::MemoryUsed() const {
  std::size_t total = rowRefs_.size() * kRefChunkRows * sizeof(std::uint32_t) +
                      groupBlocks_.capacity() * sizeof(std::uint32_t);
  for (std::size_t size : blockSizes_) total += size;
  for (const Cell& c : staging_) total += sizeof c + c.bytes.capacity();
  return total;
}

}  // namespace qav::db
