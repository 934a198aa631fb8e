#include "db/RowStore.h"

#include "db/DateTime.h"

#include <gtest/gtest.h>
#include <bit>
#include <limits>
#include <string>

using qav::db::RowStore;

TEST(RowStore, KeepsEveryKindOfCellPerRowAndColumn) {
  RowStore store(3);
  store.AddRow();
  store.SetInt(0, -7);
  store.SetFloat(1, 2.5);
  store.SetBytes(2, "บริษัท ทดสอบ จำกัด");
  store.AddRow();  // a row left null
  store.AddRow();
  store.SetBytes(0, "");
  store.SetInt(2, INT64_MAX);

  ASSERT_EQ(store.Rows(), 3);
  EXPECT_EQ(store.IntAt(0, 0), -7);
  EXPECT_EQ(store.FloatAt(0, 1), 2.5);
  EXPECT_EQ(store.BytesAt(0, 2), "บริษัท ทดสอบ จำกัด");
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(store.IsNull(1, c));
  EXPECT_EQ(store.KindAt(2, 0), RowStore::Kind::Bytes);
  EXPECT_EQ(store.BytesAt(2, 0), "");
  EXPECT_TRUE(store.IsNull(2, 1));
  EXPECT_EQ(store.IntAt(2, 2), INT64_MAX);
}

TEST(RowStore, ValuesAcrossAndBeyondBlockBoundariesStayIntact) {
  RowStore store(1);
  const std::string big(3 << 20, 'x');  // larger than one block
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    store.AddRow();
    std::string value =
        (i == 7777) ? big : std::string(static_cast<size_t>(i % 300), char('a' + i % 26));
    store.SetBytes(0, value);
    expected.push_back(std::move(value));
  }
  for (int i = 0; i < 20000; ++i)
    ASSERT_EQ(store.BytesAt(i, 0), expected[static_cast<size_t>(i)]) << i;
}

TEST(RowStore, AppendedAndRefilledRowsReadAsTheyWereWritten) {
  // Lengths on both sides of the one-byte length, rows across chunk boundaries, and a store
  // cleared and refilled as a forward reader's window is.
  const auto fill = [](RowStore& s, int from, int rows) {
    for (int i = from; i < from + rows; ++i) {
      s.AddRow();
      if (i % 5) s.SetInt(0, i);
      s.SetBytes(1, std::string(static_cast<size_t>(i % 300), char('a' + i % 26)));
      if (i % 7 == 0) s.SetFloat(2, i / 4.0);
    }
  };
  const auto check = [](const RowStore& s, qint64 row, int i) {
    if (i % 5) {
      ASSERT_EQ(s.IntAt(row, 0), i);
    } else {
      ASSERT_TRUE(s.IsNull(row, 0)) << i;
    }
    ASSERT_EQ(s.BytesAt(row, 1), std::string(static_cast<size_t>(i % 300), char('a' + i % 26)));
    if (i % 7 == 0) {
      ASSERT_EQ(s.FloatAt(row, 2), i / 4.0);
    } else {
      ASSERT_TRUE(s.IsNull(row, 2)) << i;
    }
  };
  RowStore all(3), window(3);
  fill(all, 0, 5000);
  for (int from = 5000; from < 20000; from += 3000) {
    window.Clear();
    fill(window, from, 3000);
    all.AppendRows(window);
  }
  ASSERT_EQ(all.Rows(), 20000);
  for (int i = 0; i < 20000; ++i) check(all, i, i);
  EXPECT_THROW(all.AppendRows(RowStore(2)), std::invalid_argument);
}

namespace {

// One value of every shape the encoding treats apart, as a cell of a table of cases.
struct Value {
  RowStore::Kind kind;
  qint64 integer = 0;
  double real = 0;
  std::string bytes;
};

Value Int(qint64 v) {
  return {RowStore::Kind::Int, v, 0, {}};
}
Value Real(double v) {
  return {RowStore::Kind::Float, 0, v, {}};
}
Value Real(std::uint64_t bits) {
  return Real(std::bit_cast<double>(bits));
}
Value Text(std::string v) {
  return {RowStore::Kind::Bytes, 0, 0, std::move(v)};
}

const std::vector<Value>& RoundTripCases() {
  static const std::vector<Value> cases = {
      {RowStore::Kind::Null, 0, 0, {}},
      Int(0),
      Int(1),
      Int(-1),
      Int(127),
      Int(-129),
      Int(1 << 20),
      Int(INT64_MIN),
      Int(INT64_MAX),
      Real(0.0),
      Real(-0.0),
      Real(1.0),
      Real(-3.0),
      Real(0.29),
      Real(12.34),
      Real(-0.0001),
      Real(7.7776),
      Real(1.0 / 3),
      Real(0.1 + 0.2),
      Real(1e300),
      Real(-1e-300),
      Real(9007199254740992.0),
      Real(9007199254740994.0),
      Real(3e15 + 0.5),
      Real(std::numeric_limits<double>::denorm_min()),
      Real(-std::numeric_limits<double>::min()),
      Real(std::numeric_limits<double>::max()),
      Real(std::numeric_limits<double>::infinity()),
      Real(-std::numeric_limits<double>::infinity()),
      Real(std::uint64_t{0x7ff8000000000000}),
      Real(std::uint64_t{0x7ff0000000000123}),
      Real(std::uint64_t{0xfff8000000abcdef}),
      // Dates as the database layer builds them: whole seconds, milliseconds, before 1899.
      Real(qav::db::EncodeDateTime(QDate(2024, 3, 15), QTime(10, 15, 0))),
      Real(qav::db::EncodeDateTime(QDate(2024, 3, 15), QTime(23, 59, 59, 999))),
      Real(qav::db::EncodeDateTime(QDate(1850, 1, 2), QTime(6, 0, 30))),
      Real(qav::db::EncodeDateTime(QDate(9999, 12, 31), QTime(12, 0, 0, 1))),
      Real(-0.5),
      Text(""),
      Text("x"),
      Text(std::string("a\0b\0", 4)),
      Text(std::string(63, 'q')),
      Text(std::string(64, 'r')),
      Text("สินค้าทดสอบ Product 12"),
      Text(std::string(300, 's')),
      Text(std::string((1 << 20) + 5, 'b')),  // larger than a block
  };
  return cases;
}

void ExpectCell(const RowStore& s, qint64 row, int column, const Value& v) {
  ASSERT_EQ(s.KindAt(row, column), v.kind) << row << ", " << column;
  switch (v.kind) {
    case RowStore::Kind::Null:
      break;
    case RowStore::Kind::Int:
      EXPECT_EQ(s.IntAt(row, column), v.integer) << row << ", " << column;
      break;
    case RowStore::Kind::Float:
      EXPECT_EQ(std::bit_cast<std::uint64_t>(s.FloatAt(row, column)),
                std::bit_cast<std::uint64_t>(v.real))
          << row << ", " << column << ": " << v.real;
      break;
    case RowStore::Kind::Bytes:
      EXPECT_TRUE(s.BytesAt(row, column) == v.bytes) << row << ", " << column;
      break;
  }
}

// A cell of ReadRow against the value written.
void ExpectView(const RowStore::CellView& cell, const Value& v, qint64 row, int column) {
  ASSERT_EQ(cell.kind, v.kind) << row << ", " << column;
  switch (v.kind) {
    case RowStore::Kind::Null:
      break;
    case RowStore::Kind::Int:
      EXPECT_EQ(cell.integer, v.integer) << row << ", " << column;
      break;
    case RowStore::Kind::Float:
      EXPECT_EQ(std::bit_cast<std::uint64_t>(cell.number), std::bit_cast<std::uint64_t>(v.real))
          << row << ", " << column << ": " << v.real;
      break;
    case RowStore::Kind::Bytes:
      EXPECT_TRUE(cell.bytes == v.bytes) << row << ", " << column;
      break;
  }
}

}  // namespace

TEST(RowStore, EveryValueReadsBackBitForBit) {
  // Each row holds every case, shifted by one column per row, in a row wide enough for the
  // offsets a wide row keeps; each is read cell by cell and whole. Each cell is first set to
  // something else and the row is filled from its last column backwards, as a reader may.
  const std::vector<Value>& cases = RoundTripCases();
  const int columns = static_cast<int>(cases.size());
  const int rows = columns + 3;
  const auto at = [&](int row, int column) -> const Value& {
    return cases[static_cast<std::size_t>((row + column) % columns)];
  };
  const auto fill = [&](RowStore& s) {
    for (int r = 0; r < rows; ++r) {
      s.AddRow();
      for (int c = 0; c < columns; ++c) s.SetBytes(c, "decoy");
      for (int c = columns - 1; c >= 0; --c) {
        const Value& v = at(r, c);
        switch (v.kind) {
          case RowStore::Kind::Null:
            s.SetNull(c);
            break;
          case RowStore::Kind::Int:
            s.SetInt(c, v.integer);
            break;
          case RowStore::Kind::Float:
            s.SetFloat(c, v.real);
            break;
          case RowStore::Kind::Bytes:
            s.SetBytes(c, v.bytes);
            break;
        }
      }
    }
  };
  const auto check = [&](const RowStore& s, qint64 first) {
    ASSERT_GE(s.Rows(), first + rows);
    // Odd rows are read from their last cell back.
    for (int r = 0; r < rows; ++r)
      for (int i = 0; i < columns; ++i) {
        const int c = r % 2 ? columns - 1 - i : i;
        ExpectCell(s, first + r, c, at(r, c));
      }
    // And every cell of a row at once.
    std::vector<RowStore::CellView> cells(static_cast<std::size_t>(columns));
    for (int r = 0; r < rows; ++r) {
      s.ReadRow(first + r, cells.data());
      for (int c = 0; c < columns; ++c)
        ExpectView(cells[static_cast<std::size_t>(c)], at(r, c), first + r, c);
    }
  };

  RowStore window(columns), all(columns);
  fill(window);
  check(window, 0);  // its last row still being filled
  all.AppendRows(window);
  window.Clear();
  fill(window);  // refilled after Clear
  check(window, 0);
  all.AppendRows(window);
  ASSERT_EQ(all.Rows(), 2 * rows);
  check(all, 0);
  check(all, rows);
}
