#include "db/RowStore.h"

#include <gtest/gtest.h>
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
