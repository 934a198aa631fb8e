// Everyday T-SQL through the TDS test server: an ODBC client (unixODBC and FreeTDS) gets SQL
// Server's answers from the embedded suite behind it, and a client nobody here wrote (tsql)
// sees PRINT as SQL Server's messages.
#include "tests/db/TsqlCases.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace qav {
namespace {

const QString kTdsDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so");

class TdsTsql : public ::testing::TestWithParam<test::TsqlCase> {
 protected:
  static void SetUpTestSuite() {
    suite_ = new test::TdsDemoSuite(20);
    if (QFile::exists(kTdsDriver)) db_ = suite_->Connect(QStringLiteral("DEMO")).release();
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
    delete suite_;
    suite_ = nullptr;
  }
  void SetUp() override {
    if (!db_) GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  }

  static test::TdsDemoSuite* suite_;
  static db::BackendConnection* db_;
};

test::TdsDemoSuite* TdsTsql::suite_ = nullptr;
db::BackendConnection* TdsTsql::db_ = nullptr;

TEST_P(TdsTsql, GivesSqlServersAnswerOverOdbc) {
  const test::TsqlCase& c = GetParam();
  test::ExpectTsqlOutcome(
      c, test::TsqlOutcome([&] { return db_->Execute(QString::fromUtf8(c.sql), {}); }));
}

INSTANTIATE_TEST_SUITE_P(Cases, TdsTsql, ::testing::ValuesIn(test::kTsqlCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TdsPrint, ReachesTsqlAsServerMessages) {
  const QString tsql = QStandardPaths::findExecutable(QStringLiteral("tsql"));
  if (tsql.isEmpty()) GTEST_SKIP() << "tsql (freetds-bin) not installed";
  test::TdsDemoSuite suite(20);
  const QString address = suite.Address();
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(tsql, {QStringLiteral("-H"), address.section(u',', 0, 0), QStringLiteral("-p"),
                 address.section(u',', 1), QStringLiteral("-U"), QStringLiteral("qav"),
                 QStringLiteral("-P"), QStringLiteral("tarnwick"), QStringLiteral("-D"),
                 QStringLiteral("DEMO")});
  ASSERT_TRUE(p.waitForStarted());
  p.write(
      "declare @d datetime = '2024-01-31'\n"
      "print 'until ' + convert(varchar(10), dateadd(day, 1, @d), 103)\n"
      "go\nexit\n");
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString out = QString::fromUtf8(p.readAll());
  EXPECT_TRUE(out.contains(QStringLiteral("until 01/02/2024"))) << out.toStdString();
}

}  // namespace
}  // namespace qav
