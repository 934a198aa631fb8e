// Error reporting: the error log, the Thai explanations, the error window and the support mail.
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/FrShowError.h"
#include "app/LocalMachine.h"
#include "console/FrExecSQL.h"
#include "core/ExceptionHandler.h"
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "mail/SmtpClient.h"
#include "tests/mail/MailReader.h"
#include "tests/mail/ScriptedPeer.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace qav;

TEST(ThaiExplanation, TableOrderAndLetterCase) {
  struct Case {
    const char* message;
    const char* explanation;
  };
  const Case cases[] = {
      {"'31/02/2026' is not a valid date", "ป้อนวันที่ไม่ถูกต้อง"},
      {"out of insufficient memory today", "Memory หน่วยความจำของเครื่องไม่เพียงพอ"},
      {"Cannot insert duplicate key. Possible network error.",
       "ระบบเครือข่าย หรือ คอมพิวเตอร์แม่ข่ายมีปัญหา ติดต่อเครื่องแม่ข่ายไม่ได้"},
      {"Cannot insert the value NULL into column 'Customer', table 'Sales'; column does not allow "
       "nulls.",
       "ไม่ได้ป้อนข้อมูลลูกค้า"},
      {"DELETE statement conflicted with COLUMN REFERENCE constraint on table 'Sales'.",
       "ข้อมูลที่ลบถูกอ้างโดยข้อมูลอื่น ไม่สามารถลบข้อมูลนี้ได้"},
      {"Cannot insert the value NULL into column 'Remark'", ""},
      {"no such table: Nowhere", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ThaiExplanation(QString::fromUtf8(c.message)), QString::fromUtf8(c.explanation))
        << c.message;
  EXPECT_EQ(ErrorWindowText("'x' is not a valid date"), "ป้อนวันที่ไม่ถูกต้อง\r'X' IS NOT A VALID DATE\r");
  EXPECT_EQ(ErrorWindowText("ไทย abc"), "\rไทย ABC\r");
  EXPECT_EQ(SplitLines("a\r\rb\r\nc\nd\r"), QStringList({"a", "", "b", "c", "d"}));
}

namespace {

// A real SMTP server on loopback (aiosmtpd) that stores what it receives.
class SmtpSink {
 public:
  SmtpSink() {
    server_.setProgram(QStringLiteral(QAV_SYSTEM_PYTHON));
    server_.setArguments({QStringLiteral(QAV_SMTP_SINK), folder_.path()});
    server_.start();
    if (server_.waitForStarted(30000) && server_.waitForReadyRead(60000))
      port_ = server_.readLine().trimmed().toInt();
  }
  ~SmtpSink() {
    server_.closeWriteChannel();
    if (!server_.waitForFinished(5000)) server_.kill();
  }
  int Port() const { return port_; }
  QString File(int n) const { return folder_.filePath(QString::number(n) + ".eml"); }
  QStringList Messages() const {
    QStringList out;
    for (const QString& f : QDir(folder_.path()).entryList({"*.eml"}, QDir::Files, QDir::Name)) {
      QFile file(folder_.path() + "/" + f);
      file.open(QIODevice::ReadOnly);
      out << QString::fromLatin1(file.readAll());
    }
    return out;
  }

 private:
  QTemporaryDir folder_;
  QProcess server_;
  int port_ = 0;
};

// Runs `act` on the error window once it is up, from inside its modal loop.
void WhenErrorWindowShows(std::function<void(TFrShowError&)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    if (auto* w = qobject_cast<TFrShowError*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      act(*w);
    }
  });
  poll->start(5);
}

class ErrorReporting : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommandLine({"12", "2", "demo", "", "EXPORT-TO", "09/12/2026"});
    dm_ = std::make_unique<TDM>();
    config_ = std::make_unique<TDMConfig>();
    config_->MenuId = 12;
    config_->UserId = 2;
    config_->GetCompanyConfig("demo");
    config_->CheckRight(12, 2);
    saved_ = SupportMail();
  }
  void TearDown() override { SupportMail() = saved_; }

  QStringList LogRows() {
    db::TQuery q;
    q.SetDatabaseName("DmCfg");
    q.SetSQL("select CompName, LogName, UserId, MenuId, ErrorMsg from ErrorLog order by Id");
    q.Open();
    QStringList rows;
    for (; !q.Eof(); q.Next()) {
      QStringList row;
      for (int f = 0; f < q.FieldCount(); ++f) row << q.Fields(f).AsString();
      rows << row.join('|');
    }
    return rows;
  }

  test::DemoSuiteFolder folder_{20};
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TDMConfig> config_;
  TSupportMail saved_;
};

}  // namespace

TEST_F(ErrorReporting, AFailingStatementInTheConsoleIsLoggedAndExplained) {
  TFrExecSQL console;
  console.show();
  console.Memo1->setPlainText("insert into Customer select * from Customer where Id = 1");
  QString shown;
  bool declineFocused = false;
  WhenErrorWindowShows([&](TFrShowError& w) {
    shown = w.ErrorBox->toPlainText();
    declineFocused = w.focusWidget() == w.BCancel;
    EXPECT_EQ(w.windowTitle(), "Windows Error Message");
    EXPECT_EQ(w.pos(), QPoint(50, 100));
    w.BCancel->click();
  });
  console.BtnExec->click();

  const QStringList rows = LogRows();
  ASSERT_EQ(rows.size(), 1);
  const QString message = rows[0].section('|', 4);
  EXPECT_TRUE(message.startsWith("Cannot insert duplicate key row in object 'Customer'"))
      << message.toStdString();
  EXPECT_EQ(rows[0].section('|', 0, 3), LocalComputerName() + "|" + LocalUserName() + "|2|12");
  EXPECT_EQ(LocalUserName(), LocalUserName().toUpper());
  EXPECT_EQ(shown, "ข้อมูลที่เพิ่มซ้ำกับข้อมูลที่มีอยู่แล้ว\n" + message.toUpper() + "\n");
  EXPECT_TRUE(declineFocused);
}

// An UPDATE and a PRINT return no rows and are no error: no error window, no log row, and the
// console's Messages page says what they did.
TEST_F(ErrorReporting, AStatementWithoutRowsIsNeitherShownNorLoggedAsAnError) {
  TFrExecSQL console;
  console.show();
  console.Memo1->setPlainText(
      "update Customer set Telephone = '02-999-9999' where Id = 3\nprint 'hello'");
  QTimer watch;  // stops with the test
  QObject::connect(&watch, &QTimer::timeout, [] {
    if (auto* w = qobject_cast<TFrShowError*>(QApplication::activeModalWidget())) {
      ADD_FAILURE() << w->ErrorBox->toPlainText().toStdString();
      w->BCancel->click();
    }
  });
  watch.start(5);
  console.BtnExec->click();
  EXPECT_EQ(LogRows(), QStringList());
  EXPECT_EQ(console.MessagesMemo->toPlainText(), "(1 row affected)\nhello");
}

TEST_F(ErrorReporting, TheCountdownClosesTheWindowOnItsNinthTickWithNothingMailed) {
  SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  SupportMail().Host = "127.0.0.1";
  SupportMail().Port = sink.Port();
  TFrShowError w;
  w.ErrorText = ErrorWindowText("boom");
  w.show();
  for (int tick = 1; tick <= 8; ++tick) w.Timer1Timer();
  EXPECT_TRUE(w.isVisible());
  w.Timer1Timer();
  EXPECT_FALSE(w.isVisible());

  // The real timer, made quick, and Enter: both decline.
  for (bool enter : {false, true}) {
    WhenErrorWindowShows([enter](TFrShowError& shown) {
      if (enter)
        QTest::keyClick(shown.focusWidget(), Qt::Key_Return);
      else
        shown.Timer1->setInterval(5);
    });
    dm_->ApplicationEvents1Exception(nullptr, Exception("boom"));
  }
  QTest::qWait(200);
  EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST_F(ErrorReporting, SendErrorDeliversTheReportToSupport) {
  SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  SupportMail().Host = "127.0.0.1";
  SupportMail().Port = sink.Port();
  config_->CompanyDatabase = "demo ";
  config_->MenuCaption = "  ส่งออก SQL ";
  QStringList shown;
  Dialogs::SetAnswerer([&](const DialogRequest& r) {
    shown << r.text;
    return DialogReply{true, {}, 1};
  });
  WhenErrorWindowShows([](TFrShowError& w) { w.BOk->click(); });
  dm_->ApplicationEvents1Exception(nullptr, Exception("'31/13/2026' is not a valid date"));
  Dialogs::SetAnswerer({});
  EXPECT_EQ(shown, QStringList());
  QTest::qWait(100);
  ASSERT_EQ(sink.Messages().size(), 1);
  // What a standard mail reader shows support.
  const QJsonObject mail = test::ReadMail(sink.File(1));
  EXPECT_EQ(test::HeaderOf(mail, "Subject"), "Error demo ส่งออก SQL");
  EXPECT_EQ(test::HeaderOf(mail, "From"), "qavtool@qavsoft.co.th");
  EXPECT_EQ(test::HeaderOf(mail, "To"), "support@qavsoft.co.th");
  const QJsonArray parts = mail["parts"].toArray();
  ASSERT_EQ(parts.size(), 1);
  EXPECT_EQ(parts[0]["type"].toString(), "text/plain");
  // The body: an empty first line, user line, address line, explanation, message in capitals.
  EXPECT_EQ(parts[0]["text"].toString().replace("\r\n", "\n"),
            "\n[User = THAI] \nLocal IP = " + LocalIPAddress() +
                "\nป้อนวันที่ไม่ถูกต้อง\n'31/13/2026' IS NOT A VALID DATE\n");
}

TEST_F(ErrorReporting, AReportTheServerRefusesDoesNotStopTheNextOne) {
  SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  SupportMail().Host = "127.0.0.1";
  SupportMail().Port = sink.Port();
  QString why;
  EXPECT_EQ(config_->SendErrorMail("Error one", "REFUSE-THIS-MESSAGE", &why),
            TDMConfig::MailOutcome::Failed);
  EXPECT_EQ(why, "554 Refused for the test");
  EXPECT_EQ(config_->SendErrorMail("Error two", "second report"), TDMConfig::MailOutcome::Sent);
  EXPECT_FALSE(config_->SMTPClient1->IsConnected());
  const QStringList messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains("second report")) << messages[0].toStdString();
}

// "Send Error" pressed again while a report is on its way (the waits handle events) is refused:
// the report already going arrives whole.
TEST_F(ErrorReporting, ASecondSendWhileAReportIsOnItsWayLosesNothing) {
  SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  SupportMail().Host = "127.0.0.1";
  SupportMail().Port = sink.Port();
  int presses = 0;
  auto second = TDMConfig::MailOutcome::Sent;
  config_->SMTPClient1->OnSendStart = [&](TSMTPClient&) {
    if (presses++ == 0) second = config_->SendErrorMail("Error two", "second press");
  };
  EXPECT_EQ(config_->SendErrorMail("Error one", "first report"), TDMConfig::MailOutcome::Sent);
  EXPECT_EQ(second, TDMConfig::MailOutcome::Busy);
  EXPECT_FALSE(config_->SMTPClient1->IsConnected());
  const QStringList messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains("first report")) << messages[0].toStdString();
  // The next report, once this one is done, goes as usual.
  config_->SMTPClient1->OnSendStart = nullptr;
  EXPECT_EQ(config_->SendErrorMail("Error three", "third report"), TDMConfig::MailOutcome::Sent);
  ASSERT_EQ(sink.Messages().size(), 2);
}

// A report that does not reach the server is never closed away as if it had: the user is told
// it was not sent, and why, and the error log keeps it.
TEST_F(ErrorReporting, AReportThatCannotBeSentSaysSoAndWhy) {
  SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  struct Case {
    const char* name;
    std::function<std::unique_ptr<test::ScriptedPeer>()> peer;  // null: the sink or nobody
    QString host;
    int port;
    const char* message;  // the error; the sink refuses one that holds REFUSE-THIS-MESSAGE
    const char* reason;   // a part of the reason shown: the mail client's own words
  };
  const Case cases[] = {
      {"nothing listens", nullptr, "127.0.0.1", 1, "boom", "Connection Failed"},
      {"no such host", nullptr, "nohost.invalid", 25, "boom", "Null Remote Address"},
      {"refuses the message", nullptr, "127.0.0.1", sink.Port(), "REFUSE-THIS-MESSAGE",
       "554 Refused for the test"},
      {"drops the connection",
       [] { return std::make_unique<test::ScriptedPeer>(std::vector{test::Close()}); }, "127.0.0.1",
       0, "boom", "Not Connected"},
      {"stays silent",
       [] { return std::make_unique<test::ScriptedPeer>(std::vector{test::AwaitLine()}); },
       "127.0.0.1", 0, "boom", "aborted"},
  };
  config_->LanguageThai = false;
  SupportMail().TimeOutMs = 3000;
  int logged = 0;
  for (const Case& c : cases) {
    const auto peer = c.peer ? c.peer() : nullptr;
    SupportMail().Host = c.host;
    SupportMail().Port = peer ? peer->Port() : c.port;
    QStringList shown;
    Dialogs::SetAnswerer([&](const DialogRequest& r) {
      shown << r.text;
      return DialogReply{true, {}, 1};
    });
    bool closed = false;
    WhenErrorWindowShows([&](TFrShowError& w) {
      w.BOk->click();
      closed = !w.isVisible();
    });
    dm_->ApplicationEvents1Exception(nullptr, Exception(c.message));
    Dialogs::SetAnswerer({});
    EXPECT_TRUE(closed) << c.name;
    ASSERT_EQ(shown.size(), 1) << c.name;
    EXPECT_TRUE(shown[0].startsWith("The error report could not be sent: ")) << c.name;
    EXPECT_TRUE(shown[0].contains(QString::fromLatin1(c.reason), Qt::CaseInsensitive))
        << c.name << ": " << shown[0].toStdString();
    EXPECT_TRUE(shown[0].endsWith("\nThe error log keeps the report.")) << c.name;
    EXPECT_EQ(LogRows().size(), ++logged) << c.name;
  }
  EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST_F(ErrorReporting, ALogThatCannotBeWrittenStillShowsTheError) {
  // The configuration connection is lost and cannot come back.
  config_->DmCfg->Close();
  config_->DmCfg->BeforeConnect = [](db::TDatabase&) {
    throw db::EDatabaseError("SQL Server does not exist or access denied.");
  };
  QString shown;
  WhenErrorWindowShows([&](TFrShowError& w) {
    shown = w.ErrorBox->toPlainText();
    w.BCancel->click();
  });
  EXPECT_NO_THROW(HandleException(Exception("Insufficient memory")));
  EXPECT_EQ(shown, "Memory หน่วยความจำของเครื่องไม่เพียงพอ\nINSUFFICIENT MEMORY\n");
}
