#include "db/RowStore.h"

#include <QtEndian>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace qav::db {

namespace {

// A row of more columns than this starts with the offsets of every such run of cells after the
// first, so that reaching a cell walks at most one run.
constexpr int kSpanShift = 4;
constexpr int kSpan = 1 << kSpanShift;
// Bytes allocated past a block's end, so that an integer at its end may be read as a word.
constexpr std::size_t kReadSlack = sizeof(std::uint64_t);

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
  std::uint8_t size = 0;  // of the cell's bytes after the tags; a long text's is read
};

constexpr std::array<TagInfo, 256> MakeTagTable() {
  std::array<TagInfo, 256> t{};
  t[kNullTag] = {RowStore::Kind::Null, 0};
  t[kDoubleTag] = {RowStore::Kind::Float, 8};
  for (int n = 0; n <= 8; ++n) {
    const auto size = static_cast<std::uint8_t>(n);
    t[kIntTag + n] = {RowStore::Kind::Int, size};
    t[kSecondsTag + n] = {RowStore::Kind::Float, size};
    t[kMillisTag + n] = {RowStore::Kind::Float, size};
    for (int k = 0; k < kScales; ++k) t[kScaledTag + 16 * k + n] = {RowStore::Kind::Float, size};
  }
  for (std::size_t n = 0; n < kShortBytes; ++n)
    t[kShortBytesTag + n] = {RowStore::Kind::Bytes, static_cast<std::uint8_t>(n)};
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

// The cells of a row: their tags, one byte per column, then the bytes of each after them.
struct CellWriter {
  std::uint8_t* tag;
  std::uint8_t* at;

  void Integer(std::uint8_t kind, qint64 value) {
    std::uint64_t u = ZigZag(value);
    const int n = (std::bit_width(u) + 7) / 8;
    *tag++ = static_cast<std::uint8_t>(kind + n);
    for (int i = 0; i < n; ++i, u >>= 8) *at++ = static_cast<std::uint8_t>(u);
  }

  void Varint(std::uint64_t u) {
    for (; u >= 0x80; u >>= 7) *at++ = static_cast<std::uint8_t>(u | 0x80);
    *at++ = static_cast<std::uint8_t>(u);
  }

  void Double(double v);

  void Bytes(std::string_view bytes) {
    if (bytes.size() < kShortBytes) {
      *tag++ = static_cast<std::uint8_t>(kShortBytesTag + bytes.size());
    } else {
      *tag++ = kLongBytesTag;
      Varint(bytes.size());
    }
    if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
    at += bytes.size();
  }
};

// Reads the integer's bytes as one little-endian word: a block has room past its end for it.
qint64 GetInteger(std::uint8_t tag, const std::uint8_t* at) {
  const int n = tag & 0x0f;
  const std::uint64_t u = qFromLittleEndian<quint64>(at);
  return UnZigZag(n == 8 ? u : u & ((std::uint64_t{1} << (8 * n)) - 1));
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
void CellWriter::Double(double v) {
  const std::uint64_t bits = DoubleBits(v);
  // A value that is n / 10^k for some k is within rounding of a whole number at the largest
  // scale too: one that is not there (a date, a third) skips the search.
  const double most = v * kPowers[kScales - 1];
  const bool scaled =
      !(std::fabs(most) < 0x1p53) || std::fabs(most - std::rint(most)) <= std::fabs(most) * 0x1p-50;
  for (int k = 0; scaled && k < kScales; ++k) {
    const double m = v * kPowers[static_cast<std::size_t>(k)];
    if (!(std::fabs(m) < 0x1p53)) break;  // and NaN
    const double r = std::rint(m);
    // Only a product within rounding of a whole number can be one divided back.
    if (std::fabs(m - r) > std::fabs(m) * 0x1p-50) continue;
    const auto n = static_cast<qint64>(r);
    if (DoubleBits(ScaledFrom(n, k)) == bits)
      return Integer(static_cast<std::uint8_t>(kScaledTag + 16 * k), n);
  }
  if (std::fabs(v) < 3e6) {  // days of years 0 to 9999, with room
    const double days = std::trunc(v);
    const qint64 msecs = std::llround(std::fabs(v - days) * kMsecsPerDay);
    const auto d = static_cast<qint64>(days);
    if (msecs < kMsecsPerDay && DoubleBits(DateFrom(d * kMsecsPerDay + (d < 0 ? -msecs : msecs),
                                                    kMsecsPerDay, 1)) == bits) {
      if (msecs % 1000 == 0) {
        const qint64 seconds = msecs / 1000;
        return Integer(kSecondsTag, d * kSecondsPerDay + (d < 0 ? -seconds : seconds));
      }
      return Integer(kMillisTag, d * kMsecsPerDay + (d < 0 ? -msecs : msecs));
    }
  }
  *tag++ = kDoubleTag;
  std::memcpy(at, &bits, sizeof bits);
  at += sizeof bits;
}

// The bytes after the tags taken by the cells of `tags`, from `at` on.
const std::uint8_t* SkipCells(const std::uint8_t* tags, const std::uint8_t* end,
                              const std::uint8_t* at) {
  for (; tags != end; ++tags) {
    if (*tags == kLongBytesTag) {
      std::uint64_t length;
      at = GetVarint(at, length);
      at += length;
    } else {
      at += kTags[*tags].size;
    }
  }
  return at;
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
  identity_ = Identity();
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
    blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(size + kReadSlack));
    blockSizes_.push_back(size);
  } else {
    if (current_ == kNoBlock || used_ + size > kBlockSize) {
      current_ = blocks_.size();
      blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize + kReadSlack));
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
  const std::size_t head = SpanTableSize(columns_) + static_cast<std::size_t>(columns_);
  std::size_t size = head;
  for (const Cell& c : staging_)
    size += c.kind == Kind::Bytes ? 10 + c.bytes.size() : c.kind == Kind::Null ? 0 : 8;
  std::uint8_t* const start = Reserve(size);
  CellWriter w{start + SpanTableSize(columns_), start + head};
  for (int i = 0; i < columns_; ++i) {
    if (i && (i & (kSpan - 1)) == 0) {
      const auto offset = static_cast<std::uint32_t>(w.at - start);
      std::memcpy(start + sizeof offset * static_cast<std::size_t>((i >> kSpanShift) - 1), &offset,
                  sizeof offset);
    }
    const Cell& c = Staged(i);
    switch (c.kind) {
      case Kind::Null:
        *w.tag++ = kNullTag;
        break;
      case Kind::Int:
        w.Integer(kIntTag, static_cast<qint64>(c.bits));
        break;
      case Kind::Float:
        w.Double(std::bit_cast<double>(c.bits));
        break;
      case Kind::Bytes:
        w.Bytes(c.bytes);
        break;
    }
  }
  if (size <= kOwnBlockRow) used_ += static_cast<std::size_t>(w.at - start);
  ++sealed_;
}

void RowStore::AppendRows(const RowStore& other) {
  if (other.columns_ != columns_) throw std::invalid_argument("rows of another shape");
  if (staged_) Seal();
  // Rows are encoded the same in every store: they are copied as they are.
  const std::size_t head = SpanTableSize(columns_) + static_cast<std::size_t>(columns_);
  for (qint64 r = 0; r < other.sealed_; ++r) {
    const std::uint8_t* const from = other.RowAt(r);
    const std::uint8_t* const tags = from + SpanTableSize(columns_);
    const auto size =
        static_cast<std::size_t>(SkipCells(tags, tags + columns_, from + head) - from);
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

namespace {

// Where this thread last read a row: the next cell of the same row is found from there. Rows
// once encoded never move nor change, and a store cleared or moved from takes a new identity.
struct ReadCursor {
  std::uint64_t store = 0;
  qint64 row = -1;
  const std::uint8_t* tags = nullptr;
  int column = 0;
  const std::uint8_t* at = nullptr;  // the bytes of `column`
};

thread_local ReadCursor readCursor;

std::atomic<std::uint64_t> lastIdentity{0};

}  // namespace

std::uint64_t RowStore::Identity::Next() {
  return lastIdentity.fetch_add(1, std::memory_order_relaxed) + 1;
}

inline const std::uint8_t* RowStore::TagsAt(qint64 row) const {
  ReadCursor& c = readCursor;
  if (c.row != row || c.store != identity_.value) {
    c.store = identity_.value;
    c.row = row;
    c.tags = RowAt(row) + SpanTableSize(columns_);
    c.column = 0;
    c.at = c.tags + columns_;
  }
  return c.tags;
}

const std::uint8_t* RowStore::CellAt(qint64 row, int column, std::uint8_t& tag) const {
  const std::uint8_t* const tags = TagsAt(row);
  ReadCursor& c = readCursor;
  tag = tags[column];
  const int span = column >> kSpanShift;
  // Walks on from the cell read last when it comes before in the same run of cells.
  if (column < c.column || span != c.column >> kSpanShift) {
    c.column = span << kSpanShift;
    c.at = tags + columns_;
    if (span > 0) {
      const std::uint8_t* const start = tags - SpanTableSize(columns_);
      std::uint32_t offset;
      std::memcpy(&offset, start + sizeof offset * static_cast<std::size_t>(span - 1),
                  sizeof offset);
      c.at = start + offset;
    }
  }
  c.at = SkipCells(tags + c.column, tags + column, c.at);
  c.column = column;
  return c.at;
}

RowStore::Kind RowStore::KindAt(qint64 row, int column) const {
  if (IsStaged(row)) return Staged(column).kind;
  return kTags[TagsAt(row)[column]].kind;
}

qint64 RowStore::IntAt(qint64 row, int column) const {
  // A cell of another kind reads as zero or empty, staged or encoded alike.
  if (IsStaged(row))
    return Staged(column).kind == Kind::Int ? static_cast<qint64>(Staged(column).bits) : 0;
  std::uint8_t tag;
  const std::uint8_t* at = CellAt(row, column, tag);
  return kTags[tag].kind == Kind::Int ? GetInteger(tag, at) : 0;
}

double RowStore::FloatAt(qint64 row, int column) const {
  if (IsStaged(row))
    return Staged(column).kind == Kind::Float ? std::bit_cast<double>(Staged(column).bits) : 0;
  std::uint8_t tag;
  const std::uint8_t* at = CellAt(row, column, tag);
  if (tag == kDoubleTag) {
    std::uint64_t bits;
    std::memcpy(&bits, at, sizeof bits);
    return std::bit_cast<double>(bits);
  }
  if (tag >= kScaledTag && tag < kShortBytesTag)
    return ScaledFrom(GetInteger(tag, at), (tag - kScaledTag) >> 4);
  if (tag >= kSecondsTag && tag < kMillisTag)
    return DateFrom(GetInteger(tag, at), kSecondsPerDay, 1000);
  if (tag >= kMillisTag && tag < kScaledTag) return DateFrom(GetInteger(tag, at), kMsecsPerDay, 1);
  return 0;
}

std::string_view RowStore::BytesAt(qint64 row, int column) const {
  if (IsStaged(row))
    return Staged(column).kind == Kind::Bytes ? std::string_view(Staged(column).bytes)
                                              : std::string_view();
  std::uint8_t tag;
  const std::uint8_t* at = CellAt(row, column, tag);
  std::uint64_t length = 0;
  if (tag >= kShortBytesTag)
    length = tag - kShortBytesTag;
  else if (tag == kLongBytesTag)
    at = GetVarint(at, length);
  return {reinterpret_cast<const char*>(at), static_cast<std::size_t>(length)};
}

void RowStore::ReadRow(qint64 row, CellView* cells) const {
  if (IsStaged(row)) {
    for (int i = 0; i < columns_; ++i) {
      const Cell& c = Staged(i);
      CellView& v = cells[i];
      v.kind = c.kind;
      if (c.kind == Kind::Int) v.integer = static_cast<qint64>(c.bits);
      if (c.kind == Kind::Float) v.number = std::bit_cast<double>(c.bits);
      if (c.kind == Kind::Bytes) v.bytes = c.bytes;
    }
    return;
  }
  const std::uint8_t* const tags = RowAt(row) + SpanTableSize(columns_);
  const std::uint8_t* at = tags + columns_;
  for (int i = 0; i < columns_; ++i) {
    const std::uint8_t tag = tags[i];
    CellView& v = cells[i];
    v.kind = kTags[tag].kind;
    if (tag >= kShortBytesTag) {
      v.bytes = {reinterpret_cast<const char*>(at), static_cast<std::size_t>(tag - kShortBytesTag)};
      at += tag - kShortBytesTag;
      continue;
    }
    if (tag == kLongBytesTag) {
      std::uint64_t length;
      at = GetVarint(at, length);
      v.bytes = {reinterpret_cast<const char*>(at), static_cast<std::size_t>(length)};
      at += length;
      continue;
    }
    if (tag == kDoubleTag) {
      std::uint64_t bits;
      std::memcpy(&bits, at, sizeof bits);
      v.number = std::bit_cast<double>(bits);
    } else if (tag >= kScaledTag) {
      v.number = ScaledFrom(GetInteger(tag, at), (tag - kScaledTag) >> 4);
    } else if (tag >= kMillisTag) {
      v.number = DateFrom(GetInteger(tag, at), kMsecsPerDay, 1);
    } else if (tag >= kSecondsTag) {
      v.number = DateFrom(GetInteger(tag, at), kSecondsPerDay, 1000);
    } else if (tag >= kIntTag) {
      v.integer = GetInteger(tag, at);
    }
    at += kTags[tag].size;
  }
}

std::size_t RowStore::MemoryUsed() const {
  std::size_t total = rowRefs_.size() * kRefChunkRows * sizeof(std::uint32_t) +
                      groupBlocks_.capacity() * sizeof(std::uint32_t);
  for (std::size_t size : blockSizes_) total += size;
  for (const Cell& c : staging_) total += sizeof c + c.bytes.capacity();
  return total;
}

}  // namespace qav::db
