#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/StoredProc.h"
#include "db/embedded/EmbeddedConnection.h"
#include "db/embedded/EmbeddedDialect.h"
#include "db/embedded/EmbeddedSuite.h"
#include "db/embedded/TsqlRewriter.h"
#include "tests/db/TsqlCases.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Readable failures for texts, Thai included.
static void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace qav::db {
namespace {

using namespace embedded;

const QString kThaiCompany = QStringLiteral("บริษัท ทดสอบ จำกัด");

// ---------------------------------------------------------------------------------------------
// Dialect: text only.

TEST(EmbeddedDialectTest, TranslatesAlterTableAdd) {
  struct Case {
    const char* in;
    QStringList out;
  };
  const Case cases[] = {
      {"Alter Table UserName Add UserSeeImport Char(1)",
       {"ALTER TABLE UserName ADD COLUMN UserSeeImport Char(1) COLLATE NOCASE"}},
      {"alter table Menu add Version Integer;", {"ALTER TABLE Menu ADD COLUMN Version Integer"}},
      {"ALTER TABLE [dbo].[T] ADD Amount decimal(18, 2) default 0, Note NVARCHAR(20) collate "
       "binary",
       {"ALTER TABLE [dbo].[T] ADD COLUMN Amount decimal(18, 2) default 0",
        "ALTER TABLE [dbo].[T] ADD COLUMN Note NVARCHAR(20) collate binary"}},
      {"Alter Table T Add Column Name varchar(10) not null default ''",
       {"ALTER TABLE T ADD COLUMN Name varchar(10) not null default '' COLLATE NOCASE"}},
      {"Alter Table T Add Constraint PK_T Primary Key (Id)", {}},
      {"Alter Table T Drop Column X", {}},
      {"Alter Table T Add", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(TranslateAlterTableAdd(QString::fromUtf8(c.in)), c.out);
  }
}

TEST(EmbeddedDialectTest, ParsesBackupStatements) {
  struct Case {
    const char* in;
    const char* database;  // nullptr: not a backup statement
    const char* path;
  };
  const Case cases[] = {
      {"backup database DEMO To Disk = 'C:\\DEMO20240131.Bak' with Format", "DEMO",
       "C:\\DEMO20240131.Bak"},
      {"BACKUP\r\n  DATABASE demo TO DISK='c:\\x\\y.bak'   WITH FORMAT ;", "demo", "c:\\x\\y.bak"},
      {"Backup Database [My Db] To Disk = N'C:\\it''s.bak'", "My Db", "C:\\it's.bak"},
      {"backup database DEMO", nullptr, nullptr},
      {"backup log DEMO To Disk = 'C:\\x.bak'", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const auto b = ParseBackup(QString::fromUtf8(c.in));
    ASSERT_EQ(b.has_value(), c.database != nullptr);
    if (!b) continue;
    EXPECT_EQ(b->database, QString::fromUtf8(c.database));
    EXPECT_EQ(b->path, QString::fromUtf8(c.path));
  }
}

TEST(EmbeddedDialectTest, RewritesIsnullAndCountsPlaceholders) {
  EXPECT_EQ(RewriteTsql(u"select IsNull (a, 'isnull(') n from t where b isnull -- isnull(x)"),
            QStringLiteral("select ifnull (a, 'isnull(') n from t where b isnull -- isnull(x)"));
  EXPECT_EQ(CountPlaceholders(u"select ? , '?', \"?\" -- ?\n, ? /* ? */"), 2);
}

TEST(EmbeddedDialectTest, MapsErrorsToServerTexts) {
  const char* const kNestedTooDeeply =
      "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
      "into smaller queries.";
  struct Case {
    int code;
    const char* message;
    const char* verb;
    QStringList tables;
    const char* expected;
    const char* statement = "";  // the statement SQLite ran
  };
  const Case cases[] = {
      {SQLITE_CONSTRAINT_NOTNULL,
       "NOT NULL constraint failed: Sales.Customer",
       "INSERT",
       {},
       "Cannot insert the value NULL into column 'Customer', table 'Sales'; column does not allow "
       "nulls. INSERT fails."},
      {SQLITE_CONSTRAINT_NOTNULL,
       "NOT NULL constraint failed: Sales.Price",
       "UPDATE",
       {},
       "Cannot insert the value NULL into column 'Price', table 'Sales'; column does not allow "
       "nulls. UPDATE fails."},
      {SQLITE_CONSTRAINT_UNIQUE,
       "UNIQUE constraint failed: Product.Code",
       "INSERT",
       {},
       "Cannot insert duplicate key row in object 'Product' with unique index 'Code'."},
      {SQLITE_CONSTRAINT_PRIMARYKEY,
       "UNIQUE constraint failed: Misc.GroupCode, Misc.Code",
       "INSERT",
       {},
       "Cannot insert duplicate key row in object 'Misc' with unique index 'GroupCode, Code'."},
      {SQLITE_CONSTRAINT_FOREIGNKEY,
       "FOREIGN KEY constraint failed",
       "DELETE",
       {"Orders"},
       "DELETE statement conflicted with COLUMN REFERENCE constraint on table 'Orders'."},
      {SQLITE_CONSTRAINT_FOREIGNKEY,
       "FOREIGN KEY constraint failed",
       "DELETE",
       {},
       "DELETE statement conflicted with COLUMN REFERENCE constraint."},
      {SQLITE_CONSTRAINT_FOREIGNKEY,
       "FOREIGN KEY constraint failed",
       "COMMIT",
       {},
       "FOREIGN KEY constraint failed"},
      {SQLITE_ERROR, "near \"selec\": syntax error", "SELEC", {}, "Incorrect syntax near 'selec'."},
      {SQLITE_ERROR,
       "near \"where\": syntax error",
       "SELECT",
       {},
       "Incorrect syntax near the keyword 'where'."},
      {SQLITE_ERROR, "unrecognized token: \"$\"", "SELECT", {}, "Incorrect syntax near '$'."},
      {SQLITE_ERROR, "parser stack overflow", "SELECT", {}, kNestedTooDeeply},
      {SQLITE_ERROR,
       "Expression tree is too large (maximum depth 1000)",
       "SELECT",
       {},
       kNestedTooDeeply},
      // names: a qualifier the statement names as a table or an alias binds, another does not
      {SQLITE_ERROR, "no such table: main.Nope", "SELECT", {}, "Invalid object name 'Nope'."},
      {SQLITE_ERROR,
       "no such column: c.Nope",
       "SELECT",
       {},
       "Invalid column name 'Nope'.",
       "select c.Nope from Customer c"},
      {SQLITE_ERROR,
       "no such column: Customer.Nope",
       "SELECT",
       {},
       "Invalid column name 'Nope'.",
       "select \"Customer\".Nope from \"Customer\""},
      {SQLITE_ERROR,
       "no such column: x.Code",
       "SELECT",
       {},
       "The multi-part identifier \"x.Code\" could not be bound.",
       "select x.Code from Customer c where c.Code = x.Code"},
      // the functions of the translation speak as the T-SQL text did
      {SQLITE_ERROR,
       "wrong number of arguments to function ifnull()",
       "SELECT",
       {},
       "The isnull function requires 2 argument(s)."},
      {SQLITE_ERROR,
       "misuse of aggregate function tsql_avg_int()",
       "SELECT",
       {},
       "Cannot perform an aggregate function on an expression containing an aggregate or a "
       "subquery.",
       "select max(tsql_avg_int(Id)) over (), min(tsql_sum(count(*))) from t"},
      {SQLITE_ERROR,
       "misuse of aggregate: count()",
       "SELECT",
       {},
       "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a "
       "HAVING clause or a select list, and the column being aggregated is an outer reference.",
       "select sum(x) over (order by max(y)) from t where count(*) > 1"},
      {SQLITE_ERROR,
       "misuse of aggregate function tsql_sum_bigint()",
       "UPDATE",
       {},
       "misuse of aggregate function sum()",
       "update t set a = tsql_sum_bigint(b)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ServerErrorOf(c.code, QString::fromUtf8(c.message), QString::fromUtf8(c.verb),
                            c.tables, false, QString::fromUtf8(c.statement))
                  .text,
              QString::fromUtf8(c.expected));
  }
}

// ---------------------------------------------------------------------------------------------
// Through the engine layer, over suites made here with the SQLite API.

class EmbeddedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    suite_ = dir_.path() + QStringLiteral("/suite");
    ASSERT_TRUE(QDir().mkpath(suite_ + QStringLiteral("/disk/C/Backup")));
    Make(QStringLiteral("master"), "");
  }

  QString Server() const { return QStringLiteral("embedded:") + suite_; }

  // Creates (or extends) database NAME of the suite with the SQLite API.
  void Make(const QString& name, const char* sql) { Exec(NewDatabaseFile(suite_, name), sql); }

  static void Exec(const QString& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  // The first column of the first row, read with the SQLite API, as text ("NULL" for null).
  static QString Scalar(const QString& file, const char* sql) {
    sqlite3* db = nullptr;
    QString value = QStringLiteral("<error>");
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW)
        value = sqlite3_column_type(st, 0) == SQLITE_NULL
                    ? QStringLiteral("NULL")
                    : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
  }

  QStringList Params(const QString& database) const {
    return {QStringLiteral("DATABASE NAME=") + database, QStringLiteral("SERVER NAME=") + Server(),
            QStringLiteral("USER NAME=qav"), QStringLiteral("PASSWORD=tarnwick")};
  }

  // A connection named "EMB" to database NAME, open.
  std::unique_ptr<TDatabase> Connect(const QString& database) {
    auto db = std::make_unique<TDatabase>();
    db->SetDatabaseName(QStringLiteral("EMB"));
    db->Params() = Params(database);
    db->Open();
    return db;
  }

  std::unique_ptr<BackendConnection> Backend(const QString& database) {
    return OpenBackend(ConnectSettings::FromParams(Params(database)));
  }

  static std::unique_ptr<TQuery> Query(const QStringList& lines) {
    auto q = std::make_unique<TQuery>();
    q->SetDatabaseName(QStringLiteral("EMB"));
    q->SetSQL(lines);
    return q;
  }

  static void ExecSQL(const QString& text) { Query({text})->ExecSQL(); }

  // The engine error a statement raises, or an empty one when it succeeds.
  static EDBEngineError ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const EDBEngineError& e) {
      return e;
    }
    return EDBEngineError(QString());
  }

  QTemporaryDir dir_;
  QString suite_;
};

TEST_F(EmbeddedTest, OpenFailuresReadLikeSqlServerAndCreateNothing) {
  const QStringList before = QDir(suite_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

  const EDBEngineError missingDb = ErrorOf([&] { Connect(QStringLiteral("NOPE")); });
  EXPECT_EQ(
      missingDb.Message(),
      QStringLiteral("Cannot open database \"NOPE\" requested by the login. The login failed."));
  ASSERT_EQ(missingDb.ErrorCount(), 1);

  TDatabase db;
  db.SetDatabaseName(QStringLiteral("EMB"));
  db.Params() = {QStringLiteral("DATABASE NAME=master"),
                 QStringLiteral("SERVER NAME=embedded:") + dir_.path() + QStringLiteral("/absent")};
  const EDBEngineError missingFolder = ErrorOf([&] { db.Open(); });
  EXPECT_TRUE(missingFolder.Message().startsWith(
      QStringLiteral("SQL Server does not exist or access denied.")));
  EXPECT_TRUE(missingFolder.Message().contains(dir_.path() + QStringLiteral("/absent")));
  EXPECT_FALSE(db.Connected());

  // the database name is found without regard to case; opening writes nothing into the suite
  EXPECT_TRUE(Connect(QStringLiteral("MASTER"))->Connected());
  EXPECT_EQ(QDir(suite_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

TEST_F(EmbeddedTest, SchemaUpdateAddsColumnsOnceAndTheyIgnoreCase) {
  Make(QStringLiteral("QAV_CONFIG"),
       "create table Menu (Id integer primary key, Command varchar(40), Caption nvarchar(60));"
       "create table UserName (Id integer primary key, Code varchar(10), LanguageNo int);"
       "insert into Menu values (1, 'EXPORT-TO', 'ส่งออกข้อมูล'), (2, null, 'Folder');"
       "insert into UserName values (7, 'ADMIN', 1);");
  const QStringList script = {
      QStringLiteral("If (Not Exists(Select Name From SysColumns\r\nWhere Id = (Select Id From "
                     "SysObjects Where Ltrim(Rtrim(Upper(Name))) = 'MENU') And\r\n"
                     "Ltrim(Rtrim(Upper(Name)))='VERSION'))\r\nBegin\r\nAlter Table Menu Add "
                     "Version Integer\r\nEnd"),
      QStringLiteral("Update Menu Set Version = 3 Where Version Is Null And Command Is Not Null"),
      QStringLiteral(
          "If Not Exists(select Id From SysColumns Where Name = 'UserSeeImport' And Id = "
          "(Select Id From SysObjects Where Name = 'UserName'))\r\nAlter Table UserName "
          "Add UserSeeImport Char(1)"),
      QStringLiteral("If Not Exists(select Id From SysColumns Where Name = 'UserSeeCost' And Id = "
                     "(Select Id From SysObjects Where Name = 'UserName'))\r\nAlter Table UserName "
                     "Add UserSeeCost Char(1)"),
  };
  const QString file = NewDatabaseFile(suite_, QStringLiteral("QAV_CONFIG"));
  auto db = Connect(QStringLiteral("QAV_CONFIG"));
  for (const QString& statement : script) ExecSQL(statement);
  EXPECT_EQ(Scalar(file, "select group_concat(coalesce(Version, 'NULL')) from Menu order by Id"),
            QStringLiteral("3,NULL"));
  const QString schemaVersion = Scalar(file, "pragma schema_version");

  auto update = Query({script[1]});
  for (const QString& statement : script) {
    if (statement == script[1]) {
      update->ExecSQL();
      EXPECT_EQ(update->RowsAffected(), 0);
    } else {
      ExecSQL(statement);
    }
  }
  EXPECT_EQ(Scalar(file, "pragma schema_version"), schemaVersion);
  EXPECT_EQ(Scalar(file, "select count(*) from pragma_table_info('UserName')"),
            QStringLiteral("5"));

  // the new text columns compare like SQL Server's default collation
  ExecSQL(QStringLiteral("update UserName set UserSeeImport = 'y'"));
  auto q = Query({QStringLiteral("select Code from UserName where UserSeeImport = 'Y'")});
  q->Open();
  EXPECT_EQ(q->RecordCount(), 1);
}

// A text index that another program ordered by SQLite's own NOCASE is ordered again, once, by
// SQL Server's comparison: a lookup through it then finds every row that comparison finds.
TEST_F(EmbeddedTest, TextIndexesOfOtherWritersAreOrderedOnceBySqlServersComparison) {
  Make(QStringLiteral("OLD"),
       "create table Names (v varchar(10) collate nocase); create index NamesV on Names (v); "
       "insert into Names values ('A'), ('a '), ('\xc3\x84'), ('\xc3\x9c'), ('\xc3\xa4');");
  const QString file = FindDatabaseFile(suite_, QStringLiteral("OLD"));
  ASSERT_EQ(Scalar(file, "PRAGMA user_version"), QStringLiteral("0"));
  {
    const auto backend = Backend(QStringLiteral("OLD"));
    const auto result =
        backend->Execute(QStringLiteral("select (select count(*) from Names where v = N'ä'), "
                                        "(select count(*) from Names where v = 'a'), "
                                        "(select count(*) from Names where v > 'A' and v < N'ü')"),
                         {});
    ASSERT_TRUE(result);
    EXPECT_EQ(test::TsqlResultText(*result), QStringLiteral("2|2|2"));
    const auto check = backend->Execute(QStringLiteral("PRAGMA integrity_check"), {});
    ASSERT_TRUE(check);
    EXPECT_EQ(test::TsqlResultText(*check), QStringLiteral("ok"));
  }
  EXPECT_EQ(Scalar(file, "PRAGMA user_version"), QString::number(1 << 20));
}

TEST_F(EmbeddedTest, SysDatabasesListsTheSuite) {
  const QString check = QStringLiteral("Select * From SysDatabases Where Name = 'QAV_Config_WEP'");
  Make(QStringLiteral("QAV_CONFIG"), "");
  {
    auto db = Connect(QStringLiteral("master"));
    auto q = Query({check});
    q->Open();
    EXPECT_TRUE(q->IsEmpty());
  }
  Make(QStringLiteral("QAV_CONFIG_WEP"), "");
  auto db = Connect(QStringLiteral("QAV_CONFIG"));  // there in every database
  auto q = Query({check});
  q->Open();
  ASSERT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(q->FieldByName(QStringLiteral("name")).AsString(), QStringLiteral("QAV_CONFIG_WEP"));
  EXPECT_TRUE(q->FieldByName(QStringLiteral("FileName"))
                  .AsString()
                  .endsWith(QStringLiteral("QAV_CONFIG_WEP.db")));
  auto all = Query({QStringLiteral("select name from sysdatabases order by dbid")});
  all->Open();
  EXPECT_EQ(all->FieldByName(QStringLiteral("NAME")).AsString(), QStringLiteral("master"));
  EXPECT_EQ(all->RecordCount(), 3);
}

TEST_F(EmbeddedTest, CatalogListsObjectsAndColumnsWithoutRegardToCase) {
  Make(QStringLiteral("CFG"),
       "create table UserName (Id integer primary key, Code varchar(10) not null, Photo image);"
       "create view ActiveUsers as select Id, Code from UserName;"
       "create index ix_code on UserName(Code);");
  auto db = Connect(QStringLiteral("CFG"));
  auto objects = Query({QStringLiteral("select Name, XType from SysObjects order by Name")});
  objects->Open();
  QStringList listed;
  for (objects->First(); !objects->Eof(); objects->Next())
    listed << objects->Fields(0).AsString() + u':' + objects->Fields(1).AsString();
  EXPECT_EQ(listed, QStringList({QStringLiteral("ActiveUsers:V"), QStringLiteral("UserName:U")}));

  // procedures appear once their table exists, on a connection already open
  ExecSQL(QString::fromLatin1(kProcedureTableDdl));
  ExecSQL(QStringLiteral("insert into qav_procedures values ('GetUser', 'select 1')"));
  auto proc = Query({QStringLiteral("select xtype from sysobjects where name = 'GETUSER'")});
  proc->Open();
  EXPECT_EQ(proc->Fields(0).AsString(), QStringLiteral("P"));

  auto columns = Query(
      {QStringLiteral(
           "select c.Name, c.ColId, c.TypeName, c.Length, c.IsNullable from SysColumns c"),
       QStringLiteral(
           "where c.Id = (Select Id From SysObjects Where Ltrim(Rtrim(Upper(Name))) = 'USERNAME')"),
       QStringLiteral("and c.Name in ('CODE', 'photo') order by c.ColId")});
  columns->Open();
  ASSERT_EQ(columns->RecordCount(), 2);
  EXPECT_EQ(columns->Fields(0).AsString(), QStringLiteral("Code"));
  EXPECT_EQ(columns->Fields(1).AsInteger(), 2);
  EXPECT_EQ(columns->Fields(2).AsString(), QStringLiteral("varchar"));
  EXPECT_EQ(columns->Fields(3).AsInteger(), 10);
  EXPECT_EQ(columns->Fields(4).AsInteger(), 0);
  columns->Next();
  EXPECT_EQ(columns->Fields(0).AsString(), QStringLiteral("Photo"));

  // ids agree between the two tables and stay the same on the connection
  auto ids =
      Query({QStringLiteral("select (select id from sysobjects where name = 'username'),"
                            " (select distinct id from syscolumns where name = 'photo')")});
  ids->Open();
  const qint64 id = ids->Fields(0).AsLargeInt();
  EXPECT_GT(id, 0);
  EXPECT_EQ(ids->Fields(1).AsLargeInt(), id);
  ids->Close();
  ids->Open();
  EXPECT_EQ(ids->Fields(0).AsLargeInt(), id);
}

TEST_F(EmbeddedTest, CurrencyQueryWithRankJoinsTheNewestRatesOnly) {
  Make(QStringLiteral("DEMO"),
       "create table Misc (Id integer primary key, GroupCode varchar(20), Code varchar(10), "
       "Description nvarchar(60), OrderNo int);"
       "create table CurrencyEx (Currency int, ExchangeDate datetime, PurcScrap money, PurcPart "
       "money,"
       " PurcRate money, SaleScrap money, SalePart money, SaleRate money);"
       "insert into Misc values (1, 'CURRENCY', 'THB', 'บาท', 1), (2, 'CURRENCY', 'USD', 'Dollar', "
       "2),"
       " (3, 'UNIT', 'PCS', 'Piece', 1);"
       "insert into CurrencyEx values (2, '2024-01-01 00:00:00', 0, 0, 35, 0, 0, 35.5),"
       " (2, '2024-02-01 00:00:00', 0, 0, 36.25, 0, 0, 36.75), (1, '2024-01-15 00:00:00', 0, 0, 1, "
       "0, 0, 1);");
  auto db = Connect(QStringLiteral("DEMO"));
  auto q = Query(
      {QStringLiteral(
           "Select M.*, C.PurcScrap, C.PurcPart, C.PurcRate, C.SaleScrap, C.SalePart, C.SaleRate"),
       QStringLiteral("From Misc M"),
       QStringLiteral("Left Join (Select Currency, PurcScrap, PurcPart, PurcRate, SaleScrap, "
                      "SalePart, SaleRate"),
       QStringLiteral(
           "           From (Select RANK()Over ( Order BY C.ExchangeDate Desc) AS RowNumber,"),
       QStringLiteral(
           "                         C.Currency, C.PurcScrap,  C.PurcPart,  C.PurcRate,"),
       QStringLiteral("\t\t\t\t\t\t C.SaleScrap,  C.SalePart , C.SaleRate"),
       QStringLiteral("                 From CurrencyEx C"), QStringLiteral("\t\t\t\t) As C "),
       QStringLiteral("\t\t   Where RowNumber = 1"),
       QStringLiteral("\t\t   ) As C On (C.Currency = M.Id)"),
       QStringLiteral("Where M.GroupCode = 'CURRENCY'"), QStringLiteral("Order by M.OrderNo")});
  q->Open();
  ASSERT_EQ(q->RecordCount(), 2);
  EXPECT_EQ(q->FieldByName(QStringLiteral("Description")).AsString(), QStringLiteral("บาท"));
  EXPECT_TRUE(q->FieldByName(QStringLiteral("PurcRate")).IsNull());
  q->Next();
  EXPECT_EQ(q->FieldByName(QStringLiteral("Code")).AsString(), QStringLiteral("USD"));
  EXPECT_EQ(q->FieldByName(QStringLiteral("PurcRate")).AsFloat(), 36.25);
  EXPECT_EQ(q->FieldByName(QStringLiteral("SaleRate")).DataType(), ftCurrency);
}

TEST_F(EmbeddedTest, StoredProceduresFillOutputsByColumnName) {
  Make(QStringLiteral("QAV_CONFIG"),
       "create table Menu (Id integer primary key, Caption nvarchar(60));"
       "create table UserName (Id integer primary key, Code varchar(10), SalesId int);"
       "create table ErrorLog (CompName varchar(20), LogName varchar(20), UserId int, MenuId int,"
       " ErrorMsg text, Extra varchar(10));"
       "insert into Menu values (5, ' ส่งออกข้อมูล ');"
       "insert into UserName values (7, 'ADMIN', 12);");
  Exec(NewDatabaseFile(suite_, QStringLiteral("QAV_CONFIG")), kProcedureTableDdl);
  Exec(NewDatabaseFile(suite_, QStringLiteral("QAV_CONFIG")),
       "insert into qav_procedures values ('MenuCaption', '"
       "select m.Caption as \"@CAPTION\", ''Y'' as ACCESS_R, u.Code as \"@UserCode\","
       " u.SalesId as \"@SALESID\", 1 as \"@ADD_R\", 0 as RETURN_VALUE"
       " from Menu m, UserName u where m.Id = @MENUID and u.Id = @USERID;"
       " update Menu set Caption = Caption where 0');"
       "insert into qav_procedures values ('AddErrorLog', 'insert into ErrorLog values"
       " (@CompName, @LogName, @UserId, @MenuId, @ErrorMsg, @NotGiven)');");
  auto db = Connect(QStringLiteral("QAV_CONFIG"));

  TStoredProc sp;
  sp.SetDatabaseName(QStringLiteral("EMB"));
  sp.SetStoredProcName(QStringLiteral("dbo.MENUCAPTION"));
  sp.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  sp.Params().CreateParam(ftInteger, QStringLiteral("@MENUID"), ptInput).SetAsInteger(5);
  sp.Params().CreateParam(ftInteger, QStringLiteral("@USERID"), ptInput).SetAsInteger(7);
  for (const char* name : {"@CAPTION", "@ACCESS_R", "@ADD_R", "@MODIFY_R", "@USERCODE"})
    sp.Params().CreateParam(ftString, QString::fromLatin1(name), ptOutput);
  sp.Params().CreateParam(ftInteger, QStringLiteral("@SALESID"), ptOutput);
  sp.Params()
      .CreateParam(ftString, QStringLiteral("@NOTE"), ptInputOutput)
      .SetAsString(QStringLiteral("kept"));
  sp.ExecProc();
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@CAPTION")).Value(),
            QVariant(QStringLiteral(" ส่งออกข้อมูล ")));
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@ACCESS_R")).AsString(), QStringLiteral("Y"));
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@ADD_R")).Value(), QVariant(QStringLiteral("1")));
  EXPECT_TRUE(sp.ParamByName(QStringLiteral("@MODIFY_R")).IsNull());
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@USERCODE")).AsString(), QStringLiteral("ADMIN"));
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@SALESID")).Value(), QVariant::fromValue<qint64>(12));
  EXPECT_EQ(sp.ParamByName(QStringLiteral("Result")).Value(), QVariant::fromValue<qint64>(0));
  EXPECT_EQ(sp.ParamByName(QStringLiteral("@NOTE")).AsString(), QStringLiteral("kept"));

  TStoredProc log;
  log.SetDatabaseName(QStringLiteral("EMB"));
  log.SetStoredProcName(QStringLiteral("AddErrorLog"));
  log.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  log.Params()
      .CreateParam(ftString, QStringLiteral("@CompName"), ptInput)
      .SetAsString(QStringLiteral("PC1"));
  log.Params()
      .CreateParam(ftString, QStringLiteral("@LogName"), ptInput)
      .SetAsString(QStringLiteral("SOMCHAI"));
  log.Params().CreateParam(ftInteger, QStringLiteral("@UserId"), ptInput).SetAsInteger(7);
  log.Params().CreateParam(ftInteger, QStringLiteral("@MenuId"), ptInput).SetAsInteger(5);
  log.Params()
      .CreateParam(ftString, QStringLiteral("@ErrorMsg"), ptInput)
      .SetAsString(kThaiCompany);
  log.ExecProc();
  EXPECT_EQ(log.ParamByName(QStringLiteral("Result")).Value(), QVariant::fromValue<qint64>(0));
  EXPECT_EQ(Scalar(NewDatabaseFile(suite_, QStringLiteral("QAV_CONFIG")),
                   "select CompName || '|' || UserId || '|' || ErrorMsg || '|' || coalesce(Extra, "
                   "'NULL') from ErrorLog"),
            QStringLiteral("PC1|7|") + kThaiCompany + QStringLiteral("|NULL"));

  sp.SetStoredProcName(QStringLiteral("NoSuchProc"));
  EXPECT_EQ(ErrorOf([&] { sp.ExecProc(); }).Message(),
            QStringLiteral("Could not find stored procedure 'NoSuchProc'."));
}

TEST_F(EmbeddedTest, MissingProcedureTableMeansNoProcedure) {
  auto db = Connect(QStringLiteral("master"));
  TStoredProc sp;
  sp.SetDatabaseName(QStringLiteral("EMB"));
  sp.SetStoredProcName(QStringLiteral("MENUCAPTION"));
  EXPECT_EQ(ErrorOf([&] { sp.ExecProc(); }).Message(),
            QStringLiteral("Could not find stored procedure 'MENUCAPTION'."));
}

TEST_F(EmbeddedTest, BackupWritesAReadableCopyAndReportsSqlServerErrors) {
  Make(QStringLiteral("DEMO"),
       "create table T (Name nvarchar(40)); insert into T values ('ทดสอบ');");
  auto db = Connect(QStringLiteral("master"));
  const QString target = suite_ + QStringLiteral("/disk/C/Backup/DEMO20240131.Bak");
  {
    QFile old(target);  // an earlier file of that name is replaced
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old backup");
  }
  ExecSQL(
      QStringLiteral("backup database DEMO To Disk = 'C:\\Backup\\DEMO20240131.Bak' with Format"));
  EXPECT_EQ(Scalar(target, "select Name from T"), QStringLiteral("ทดสอบ"));
  ExecSQL(QStringLiteral("BACKUP  DATABASE demo\r\nTO DISK='c:/DEMO.bak' WITH FORMAT"));
  EXPECT_EQ(Scalar(suite_ + QStringLiteral("/disk/C/DEMO.bak"), "select count(*) from T"),
            QStringLiteral("1"));

  const QString terminated = QStringLiteral("\nBACKUP DATABASE is terminating abnormally.");
  const QString noPath =
      QStringLiteral("'. Operating system error 3(The system cannot find the path specified.).");
  struct Case {
    QString statement;
    QString message;
  };
  const Case cases[] = {
      {QStringLiteral("backup database NOPE To Disk = 'C:\\N.Bak' with Format"),
       QStringLiteral(
           "Could not locate entry in sysdatabases for database 'NOPE'. No entry found with "
           "that name. Make sure that the name is entered correctly.") +
           terminated},
      {QStringLiteral("backup database DEMO To Disk = 'DEMO.Bak' with Format"),
       QStringLiteral("Cannot open backup device 'DEMO.Bak") + noPath + terminated},
      {QStringLiteral("backup database DEMO To Disk = 'C:\\NoFolder\\DEMO.Bak' with Format"),
       QStringLiteral("Cannot open backup device 'C:\\NoFolder\\DEMO.Bak") + noPath + terminated},
      {QStringLiteral("backup database DEMO To Disk = 'D:\\DEMO.Bak' with Format"),
       QStringLiteral("Cannot open backup device 'D:\\DEMO.Bak") + noPath + terminated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement.toStdString());
    EXPECT_EQ(ErrorOf([&] { ExecSQL(c.statement); }).Message(), c.message);
  }

  // a copy that fails half-way leaves the earlier backup as it was and no stray file
  {
    QFile bad(NewDatabaseFile(suite_, QStringLiteral("BAD")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(8192, 'x'));
  }
  EXPECT_FALSE(ErrorOf([&] {
                 ExecSQL(QStringLiteral(
                     "backup database BAD To Disk = 'C:\\Backup\\DEMO20240131.Bak' with Format"));
               })
                   .Message()
                   .isEmpty());
  EXPECT_EQ(Scalar(target, "select Name from T"), QStringLiteral("ทดสอบ"));
  EXPECT_EQ(QDir(suite_ + QStringLiteral("/disk/C/Backup")).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("DEMO20240131.Bak")});
}

TEST_F(EmbeddedTest, ErrorsCarrySqlServerTextsAndSqliteCodes) {
  Make(QStringLiteral("DEMO"),
       "create table Customer (Id integer primary key, Code varchar(10) not null unique collate "
       "nocase,"
       " Name nvarchar(60));"
       "create table Orders (Id integer primary key, CustomerId int references Customer(Id));"
       "insert into Customer values (1, 'A', 'ลูกค้า');"
       "insert into Orders values (1, 1);");
  auto db = Connect(QStringLiteral("DEMO"));
  struct Case {
    const char* statement;
    QString message;
    int code;
    int number;  // SQL Server's
  };
  const Case cases[] = {
      {"insert into Customer (Id, Code) values (2, null)",
       QStringLiteral(
           "Cannot insert the value NULL into column 'Code', table 'Customer'; column does "
           "not allow nulls. INSERT fails."),
       SQLITE_CONSTRAINT_NOTNULL, 515},
      {"update Customer set Code = null",
       QStringLiteral(
           "Cannot insert the value NULL into column 'Code', table 'Customer'; column does "
           "not allow nulls. UPDATE fails."),
       SQLITE_CONSTRAINT_NOTNULL, 515},
      {"insert into Customer (Id, Code) values (2, 'a')",
       QStringLiteral(
           "Cannot insert duplicate key row in object 'Customer' with unique index 'Code'."),
       SQLITE_CONSTRAINT_UNIQUE, 2601},
      {"insert into Customer (Id, Code) values (1, 'B')",
       QStringLiteral(
           "Cannot insert duplicate key row in object 'Customer' with unique index 'Id'."),
       SQLITE_CONSTRAINT_PRIMARYKEY, 2601},
      {"delete from Customer where Id = 1",
       QStringLiteral(
           "DELETE statement conflicted with COLUMN REFERENCE constraint on table 'Orders'."),
       SQLITE_CONSTRAINT_FOREIGNKEY, 547},
      {"selec 1", QStringLiteral("Incorrect syntax near 'selec'."), SQLITE_ERROR, 102},
      {"select * from NoSuchTable", QStringLiteral("Invalid object name 'NoSuchTable'."),
       SQLITE_ERROR, 208},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const EDBEngineError e = ErrorOf([&] { ExecSQL(QString::fromUtf8(c.statement)); });
    EXPECT_EQ(e.Message(), c.message);
    ASSERT_GE(e.ErrorCount(), 1);
    EXPECT_EQ(e.Errors()[0].ErrorCode, c.code);
    EXPECT_EQ(e.Errors()[0].NativeError, c.number);
    EXPECT_EQ(e.Errors()[0].Message, c.message);
  }

  auto q = Query({QStringLiteral("select Code from Customer")});
  q->Open();
  EXPECT_THROW(q->FieldByName(QStringLiteral("Missing")), EDatabaseError);
}

TEST_F(EmbeddedTest, ResultFieldsAreTypedLikeSqlServerColumns) {
  Make(
      QStringLiteral("DEMO"),
      "create table Types (i int, si smallint, ti tinyint, bi bigint, b bit, m money, d "
      "decimal(18,4),"
      " f float, r real, dt date, tm time, dtt datetime, sdt smalldatetime, c char(3), nc nchar(5),"
      " v varchar(20), nv nvarchar(40), tx text, nt ntext, bn binary(4), vb varbinary(8), img "
      "image,"
      " cnon char, vnon nvarchar, big int);"
      "insert into Types values (1, 2, 3, 5000000000, 1, 12, 1.5, 2.25, 0.5, '2024-01-31',"
      " '10:15:00', '2024-01-31 10:15:30.250', '1999-12-31 23:59:00', 'AB', 'x', 'บริษัท', 'abc',"
      " 'memo', 'ntext', x'01020304', x'0102', x'00ff', 'abcd', 'ทดสอบ', 5000000000);"
      "insert into Types (i, dtt) values (null, 'not a date');");
  auto db = Connect(QStringLiteral("DEMO"));
  auto q = Query({QStringLiteral("select * from Types")});
  q->Open();
  struct Expect {
    const char* name;
    TFieldType type;
    int size;
  };
  const Expect expected[] = {
      {"i", ftInteger, 0},    {"si", ftSmallint, 0},    {"ti", ftSmallint, 0},
      {"bi", ftLargeint, 0},  {"b", ftBoolean, 0},      {"m", ftCurrency, 0},
      {"d", ftBCD, 0},        {"f", ftFloat, 0},        {"r", ftFloat, 0},
      {"dt", ftDate, 0},      {"tm", ftTime, 0},        {"dtt", ftDateTime, 0},
      {"sdt", ftDateTime, 0}, {"c", ftFixedChar, 3},    {"nc", ftFixedChar, 5},
      {"v", ftString, 20},    {"nv", ftString, 40},     {"tx", ftMemo, 0},
      {"nt", ftMemo, 0},      {"bn", ftBytes, 4},       {"vb", ftVarBytes, 8},
      {"img", ftBlob, 0},     {"cnon", ftFixedChar, 4}, {"vnon", ftString, 5},
      {"big", ftLargeint, 0},  // declared int, holding a value beyond 32 bits
  };
  ASSERT_EQ(q->FieldCount(), static_cast<int>(std::size(expected)));
  for (int i = 0; i < q->FieldCount(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(q->Fields(i).FieldName(), QString::fromLatin1(expected[i].name));
    EXPECT_EQ(q->Fields(i).DataType(), expected[i].type);
    EXPECT_EQ(q->Fields(i).Size(), expected[i].size);
  }
  EXPECT_EQ(q->Store()->KindAt(0, 5), RowStore::Kind::Float);  // money stored as an integer
  EXPECT_EQ(q->FieldByName(QStringLiteral("bi")).AsLargeInt(), 5000000000LL);
  EXPECT_EQ(q->FieldByName(QStringLiteral("dtt")).AsDateTime(),
            EncodeDateTime(QDate(2024, 1, 31), QTime(10, 15, 30, 250)));
  EXPECT_EQ(q->FieldByName(QStringLiteral("dt")).AsString(), QStringLiteral("31/01/2024"));
  EXPECT_EQ(q->FieldByName(QStringLiteral("tm")).AsString(), QStringLiteral("10:15:00"));
  EXPECT_EQ(q->FieldByName(QStringLiteral("v")).AsString(), QStringLiteral("บริษัท"));
  EXPECT_EQ(q->FieldByName(QStringLiteral("bn")).AsBytes(), QByteArray("\x01\x02\x03\x04", 4));
  q->Next();
  EXPECT_TRUE(q->FieldByName(QStringLiteral("i")).IsNull());
  EXPECT_EQ(q->Store()->KindAt(1, 11), RowStore::Kind::Bytes);  // an unreadable date is kept
  EXPECT_EQ(q->FieldByName(QStringLiteral("dtt")).AsString(), QStringLiteral("not a date"));

  // without a declared type the values decide
  auto e = Query(
      {QStringLiteral("select 1 as a, 3000000000 as b, 1.5 as c, 'ab' as d, x'0001' as e,"
                      " null as f, :Thai as g, i + 1 as h, coalesce(v, 'x') as k from Types")});
  e->ParamByName(QStringLiteral("Thai")).SetAsString(kThaiCompany);
  e->Open();
  const Expect inferred[] = {{"a", ftInteger, 0},
                             {"b", ftLargeint, 0},
                             {"c", ftFloat, 0},
                             {"d", ftString, 2},
                             {"e", ftBlob, 0},
                             {"f", ftString, 1},
                             {"g", ftString, static_cast<int>(kThaiCompany.size())},
                             {"h", ftInteger, 0},
                             {"k", ftString, 6}};
  ASSERT_EQ(e->FieldCount(), static_cast<int>(std::size(inferred)));
  for (int i = 0; i < e->FieldCount(); ++i) {
    SCOPED_TRACE(inferred[i].name);
    EXPECT_EQ(e->Fields(i).DataType(), inferred[i].type);
    EXPECT_EQ(e->Fields(i).Size(), inferred[i].size);
  }
  EXPECT_EQ(e->FieldByName(QStringLiteral("g")).AsString(), kThaiCompany);
}

TEST_F(EmbeddedTest, BindsArgumentsAcrossStatementsAndBranches) {
  Make(QStringLiteral("DEMO"), "create table P (x, d datetime, s nvarchar(40));");
  auto backend = Backend(QStringLiteral("DEMO"));
  auto rows = backend->Execute(
      QStringLiteral("insert into P (x) values (?);\n"
                     "If Exists(select 1 from P where x = ?) insert into P (x) values (?) "
                     "Else insert into P (x) values (?);\n"
                     "insert into P (x, d, s) values (?, ?, ?); select x from P order by x"),
      {QVariant::fromValue<qint64>(1), QVariant::fromValue<qint64>(0),
       QVariant::fromValue<qint64>(2), QVariant::fromValue<qint64>(3), QVariant(true),
       QVariant(QDateTime(QDate(2024, 1, 31), QTime(10, 15, 0, 5))), QVariant(kThaiCompany)});
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->rows.Rows(), 3);
  EXPECT_EQ(rows->rows.IntAt(0, 0), 1);
  EXPECT_EQ(rows->rows.IntAt(1, 0), 1);   // true
  EXPECT_EQ(rows->rows.IntAt(2, 0), 3);   // the Else branch took its own value
  EXPECT_EQ(backend->RowsAffected(), 1);  // of the last insert; the select changes nothing
  EXPECT_EQ(Scalar(NewDatabaseFile(suite_, QStringLiteral("DEMO")),
                   "select d || '|' || s from P where d is not null"),
            QStringLiteral("2024-01-31 10:15:00.005|") + kThaiCompany);

  EXPECT_EQ(backend->Execute(QStringLiteral("update P set x = x"), {}), nullptr);
  EXPECT_EQ(backend->RowsAffected(), 3);
  backend->Execute(QStringLiteral("create table Q (y)"), {});
  EXPECT_EQ(backend->RowsAffected(), -1);
  EXPECT_THROW(backend->Execute(QStringLiteral("select ?, ?"), {QVariant(1)}), EDBEngineError);

  // ":Name" parameters of a query reach the statement in order
  auto db = Connect(QStringLiteral("DEMO"));
  auto q = Query({QStringLiteral("select count(*) from P where s = :Name and d > :After")});
  q->ParamByName(QStringLiteral("Name")).SetAsString(kThaiCompany);
  q->ParamByName(QStringLiteral("After")).SetAsDateTime(QDateTime(QDate(2024, 1, 31), QTime(0, 0)));
  q->Open();
  EXPECT_EQ(q->Fields(0).AsInteger(), 1);
}

// A script as SQL Server Management Studio writes it leaves out the ";": every statement runs,
// blocks and branches included, and SET NOCOUNT ON keeps the counts out of the notes.
TEST_F(EmbeddedTest, RunsEveryStatementOfABatchWithOrWithoutSemicolons) {
  Make(QStringLiteral("DEMO"), "create table T (Id int primary key, Name nvarchar(40));");
  auto backend = Backend(QStringLiteral("DEMO"));
  QString script;
  for (int i = 1; i <= 300; ++i)
    script += QStringLiteral("INSERT [dbo].[T] ([Id], [Name]) VALUES (%1, N'%2 %1')\n")
                  .arg(i)
                  .arg(kThaiCompany);
  auto count = backend->Execute(script + QStringLiteral("SELECT COUNT(*) FROM T"), {});
  ASSERT_TRUE(count);
  EXPECT_EQ(count->rows.IntAt(0, 0), 300);

  backend->TakeNotes();
  auto both = backend->Execute(QStringLiteral("declare @n int = 3\n"
                                              "if @n > 2\n"
                                              "begin\n"
                                              "  update T set Name = N'x' where Id = 1\n"
                                              "  update T set Name = N'y' where Id = 2\n"
                                              "end\n"
                                              "else\n"
                                              "  delete from T\n"
                                              "select count(*) from T where Name in ('x', 'y')"),
                               {});
  ASSERT_TRUE(both);
  EXPECT_EQ(both->rows.IntAt(0, 0), 2);
  auto countNotes = [&] {
    int n = 0;
    for (const StatementNote& note : backend->TakeNotes())
      n += note.kind == StatementNote::Kind::RowsAffected ? 1 : 0;
    return n;
  };
  EXPECT_EQ(countNotes(), 2);
  backend->Execute(QStringLiteral("SET NOCOUNT ON\nupdate T set Name = Name where Id < 5"), {});
  EXPECT_EQ(countNotes(), 0);
  EXPECT_EQ(backend->RowsAffected(), 4);
  backend->Execute(QStringLiteral("SET NOCOUNT OFF\nupdate T set Name = Name where Id < 5"), {});
  EXPECT_EQ(countNotes(), 1);
}

// As SQL Server numbers them: the line of the failing statement inside its batch, on both paths.
TEST_F(EmbeddedTest, ErrorsNameTheLineOfTheFailingStatement) {
  Make(QStringLiteral("DEMO"), "create table T (x int);");
  auto backend = Backend(QStringLiteral("DEMO"));
  struct Case {
    const char* sql;
    const char* message;
    int line;
  };
  const Case cases[] = {
      {"\n\nselect 1/0", "Divide by zero error encountered.", 3},
      {"select 1\nif 1 = 1\nbegin\n  select 2\n  select 1/0\nend",
       "Divide by zero error encountered.", 5},
      {"select 1\nend", "Incorrect syntax near the keyword 'END'.", 2},
      {"insert into T values (1)\nselect 1 as a\n/* select 2 as b",
       "Missing end comment mark '*/'.", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    for (bool cursor : {false, true}) {
      const EDBEngineError e = ErrorOf([&] {
        if (cursor)
          backend->OpenCursor(QString::fromUtf8(c.sql), {});
        else
          backend->Execute(QString::fromUtf8(c.sql), {});
      });
      EXPECT_EQ(e.Message(), QString::fromUtf8(c.message));
      ASSERT_GE(e.ErrorCount(), 1);
      EXPECT_EQ(e.Errors()[0].Line, c.line);
    }
  }
  // A batch that cannot be read runs nothing of it.
  EXPECT_EQ(Scalar(NewDatabaseFile(suite_, QStringLiteral("DEMO")), "select count(*) from T"),
            QStringLiteral("0"));
}

TEST_F(EmbeddedTest, SqlServerFunctionsAndTransactions) {
  Make(QStringLiteral("DEMO"), "create table T (x int);");
  auto backend = Backend(QStringLiteral("DEMO"));
  auto r = backend->Execute(
      QStringLiteral("select IsNull(null, 'x'), len('ab  '), len('ทดสอบ'), len(null), getdate()"),
      {});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->rows.BytesAt(0, 0), "x");
  EXPECT_EQ(r->rows.IntAt(0, 1), 2);
  EXPECT_EQ(r->rows.IntAt(0, 2), 5);
  EXPECT_TRUE(r->rows.IsNull(0, 3));
  // getdate() is a datetime, as on SQL Server: the server's wall clock.
  EXPECT_EQ(r->fields[4].type, ftDateTime);
  EXPECT_NEAR(r->rows.FloatAt(0, 4), EncodeDateTime(QDateTime::currentDateTime()), 1.0 / 24);

  EXPECT_FALSE(backend->InTransaction());
  backend->StartTransaction();
  EXPECT_TRUE(backend->InTransaction());
  backend->Execute(QStringLiteral("insert into T values (1)"), {});
  backend->Rollback();
  EXPECT_FALSE(backend->InTransaction());
  backend->StartTransaction();
  backend->Execute(QStringLiteral("insert into T values (2)"), {});
  backend->Commit();
  EXPECT_EQ(
      Scalar(NewDatabaseFile(suite_, QStringLiteral("DEMO")), "select group_concat(x) from T"),
      QStringLiteral("2"));
}

TEST_F(EmbeddedTest, AStatementWaitsForALockAndSaysWhoHoldsItWhenTheWaitRunsOut) {
  Make(QStringLiteral("LOCKED"), "CREATE TABLE T (a int); INSERT INTO T VALUES (1);");
  sqlite3* writer = nullptr;
  ASSERT_EQ(
      sqlite3_open(QFile::encodeName(NewDatabaseFile(suite_, QStringLiteral("LOCKED"))).constData(),
                   &writer),
      SQLITE_OK);
  QList<int> told;
  SetEmbeddedLockWait({1500, [&](int seconds) { told << seconds; }});
  ConnectSettings settings;
  settings.server = Server();
  settings.database = QStringLiteral("LOCKED");
  auto connection = OpenEmbedded(settings);
  SetEmbeddedLockWait({});
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  try {
    connection->Execute(QStringLiteral("select a from T"), {});
    ADD_FAILURE() << "read past an exclusive lock";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(
        "The database LOCKED is locked by another program; the wait for it ran out."))
        << e.Message().toStdString();
    EXPECT_TRUE(e.Message().contains("database is locked")) << e.Message().toStdString();
  }
  EXPECT_EQ(told, QList<int>{1});
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  EXPECT_EQ(connection->Execute(QStringLiteral("select a from T"), {})->rows.Rows(), 1);
}

}  // namespace
}  // namespace qav::db
