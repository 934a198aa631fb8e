// The start-up of qavtool, the configuration and company modules and the SQL console through
// ODBC and FreeTDS against the TDS test server, as users reach SQL Server: Server.Dat names
// "127.0.0.1,PORT".
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "backup/FrBackup.h"
#include "console/FrExecSQL.h"
#include "console/ResultGrid.h"
#include "db/Database.h"
#include "db/Query.h"
#include "script/SQLScript.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
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

// Runs qavtool in `folder`; once its window is up, ends it as the session would (SIGTERM), which
// ends it without the exit question.
Outcome RunQavtool(const QString& folder, const QStringList& args, const QString& answers = "ok") {
  QProcess process;
  process.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("QAV_TEST_ONLY_DIALOG_SCRIPT", answers);
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
       {"WINDOW FrExecSQL [SQL Export]"},
       {"Application Error", "DIALOG"}},
      {{"13", "2", "DEMO", "", "BACKUP", kToday},
       "yes",
       {"WINDOW FrBackup [Backup Data]"},
       {"Application Error", "DIALOG"}},
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

// The backup window over ODBC: what it sends is read in the server's own log. A name that
// cannot reach the server whole (a NUL, half of a surrogate pair, a tab at its end) is refused
// before any backup statement is sent.
TEST_F(TdsModules, TheBackupStatementReachesTheServerWholeOrNotAtAll) {
  SetCommandLine({"13", "1", "DEMO", "", "BACKUP", kToday});
  TDMConfig config;
  config.GetCompanyConfig("DEMO");
  TFrBackup window;
  window.show();
  const auto backups = [this] {
    QStringList out;
    for (const QString& text : suite_.Received())
      if (text.contains(QStringLiteral("backup database"), Qt::CaseInsensitive)) out << text;
    return out;
  };
  window.BackupName->setText("C:\\x.Bak");
  window.AcSave->trigger();
  EXPECT_EQ(shown_, QStringList{"Backup Ok"});
  EXPECT_EQ(backups(), QStringList{"backup database [DEMO] To Disk = 'C:\\x.Bak' with Format"});

  struct Case {
    QString database;
    QString file;
  };
  const Case cases[] = {
      {"DE" + QString(QChar(0)) + "MO", "C:\\y.Bak"},
      {"DEMO", "C:\\y" + QString(QChar(0xDC00)) + ".Bak"},
      {"DEMO", "C:\\y.Bak\t"},
      {"DEMO", "C:\\y" + QString(QChar(0)) + "z.Bak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.database + " " + c.file).toStdString());
    config.CompanyDatabase = c.database;
    shown_.clear();
    window.BackupName->setText(c.file);
    window.AcSave->trigger();
    ASSERT_EQ(shown_.size(), 1);
    EXPECT_TRUE(shown_[0].contains("a broken character")) << shown_[0].toStdString();
  }
  EXPECT_EQ(backups().size(), 1);
}

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

TEST_F(TdsConsole, EscapeCancelsTheStatementOnTheServerAndTheGridKeepsItsRows) {
  // Rows at once, then a statement that would keep the server busy for two minutes.
  Run("with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000)\n"
      "select i as Number from n;\n"
      "waitfor delay '00:02:00'");
  db::TQuery& q = *window_->QExport;
  // More than the first window arrives in the background while the statement runs.
  QTRY_VERIFY_WITH_TIMEOUT(q.RecordCount() > db::TDataSet::kWindowRows, 60000);
  ASSERT_TRUE(q.Fetching());
  QElapsedTimer timer;
  timer.start();
  window_->DBGExecSQL->setFocus();
  QTest::keyClick(window_->DBGExecSQL, Qt::Key_Escape);
  EXPECT_LT(timer.elapsed(), 60000) << "the server answers the cancel at once, not after the wait";
  EXPECT_FALSE(q.Fetching());
  EXPECT_TRUE(q.FetchCancelled());
  const qint64 kept = q.RecordCount();
  EXPECT_GT(kept, db::TDataSet::kWindowRows);
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), kept);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(shown_.isEmpty()) << shown_.join('\n').toStdString();
  // The session goes on.
  Run("select count(*) as N from Salesman");
  EXPECT_FALSE(q.Fetching());
  EXPECT_EQ(q.Fields(0).AsInteger(), 8);
  EXPECT_TRUE(shown_.isEmpty()) << shown_.join('\n').toStdString();
}

}  // namespace
