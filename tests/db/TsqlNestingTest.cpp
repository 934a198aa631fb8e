// Deep and long statements on the embedded back end, built here: nesting past a fixed depth fails
// with SQL Server's error 191 rather than exhausting the stack, a long run of + and - is one flat
// call with the answers of the pairwise calls, and nested select lists and long scripts rewrite
// in one pass.
#include "db/Errors.h"
#include "db/embedded/EmbeddedConnection.h"
#include "db/embedded/TsqlRewriter.h"
#include "tests/db/TsqlCases.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace qav::db {
namespace {

using embedded::RewriteTsql;

const QString kTooDeep = QStringLiteral(
    "!191 Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
    "into smaller queries.");

const QString kSelect = QStringLiteral("select ");

// `open` n times, `middle`, `close` n times.
QString Nested(const char* open, const char* middle, const char* close, int n) {
  return QString::fromUtf8(open).repeated(n) + QString::fromUtf8(middle) +
         QString::fromUtf8(close).repeated(n);
}

class TsqlNestingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { suite_ = new test::DemoSuiteFolder(20); }
  static void TearDownTestSuite() {
    delete suite_;
    suite_ = nullptr;
  }

  static std::unique_ptr<BackendConnection> Connect() {
    ConnectSettings s;
    s.server = suite_->ServerName();
    s.database = QStringLiteral("DEMO");
    return OpenEmbedded(s);
  }

  static QString Outcome(BackendConnection& db, const QString& sql) {
    return test::TsqlOutcome([&] { return db.Execute(sql, {}); });
  }

  static QString CursorOutcome(BackendConnection& db, const QString& sql) {
    return test::TsqlOutcome([&] {
      auto result = std::make_unique<ResultSet>();
      auto cursor = db.OpenCursor(sql, {});
      if (!cursor) return std::unique_ptr<ResultSet>();
      result->fields = cursor->Fields();
      cursor->Fetch(result->rows, 1000);
      return result;
    });
  }

  static test::DemoSuiteFolder* suite_;
};

test::DemoSuiteFolder* TsqlNestingTest::suite_ = nullptr;

// Too deep for the rewriter (parentheses, calls, CASE, subqueries, signs, IF and its blocks) or
// for SQLite's parser behind it: error 191 either way, and the connection goes on.
TEST_F(TsqlNestingTest, TooDeepFailsWithSqlServersError) {
  const QString statements[] = {
      kSelect + Nested("(", "1", ")", 4000),
      kSelect + Nested("(", "1", ")", 1000),
      kSelect + Nested("abs(", "1", ")", 4000),
      kSelect + Nested("case when 1 = 1 then ", "1", " end", 4000),
      kSelect + Nested("(select ", "1", ")", 1000),
      kSelect + Nested("- ", "1", "", 4000),
      QStringLiteral("select 1 where 1 in ") + Nested("(", "1", ")", 1000),
      kSelect + Nested("(", "1", ")", 150),        // past SQLite's parser
      kSelect + Nested("abs(", "1", ")", 40),      // the same
      kSelect + Nested("(select ", "1", ")", 30),  // the same
      Nested("if 1 = 1 ", "select 1", "", 30000),
      Nested("if 1 = 1 begin ", "select 1", " end", 300),
  };
  const auto db = Connect();
  for (const QString& sql : statements) {
    SCOPED_TRACE(sql.left(60).toStdString());
    EXPECT_EQ(Outcome(*db, sql), kTooDeep);
    EXPECT_EQ(CursorOutcome(*db, sql), kTooDeep);
  }
  EXPECT_EQ(Outcome(*db, QStringLiteral("select 1")), QStringLiteral("1"));
}

// Everyday depths stay well inside the rewriter's limit.
TEST_F(TsqlNestingTest, EverydayDepthsRun) {
  const auto db = Connect();
  EXPECT_EQ(Outcome(*db, kSelect + Nested("(", "1", ")", 60)), QStringLiteral("1"));
  EXPECT_EQ(Outcome(*db, kSelect + Nested("case when 1 = 1 then ", "1", " end", 12)),
            QStringLiteral("1"));
  EXPECT_EQ(Outcome(*db, kSelect + Nested("(select ", "1", ")", 4)), QStringLiteral("1"));
  EXPECT_EQ(Outcome(*db, Nested("if 1 = 1 ", "select 1", "", 100)), QStringLiteral("1"));
  EXPECT_EQ(Outcome(*db, Nested("if 1 = 1 begin ", "select 1", " end", 100)), QStringLiteral("1"));
  for (const QString& sql :
       {kSelect + Nested("(", "1", ")", 100),
        kSelect + Nested("case when 1 = 1 then ", "1", " end", 100),
        kSelect + Nested("(select ", "1", ")", 100), kSelect + Nested("- ", "1", "", 100)})
    EXPECT_NO_THROW(RewriteTsql(sql)) << sql.left(60).toStdString();
}

// Each level of a nested select list is rewritten once, not once more for every level around
// it (which took hours at 30 levels): every subquery gets one guard of its single row.
TEST_F(TsqlNestingTest, NestedSelectListsRewriteOncePerLevel) {
  QString plain = QStringLiteral("1"), aliased = QStringLiteral("1 v0");
  for (int level = 1; level <= 40; ++level) {
    plain = QStringLiteral("(select %1)").arg(plain);
    aliased = QStringLiteral("(select %1) v%2").arg(aliased).arg(level);
  }
  for (const QString& sql : {kSelect + plain, kSelect + aliased}) {
    const QString rewritten = RewriteTsql(sql);
    EXPECT_EQ(rewritten.count(QLatin1StringView("tsql_single(")), 40) << sql.toStdString();
  }
}

// A run of + and - longer than a few steps becomes one call; it answers as the same steps
// written pairwise (each left side in parentheses) do: texts and numbers, the type each step
// takes, dates, NULL, overflow and conversion errors. Runs too long to write pairwise for SQLite
// (which takes some 30 nested calls) give their sum.
TEST_F(TsqlNestingTest, LongRunsOfPlusAndMinusAnswerAsPairs) {
  struct Case {
    std::vector<const char*> operands;
    const char* operators;  // one per operand after the first, repeated as needed
    QString expected;       // empty: as the pairs answer
  };
  const QString siam = QStringLiteral("C0001,Siam Trading Co., Ltd.");
  const Case cases[] = {
      {std::vector<const char*>(200, "1"), "+-+", QStringLiteral("68\n68")},
      {std::vector<const char*>(130, "Code + ',' + NameEng"), "+", siam.repeated(130) + "\nNULL"},
      {{"'1'", "'2'", "3", "4.5", "Id", "CreditLimit", "'7'", "Discount"}, "+", {}},
      {{"1", "2", "'3'", "'4'", "'5'", "Id"}, "+-", {}},
      {{"'a'", "'b'", "'c'", "1", "2"}, "+", {}},
      {{"'a'", "1", "2", "3", "4"}, "+", {}},
      {{"2147483640", "1", "2", "3", "4", "-100"}, "+", {}},
      {{"cast(2147483647 as bigint)", "1", "1", "1", "1"}, "+", {}},
      {{"'2147483647'", "0", "0", "0", "1"}, "+", {}},
      {{"Code", "NameEng", "Code", "NameEng", "Code"}, "+", {}},
      {{"Code", "'x'", "NULL", "'y'", "Code"}, "+", {}},
      {{"convert(datetime, '2024-01-31')", "1", "2", "0.5", "1"}, "+-", {}},
      {{"CreateDate", "1", "1", "1", "1"}, "+-", {}},
      {{"'a'", "'b'", "'c'", "'d'", "'e'"}, "-", {}},
      {{"10", "'1'", "2.5", "'3'", "Id"}, "-", {}},
      {{"CreditLimit", "1", "CreditDays", "Discount", "Blocked"}, "+-", {}},
  };
  const auto db = Connect();
  const QString from = QStringLiteral(" from Customer where Id in (1, 3) order by Id");
  for (const Case& c : cases) {
    const std::size_t n = std::strlen(c.operators);
    QString chain = QString::fromUtf8(c.operands[0]);
    QString pairs = QString::fromUtf8(c.operands[0]);
    for (std::size_t k = 1; k < c.operands.size(); ++k) {
      const QString step = QStringLiteral(" %1 %2").arg(QChar(c.operators[(k - 1) % n]),
                                                        QString::fromUtf8(c.operands[k]));
      chain += step;
      pairs = u'(' + pairs + u')' + step;
    }
    SCOPED_TRACE(chain.left(80).toStdString());
    ASSERT_TRUE(RewriteTsql(kSelect + chain).contains(QLatin1StringView("tsql_add_chain(")));
    if (!c.expected.isEmpty()) {
      EXPECT_EQ(Outcome(*db, kSelect + chain + from), c.expected);
      continue;
    }
    ASSERT_FALSE(RewriteTsql(kSelect + pairs).contains(QLatin1StringView("tsql_add_chain(")));
    EXPECT_EQ(Outcome(*db, kSelect + chain + from), Outcome(*db, kSelect + pairs + from));
  }
}

// A script of many statements, each with a schema, a conversion, a hint: rewritten whole, it is
// the statements rewritten one by one (but for the blanks between them).
TEST(TsqlScriptRewriteTest, ManyStatementsRewriteAsEachAlone) {
  const char* const forms[] = {
      "INSERT [dbo].[T] ([Id], [Day]) VALUES (%1, CAST(N'2024-01-31' AS Date))",
      "select convert(varchar(10), a, 103) from dbo.T with (nolock) where b = %1",
      "select cast(a as decimal(10, 2)), convert(varchar(8), 'x', 1) from T (nolock) option "
      "(maxdop %1)",
      "update dbo.T set a = a + %1",
  };
  QStringList alone, statements;
  for (int k = 0; k < 2000; ++k) {
    statements << QString::fromUtf8(forms[k % std::size(forms)]).arg(k);
    alone << RewriteTsql(statements.back());
  }
  EXPECT_EQ(RewriteTsql(statements.join(u'\n')).simplified(), alone.join(u'\n').simplified());
}

}  // namespace
}  // namespace qav::db
