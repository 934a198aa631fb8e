// The ODBC back end end to end: unixODBC and FreeTDS against the TDS test server in front of
// an embedded demo suite. What the embedded back end gives directly is the reference.
#include "app/DMConfig.h"
#include "db/DateTime.h"
#include "db/Errors.h"
#include "db/embedded/EmbeddedConnection.h"
#include "db/odbc/OdbcConnection.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace qav;
using namespace qav::db;

const QString kThai = QStringLiteral("บริษัท ทดสอบ จำกัด");
const QString kTdsDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so");

std::string Utf8(const QString& s) {
  return s.toStdString();
}

class OdbcThroughTds : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFile::exists(kTdsDriver)) GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  }

  std::unique_ptr<BackendConnection> Embedded(const QString& database) {
    ConnectSettings s;
    s.server = suite_.ServerName();
    s.database = database;
    return OpenEmbedded(s);
  }

  // The error a statement raises through ODBC; fails the test when there is none.
  EDBEngineError ErrorOf(BackendConnection& c, const QString& sql,
                         std::vector<QVariant> args = {}) {
    try {
      c.Execute(sql, args);
    } catch (const EDBEngineError& e) {
      return e;
    }
    ADD_FAILURE() << "no error for " << Utf8(sql);
    return EDBEngineError(QString());
  }

  test::TdsDemoSuite suite_{60};
};

// Compares two results cell by cell: the same kinds, integers and texts exactly, numbers to
// the precision the wire type keeps.
void ExpectSameRows(const ResultSet& expected, const ResultSet& actual, const std::string& what) {
  ASSERT_EQ(actual.fields.size(), expected.fields.size()) << what;
  ASSERT_EQ(actual.rows.Rows(), expected.rows.Rows()) << what;
  for (std::size_t f = 0; f < expected.fields.size(); ++f) {
    const FieldDef& e = expected.fields[f];
    const FieldDef& a = actual.fields[f];
    const std::string where = what + "." + Utf8(e.name);
    EXPECT_EQ(Utf8(a.name), Utf8(e.name)) << what;
    EXPECT_EQ(FieldTypeName(a.type), FieldTypeName(e.type)) << where;
    if (IsTextType(e.type) && e.type != ftMemo) {
      EXPECT_EQ(a.size, e.size) << where;
    }
    const int col = static_cast<int>(f);
    for (qint64 r = 0; r < expected.rows.Rows(); ++r) {
      const auto kind = expected.rows.KindAt(r, col);
      ASSERT_EQ(actual.rows.KindAt(r, col), kind) << where << " row " << r;
      switch (kind) {
        case RowStore::Kind::Int:
          EXPECT_EQ(actual.rows.IntAt(r, col), expected.rows.IntAt(r, col))
              << where << " row " << r;
          break;
        case RowStore::Kind::Float: {
          const double x = expected.rows.FloatAt(r, col), y = actual.rows.FloatAt(r, col);
          // money keeps four places, datetime 1/300 second
          const double tolerance = IsDateTimeType(e.type) ? 2e-8 : 1e-4 + std::fabs(x) * 1e-12;
          EXPECT_NEAR(y, x, tolerance) << where << " row " << r;
          break;
        }
        case RowStore::Kind::Bytes:
          EXPECT_EQ(actual.rows.BytesAt(r, col), expected.rows.BytesAt(r, col))
              << where << " row " << r;
          break;
        case RowStore::Kind::Null:
          break;
      }
    }
  }
}

TEST_F(OdbcThroughTds, EveryDemoTableReadsAsTheEmbeddedBackEndReadsIt) {
  struct Case {
    const char* database;
    const char* sql;
  };
  const Case cases[] = {
      {"QAV_CONFIG", "select * from Company"},
      {"QAV_CONFIG", "select * from Menu order by Id"},
      {"QAV_CONFIG", "select * from UserName order by Id"},
      {"QAV_CONFIG", "select * from UserRight"},
      {"QAV_CONFIG", "select * from DatabaseList"},
      {"QAV_CONFIG", "select * from CompanyConfig"},
      {"DEMO", "select * from Config"},
      {"DEMO", "select * from Misc order by Id"},
      {"DEMO", "select * from CurrencyEx"},
      {"DEMO", "select * from accountperiod"},
      {"DEMO", "select * from Salesman"},
      {"DEMO", "select * from Customer order by Id"},
      {"DEMO", "select * from Product order by Id"},
      {"DEMO", "select * from Sales order by 1"},
      {"DEMO2019", "select * from Customer where Id > 140"},
      {"master", "select * from SysDatabases"},
  };
  for (const Case& c : cases) {
    const QString db = QString::fromLatin1(c.database);
    const auto expected = Embedded(db)->Execute(QString::fromLatin1(c.sql), {});
    const auto actual = suite_.Connect(db)->Execute(QString::fromLatin1(c.sql), {});
    ASSERT_TRUE(expected && actual) << c.sql;
    ExpectSameRows(*expected, *actual, std::string(c.database) + ": " + c.sql);
  }
}

TEST_F(OdbcThroughTds, ValuesOfEveryTypeTravelBothWays) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  c->Execute(
      QStringLiteral("create table T (Id int primary key, Small smallint, Big bigint, Flag bit, "
                     "Amount real, Price money, Qty decimal(18,4), Day date, Clock time, "
                     "Stamp datetime, Code varchar(20), Name nvarchar(40), Wide nvarchar(40), "
                     "Fixed char(4), Note text, Memo ntext, Raw binary(4), Bin varbinary(16), "
                     "Pic image)"),
      {});
  QByteArray picture(100000, '\0');
  for (int i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 13);
  const QString longThai = kThai.repeated(500);  // beyond varchar(8000) and nvarchar(4000)
  const QString wide = kThai + QStringLiteral(" 中文 😀");  // not all of it in code page 874
  const QDateTime stamp(QDate(2024, 1, 31), QTime(13, 45, 12, 347));
  const std::vector<QVariant> values = {
      QVariant(1),
      QVariant(-32768),
      QVariant::fromValue(-(qint64(1) << 40)),
      QVariant(true),
      QVariant(2.5),
      QVariant(-1234.5678),
      QVariant(1234.5678),
      QVariant(QDate(2024, 2, 29)),
      QVariant(QStringLiteral("13:45:12")),
      QVariant(stamp),
      QVariant(QStringLiteral("P'0001")),
      QVariant(kThai),
      QVariant(wide),
      QVariant(QStringLiteral("ab")),
      QVariant(longThai),
      QVariant(longThai + wide),
      QVariant(QByteArray("\0\1\2\3", 4)),
      QVariant(QByteArray("\xFF\0\xFE", 3)),
      QVariant(picture),
  };
  const QString insert = QStringLiteral(
      "insert into T values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  EXPECT_EQ(c->Execute(insert, values), nullptr);
  EXPECT_EQ(c->RowsAffected(), 1);
  std::vector<QVariant> nulls(values.size());
  nulls[0] = QVariant(2);
  c->Execute(insert, nulls);
  // Empty texts and binaries are not NULL.
  c->Execute(QStringLiteral("insert into T (Id, Code, Name, Note, Bin) values (?, ?, ?, ?, ?)"),
             {QVariant(3), QVariant(QString("")), QVariant(QString("")), QVariant(QString("")),
              QVariant(QByteArray(""))});

  // Dates before datetime's first day.
  c->Execute(QStringLiteral("insert into T (Id, Day, Stamp) values (?, ?, ?)"),
             {QVariant(4), QVariant(QDate(1600, 1, 1)),
              QVariant(QDateTime(QDate(1700, 6, 1), QTime(10, 0, 0, 250)))});

  const QString select = QStringLiteral("select * from T order by Id");
  const auto expected = Embedded(QStringLiteral("DEMO"))->Execute(select, {});
  const auto actual = c->Execute(select, {});
  ExpectSameRows(*expected, *actual, "T");

  // What the values are, beyond agreeing with the embedded back end.
  const RowStore& rows = actual->rows;
  EXPECT_EQ(rows.IntAt(0, 2), -(qint64(1) << 40));
  EXPECT_DOUBLE_EQ(rows.FloatAt(0, 5), -1234.5678);
  EXPECT_DOUBLE_EQ(rows.FloatAt(0, 7), EncodeDateTime(QDate(2024, 2, 29)));
  EXPECT_NEAR(rows.FloatAt(0, 9), EncodeDateTime(stamp), 1e-8);
  EXPECT_EQ(rows.BytesAt(0, 11), Utf8(kThai));
  EXPECT_EQ(rows.BytesAt(0, 12), Utf8(wide));
  EXPECT_EQ(rows.BytesAt(0, 15), Utf8(longThai + wide));
  EXPECT_EQ(rows.BytesAt(0, 18), std::string_view(picture.constData(), picture.size()));
  for (int col = 1; col < 19; ++col) EXPECT_TRUE(rows.IsNull(1, col)) << col;
  EXPECT_EQ(rows.KindAt(2, 10), RowStore::Kind::Bytes);
  EXPECT_EQ(rows.BytesAt(2, 14), "");
  EXPECT_EQ(rows.KindAt(2, 17), RowStore::Kind::Bytes);

  // Parameters in conditions, Thai text included, and counts of changed rows.
  auto found = c->Execute(QStringLiteral("select Id from T where Name = ? and Day = ?"),
                          {QVariant(kThai), QVariant(QDate(2024, 2, 29))});
  ASSERT_EQ(found->rows.Rows(), 1);
  EXPECT_EQ(c->Execute(QStringLiteral("update T set Amount = ? where Id <> ?"),
                       {QVariant(1.5), QVariant(99)}),
            nullptr);
  EXPECT_EQ(c->RowsAffected(), 4);
  c->Execute(QStringLiteral("delete from T where Id = 99"), {});
  EXPECT_EQ(c->RowsAffected(), 0);
}

TEST_F(OdbcThroughTds, ABatchOfSeveralStatementsGivesTheLastResultAndCount) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  auto rs = c->Execute(QStringLiteral("select 1 as One; update Salesman set Phone = Phone "
                                      "where Id <= 3; select Code, NameThai from Salesman "
                                      "where Id = 1"),
                       {});
  ASSERT_NE(rs, nullptr);
  ASSERT_EQ(rs->fields.size(), 2u);
  EXPECT_EQ(rs->rows.Rows(), 1);
  EXPECT_EQ(c->RowsAffected(), 3);
  // What came before the last result, in order: the first result and the count.
  std::vector<db::StatementNote> notes = c->TakeNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].kind, db::StatementNote::Kind::Rows);
  ASSERT_NE(notes[0].rows, nullptr);
  EXPECT_EQ(notes[0].rows->rows.IntAt(0, 0), 1);
  EXPECT_EQ(notes[1].kind, db::StatementNote::Kind::RowsAffected);
  EXPECT_EQ(notes[1].count, 3);
  // PRINT arrives as the server's informational message, in its place among the counts.
  EXPECT_EQ(c->Execute(QStringLiteral("print 'before'; update Salesman set Phone = Phone "
                                      "where Id = 1; print N'หลัง'"),
                       {}),
            nullptr);
  notes = c->TakeNotes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].text, "before");
  EXPECT_EQ(notes[1].kind, db::StatementNote::Kind::RowsAffected);
  EXPECT_EQ(notes[1].count, 1);
  EXPECT_EQ(notes[2].text, QStringLiteral("หลัง"));
  // USE changes the session's database; the next statements run there.
  rs = c->Execute(QStringLiteral("use QAV_CONFIG; select Code from Company"), {});
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->rows.BytesAt(0, 0), "DEMO");
  rs = c->Execute(QStringLiteral("select count(*) from Menu"), {});
  EXPECT_GT(rs->rows.IntAt(0, 0), 5);
}

// Statements on lines of their own, without ";", answer one by one as on SQL Server: each
// result and count in turn, the transaction the batch begins and ends, SET NOCOUNT for the rest
// of the connection, and the line of the batch on which an error stands.
TEST_F(OdbcThroughTds, StatementsWithoutSemicolonsAnswerOneByOne) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  auto other = suite_.Connect(QStringLiteral("DEMO"));
  const auto run = [&](const char* sql) { return c->Execute(QString::fromUtf8(sql), {}); };

  auto rs = run("select 1 as a\nselect 2 as b");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->fields[0].name, "b");
  std::vector<db::StatementNote> notes = c->TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  ASSERT_NE(notes[0].rows, nullptr);
  EXPECT_EQ(notes[0].rows->fields[0].name, "a");

  EXPECT_EQ(run("update Salesman set Phone = Phone where Id = 1\n"
                "update Salesman set Phone = Phone where Id <= 2"),
            nullptr);
  notes = c->TakeNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].count, 1);
  EXPECT_EQ(notes[1].count, 2);

  // A block goes to the engine whole, and every result inside it reaches the client.
  rs = run("if 1 = 1\nbegin\n  select 3 as c\n  select 4 as d\nend");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->fields[0].name, "d");
  notes = c->TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  ASSERT_NE(notes[0].rows, nullptr);
  EXPECT_EQ(notes[0].rows->fields[0].name, "c");

  EXPECT_EQ(run("begin tran\nupdate Salesman set Phone = '02-000-0001' where Id = 1\ncommit"),
            nullptr);
  rs = other->Execute(QStringLiteral("select Phone from Salesman where Id = 1"), {});
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->rows.BytesAt(0, 0), "02-000-0001");

  rs = run("SET NOCOUNT ON\nselect top 2 Code from Customer order by Code");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->rows.Rows(), 2);
  EXPECT_EQ(run("update Salesman set Phone = Phone where Id <= 3"), nullptr);
  EXPECT_EQ(c->RowsAffected(), -1);
  EXPECT_EQ(run("set nocount off\nupdate Salesman set Phone = Phone where Id <= 3"), nullptr);
  EXPECT_EQ(c->RowsAffected(), 3);

  struct Case {
    const char* sql;
    int number;
    int line;
  };
  const Case cases[] = {
      {"select 1 as a\n\nselect 1 / 0", 8134, 3},
      {"\nselect 1\nselect * from NoSuchTable", 208, 3},
      // The parser refuses the batch whole: nothing runs, the error names END's line.
      {"update Salesman set Phone = 'x' where Id = 1\nend", 156, 2},
  };
  for (const Case& k : cases) {
    const EDBEngineError e = ErrorOf(*c, QString::fromUtf8(k.sql));
    ASSERT_GE(e.ErrorCount(), 1) << k.sql;
    EXPECT_EQ(e.Errors()[0].NativeError, k.number) << e.what();
    EXPECT_EQ(e.Errors()[0].Line, k.line) << e.what();
  }
  rs = other->Execute(QStringLiteral("select Phone from Salesman where Id = 1"), {});
  EXPECT_EQ(rs->rows.BytesAt(0, 0), "02-000-0001");
}

TEST_F(OdbcThroughTds, ProceduresGiveTheirOutputParametersAndReturnStatus) {
  auto c = suite_.Connect(QStringLiteral("QAV_CONFIG"));
  struct Case {
    int menu, user;
    QVariant caption, access, userCode, salesId;
  };
  const Case cases[] = {
      {12, 1, "SQL Export", "Y", "ADMIN", qint64(0)},
      {12, 4, "SQL Export", "y", "SOMCHAI", qint64(1)},
      {14, 1, " Import Data ", "Y", "ADMIN", qint64(0)},
      {12, 99, "SQL Export", "N", QVariant(), qint64(0)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.user);
    std::vector<ProcArg> args = {{"Result", ftInteger, ptResult, {}},
                                 {"@MENUID", ftInteger, ptInput, k.menu},
                                 {"@USERID", ftInteger, ptInput, k.user}};
    for (const char* out :
         {"@CAPTION", "@ACCESS_R", "@ADD_R", "@MODIFY_R", "@DELETE_R", "@USERCODE"})
      args.push_back({QString::fromLatin1(out), ftString, ptOutput, {}});
    args.push_back({"@SALESID", ftInteger, ptOutput, {}});
    c->ExecProc(QStringLiteral("MENUCAPTION"), args);
    EXPECT_EQ(args[0].value.toInt(), 0);
    EXPECT_EQ(args[3].value, k.caption);
    EXPECT_EQ(args[4].value, k.access);
    EXPECT_EQ(args[8].value, k.userCode);
    EXPECT_EQ(args[9].value, k.salesId);
  }

  std::vector<ProcArg> log = {{"Result", ftInteger, ptResult, {}},
                              {"@CompName", ftString, ptInput, QStringLiteral("PC01")},
                              {"@LogName", ftString, ptInput, QStringLiteral("somchai")},
                              {"@UserId", ftInteger, ptInput, 2},
                              {"@MenuId", ftInteger, ptInput, 12},
                              {"@ErrorMsg", ftString, ptInput, QStringLiteral("ข้อผิดพลาด")}};
  c->ExecProc(QStringLiteral("AddErrorLog"), log);
  auto rs = c->Execute(QStringLiteral("select CompName, UserId, ErrorMsg from ErrorLog"), {});
  ASSERT_EQ(rs->rows.Rows(), 1);
  EXPECT_EQ(rs->rows.BytesAt(0, 0), "PC01");
  EXPECT_EQ(rs->rows.IntAt(0, 1), 2);
  EXPECT_EQ(rs->rows.BytesAt(0, 2), "ข้อผิดพลาด");

  std::vector<ProcArg> none = {{"Result", ftInteger, ptResult, {}}};
  try {
    c->ExecProc(QStringLiteral("NoSuchProc"), none);
    ADD_FAILURE() << "no error";
  } catch (const EDBEngineError& e) {
    EXPECT_TRUE(e.Message().contains("Could not find stored procedure 'NoSuchProc'.")) << e.what();
  }
}

TEST_F(OdbcThroughTds, OutputParametersOfEveryKindComeBack) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  c->Execute(QStringLiteral("insert into qav_procedures (name, body) values (?, ?)"),
             {QVariant("TYPED"),
              QVariant("SELECT @I + 1 AS I2, @BIG * 2 AS BIG2, @F / 2 AS F2, 12.3456 AS M, "
                       "1 AS FLAG, '2024-01-31 13:45:12.347' AS STAMP, @S || 'ไทย' AS S2, "
                       "X'00FF10' AS BIN, @IO + 1 AS IO, NULL AS GONE")});
  std::vector<ProcArg> args = {
      {"Result", ftInteger, ptResult, {}},
      {"@I", ftInteger, ptInput, 41},
      {"@BIG", ftLargeint, ptInput, QVariant::fromValue(qint64(1) << 40)},
      {"@F", ftFloat, ptInput, 5.0},
      {"@S", ftString, ptInput, QStringLiteral("ก")},
      {"@IO", ftInteger, ptInputOutput, 9},
      {"@I2", ftInteger, ptOutput, {}},
      {"@BIG2", ftLargeint, ptOutput, {}},
      {"@F2", ftFloat, ptOutput, {}},
      {"@M", ftCurrency, ptOutput, {}},
      {"@FLAG", ftBoolean, ptOutput, {}},
      {"@STAMP", ftDateTime, ptOutput, {}},
      {"@S2", ftString, ptOutput, {}},
      {"@BIN", ftVarBytes, ptOutput, {}},
      {"@GONE", ftString, ptOutput, QStringLiteral("stale")},
  };
  c->ExecProc(QStringLiteral("TYPED"), args);
  const QVariant expected[] = {
      QVariant::fromValue(qint64(10)),
      QVariant::fromValue(qint64(42)),
      QVariant::fromValue(qint64(1) << 41),
      QVariant(2.5),
      QVariant(12.3456),
      QVariant(true),
      QVariant(QDateTime(QDate(2024, 1, 31), QTime(13, 45, 12, 347))),
      QVariant(QStringLiteral("กไทย")),
      QVariant(QByteArray("\0\xFF\x10", 3)),
      QVariant(),
  };
  for (std::size_t i = 0; i < std::size(expected); ++i)
    EXPECT_EQ(args[i + 5].value, expected[i]) << Utf8(args[i + 5].name);
  EXPECT_EQ(args[0].value.toInt(), 0);
}

TEST_F(OdbcThroughTds, ErrorsCarryTheServersTextAndNumber) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  struct Case {
    const char* sql;
    std::vector<QVariant> args;
    const char* text;
    int number;
  };
  const Case cases[] = {
      {"select * from NoSuchTable", {}, "Invalid object name 'NoSuchTable'.", 208},
      {"select nosuch from Customer", {}, "Invalid column name 'nosuch'.", 207},
      {"select x.Code from Customer c", {}, "could not be bound", 4104},
      {"select left('abc')", {}, "The left function requires 2 argument(s).", 174},
      // arithmetic: overflow, a text that is no number, two texts multiplied
      {"select 2147483647 + 1", {}, "Arithmetic overflow error", 8115},
      {"select 'abc' * 1", {}, "the varchar value 'abc' to data type int", 245},
      {"select '10' * '2'", {}, "Operand data type varchar is invalid for multiply", 8117},
      {"insert into Salesman (Id, Code, NameThai, Active) values (1, 'X', 'x', 1)",
       {},
       "Cannot insert duplicate key row",
       2601},
      {"insert into Misc (Id) values (?)",
       {QVariant(999)},
       "Cannot insert the value NULL into column",
       515},
      {"raiserror('ยอดเงินไม่พอ', 16, 1)", {}, "ยอดเงินไม่พอ", 50000},
      {"use NoSuchDatabase", {}, "Database 'NoSuchDatabase' does not exist.", 911},
  };
  for (const Case& k : cases) {
    const EDBEngineError e = ErrorOf(*c, QString::fromUtf8(k.sql), k.args);
    EXPECT_TRUE(e.Message().contains(QLatin1String("[SQL Server]"))) << e.what();
    EXPECT_TRUE(e.Message().contains(QString::fromUtf8(k.text))) << e.what();
    ASSERT_GE(e.ErrorCount(), 1) << k.sql;
    EXPECT_EQ(e.Errors()[0].NativeError, k.number) << e.what();
  }
  // The session goes on after errors.
  EXPECT_EQ(c->Execute(QStringLiteral("select count(*) from Salesman"), {})->rows.IntAt(0, 0), 8);
}

// The errors the embedded suite raises on a query's form reach a client with SQL Server's numbers.
TEST_F(OdbcThroughTds, QueryFormErrorsCarrySqlServersNumbers) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  const std::pair<const char*, int> cases[] = {
      {"select Code, count(*) from Customer", 8120},
      {"select distinct Code from Customer order by NameEng", 145},
      {"select Code from Customer where Code = (select Code from Customer)", 512},
      {"select Code from Customer offset 1 rows", 102},
      {"select count(*) from (select Code from Customer order by Code) t", 1033},
      {"select cast('1700-01-01' as datetime)", 242},
  };
  for (const auto& [sql, number] : cases) {
    const EDBEngineError e = ErrorOf(*c, QString::fromUtf8(sql), {});
    ASSERT_GE(e.ErrorCount(), 1) << sql;
    EXPECT_EQ(e.Errors()[0].NativeError, number) << e.what();
  }
}

// A statement nested too deeply fails with error 191, from the rewriter or from SQLite's parser,
// and the server goes on serving this client and others.
TEST_F(OdbcThroughTds, TooDeepStatementsFailWith191) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  for (const int depth : {4000, 150}) {
    const QString sql = QStringLiteral("select ") + QStringLiteral("(").repeated(depth) +
                        QStringLiteral("1") + QStringLiteral(")").repeated(depth);
    const EDBEngineError e = ErrorOf(*c, sql, {});
    ASSERT_GE(e.ErrorCount(), 1) << depth;
    EXPECT_EQ(e.Errors()[0].NativeError, 191) << e.what();
    EXPECT_TRUE(e.Message().contains(QLatin1String("nested too deeply"))) << e.what();
  }
  EXPECT_EQ(c->Execute(QStringLiteral("select count(*) from Salesman"), {})->rows.IntAt(0, 0), 8);
  auto other = suite_.Connect(QStringLiteral("DEMO"));
  EXPECT_EQ(other->Execute(QStringLiteral("select 1"), {})->rows.IntAt(0, 0), 1);
}

TEST_F(OdbcThroughTds, LoginChecksUserPasswordAndDatabase) {
  struct Case {
    QString user, password, database;
    const char* text;
  };
  const Case cases[] = {
      {"qav", "wrong", "QAV_CONFIG", "Login failed for user 'qav'."},
      {"sa", "tarnwick", "QAV_CONFIG", "Login failed for user 'sa'."},
      {"qav", "tarnwick", "NOWHERE",
       "Cannot open database \"NOWHERE\" requested by the login. The login failed."},
  };
  for (const Case& k : cases) {
    ConnectSettings s = suite_.Settings(k.database);
    s.user = k.user;
    s.password = k.password;
    try {
      OpenOdbc(s);
      ADD_FAILURE() << "logged in as " << Utf8(k.user);
    } catch (const EDBEngineError& e) {
      EXPECT_TRUE(e.Message().contains(QString::fromUtf8(k.text))) << e.what();
    }
  }
  EXPECT_NE(suite_.Connect(QStringLiteral("qav_config")), nullptr);
}

TEST_F(OdbcThroughTds, TransactionsCommitAndRollBack) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  auto other = suite_.Connect(QStringLiteral("DEMO"));
  const auto count = [&] {
    return other->Execute(QStringLiteral("select count(*) from Salesman"), {})->rows.IntAt(0, 0);
  };
  const QString insert =
      QStringLiteral("insert into Salesman (Id, Code, NameThai, Active) values (?, ?, ?, 1)");
  c->StartTransaction();
  EXPECT_TRUE(c->InTransaction());
  c->Execute(insert, {QVariant(100), QVariant("S100"), QVariant(kThai)});
  c->Rollback();
  EXPECT_EQ(count(), 8);
  c->StartTransaction();
  c->Execute(insert, {QVariant(101), QVariant("S101"), QVariant(kThai)});
  c->Commit();
  EXPECT_FALSE(c->InTransaction());
  EXPECT_EQ(count(), 9);
  c->Execute(insert, {QVariant(102), QVariant("S102"), QVariant(kThai)});
  EXPECT_EQ(count(), 10);
}

TEST_F(OdbcThroughTds, AStatementOverItsTimeIsCancelledAndTheSessionGoesOn) {
  ConnectSettings s = suite_.Settings(QStringLiteral("DEMO"));
  for (QString& p : s.params)
    if (p.startsWith(QLatin1String("MAX QUERY TIME="))) p = QStringLiteral("MAX QUERY TIME=1");
  auto c = OpenOdbc(s);
  QElapsedTimer timer;
  timer.start();
  const EDBEngineError e = ErrorOf(*c, QStringLiteral("waitfor delay '00:00:20'"));
  EXPECT_LT(timer.elapsed(), 8000);
  EXPECT_FALSE(e.Message().isEmpty());
  EXPECT_EQ(c->Execute(QStringLiteral("select count(*) from Salesman"), {})->rows.IntAt(0, 0), 8);
}

TEST_F(OdbcThroughTds, ALostConnectionFailsTheNextStatementQuickly) {
  auto c = suite_.Connect(QStringLiteral("DEMO"));
  EXPECT_NE(c->Execute(QStringLiteral("select 1"), {}), nullptr);
  suite_.Server().DropConnections();
  QElapsedTimer timer;
  timer.start();
  const EDBEngineError e = ErrorOf(*c, QStringLiteral("select 1"));
  EXPECT_LT(timer.elapsed(), 5000);
  // FreeTDS's own words for a connection that died: "[FreeTDS][SQL Server]Unknown error".
  EXPECT_TRUE(e.Message().contains(QLatin1String("[FreeTDS]"))) << e.what();
  // The dead connection keeps failing rather than hanging, and closes cleanly.
  EXPECT_THROW(c->Execute(QStringLiteral("select 2"), {}), EDBEngineError);
  EXPECT_LT(timer.elapsed(), 5000);
  c.reset();
  // A new connection works.
  EXPECT_NE(suite_.Connect(QStringLiteral("DEMO"))->Execute(QStringLiteral("select 1"), {}),
            nullptr);
}

TEST_F(OdbcThroughTds, SeveralConnectionsWorkAtOnce) {
  constexpr int kClients = 6;
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] {
      try {
        auto c = suite_.Connect(i % 2 ? QStringLiteral("DEMO") : QStringLiteral("DEMO2019"));
        for (int round = 0; round < 5; ++round) {
          auto rs = c->Execute(QStringLiteral("select Id, NameThai from Customer where Id <= ?"),
                               {QVariant(10 + round)});
          if (rs && rs->rows.Rows() == 10 + round) ++good;
        }
      } catch (const std::exception&) {
      }
    });
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(good, kClients * 5);
}

// The program itself, as scripts start it: a child process on a free port.
TEST(TdsTestServerProgram, PrintsItsPortAndServesUntilTerminated) {
  if (!QFile::exists(kTdsDriver)) GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  test::DemoSuiteFolder suite(20);
  QProcess server;
  server.start(
      QStringLiteral(TDS_TEST_SERVER_PATH),
      {QStringLiteral("--suite"), suite.Suite(), QStringLiteral("--port"), QStringLiteral("0")});
  ASSERT_TRUE(server.waitForStarted(10000));
  QByteArray out;
  while (!out.contains('\n') && server.waitForReadyRead(10000))
    out += server.readAllStandardOutput();
  const QString line = QString::fromLatin1(out).section(u'\n', 0, 0);
  ASSERT_TRUE(line.startsWith(QLatin1String("PORT "))) << out.toStdString();
  const QString address = QStringLiteral("127.0.0.1,") + line.mid(5);
  auto c = OpenOdbc(
      ConnectSettings::FromParams(SuiteConnectionParams(QStringLiteral("QAV_CONFIG"), address)));
  EXPECT_EQ(c->Execute(QStringLiteral("select Code from Company"), {})->rows.BytesAt(0, 0), "DEMO");
  c.reset();
  server.terminate();
  EXPECT_TRUE(server.waitForFinished(10000));
  EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(server.exitCode(), 0);

  // Wrong arguments end at once with the usage.
  QProcess wrong;
  wrong.start(QStringLiteral(TDS_TEST_SERVER_PATH), {QStringLiteral("--suite"), suite.Suite()});
  ASSERT_TRUE(wrong.waitForFinished(10000));
  EXPECT_EQ(wrong.exitCode(), 2);
  EXPECT_TRUE(wrong.readAllStandardError().contains("usage"));
}

}  // namespace
