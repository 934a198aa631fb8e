// Everyday T-SQL on the embedded back end: each case gives SQL Server's answer or fails in its
// terms; and the pieces under it, the rewriter and the script statements.
#include "db/Errors.h"
#include "db/embedded/EmbeddedConnection.h"
#include "db/embedded/TsqlRewriter.h"
#include "tests/db/TsqlCases.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <QSet>

namespace qav::db {
namespace {

using embedded::RewriteTsql;

// Company DEMO of the suite.
std::unique_ptr<BackendConnection> OpenDemo(const test::DemoSuiteFolder& suite) {
  ConnectSettings s;
  s.server = suite.ServerName();
  s.database = QStringLiteral("DEMO");
  return OpenEmbedded(s);
}

class EmbeddedTsql : public ::testing::TestWithParam<test::TsqlCase> {
 protected:
  static void SetUpTestSuite() { suite_ = new test::DemoSuiteFolder(20); }
  static void TearDownTestSuite() {
    delete suite_;
    suite_ = nullptr;
  }

  static std::unique_ptr<BackendConnection> Connect() { return OpenDemo(*suite_); }

  static test::DemoSuiteFolder* suite_;
};

test::DemoSuiteFolder* EmbeddedTsql::suite_ = nullptr;

TEST_P(EmbeddedTsql, GivesSqlServersAnswer) {
  const test::TsqlCase& c = GetParam();
  const auto db = Connect();
  test::ExpectTsqlOutcome(
      c, test::TsqlOutcome([&] { return db->Execute(QString::fromUtf8(c.sql), {}); }));
}

// The cursor the console reads through takes the same path.
TEST_P(EmbeddedTsql, CursorGivesTheSameAnswer) {
  const test::TsqlCase& c = GetParam();
  const auto db = Connect();
  test::ExpectTsqlOutcome(c, test::TsqlOutcome([&] {
                            auto result = std::make_unique<ResultSet>();
                            auto cursor = db->OpenCursor(QString::fromUtf8(c.sql), {});
                            if (!cursor) return std::unique_ptr<ResultSet>();
                            result->fields = cursor->Fields();
                            cursor->Fetch(result->rows, 1000);
                            return result;
                          }));
}

// A result column is titled by its alias, whichever form gave it, or by the item as written.
TEST_F(EmbeddedTsql, TitlesAreTheAliasOrTheTextAsWritten) {
  const auto db = Connect();
  const QString sql = QStringLiteral(
      "select Total = count(*), [My Name] = max(NameEng), 'Total:' = sum(Id), "
      "max(Code) as \"q\", min(Code) 'r', 'abc', 'x' + 'y', "
      "case when max(Code) = 'C0002' then 'yes' end, max(Code) from Customer "
      "where Code <= 'C0002'");
  const QStringList want = {
      "Total",    "My Name", "Total:",    "q",
      "r",        "'abc'",   "'x' + 'y'", "case when max(Code) = 'C0002' then 'yes' end",
      "max(Code)"};
  auto cursor = db->OpenCursor(sql, {});
  ASSERT_TRUE(cursor);
  for (const auto& fields : {db->Execute(sql, {})->fields, cursor->Fields()}) {
    QStringList names;
    for (const FieldDef& f : fields) names << f.name;
    EXPECT_EQ(names, want);
  }
}

// A value too long for its column fails its whole statement: no row of it is stored or changed.
TEST_F(EmbeddedTsql, TooLongValueStoresNothingOfItsStatement) {
  const auto db = Connect();
  db->Execute(QStringLiteral("create table #atomic (v varchar(3)); insert into #atomic values "
                             "('a'), ('bcd')"),
              {});
  for (const char* sql :
       {"insert into #atomic values ('e'), ('fghi'), ('j')",
        "insert into #atomic select 'k' union all select 'lmno'", "update #atomic set v = v + 'x'"})
    EXPECT_THROW(db->Execute(QString::fromUtf8(sql), {}), EDBEngineError) << sql;
  EXPECT_EQ(
      test::TsqlResultText(*db->Execute(QStringLiteral("select v from #atomic order by v"), {}))
          .toStdString(),
      "a\nbcd");
}

// A permanent table's identity goes on from its last value in the next connection, past the
// rows deleted since.
TEST_F(EmbeddedTsql, IdentityGoesOnInTheNextConnection) {
  Connect()->Execute(
      QStringLiteral("drop table if exists IdNext; create table IdNext (id int identity(1, 1), "
                     "v varchar(5)); insert into IdNext (v) values ('a'), ('b'); "
                     "delete from IdNext where id = 2"),
      {});
  const auto db = Connect();
  db->Execute(QStringLiteral("insert into IdNext (v) values ('c')"), {});
  EXPECT_EQ(
      test::TsqlResultText(*db->Execute(QStringLiteral("select id from IdNext order by id"), {}))
          .toStdString(),
      "1\n3");
  db->Execute(QStringLiteral("drop table IdNext"), {});
}

// The console reads a query through a cursor: @@ROWCOUNT counts its rows once the last is read.
TEST_F(EmbeddedTsql, RowCountAfterACursorsLastRow) {
  const auto db = Connect();
  auto cursor = db->OpenCursor(QStringLiteral("select Code from Customer where Id <= 3"), {});
  ASSERT_TRUE(cursor);
  RowStore rows;
  while (cursor->Fetch(rows, 2) > 0) {
  }
  EXPECT_EQ(
      test::TsqlResultText(*db->Execute(QStringLiteral("select @@rowcount"), {})).toStdString(),
      "3");
}

INSTANTIATE_TEST_SUITE_P(Cases, EmbeddedTsql, ::testing::ValuesIn(test::kTsqlCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The rewriter keeps quotes, brackets, comments and variables as they are.

TEST(TsqlRewriterTest, LeavesQuotedTextAlone) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"select 'a + b', [x + y], \"p - q\" -- c + d\n/* e / f */",
       "select 'a + b' AS \"'a + b'\", [x + y], \"p - q\" -- c + d\n/* e / f */"},
      // every alias form of SQL Server; a text literal is titled as written, not as collated
      {"select Total = a + 1, [My Name] = b, 'T:' = c, \"q\" = d, @v = e, f = case when g = h "
       "then 'x' end from t",
       "select tsql_add(a, 1) AS Total, b AS [My Name], c AS \"T:\", d AS \"q\", @v = e, case when "
       "g = h "
       "then 'x' end AS f from t"},
      {"select a 'n', b as 'o', 1 'p', 'q' 'r', 'abc', f('s') from t",
       "select a 'n', b as 'o', 1 'p', 'q' 'r', 'abc' AS \"'abc'\", f('s') from t"},
      {"select a + b as s from t", "select tsql_add(a, b) as s from t"},
      {"select a+b*c-d/e x", "select tsql_sub(tsql_add(a, tsql_mul(b, c)), tsql_div(d, e)) x"},
      // a changed item keeps the name it was written with
      {"select -a + 1e+5, f(x) - 1 y",
       "select tsql_add(-a, 1e+5) AS \"-a + 1e+5\", tsql_sub(f(x), 1) y"},
      {"select 1 where @v + N'x' = :p + ?2", "select 1 where tsql_add(@v, 'x') = tsql_add(:p, ?2)"},
      {"select count(*) over (partition by a) + 1 as n from t",
       "select tsql_add(count(*) over (partition by a), 1) as n from t"},
      {"select top 5 a from dbo.t (nolock) order by a", "select a from t order by a LIMIT (5)"},
      {"select x from (select top 1 a from t) s", "select x from (select a from t LIMIT (1)) s"},
      {"select a from t order by a offset @s rows",
       "select a from t order by a LIMIT -1 OFFSET (@s)"},
      {"select 1 where cast(a as varchar(10)) = convert(decimal(10, 2), b, 1)",
       "select 1 where tsql_number(tsql_convert('varchar(10)',a), 3) = "
       "tsql_convert('decimal(10,2)', b, 1)"},
      {"select datediff(dd, a, b) d from t option (maxdop 1)",
       "select datediff('dd', a, b) d from t"},
      {"select a into #t from u", "CREATE TEMP TABLE \"#t\" AS SELECT a from u"},
      {"INSERT [dbo].[T] ([a]) VALUES (1) insert into t values (2)",
       "INSERT INTO [T] ([a]) VALUES (1) insert into t values (2)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RewriteTsql(QString::fromUtf8(c.in)).toStdString(), c.out) << c.in;
}

// Declared types decide what SQLite's values cannot tell: a whole decimal from an integer, a
// bigint from an int, a text column compared with a number; an assignment stays one.
TEST(TsqlRewriterTest, TypesArithmeticByDeclaredTypes) {
  const auto declared = [](const QString& name) {
    static const QHash<QString, QString> types = {
        {QStringLiteral("qty"), QStringLiteral("decimal(18,4)")},
        {QStringLiteral("big"), QStringLiteral("bigint")},
        {QStringLiteral("id"), QStringLiteral("int")},
        {QStringLiteral("code"), QStringLiteral("varchar(20)")}};
    return types.value(name);
  };
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"select s.Qty / 2 q, Big + 1 b, Id * 2 i, 2147483648 / 7 n from t s",
       "select tsql_div(s.Qty, 2, 12) q, tsql_add(Big, 1, 8) b, tsql_mul(Id, 2) i, "
       "tsql_div(2147483648, 7, 12) n from t s"},
      {"select avg(Id) a, sum(distinct Big) b, avg(Qty) c, round(Qty, -1) d, "
       "isnull(Code, 'abc') e from t group by Qty, Code",
       "select tsql_avg_int(Id) a, tsql_sum_bigint(distinct Big) b, tsql_avg_scaled(Qty, 4) c, "
       "tsql_round(Qty, -1, 3) d, ifnull(Code, tsql_convert('varchar(20)', 'abc')) e from t "
       "group by Qty, Code"},
      {"select 1 from t where Code = 1 and Id > '5' and Code = 'x'",
       "select 1 from t where tsql_number(Code, 0) = 1 and Id > tsql_number('5', 0) and Code = "
       "'x'"},
      {"select 1 from t where Code not in (1, 2) or Id between '1' and 2 or Id in (select a from "
       "u)",
       "select 1 from t where tsql_number(Code, 0) not in (1, 2) or Id between tsql_number('1', "
       "0) and 2 or Id in (select a from u)"},
      {"declare @b bigint = 1; update t set Code = 1, Id = @b + 1",
       "declare @b bigint = 1; update t set Code = 1, Id = tsql_add(@b, 1, 8)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RewriteTsql(QString::fromUtf8(c.in), declared).toStdString(), c.out) << c.in;
}

TEST(TsqlRewriterTest, LeavesTheSuitesOwnStatementsAsTheyWere) {
  const char* const unchanged[] = {
      "If Not Exists(select Id From SysColumns Where Name = 'X') Alter Table T Add X Char(1)",
      "SELECT a, RANK() OVER (PARTITION BY b ORDER BY c DESC) AS r FROM t WHERE d = ?",
      "insert into t (a, b) values (-1, 'x'); delete from t where a in (select a from u)",
      "create table t (a int default -1, b varchar(10) collate nocase)",
  };
  for (const char* sql : unchanged)
    EXPECT_EQ(RewriteTsql(QString::fromUtf8(sql)).toStdString(), sql);
}

// The checks behind SQL Server's errors 8120, 145, 1033 and 10741 pass the forms SQL Server runs.
TEST(TsqlRewriterTest, ChecksPassWhatSqlServerRuns) {
  const char* const valid[] = {
      "select Code, count(*) over (partition by Code) from Customer",
      "select year(d), count(*) from t group by year(d)",
      "select cast(count(*) as varchar(10)) + ' rows', convert(decimal(10,2), sum(x)) as s, "
      "datediff(day, min(d), max(d)), dateadd(day, 1, max(d)) from t",
      "select case count(*) when 0 then 'none' else 'some' end, null, current_timestamp from t",
      "select Total = sum(x), 'lit' [Name], @v, N'ไทย' from t",
      "select a.b, count(*) from dbo.t a group by a.b",
      "select a collate Thai_CI_AS, count(*), rank() over (order by count(*)) from t group by a",
      "select string_agg(a, ',') within group (order by a) from t",
      "select a, sum(b) from t group by rollup(a)",
      "select Code from Customer where exists (select 1 from Orders o where o.Code = "
      "Customer.Code group by o.Code having count(*) > 1)",
      "select (select max(a) from u where u.k = t.k), count(*) from t",
      "select distinct a, b from t order by a, b desc",
      "select distinct t.a from t order by 1, a",
      "select distinct a from t union select b from u order by b",
      "select a from t order by a offset 5 rows fetch next 5 rows only",
      "select offset from t where offset = 1",
      "with c as (select top 3 a from t order by a) select * from c",
      "select row_number() over (order by (select null)) rn from t",
      "select * from (select top 5 a from t order by a desc) x",
      "select a, count(*) n from t group by a having max(b) > 1 and a > 0 order by n desc, a, "
      "sum(c)",
  };
  for (const char* sql : valid) {
    try {
      RewriteTsql(QString::fromUtf8(sql));
    } catch (const EDBEngineError& e) {
      ADD_FAILURE() << sql << "\n" << e.Message().toStdString();
    }
  }
}

// Text cut anywhere (an open parenthesis, a clause without its end) rewrites or fails in words.
// A statement cut anywhere (as a user types it) is rewritten, or fails with a message a user can
// read: SQL Server's words or the embedded suite's refusal, one sentence, no internals of the
// engine, nothing but an engine error.
TEST(TsqlRewriterTest, EveryPrefixOfTheCasesRewritesOrFails) {
  static const QRegularExpression readable(
      QStringLiteral("^(?:[A-Z'(]|the embedded demo suite does not support )[^\\x00-\\x1f]*$"));
  static const QRegularExpression internals(
      QStringLiteral("sqlite|std::|assert|\\(null\\)|%[0-9ls]"),
      QRegularExpression::CaseInsensitiveOption);
  QSet<QString> messages;
  for (const test::TsqlCase& c : test::kTsqlCases) {
    const QString sql = QString::fromUtf8(c.sql);
    for (qsizetype n = 1; n < sql.size(); ++n) {
      // Cut between whole characters, as typing cuts a text.
      if (sql[n].isLowSurrogate()) continue;
      const QStringView prefix = QStringView(sql).left(n);
      try {
        RewriteTsql(prefix);
      } catch (const EDBEngineError& e) {
        const QString message = e.Message();
        if (messages.contains(message)) continue;
        messages.insert(message);
        EXPECT_TRUE(readable.match(message).hasMatch() && !internals.match(message).hasMatch())
            << prefix.toString().toStdString() << "\n  -> " << message.toStdString();
      } catch (const std::exception& e) {
        ADD_FAILURE() << prefix.toString().toStdString()
                      << "\n  -> not an engine error: " << e.what();
      }
    }
  }
  // The prefixes meet the usual failures of unfinished text.
  EXPECT_TRUE(messages.contains("Missing end comment mark '*/'."));
}

// ---------------------------------------------------------------------------------------------
// Scripts: statements without ";", PRINT, variables that outlive one Execute.

TEST(EmbeddedScriptTest, RunsStatementsWithoutSemicolonsAndKeepsPrintedText) {
  test::DemoSuiteFolder suite(20);
  const auto db = OpenDemo(suite);
  const auto result = db->Execute(QStringLiteral("declare @d datetime = '2024-01-31'\n"
                                                 "print 'from ' + convert(varchar, @d, 103)\n"
                                                 "select dateadd(day, 1, @d)\n"
                                                 "print 42\n"
                                                 "raiserror('done', 0, 1)"),
                                  {});
  ASSERT_TRUE(result);
  EXPECT_EQ(test::TsqlResultText(*result).toStdString(), "2024-02-01 00:00:00.000");
  EXPECT_EQ(db->TakeMessages(), QStringList({"from 31/01/2024", "42", "done"}));
  EXPECT_TRUE(db->TakeMessages().isEmpty());

  // The test server hands a batch over a statement at a time.
  db->Execute(QStringLiteral("declare @n int = 3"), {});
  EXPECT_EQ(test::TsqlResultText(*db->Execute(QStringLiteral("select @n * 2"), {})).toStdString(),
            "6");
  try {
    db->Execute(QStringLiteral("raiserror('stop here', 16, 1)"), {});
    ADD_FAILURE() << "no error";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(e.Message().toStdString(), "stop here");
  }
}

// A computed column carries the type SQL Server gives it, so that the grid and the writers treat
// it as a stored column of that type; in the console's cursor as in Execute.
TEST(EmbeddedResultTypes, ComputedColumnsCarrySqlServersTypes) {
  test::DemoSuiteFolder suite(20);
  const auto db = OpenDemo(suite);
  const QString sql = QStringLiteral(
      "select dateadd(day, 1, CreateDate) a, getdate() - 1, CreateDate + 1 b, Id + 1 c, "
      "convert(varchar(10), CreateDate, 103), cast(CreditLimit as decimal(10, 2)), "
      "datediff(day, CreateDate, '2030-01-01'), eomonth(CreateDate), cast(CreateDate as date), "
      "try_convert(int, Code), (CreateDate), isnull(CreateDate, 0) from Customer where Id <= 3 "
      "order by Id");
  struct Want {
    TFieldType type;
    int size, precision, scale;
  };
  const Want want[] = {{ftDateTime, 0, 0, 0}, {ftDateTime, 0, 0, 0}, {ftDateTime, 0, 0, 0},
                       {ftInteger, 0, 0, 0},  {ftString, 10, 0, 0},  {ftBCD, 0, 10, 2},
                       {ftInteger, 0, 0, 0},  {ftDate, 0, 0, 0},     {ftDate, 0, 0, 0},
                       {ftInteger, 0, 0, 0},  {ftDateTime, 0, 0, 0}, {ftString, 0, 0, 0}};
  auto cursor = db->OpenCursor(sql, {});
  ASSERT_TRUE(cursor);
  for (const auto& fields : {db->Execute(sql, {})->fields, cursor->Fields()}) {
    ASSERT_EQ(fields.size(), std::size(want));
    for (std::size_t i = 0; i < fields.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(fields[i].type, want[i].type);
      if (want[i].size) {
        EXPECT_EQ(fields[i].size, want[i].size);
      }
      EXPECT_EQ(fields[i].precision, want[i].precision);
      EXPECT_EQ(fields[i].scale, want[i].scale);
    }
  }
  const auto result = db->Execute(sql, {});
  ASSERT_EQ(result->rows.Rows(), 3);
  for (qint64 r = 0; r < 3; ++r) {
    EXPECT_EQ(result->rows.KindAt(r, 0), RowStore::Kind::Float);
    EXPECT_EQ(result->rows.FloatAt(r, 2), result->rows.FloatAt(r, 0));
    EXPECT_EQ(result->rows.FloatAt(r, 10) + 1, result->rows.FloatAt(r, 0));
  }
}

}  // namespace
}  // namespace qav::db
