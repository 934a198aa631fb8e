// The configuration and company modules against demo suites, reached both ways users reach a
// server: the embedded back end, and ODBC through FreeTDS to the TDS test server.
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "core/Exception.h"
#include "db/Database.h"
#include "db/Query.h"
#include "script/SQLScript.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

using namespace qav;

namespace {

// What the schema update may change: the configuration tables' columns and the menus' rows.
QStringList ConfigSnapshot() {
  db::TQuery q;
  q.SetDatabaseName(QStringLiteral("DmCfg"));
  QStringList out;
  for (const char* sql :
       {"select o.Name, c.Name from SysObjects o join SysColumns c on c.Id = o.Id "
        "where o.Name in ('Menu', 'UserName') order by o.Name, c.Name",
        "select * from Menu order by Id"}) {
    q.SetSQL(QString::fromLatin1(sql));
    q.Open();
    for (; !q.Eof(); q.Next()) {
      QStringList row;
      for (int f = 0; f < q.FieldCount(); ++f) row << q.Fields(f).AsString();
      out << row.join(u'|');
    }
    q.Close();
  }
  return out;
}

// The parameter: whether the suite is reached through the TDS test server.
class Modules : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      if (!QFile::exists("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"))
        GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
      auto tds = std::make_unique<test::TdsDemoSuite>(40);
      server_ = tds->Address();
      folder_ = std::move(tds);
    } else {
      folder_ = std::make_unique<test::DemoSuiteFolder>(40);
      server_ = QStringLiteral("embedded:suite");
    }
    Dialogs::SetAnswerer([this](const DialogRequest& r) {
      shown_ << r.text;
      return DialogReply{true, {}, 1};
    });
  }
  void TearDown() override { Dialogs::SetAnswerer({}); }

  std::unique_ptr<test::DemoSuiteFolder> folder_;
  QString server_;  // as Server.Dat names it
  QStringList shown_;
};

// What only the embedded back end allows: moving the suite on disk.
class EmbeddedModules : public Modules {};

}  // namespace

TEST_P(Modules, FirstQueryConnectsUpdatesTheSchemaOnceAndFindsTheCompany) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("demo"));
  EXPECT_EQ(config.CompanyDatabase, "DEMO");
  EXPECT_TRUE(config.DmCfg->Connected());
  EXPECT_FALSE(config.DBMaster->Connected());
  EXPECT_EQ(db::ConnectSettings::Value(config.DmCfg->Params(), "DATABASE NAME"), "QAV_CONFIG");
  EXPECT_EQ(config.DmCfg->Params(), SuiteConnectionParams("QAV_CONFIG", server_));
  EXPECT_EQ(config.QCompanyConfig->FieldByName("NameThai").AsString(), "บริษัท ทดสอบ จำกัด");
  EXPECT_EQ(config.QCompanyConfig->FieldByName("YearNo").AsInteger(), 2024);
  EXPECT_EQ(config.QCompany->FieldByName("Code").AsString(), "DEMO");
  EXPECT_TRUE(config.QSoftware->Active());

  // The update added the columns and versioned the menus that have a command.
  const QStringList once = ConfigSnapshot();
  EXPECT_TRUE(once.contains("Menu|Version"));
  EXPECT_TRUE(once.contains("UserName|UserSeeImport"));
  EXPECT_TRUE(once.contains("UserName|UserSeeCost"));
  EXPECT_TRUE(once.filter(QRegularExpression("^12\\|.*\\|3$")).size() == 1)
      << once.join('\n').toStdString();
  config.SQLUpdate->Run();
  EXPECT_EQ(ConfigSnapshot(), once);
}

TEST_P(Modules, AnAddOfAColumnAnotherStartHasJustAddedCountsAsDone) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));  // brings the schema up to date
  const QStringList updated = ConfigSnapshot();
  // What the later of two racing starts runs once its check has found the column missing.
  config.SQLUpdate->SetSQL(QStringList{QStringLiteral("Alter Table Menu Add Version Integer"),
                                       QStringLiteral("/"),
                                       QStringLiteral("Update Menu Set Version = 3 Where Version "
                                                      "Is Null And Command Is Not Null")});
  EXPECT_NO_THROW(config.SQLUpdate->Run());
  EXPECT_EQ(ConfigSnapshot(), updated);
  // Any other failure still ends the update.
  config.SQLUpdate->SetSQL(QStringList{QStringLiteral("Alter Table NoSuchTable Add X Integer")});
  EXPECT_THROW(config.SQLUpdate->Run(), db::EDatabaseError);
}

TEST_P(Modules, UnknownCompanyShowsItsUpperCasedNameAndEnds) {
  TDMConfig config;
  EXPECT_THROW(config.GetCompanyConfig(QStringLiteral("Nowhere")), ProgramExit);
  EXPECT_EQ(shown_, QStringList{"Not Found Database : NOWHERE"});
  EXPECT_TRUE(config.CompanyDatabase.isEmpty());
}

TEST_P(Modules, SiteConfigurationDatabaseIsPreferredWhereTheServerHasOne) {
  QFile::copy(folder_->Suite() + "/QAV_CONFIG.db", folder_->Suite() + "/QAV_CONFIG_WEP.db");
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO2019"));
  EXPECT_EQ(db::ConnectSettings::Value(config.DmCfg->Params(), "DATABASE NAME"), "QAV_CONFIG_WEP");
  EXPECT_EQ(config.QCompanyConfig->FieldByName("YearNo").AsInteger(), 2019);
}

TEST_P(Modules, RightsCaptionAndLanguageComeFromTheProcedureAndTheUser) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));
  struct Case {
    int menu, user;
    const char* caption;
    bool access, thai;
    const char* userCode;
  };
  const Case cases[] = {
      {12, 1, "SQL Export", true, false, "ADMIN"},
      {13, 2, "Backup Data", true, true, "THAI"},
      {12, 3, "SQL Export", false, false, "GUEST"},
      {12, 4, "SQL Export", false, true, "SOMCHAI"},  // a small "y" is no right
      {14, 1, "Import Data", true, false, "ADMIN"},   // the caption is trimmed
      {12, 99, "SQL Export", false, false, ""},       // no such user: English, no right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    config.CheckRight(c.menu, c.user);
    EXPECT_EQ(config.MenuCaption, c.caption);
    EXPECT_EQ(config.CanAccess, c.access);
    EXPECT_EQ(config.LanguageThai, c.thai);
    EXPECT_EQ(config.UserCode, c.userCode);
  }
}

TEST_P(Modules, ErrorLogRowIsWrittenThroughTheProcedure) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));
  config.UserId = 2;
  config.MenuId = 12;
  config.WriteErrorLog(QStringLiteral("ข้อผิดพลาด: Cannot insert duplicate key"));
  db::TQuery q;
  q.SetDatabaseName("DmCfg");
  q.SetSQL("select UserId, MenuId, ErrorMsg from ErrorLog");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("UserId").AsInteger(), 2);
  EXPECT_EQ(q.FieldByName("MenuId").AsInteger(), 12);
  EXPECT_EQ(q.FieldByName("ErrorMsg").AsString(), "ข้อผิดพลาด: Cannot insert duplicate key");
}

TEST_P(Modules, BackupStatementRunsOnTheConfigurationModulesMasterConnection) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));
  TSQLScript runner;
  runner.SetDatabaseName(QStringLiteral("DBMaster"));
  runner.SetSQL(
      QStringLiteral("backup database DEMO To Disk = 'C:\\DEMO20261209.Bak' with Format"));
  runner.Run();
  const QString copy = folder_->Suite() + "/disk/C/DEMO20261209.Bak";
  ASSERT_TRUE(QFile::exists(copy));

  // The copy is a database the suite can open like any other.
  QFile::copy(copy, folder_->Suite() + "/RESTORED.db");
  db::TDatabase restored;
  restored.SetDatabaseName("RESTORED");
  restored.Params() = SuiteConnectionParams("RESTORED", folder_->ServerName());
  db::TQuery q;
  q.SetDatabaseName("RESTORED");
  q.SetSQL("select NameThai from Customer where Id = 1");
  q.Open();
  EXPECT_EQ(q.FieldByName("NameThai").AsString(), "บริษัท สยามการค้า จำกัด");

  runner.SetSQL(
      QStringLiteral("backup database DEMO To Disk = 'C:\\no\\such\\folder\\x.Bak' with Format"));
  EXPECT_THROW(runner.Run(), db::EDatabaseError);
}

TEST_P(Modules, CompanyConnectionLoadsTheConfigurationAndReleasesTheLogo) {
  SetCommandLine({"12", "1", "  demo  ", "", "EXPORT-TO", "09/12/2026"});
  TDM dm;
  TDMConfig config;
  CreateLogo();
  db::TQuery q;
  q.SetDatabaseName("DMDATA");
  q.SetSQL("select count(*) from Sales");
  q.Open();
  EXPECT_EQ(dm.CompanyDatabaseName, "demo");
  EXPECT_EQ(FormLogo, nullptr);
  EXPECT_TRUE(dm.IvRefSO);
  EXPECT_FALSE(dm.MrRefPO);
  EXPECT_TRUE(dm.EditPricePO);
  EXPECT_FALSE(dm.ShowProductPriceList);
  EXPECT_EQ(dm.MainCurrencyId, 1);
  EXPECT_EQ(dm.MainCurrencyName, "เงินบาท");
  EXPECT_EQ(dm.QchkPeriod->FieldByName("accountyear").AsInteger(), 2024);

  // Only the newest exchange date of the whole table joins: JPY has no rate on it.
  QStringList rates;
  for (dm.QMiscCurrency->First(); !dm.QMiscCurrency->Eof(); dm.QMiscCurrency->Next())
    rates << dm.QMiscCurrency->FieldByName("Code").AsString() + "=" +
                 dm.QMiscCurrency->FieldByName("SaleRate").AsString();
  EXPECT_EQ(rates, QStringList({"THB=", "USD=36.85", "JPY=", "EUR=39.65"}));

  // A second opening runs both hooks again; the logo stays released.
  dm.DMdata->Close();
  q.Open();
  EXPECT_TRUE(dm.DMdata->Connected());
  EXPECT_EQ(FormLogo, nullptr);
}

TEST_P(EmbeddedModules, CompanyConnectionReadsServerDatAgain) {
  SetCommandLine({"12", "1", "DEMO", "", "EXPORT-TO", "09/12/2026"});
  TDM dm;
  TDMConfig config;
  config.GetCompanyConfig("DEMO");
  // Moved between start-up and the first statement of the console.
  QDir().rename(folder_->Suite(), folder_->Root() + "/moved");
  QFile dat("Server.Dat");
  ASSERT_TRUE(dat.open(QIODevice::WriteOnly | QIODevice::Truncate));
  // The second line's connection settings go into the parameters, for the ODBC back end.
  dat.write("embedded:moved\r\nEncrypt=yes; trustservercertificate = no\n");
  dat.close();
  dm.DMdata->Open();
  EXPECT_EQ(db::ConnectSettings::Value(dm.DMdata->Params(), "SERVER NAME"), "embedded:moved");
  EXPECT_EQ(db::ConnectSettings::Value(dm.DMdata->Params(), "ENCRYPT"), "yes");
  EXPECT_EQ(db::ConnectSettings::Value(dm.DMdata->Params(), "TRUST SERVER CERTIFICATE"), "no");
  EXPECT_EQ(db::ConnectSettings::Value(config.DmCfg->Params(), "SERVER NAME"), "embedded:suite");
  QDir().rename(folder_->Root() + "/moved", folder_->Suite());

  // A setting the program does not know is an error, never silently dropped.
  ASSERT_TRUE(dat.open(QIODevice::WriteOnly | QIODevice::Truncate));
  dat.write("embedded:suite\nEncrypt=yes;Encrpyt=no\n");
  dat.close();
  EXPECT_THROW(TDMConfig::ReadConnectionSettings(), EInOutError);
  ASSERT_TRUE(dat.open(QIODevice::WriteOnly | QIODevice::Truncate));
  dat.write("embedded:suite\n");
  dat.close();
  EXPECT_EQ(TDMConfig::ReadConnectionSettings(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Backends, Modules, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ThroughTds" : "Embedded"; });
INSTANTIATE_TEST_SUITE_P(Embedded, EmbeddedModules, ::testing::Values(false));
