// The start-up of qavtool, the configuration and company modules and the SQL console through
// ODBC and FreeTDS against the TDS test server, as users reach SQL Server: Server.Dat names
// "127.0.0.1,PORT".
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "app/db/Database.h"
#include "app/db/Query.h"
#include "backup/SQLScript.h"
#include "console/FrExecSQL.h"
#include "console/ResultGrid.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

using namespace qav;

namespace {

const QString kTdsDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so");
const QString kToday = QStringLiteral("09/12/2026");

struct Outcome {
  int exitCode = -1;
  bool crashed = false;
  QString errors;  // standard error: dialogs and windows as the dialog script logs them
};

// Runs qavtool in `folder`; once its window is up, asks it to close as the session would and
// lets the dialog script answer the exit question.
Outcome RunQavtool(const QString& folder, const QStringList& args, const QString& answers = "ok") {
  QProcess process;
  process.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("QAV_DIALOG_SCRIPT", answers);
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(QAVTOOL_PATH), args);
  Outcome outcome;
  if (!process.waitForStarted(10000)) return outcome;
  QByteArray err;
  bool closeAsked = false;
  QElapsedTimer timer;
  timer.start();
  while (process.state() != QProcess::NotRunning && timer.elapsed() < 60000) {
    process.waitForReadyRead(200);
    err += process.readAllStandardError();
    if (!closeAsked && err.contains("WINDOW ")) {
      ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
      closeAsked = true;
    }
  }
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished();
  }
  err += process.readAllStandardError();
  outcome.exitCode = process.exitCode();
  outcome.crashed = process.exitStatus() != QProcess::NormalExit;
  outcome.errors = QString::fromUtf8(err);
  return outcome;
}

class TdsStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFile::exists(kTdsDriver)) GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  }
  test::TdsDemoSuite suite_{50};
};

TEST_F(TdsStartup, EachStartEndsAsOnTheEmbeddedBackEnd) {
  struct Case {
    QStringList args;
    const char* answers;
    QStringList expected;   // in standard error, in this order
    QStringList forbidden;  // nowhere in standard error
  };
  const Case cases[] = {
      {{"12", "1", "demo", "anything", "EXPORT-TO", kToday},
       "yes",
       {"WINDOW FrExecSQL [SQL Export]", "DIALOG confirm [Confirm] Exit Program ?"},
       {"Application Error"}},
      {{"13", "2", "DEMO", "", "BACKUP", kToday},
       "yes",
       {"WINDOW FrBackup [Backup Data]", "DIALOG confirm [Confirm] ออกจากโปรแกรม ?"},
       {"Application Error"}},
      {{"12", "1", "nowhere", "", "EXPORT-TO", kToday},
       "ok",
       {"DIALOG message [qavtool] Not Found Database : NOWHERE\n"},
       {"WINDOW"}},
      // GUEST has no access right; a command in small letters is no command.
      {{"12", "3", "DEMO", "", "EXPORT-TO", kToday}, "ok", {}, {"DIALOG", "WINDOW"}},
      {{"12", "1", "DEMO", "", "export-to", kToday}, "ok", {}, {"DIALOG", "WINDOW"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    const Outcome o = RunQavtool(suite_.Root(), c.args, QString::fromLatin1(c.answers));
    EXPECT_EQ(o.exitCode, 0) << o.errors.toStdString();
    EXPECT_FALSE(o.crashed);
    qsizetype at = 0;
    for (const QString& e : c.expected) {
      at = o.errors.indexOf(e, at);
      EXPECT_GE(at, 0) << "missing " << e.toStdString() << " in " << o.errors.toStdString();
    }
    for (const QString& f : c.forbidden)
      EXPECT_FALSE(o.errors.contains(f)) << o.errors.toStdString();
  }
}

TEST_F(TdsStartup, AServerThatIsNotThereEndsWithTheDriversMessage) {
  suite_.Server().Stop();
  const Outcome o = RunQavtool(suite_.Root(), {"12", "1", "DEMO", "", "EXPORT-TO", kToday});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_TRUE(o.errors.contains("Application Error")) << o.errors.toStdString();
  EXPECT_TRUE(o.errors.contains("[FreeTDS]")) << o.errors.toStdString();
  EXPECT_FALSE(o.errors.contains("WINDOW"));
}

// The configuration and company modules in this process.
class TdsModules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFile::exists(kTdsDriver)) GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
    Dialogs::SetAnswerer([this](const DialogRequest& r) {
      shown_ << r.text;
      return DialogReply{true, {}, 1};
    });
  }
  void TearDown() override { Dialogs::SetAnswerer({}); }

  QStringList Rows(const char* database, const char* sql) {
    db::TQuery q;
    q.SetDatabaseName(QString::fromLatin1(database));
    q.SetSQL(QString::fromLatin1(sql));
    q.Open();
    QStringList out;
    for (; !q.Eof(); q.Next()) {
      QStringList row;
      for (int f = 0; f < q.FieldCount(); ++f) row << q.Fields(f).AsString();
      out << row.join(u'|');
    }
    return out;
  }

  test::TdsDemoSuite suite_{40};
  QStringList shown_;
};

TEST_F(TdsModules, FirstQueryConnectsUpdatesTheSchemaOnceAndFindsTheCompany) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("demo"));
  EXPECT_EQ(config.CompanyDatabase, "DEMO");
  EXPECT_EQ(config.DmCfg->Params(), SuiteConnectionParams("QAV_CONFIG", suite_.Address()));
  EXPECT_FALSE(config.DBMaster->Connected());
  EXPECT_EQ(config.QCompanyConfig->FieldByName("NameThai").AsString(), "บริษัท ทดสอบ จำกัด");
  EXPECT_EQ(config.QCompanyConfig->FieldByName("YearNo").AsInteger(), 2024);
  EXPECT_EQ(config.QCompany->FieldByName("Code").AsString(), "DEMO");

  const char* snapshot =
      "select o.Name, c.Name from SysObjects o join SysColumns c on c.Id = o.Id "
      "where o.Name in ('Menu', 'UserName') order by o.Name, c.Name";
  const QStringList once =
      Rows("DmCfg", snapshot) + Rows("DmCfg", "select * from Menu order by Id");
  EXPECT_TRUE(once.contains("Menu|Version"));
  EXPECT_TRUE(once.contains("UserName|UserSeeImport"));
  EXPECT_TRUE(once.contains("UserName|UserSeeCost"));
  EXPECT_EQ(once.filter(QRegularExpression("^12\\|.*\\|3$")).size(), 1)
      << once.join('\n').toStdString();
  config.SQLUpdate->Run();
  EXPECT_EQ(Rows("DmCfg", snapshot) + Rows("DmCfg", "select * from Menu order by Id"), once);

  EXPECT_THROW(config.GetCompanyConfig(QStringLiteral("Nowhere")), ProgramExit);
  EXPECT_EQ(shown_, QStringList{"Not Found Database : NOWHERE"});
}

TEST_F(TdsModules, SiteConfigurationDatabaseIsPreferredWhereTheServerHasOne) {
  QFile::copy(suite_.Suite() + "/QAV_CONFIG.db", suite_.Suite() + "/QAV_CONFIG_WEP.db");
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO2019"));
  EXPECT_EQ(db::ConnectSettings::Value(config.DmCfg->Params(), "DATABASE NAME"), "QAV_CONFIG_WEP");
  EXPECT_EQ(config.QCompanyConfig->FieldByName("YearNo").AsInteger(), 2019);
}

TEST_F(TdsModules, RightsCaptionLanguageAndTheErrorLogGoThroughTheProcedures) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));
  struct Case {
    int menu, user;
    const char* caption;
    bool access, thai;
    const char* userCode;
  };
  const Case cases[] = {
      {12, 1, "SQL Export", true, false, "ADMIN"},  {13, 2, "Backup Data", true, true, "THAI"},
      {12, 3, "SQL Export", false, false, "GUEST"}, {12, 4, "SQL Export", false, true, "SOMCHAI"},
      {14, 1, "Import Data", true, false, "ADMIN"}, {12, 99, "SQL Export", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    config.CheckRight(c.menu, c.user);
    EXPECT_EQ(config.MenuCaption, c.caption);
    EXPECT_EQ(config.CanAccess, c.access);
    EXPECT_EQ(config.LanguageThai, c.thai);
    EXPECT_EQ(config.UserCode, c.userCode);
  }

  config.UserId = 2;
  config.MenuId = 12;
  config.WriteErrorLog(QStringLiteral("ข้อผิดพลาด: Cannot insert duplicate key"));
  EXPECT_EQ(Rows("DmCfg", "select UserId, MenuId, ErrorMsg from ErrorLog"),
            QStringList{"2|12|ข้อผิดพลาด: Cannot insert duplicate key"});
}

TEST_F(TdsModules, BackupStatementRunsOnTheMasterConnection) {
  TDMConfig config;
  config.GetCompanyConfig(QStringLiteral("DEMO"));
  TSQLScript runner;
  runner.SetDatabaseName(QStringLiteral("DBMaster"));
  runner.SetSQL(
      QStringLiteral("backup database DEMO To Disk = 'C:\\DEMO20261209.Bak' with Format"));
  runner.Run();
  EXPECT_TRUE(QFile::exists(suite_.Suite() + "/disk/C/DEMO20261209.Bak"));
  runner.SetSQL(
      QStringLiteral("backup database DEMO To Disk = 'C:\\no\\such\\folder\\x.Bak' with Format"));
  EXPECT_THROW(runner.Run(), db::EDatabaseError);
}

TEST_F(TdsModules, CompanyConnectionLoadsTheConfiguration) {
  SetCommandLine({"12", "1", "  demo  ", "", "EXPORT-TO", kToday});
  TDM dm;
  TDMConfig config;
  CreateLogo();
  EXPECT_EQ(Rows("DMDATA", "select count(*) from Sales"), QStringList{"40"});
  EXPECT_EQ(FormLogo, nullptr);
  EXPECT_TRUE(dm.IvRefSO);
  EXPECT_FALSE(dm.MrRefPO);
  EXPECT_TRUE(dm.EditPricePO);
  EXPECT_FALSE(dm.ShowProductPriceList);
  EXPECT_EQ(dm.MainCurrencyId, 1);
  EXPECT_EQ(dm.MainCurrencyName, "เงินบาท");
  EXPECT_EQ(dm.QchkPeriod->FieldByName("accountyear").AsInteger(), 2024);
  QStringList rates;
  for (dm.QMiscCurrency->First(); !dm.QMiscCurrency->Eof(); dm.QMiscCurrency->Next())
    rates << dm.QMiscCurrency->FieldByName("Code").AsString() + "=" +
                 dm.QMiscCurrency->FieldByName("SaleRate").AsString();
  EXPECT_EQ(rates, QStringList({"THB=", "USD=36.85", "JPY=", "EUR=39.65"}));
}

// The SQL console on the company database.
class TdsConsole : public TdsModules {
 protected:
  void SetUp() override {
    TdsModules::SetUp();
    if (IsSkipped()) return;
    SetCommandLine({"12", "1", "DEMO", "", "EXPORT-TO", kToday});
    dm_ = std::make_unique<TDM>();
    config_ = std::make_unique<TDMConfig>();
    config_->GetCompanyConfig("DEMO");
    config_->CheckRight(12, 1);
    window_ = std::make_unique<TFrExecSQL>();
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    ReleaseLogo();
    TdsModules::TearDown();
  }

  void Run(const QString& sql) {
    window_->Memo1->setPlainText(sql);
    window_->BtnExec->click();
  }

  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TDMConfig> config_;
  std::unique_ptr<TFrExecSQL> window_;
};

TEST_F(TdsConsole, TheGridShowsTheResultInFieldOrderWithThaiText) {
  Run("select Id, Code, NameThai, CreditLimit, CreateDate from Customer where Id <= 3 "
      "order by Id");
  QAbstractItemModel* m = window_->DBGExecSQL->model();
  ASSERT_EQ(m->rowCount(), 3);
  ASSERT_EQ(m->columnCount(), 5);
  EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), "NameThai");
  EXPECT_EQ(m->data(m->index(0, 1)).toString(), "C0001");
  EXPECT_EQ(m->data(m->index(0, 2)).toString(), "บริษัท สยามการค้า จำกัด");
  EXPECT_EQ(m->data(m->index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);
  EXPECT_TRUE(window_->BtnExport->isEnabled());
  EXPECT_TRUE(shown_.isEmpty()) << shown_.join('\n').toStdString();
  EXPECT_EQ(window_->QExport->FieldByName("Id").AsInteger(), 1);
}

}  // namespace
