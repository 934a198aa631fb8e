#include "db/DateTime.h"
#include "db/Errors.h"
#include "db/odbc/OdbcConnection.h"
#include "db/odbc/OdbcConnectionString.h"
#include "db/odbc/OdbcParams.h"
#include "db/odbc/OdbcTypes.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <gtest/gtest.h>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

namespace {

using namespace qav::db;
using odbc::CellFetch;

const QString kThai = QStringLiteral("บริษัท ทดสอบ จำกัด");
const QString kSqliteDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so");
const QString kTdsDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so");

std::string Utf8(const QString& s) {
  return s.toStdString();
}

// --- Connection strings ------------------------------------------------------------------

TEST(OdbcConnectionString, BuildsWhatEachDriverReads) {
  struct Case {
    const char* server;
    QString password;
    QString database;
    QString driver;
    QString expected;
  };
  const QString ms = QStringLiteral("ODBC Driver 18 for SQL Server");
  const QString tail = QStringLiteral("ClientCharset=UTF-8;TDS_Version=7.4;TextSize=2147483647;");
  const Case cases[] = {
      {"srv", "tarnwick", "QAV_CONFIG", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=srv;UID=qav;PWD=tarnwick;DATABASE=QAV_CONFIG;" + tail},
      {" srv , 1433 ", "p", "master", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=srv;PORT=1433;UID=qav;PWD=p;DATABASE=master;" + tail},
      {"srv\\SQLEXPRESS", "p", "master", kTdsDriver,
       "DRIVER={" + kTdsDriver + "};SERVER=srv\\SQLEXPRESS;UID=qav;PWD=p;DATABASE=master;" + tail},
      // The port reaches the server directly; the instance name is then not needed.
      {"srv\\SQLEXPRESS,1500", "p", "master", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=srv;PORT=1500;UID=qav;PWD=p;DATABASE=master;" + tail},
      {"(local)", "p", "master", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=localhost;UID=qav;PWD=p;DATABASE=master;" + tail},
      {"tcp:srv,1433", "p", kThai, ms,
       "DRIVER={" + ms + "};SERVER=srv,1433;UID=qav;PWD=p;DATABASE=" + kThai + ";"},
      {"srv\\INST", "p", "master", ms,
       "DRIVER={" + ms + "};SERVER=srv\\INST;UID=qav;PWD=p;DATABASE=master;"},
      // A password must never start a pair of its own (the driver manager would load the
      // last DRIVER it sees).
      {"srv", "x;DRIVER=SQLite3", "master", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=srv;UID=qav;PWD={x;DRIVER=SQLite3};DATABASE=master;" + tail},
      {"srv", "{a}b}", "master", "FreeTDS",
       "DRIVER={FreeTDS};SERVER=srv;UID=qav;PWD={{a}b}};DATABASE=master;" + tail},
      {"srv", "a}};b", "master", ms,
       "DRIVER={" + ms + "};SERVER=srv;UID=qav;PWD={a}}}};b};DATABASE=master;"},
      {"srv", " lead", "", ms, "DRIVER={" + ms + "};SERVER=srv;UID=qav;PWD={ lead};"},
  };
  for (const Case& c : cases) {
    ConnectSettings s;
    s.server = QString::fromUtf8(c.server);
    s.user = QStringLiteral("qav");
    s.password = c.password;
    s.database = c.database;
    EXPECT_EQ(Utf8(odbc::BuildConnectionString(s, c.driver)), Utf8(c.expected)) << c.server;
  }
}

TEST(OdbcConnectionString, EncryptionSettingsInEachDriversWords) {
  const QString ms = QStringLiteral("ODBC Driver 18 for SQL Server");
  struct Case {
    QStringList params;
    QString driver;
    const char* words;  // what follows the common pairs; "!" for a refused setting
  };
  const Case cases[] = {
      {{}, "FreeTDS", ""},
      {{}, ms, ""},
      {{"ENCRYPT=yes"}, "FreeTDS", "Encryption=require;"},
      {{"ENCRYPT=No", "TRUST SERVER CERTIFICATE=yes"}, "FreeTDS", "Encryption=off;"},
      {{"ENCRYPT=true", "TRUST SERVER CERTIFICATE=yes"},
       ms,
       "Encrypt=yes;TrustServerCertificate=yes;"},
      {{"TRUST SERVER CERTIFICATE=0"}, ms, "TrustServerCertificate=no;"},
      {{"ENCRYPT=maybe"}, ms, "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.params.join(u',')) + " " + Utf8(c.driver));
    ConnectSettings s;
    s.server = QStringLiteral("srv");
    s.params = c.params;
    if (QLatin1StringView(c.words) == QLatin1StringView("!")) {
      EXPECT_THROW(odbc::BuildConnectionString(s, c.driver), EDatabaseError);
      continue;
    }
    const QString text = odbc::BuildConnectionString(s, c.driver);
    EXPECT_TRUE(
        text.endsWith(QLatin1StringView("PWD=;") + QString::fromUtf8(c.words)) ||
        text.endsWith(QLatin1StringView("TextSize=2147483647;") + QString::fromUtf8(c.words)))
        << Utf8(text);
  }
}

TEST(OdbcConnectionString, RefusesWhatCannotBeSentSafely) {
  for (const char* server : {"srv,abc", "srv,0", "srv,70000", "srv,", "srv,-1"}) {
    ConnectSettings s;
    s.server = QString::fromUtf8(server);
    EXPECT_THROW(odbc::BuildConnectionString(s, QStringLiteral("FreeTDS")), EDatabaseError)
        << server;
  }
  // FreeTDS ends a braced value at "};" and has no escape for it.
  ConnectSettings s;
  s.server = QStringLiteral("srv");
  s.password = QStringLiteral("se};cret");
  try {
    odbc::BuildConnectionString(s, QStringLiteral("FreeTDS"));
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(QLatin1String("PWD")));
    EXPECT_FALSE(e.Message().contains(s.password));
  }
  // Microsoft's drivers take it, escaped.
  EXPECT_TRUE(odbc::BuildConnectionString(s, QStringLiteral("ODBC Driver 17 for SQL Server"))
                  .contains(QLatin1String("PWD={se}};cret};")));
}

TEST(OdbcConnectionString, ChoosesTheDriver) {
  QTemporaryDir dir;
  const QString present = dir.filePath(QStringLiteral("libtdsodbc.so"));
  QFile(present).open(QIODevice::WriteOnly);
  const QString missing = dir.filePath(QStringLiteral("nothing.so"));
  const QString ms17 = QStringLiteral("ODBC Driver 17 for SQL Server");
  const QString ms18 = QStringLiteral("ODBC Driver 18 for SQL Server");
  struct Case {
    QString override;
    QStringList registered;
    QStringList libraries;
    bool windows;
    QString expected;
  };
  const Case cases[] = {
      {"MyDriver", {"FreeTDS"}, {present}, false, "MyDriver"},
      {"", {"SQLite3", "FreeTDS", ms18}, {present}, false, "FreeTDS"},
      {"", {"SQLite3"}, {missing, present}, false, present},
      {"", {"SQLite3", ms17}, {missing}, false, ms17},
      {"", {}, {missing}, false, "FreeTDS"},
      {"", {"SQL Server", ms17, ms18}, {}, true, ms18},
      {"", {"SQL Server", ms17}, {}, true, ms17},
      {"", {"FreeTDS"}, {}, true, "SQL Server"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(odbc::ChooseDriver(c.override, c.registered, c.libraries, c.windows), c.expected)
        << Utf8(c.registered.join(','));
}

// --- Types and conversions ------------------------------------------------------------------

TEST(OdbcTypes, MapsSqlServerColumns) {
  struct Case {
    int sqlType;
    qint64 size;
    const char* typeName;
    TFieldType type;
    int fieldSize;
    CellFetch fetch;
  };
  const Case cases[] = {
      {SQL_INTEGER, 10, "int", ftInteger, 0, CellFetch::Integer},
      {SQL_INTEGER, 10, "int identity", ftInteger, 0, CellFetch::Integer},
      {SQL_SMALLINT, 5, "smallint", ftSmallint, 0, CellFetch::Integer},
      {SQL_TINYINT, 3, "tinyint", ftSmallint, 0, CellFetch::Integer},
      {SQL_BIGINT, 19, "bigint", ftLargeint, 0, CellFetch::Integer},
      {SQL_BIT, 1, "bit", ftBoolean, 0, CellFetch::Integer},
      {SQL_REAL, 24, "real", ftFloat, 0, CellFetch::Double},
      {SQL_FLOAT, 53, "float", ftFloat, 0, CellFetch::Double},
      {SQL_DECIMAL, 19, "money", ftCurrency, 0, CellFetch::Decimal},
      {SQL_DECIMAL, 10, "smallmoney", ftCurrency, 0, CellFetch::Decimal},
      {SQL_DECIMAL, 18, "decimal", ftBCD, 0, CellFetch::Decimal},
      {SQL_NUMERIC, 18, "numeric", ftBCD, 0, CellFetch::Decimal},
      {SQL_TYPE_DATE, 10, "date", ftDate, 0, CellFetch::DateTime},
      {-154, 16, "time", ftTime, 0, CellFetch::DateTime},
      {SQL_TYPE_TIME, 8, "time", ftTime, 0, CellFetch::DateTime},
      {SQL_TYPE_TIMESTAMP, 23, "datetime", ftDateTime, 0, CellFetch::DateTime},
      {SQL_TYPE_TIMESTAMP, 16, "smalldatetime", ftDateTime, 0, CellFetch::DateTime},
      {SQL_TYPE_TIMESTAMP, 27, "datetime2", ftDateTime, 0, CellFetch::DateTime},
      {SQL_CHAR, 10, "char", ftFixedChar, 10, CellFetch::Text},
      {SQL_WCHAR, 4, "nchar", ftFixedChar, 4, CellFetch::Text},
      {SQL_VARCHAR, 50, "varchar", ftString, 50, CellFetch::Text},
      {SQL_WVARCHAR, 40, "nvarchar", ftString, 40, CellFetch::Text},
      {SQL_VARCHAR, 0, "varchar", ftMemo, 0, CellFetch::Text},
      {SQL_WVARCHAR, 1073741823, "nvarchar", ftMemo, 0, CellFetch::Text},
      {SQL_LONGVARCHAR, 2147483647, "text", ftMemo, 0, CellFetch::Text},
      {SQL_WLONGVARCHAR, 1073741823, "ntext", ftMemo, 0, CellFetch::Text},
      {-152, 0, "xml", ftMemo, 0, CellFetch::Text},
      {SQL_BINARY, 8, "binary", ftBytes, 8, CellFetch::Binary},
      {SQL_BINARY, 8, "timestamp", ftBytes, 8, CellFetch::Binary},
      {SQL_VARBINARY, 16, "varbinary", ftVarBytes, 16, CellFetch::Binary},
      {SQL_VARBINARY, 0, "varbinary", ftBlob, 0, CellFetch::Binary},
      {SQL_LONGVARBINARY, 2147483647, "image", ftBlob, 0, CellFetch::Binary},
      {SQL_GUID, 36, "uniqueidentifier", ftString, 38, CellFetch::Guid},
      {-150, 8000, "sql_variant", ftString, 8000, CellFetch::Text},
      {-155, 34, "datetimeoffset", ftString, 34, CellFetch::Text},
  };
  for (const Case& c : cases) {
    const odbc::ColumnMapping m = odbc::MapColumn(c.sqlType, c.size, QString::fromUtf8(c.typeName));
    EXPECT_EQ(m.type, c.type) << c.typeName << " " << c.sqlType;
    EXPECT_EQ(m.size, c.fieldSize) << c.typeName;
    EXPECT_EQ(m.fetch, c.fetch) << c.typeName;
  }
}

TEST(OdbcTypes, ReadsTheStandardTextForms) {
  const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return EncodeDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
  };
  struct Case {
    const char16_t* text;
    std::optional<TDateTime> expected;
  };
  const Case dates[] = {
      {u"2024-01-31", at(2024, 1, 31)},
      {u"2024-01-31 13:45:12", at(2024, 1, 31, 13, 45, 12)},
      {u"2024-01-31 13:45:12.347", at(2024, 1, 31, 13, 45, 12, 347)},
      {u"2024-01-31T13:45:12.3456789", at(2024, 1, 31, 13, 45, 12, 346)},
      {u"2024-01-31 23:59:59.9999999", at(2024, 1, 31, 23, 59, 59, 999)},
      {u"1753-01-01 00:00:00.000", at(1753, 1, 1)},
      {u"13:45", at(1899, 12, 30, 13, 45)},
      {u"13:45:12.5", at(1899, 12, 30, 13, 45, 12, 500)},
      {u" 2024-01-31 ", at(2024, 1, 31)},
      {u"2024-02-30", std::nullopt},
      {u"31/01/2024", std::nullopt},
      {u"2024-01-31 25:00:00", std::nullopt},
      {u"2024-01-31 13:45:12.", std::nullopt},
      {u"2024-01-31x", std::nullopt},
      {u"", std::nullopt},
  };
  for (const Case& c : dates) {
    const auto got = odbc::ParseOdbcDateTime(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << QString::fromUtf16(c.text).toStdString();
    if (got) {
      EXPECT_NEAR(*got, *c.expected, 1e-9) << QString::fromUtf16(c.text).toStdString();
    }
  }

  struct Number {
    const char* text;
    std::optional<double> expected;
  };
  const Number numbers[] = {
      {"1234.5600", 1234.56}, {"-0.5", -0.5}, {".25", 0.25},
      {"+1E+20", 1e20},       {" 12 ", 12.0}, {"abc", {}},
      {"1.2.3", {}},          {"", {}},       {"1,5", {}},
  };
  for (const Number& n : numbers) EXPECT_EQ(odbc::ParseOdbcNumber(n.text), n.expected) << n.text;

  std::string out = "x";
  odbc::AppendUtf8(u"ไทย😀", out);
  EXPECT_EQ(out, "xไทย😀");
  out.clear();
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00};
  odbc::AppendUtf8(std::u16string_view(lone, 4), out);
  EXPECT_EQ(out,
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

// An in-out parameter's buffer holds the value sent until the driver overwrites it, so
// reading it back unchanged shows that type, length and terminator room are right.
TEST(OdbcParams, InOutBuffersGiveBackTheirValue) {
  const QDateTime when(QDate(2024, 1, 31), QTime(13, 45, 12, 345));
  const QString long8000(8000, QChar(0x0E01));
  struct Case {
    QVariant value;
    TFieldType type;
    QVariant expected;
  };
  const Case cases[] = {
      {QVariant(42), ftInteger, QVariant::fromValue(qint64(42))},
      {QVariant::fromValue(qint64(1) << 40), ftLargeint, QVariant::fromValue(qint64(1) << 40)},
      {QVariant(kThai), ftString, QVariant(kThai)},
      {QVariant(long8000), ftString, QVariant(long8000)},
      {QVariant(2.5), ftFloat, QVariant(2.5)},
      {QVariant(true), ftBoolean, QVariant(true)},
      {QVariant(when), ftDateTime, QVariant(when)},
      {QVariant(QByteArray("\0\1\2", 3)), ftVarBytes, QVariant(QByteArray("\0\1\2", 3))},
      {QVariant(), ftString, QVariant()},
  };
  for (const Case& c : cases) {
    odbc::BoundParam p;
    p.SetOutput(c.value, c.type, true);
    EXPECT_EQ(p.io, SQL_PARAM_INPUT_OUTPUT);
    EXPECT_EQ(p.OutputValue(), c.expected) << FieldTypeName(c.type).toStdString();
  }
  // Output-only string parameters have room for 8000 characters and declare a length every
  // server takes.
  odbc::BoundParam out;
  out.SetOutput({}, ftString, false);
  EXPECT_EQ(out.indicator, SQL_NULL_DATA);
  EXPECT_GE(out.data.size(), 8001u * 2);
  EXPECT_EQ(out.sqlType, SQL_WVARCHAR);
  EXPECT_EQ(out.columnSize, 4000u);
}

TEST(OdbcProc, CallEscapeBindsTheResultFirst) {
  const auto arg = [](TParamType d) { return ProcArg{QStringLiteral("@X"), ftInteger, d, {}}; };
  struct Case {
    std::vector<ProcArg> args;
    const char* expected;
  };
  const Case cases[] = {
      {{}, "{call MENUCAPTION}"},
      {{arg(ptResult)}, "{? = call MENUCAPTION}"},
      {{arg(ptInput), arg(ptOutput)}, "{call MENUCAPTION(?, ?)}"},
      {{arg(ptResult), arg(ptInput), arg(ptInput), arg(ptOutput), arg(ptInputOutput)},
       "{? = call MENUCAPTION(?, ?, ?, ?)}"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(odbc::ProcCallText(QStringLiteral("MENUCAPTION"), c.args).toStdString(), c.expected);
}

// --- Against Debian's SQLite ODBC driver ------------------------------------------------------

class OdbcSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFile::exists(kSqliteDriver))
      GTEST_SKIP() << "SQLite ODBC driver not installed (Debian package libsqliteodbc)";
    ASSERT_TRUE(dir_.isValid());
    connection_ = Open();
  }

  std::unique_ptr<BackendConnection> Open() {
    return OpenOdbcConnectionString(QStringLiteral("DRIVER=%1;Database=%2")
                                        .arg(kSqliteDriver, dir_.filePath(QStringLiteral("t.db"))));
  }

  qint64 Count(BackendConnection& c, const char* table) {
    auto rs = c.Execute(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)), {});
    return rs->rows.IntAt(0, 0);
  }

  QTemporaryDir dir_;
  std::unique_ptr<BackendConnection> connection_;
};

TEST_F(OdbcSqlite, BoundValuesComeBackTypedAndWhole) {
  BackendConnection& c = *connection_;
  EXPECT_EQ(c.Execute(QStringLiteral("CREATE TABLE t (id INTEGER, big BIGINT, flag BIT, "
                                     "amount REAL, price MONEY, name VARCHAR(40), note TEXT, "
                                     "day DATE, stamp DATETIME, pic BLOB, guid UNIQUEIDENTIFIER)"),
                      {}),
            nullptr);
  // Larger than the fetch buffer's first size, so both are read in pieces.
  const QString longThai = kThai.repeated(4000);
  QByteArray blob(200000, '\0');
  for (int i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
  const QDateTime stamp(QDate(2024, 1, 31), QTime(13, 45, 12, 345));
  const QString insert = QStringLiteral("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  EXPECT_EQ(
      c.Execute(insert, {QVariant(7), QVariant::fromValue(qint64(1) << 40), QVariant(true),
                         QVariant(2.5), QVariant(1234.56), QVariant(kThai), QVariant(longThai),
                         QVariant(QDate(2024, 2, 29)), QVariant(stamp), QVariant(blob),
                         QVariant(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"))}),
      nullptr);
  EXPECT_EQ(c.RowsAffected(), 1);
  c.Execute(insert, std::vector<QVariant>(11));  // every value NULL
  c.Execute(QStringLiteral("INSERT INTO t (id, name, note, pic) VALUES (?, ?, ?, ?)"),
            {QVariant(-1), QVariant(QString()), QVariant(QString()), QVariant(QByteArray())});

  auto rs = c.Execute(QStringLiteral("SELECT * FROM t ORDER BY id DESC"), {});  // NULL last
  ASSERT_NE(rs, nullptr);
  const std::vector<std::pair<TFieldType, int>> types = {
      {ftInteger, 0}, {ftLargeint, 0}, {ftBoolean, 0}, {ftFloat, 0},   {ftCurrency, 0},
      {ftString, 40}, {ftMemo, 0},     {ftDate, 0},    {ftDateTime, 0}};
  ASSERT_EQ(rs->fields.size(), 11u);
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(rs->fields[i].type, types[i].first) << rs->fields[i].name.toStdString();
    EXPECT_EQ(rs->fields[i].size, types[i].second) << rs->fields[i].name.toStdString();
  }
  EXPECT_TRUE(IsBinaryType(rs->fields[9].type));
  EXPECT_EQ(rs->fields[10].type, ftString);
  EXPECT_EQ(rs->fields[10].size, 38);
  EXPECT_EQ(rs->fields[5].name, QStringLiteral("name"));

  const RowStore& rows = rs->rows;
  ASSERT_EQ(rows.Rows(), 3);
  EXPECT_EQ(rows.IntAt(0, 0), 7);
  EXPECT_EQ(rows.IntAt(0, 1), qint64(1) << 40);
  EXPECT_EQ(rows.IntAt(0, 2), 1);
  EXPECT_EQ(rows.FloatAt(0, 3), 2.5);
  EXPECT_DOUBLE_EQ(rows.FloatAt(0, 4), 1234.56);
  EXPECT_EQ(rows.BytesAt(0, 5), Utf8(kThai));
  EXPECT_EQ(rows.BytesAt(0, 6), Utf8(longThai));
  EXPECT_DOUBLE_EQ(rows.FloatAt(0, 7), EncodeDateTime(QDate(2024, 2, 29)));
  EXPECT_NEAR(rows.FloatAt(0, 8), EncodeDateTime(stamp), 1e-9);
  EXPECT_EQ(rows.BytesAt(0, 9), std::string_view(blob.constData(), blob.size()));
  EXPECT_EQ(rows.BytesAt(0, 10), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");

  // Empty texts and binary values are not NULL.
  EXPECT_EQ(rows.IntAt(1, 0), -1);
  EXPECT_EQ(rows.KindAt(1, 5), RowStore::Kind::Bytes);
  EXPECT_EQ(rows.BytesAt(1, 5), "");
  EXPECT_EQ(rows.BytesAt(1, 6), "");
  EXPECT_EQ(rows.KindAt(1, 9), RowStore::Kind::Bytes);

  for (int col = 0; col < 11; ++col) EXPECT_TRUE(rows.IsNull(2, col)) << col;

  // Parameters in a WHERE clause, Thai included; counts of changed rows.
  rs = c.Execute(QStringLiteral("SELECT id FROM t WHERE name = ? AND day = ?"),
                 {QVariant(kThai), QVariant(QDate(2024, 2, 29))});
  ASSERT_EQ(rs->rows.Rows(), 1);
  EXPECT_EQ(c.Execute(QStringLiteral("UPDATE t SET amount = ? WHERE id <> ?"),
                      {QVariant(1.0), QVariant(12345)}),
            nullptr);
  EXPECT_EQ(c.RowsAffected(), 2);  // NULL <> 12345 is not true
  c.Execute(QStringLiteral("DELETE FROM t WHERE id = 99"), {});
  EXPECT_EQ(c.RowsAffected(), 0);
}

TEST_F(OdbcSqlite, ADateTheDriverCannotFormStaysText) {
  connection_->Execute(QStringLiteral("CREATE TABLE d (day DATE)"), {});
  connection_->Execute(QStringLiteral("INSERT INTO d VALUES ('not a date')"), {});
  auto rs = connection_->Execute(QStringLiteral("SELECT day FROM d"), {});
  ASSERT_EQ(rs->fields[0].type, ftDate);
  // Either the driver's text or its own reading of it, never a silent NULL or zero.
  ASSERT_EQ(rs->rows.KindAt(0, 0), RowStore::Kind::Bytes);
  EXPECT_FALSE(rs->rows.BytesAt(0, 0).empty());
}

TEST_F(OdbcSqlite, ErrorsCarryTheDriversMessage) {
  connection_->Execute(QStringLiteral("CREATE TABLE n (a INTEGER NOT NULL)"), {});
  struct Case {
    const char* sql;
    std::vector<QVariant> args;
    const char* words;
  };
  const Case cases[] = {
      {"SELECT * FROM missing_table", {}, "no such table: missing_table"},
      {"INSERT INTO n VALUES (?)", {QVariant()}, "NOT NULL constraint failed"},
      {"SELEC 1", {}, "syntax error"},
  };
  for (const Case& c : cases) {
    try {
      connection_->Execute(QString::fromUtf8(c.sql), c.args);
      ADD_FAILURE() << "no error for " << c.sql;
    } catch (const EDBEngineError& e) {
      EXPECT_TRUE(e.Message().contains(QLatin1String("[SQLite]"))) << e.what();
      EXPECT_TRUE(e.Message().contains(QLatin1String(c.words))) << e.what();
      ASSERT_GE(e.ErrorCount(), 1);
      // SQLSTATE, a blank, the record's text.
      EXPECT_TRUE(e.Errors()[0].Message.contains(QLatin1String(c.words)));
      EXPECT_EQ(e.Errors()[0].Message.indexOf(u' '), 5) << e.Errors()[0].Message.toStdString();
    }
  }
  // The connection is still usable afterwards.
  EXPECT_EQ(Count(*connection_, "n"), 0);
}

TEST_F(OdbcSqlite, TransactionsCommitAndRollBack) {
  BackendConnection& c = *connection_;
  c.Execute(QStringLiteral("CREATE TABLE x (a INTEGER)"), {});
  const QString insert = QStringLiteral("INSERT INTO x VALUES (1)");

  c.StartTransaction();
  EXPECT_TRUE(c.InTransaction());
  EXPECT_THROW(c.StartTransaction(), EDatabaseError);
  c.Execute(insert, {});
  c.Rollback();
  EXPECT_FALSE(c.InTransaction());
  EXPECT_EQ(Count(c, "x"), 0);

  c.StartTransaction();
  c.Execute(insert, {});
  c.Commit();
  EXPECT_FALSE(c.InTransaction());
  EXPECT_EQ(Count(*Open(), "x"), 1);

  // Back in autocommit: a statement is durable at once, as another connection sees.
  c.Execute(insert, {});
  EXPECT_EQ(Count(*Open(), "x"), 2);

  // A connection closed inside a transaction rolls it back.
  c.StartTransaction();
  c.Execute(insert, {});
  connection_.reset();
  EXPECT_EQ(Count(*Open(), "x"), 2);
}

// --- FreeTDS against a server that is not there ---------------------------------------------

TEST(OdbcFreeTds, UnreachableServerFailsFastWithTheDriversMessage) {
  if (!QFile::exists(kTdsDriver) && qEnvironmentVariableIsEmpty("QAV_ODBC_DRIVER"))
    GTEST_SKIP() << "FreeTDS ODBC driver not installed (Debian package tdsodbc)";
  ConnectSettings s = ConnectSettings::FromParams(
      {QStringLiteral("DATABASE NAME=master"), QStringLiteral("SERVER NAME=127.0.0.1,1"),
       QStringLiteral("USER NAME=qav"),
       // Were this password not braced, the driver manager would load the SQLite driver,
       // which "connects" to anything.
       QStringLiteral("PASSWORD=x;DRIVER=%1;").arg(kSqliteDriver)});
  QElapsedTimer timer;
  timer.start();
  try {
    OpenOdbc(s);
    FAIL() << "connected to a closed port";
  } catch (const EDBEngineError& e) {
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(e.Message().contains(QLatin1String("[FreeTDS]"))) << e.what();
    EXPECT_TRUE(e.Message().contains(QLatin1String("Unable to connect"))) << e.what();
    EXPECT_GE(e.ErrorCount(), 1);
  }
}

// Listens on a local port, answers the TDS pre-login and reads the login record that
// follows, so that a test sees the user, password and database exactly as the driver sends
// them to a server.
class LoginCatcher {
 public:
  LoginCatcher() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoginCatcher() {
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  int Port() const { return port_; }
  // Login fields in their record order: host, user, password, application, server, ...,
  // database at 8. Empty until the login arrived.
  QStringList Fields() {
    if (thread_.joinable()) thread_.join();
    return fields_;
  }

 private:
  static bool ReadFully(int fd, char* data, size_t size) {
    while (size > 0) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      const ssize_t n = recv(fd, data, size, 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  static QByteArray ReadPacket(int fd) {
    char header[8];
    if (!ReadFully(fd, header, 8)) return {};
    const int length =
        (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
    QByteArray body(length - 8, '\0');
    if (!ReadFully(fd, body.data(), static_cast<size_t>(body.size()))) return {};
    return body;
  }
  void Serve() {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return;
    const int fd = accept(listener_, nullptr, nullptr);
    if (ReadPacket(fd).isEmpty()) return void(close(fd));
    // Pre-login reply: version option, encryption option "not supported".
    const unsigned char reply[] = {4, 1, 0,  26, 0, 0,    1,  0, 0, 0, 11, 0, 6,
                                   1, 0, 17, 0,  1, 0xFF, 11, 0, 0, 0, 0,  0, 2};
    send(fd, reply, sizeof reply, 0);
    const QByteArray login = ReadPacket(fd);
    close(fd);
    for (int i = 0; i < 9 && login.size() >= 36 + 4 * 9; ++i) {
      const auto word = [&](int at) {
        return static_cast<unsigned char>(login[at]) |
               (static_cast<unsigned char>(login[at + 1]) << 8);
      };
      const int offset = word(36 + 4 * i), chars = word(38 + 4 * i);
      QByteArray raw = login.mid(offset, chars * 2);
      if (i == 2)  // the password's bytes are nibble-swapped and XORed with 0xA5
        for (char& b : raw) {
          const auto x = static_cast<unsigned char>(static_cast<unsigned char>(b) ^ 0xA5);
          b = static_cast<char>((x >> 4) | (x << 4));
        }
      fields_ << QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), chars);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  QStringList fields_;
};

TEST(OdbcFreeTds, LoginCarriesAwkwardValuesUnchanged) {
  if (!QFile::exists(kTdsDriver)) GTEST_SKIP() << "FreeTDS ODBC driver not installed";
  struct Case {
    QString user, password, database;
  };
  const Case cases[] = {
      {"qav", "tarnwick", kThai},
      {"qa}v", "p;w{x}" + kThai + "}", "QAV_CONFIG"},
      {"{qav}", " lead;DATABASE=master ", "db;x"},
  };
  for (const Case& c : cases) {
    LoginCatcher server;
    ConnectSettings s;
    s.server = QStringLiteral("127.0.0.1,%1").arg(server.Port());
    s.user = c.user;
    s.password = c.password;
    s.database = c.database;
    EXPECT_THROW(OpenOdbc(s), EDBEngineError);  // the catcher hangs up after the login
    const QStringList fields = server.Fields();
    ASSERT_EQ(fields.size(), 9) << Utf8(c.password);
    EXPECT_EQ(Utf8(fields[1]), Utf8(c.user));
    EXPECT_EQ(Utf8(fields[2]), Utf8(c.password));
    EXPECT_EQ(Utf8(fields[8]), Utf8(c.database));
  }
}

}  // namespace
