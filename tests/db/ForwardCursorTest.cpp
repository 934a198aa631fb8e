// Reading a result forward only: TQuery with UniDirectional over the embedded back end's cursor,
// against the same statement read whole.
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <memory>

namespace qav::db {
namespace {

class ForwardCursor : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetDatabaseName(QStringLiteral("FWD"));
    db_.Params() = {QStringLiteral("DATABASE NAME=DEMO"),
                    QStringLiteral("SERVER NAME=") + suite_.ServerName()};
  }

  std::unique_ptr<TQuery> Query(const QString& sql, bool forward, bool readAhead = false) {
    auto q = std::make_unique<TQuery>();
    q->setObjectName(forward ? QStringLiteral("Forward") : QStringLiteral("Whole"));
    q->SetDatabaseName(QStringLiteral("FWD"));
    q->SetUniDirectional(forward);
    q->SetReadAhead(readAhead);
    q->SetSQL(sql);
    return q;
  }

  // Sales is longer than two windows.
  test::DemoSuiteFolder suite_{2 * TDataSet::kWindowRows + 300};
  TDatabase db_;
};

TEST_F(ForwardCursor, GivesEveryRowOfTheWholeResultInWindows) {
  // Declared columns, and expressions whose types come from their values (text, integer).
  const QString sql = QStringLiteral(
      "select s.Id, s.DocNo, s.DocDate, s.Qty, s.Price, s.ExchangeRate, s.Paid, s.Remark,\n"
      "       c.NameThai || ' / ' || s.DocNo as Label, s.Id * 2 as Twice\n"
      "from Sales s join Customer c on c.Id = s.Customer order by s.Id");
  // Read on this thread, and with the next window fetched on a second one.
  for (const bool readAhead : {false, true}) {
    SCOPED_TRACE(readAhead ? "read ahead" : "read in turn");
    auto whole = Query(sql, false);
    auto forward = Query(sql, true, readAhead);
    whole->Open();
    forward->Open();
    ASSERT_GT(whole->RecordCount(), 2 * TDataSet::kWindowRows);
    EXPECT_EQ(forward->RecordCount(), -1);
    ASSERT_EQ(forward->FieldCount(), whole->FieldCount());
    for (int f = 0; f < whole->FieldCount(); ++f) {
      EXPECT_EQ(forward->Fields(f).FieldName(), whole->Fields(f).FieldName());
      EXPECT_EQ(forward->Fields(f).DataType(), whole->Fields(f).DataType()) << f;
      EXPECT_EQ(forward->Fields(f).Size(), whole->Fields(f).Size()) << f;
    }
    qint64 rows = 0;
    for (; !forward->Eof(); forward->Next(), whole->Next()) {
      ASSERT_FALSE(whole->Eof());
      ++rows;
      ASSERT_EQ(forward->RecNo(), rows);
      ASSERT_LE(forward->Store()->Rows(), TDataSet::kWindowRows);
      for (int f = 0; f < whole->FieldCount(); ++f)
        ASSERT_EQ(forward->Fields(f).AsVariant(), whole->Fields(f).AsVariant()) << rows << "," << f;
    }
    EXPECT_TRUE(whole->Eof());
    EXPECT_EQ(rows, whole->RecordCount());
    // As with the whole result, the last record stays current past the end.
    EXPECT_EQ(forward->FieldByName(QStringLiteral("Id")).AsLargeInt(),
              whole->FieldByName(QStringLiteral("Id")).AsLargeInt());
    EXPECT_TRUE(forward->FieldByName(QStringLiteral("Label")).AsString().contains(u'/'));
  }
}

TEST_F(ForwardCursor, AnErrorOfAWindowReadAheadIsRaisedWhereItsRowsWouldBe) {
  // The rows before the failing one all come; the error comes in their place, and the dataset
  // closes cleanly after it, also while a window is still being read.
  const QString failing = QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10000)\n"
      "select i, case when i > 3000 then json('not json') else i end as V from n");
  auto q = Query(failing, true, true);
  q->Open();
  qint64 rows = 0;
  try {
    for (; !q->Eof(); q->Next()) ASSERT_EQ(q->Fields(0).AsLargeInt(), ++rows);
    ADD_FAILURE() << "no error";
  } catch (const EDBEngineError& e) {
    EXPECT_TRUE(e.Message().contains(QLatin1String("malformed JSON"))) << e.what();
  }
  EXPECT_GE(rows, TDataSet::kWindowRows);
  EXPECT_LE(rows, 3000);
  q->Close();

  auto endless = Query(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 "
                                      "from n) select i from n where i <= 2000 or i > 4e9"),
                       true, true);
  endless->Open();
  endless->Next();
  endless->Close();  // interrupts the worker's window instead of waiting for it
  auto after = Query(QStringLiteral("select count(*) from Customer"), true, true);
  after->Open();
  EXPECT_EQ(after->Fields(0).AsInteger(), 200);
}

TEST_F(ForwardCursor, RefusesToGoBackOnceItHasMoved) {
  auto q = Query(QStringLiteral("select Id, NameThai from Customer order by Id"), true);
  q->Open();
  EXPECT_THROW(q->SetUniDirectional(false), EDatabaseError);
  q->First();  // nothing read yet: still at the start
  EXPECT_EQ(q->FieldByName(QStringLiteral("Id")).AsInteger(), 1);
  EXPECT_EQ(q->FieldByName(QStringLiteral("NameThai")).AsString(),
            QStringLiteral("บริษัท สยามการค้า จำกัด"));
  q->Next();
  EXPECT_FALSE(q->BookmarkValid(q->GetBookmark()));
  const std::function<void()> backwards[] = {[&] { q->First(); }, [&] { q->Prior(); },
                                             [&] { q->Last(); }, [&] { q->MoveBy(-1); },
                                             [&] { q->GotoBookmark(0); }};
  for (const auto& move : backwards) {
    try {
      move();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Forward: Operation not allowed on a unidirectional dataset");
    }
  }
  EXPECT_EQ(q->FieldByName(QStringLiteral("Id")).AsInteger(), 2);
  // Closed, it may read whole again.
  q->Close();
  q->SetUniDirectional(false);
  q->Open();
  EXPECT_EQ(q->RecordCount(), 200);
}

TEST_F(ForwardCursor, RunsWhatItCannotStreamOnceAsExecuteDoes) {
  // Several statements: run as a whole, the last result handed over in one window.
  auto batch = Query(QStringLiteral("create temp table T (A int, B nvarchar(20));\n"
                                    "insert into T values (1, 'บริษัท ทดสอบ จำกัด'), (2, null);\n"
                                    "select A, B from T order by A"),
                     true);
  batch->Open();
  EXPECT_EQ(batch->FieldByName(QStringLiteral("B")).AsString(), QStringLiteral("บริษัท ทดสอบ จำกัด"));
  batch->Next();
  EXPECT_TRUE(batch->FieldByName(QStringLiteral("B")).IsNull());
  batch->Next();
  EXPECT_TRUE(batch->Eof());

  // A statement without rows changes its data once, then fails as it does read whole.
  const auto creditDays = [&] {
    auto q = Query(QStringLiteral("select CreditDays from Customer where Id = 1"), false);
    q->Open();
    return q->Fields(0).AsInteger();
  };
  const int before = creditDays();
  auto update =
      Query(QStringLiteral("update Customer set CreditDays = CreditDays + 1 where Id = 1"), true);
  EXPECT_THROW(update->Open(), EDatabaseError);
  EXPECT_EQ(creditDays(), before + 1);
}

}  // namespace
}  // namespace qav::db
