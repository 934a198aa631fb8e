// Runs the real qavtool executable headless against demo suites and checks how each start-up
// ends. Dialogs are answered through the program's dialog script and logged on standard error.
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <csignal>

namespace {

struct Outcome {
  int exitCode = -1;
  bool crashed = false;
  QString errors;  // standard error: dialogs, traces, last-chance texts
};

// Starts qavtool in `folder`; when the main window appears, asks it to close (as the session
// would) and lets the dialog script answer the exit question.
Outcome RunQavtool(const QString& folder, const QStringList& args,
                   const QString& dialogScript = {}) {
  QProcess process;
  process.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QAV_DIALOG_SCRIPT"),
             dialogScript.isEmpty() ? QStringLiteral("ok") : dialogScript);
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(QAVTOOL_PATH), args);
  Outcome outcome;
  if (!process.waitForStarted(10000)) return outcome;
  QByteArray err;
  bool closeAsked = false;
  while (process.state() != QProcess::NotRunning) {
    process.waitForReadyRead(200);
    err += process.readAllStandardError();
    if (!closeAsked && err.contains("WINDOW ")) {
      ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
      closeAsked = true;
    }
    if (closeAsked && process.state() != QProcess::NotRunning && !process.waitForFinished(15000)) {
      process.kill();  // the window stayed open: the exit question was answered No
      process.waitForFinished();
      break;
    }
  }
  err += process.readAllStandardError();
  outcome.exitCode = process.exitCode();
  outcome.crashed = process.exitStatus() != QProcess::NormalExit;
  outcome.errors = QString::fromUtf8(err);
  return outcome;
}

class Startup : public ::testing::Test {
 protected:
  qav::test::DemoSuiteFolder folder_{50};
  QString Root() const { return folder_.Root(); }
};

const QString kToday = QStringLiteral("09/12/2026");

}  // namespace

TEST_F(Startup, WithoutArgumentsEndsAtOnce) {
  const Outcome o = RunQavtool(Root(), {});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_FALSE(o.crashed);
  EXPECT_TRUE(o.errors.isEmpty()) << o.errors.toStdString();
}

TEST_F(Startup, ConversionErrorsEndWithTheApplicationErrorBox) {
  struct Case {
    QStringList args;
    const char* message;
  };
  const Case cases[] = {
      // The date is converted first, so it is the one reported.
      {{"x12", "1", "DEMO", "", "EXPORT-TO", "31/02/2026"}, "'31/02/2026' is not a valid date"},
      {{"12", "1", "DEMO", "", "EXPORT-TO"}, "'' is not a valid date"},
      {{"12x", "1", "DEMO", "", "EXPORT-TO", "09/12/2026"}, "'12x' is not a valid integer value"},
      {{"12", " 1", "DEMO", "", "EXPORT-TO", "09/12/2026"}, "' 1' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunQavtool(Root(), c.args);
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(o.errors.contains(QStringLiteral("DIALOG error [Application Error]")))
        << o.errors.toStdString();
    EXPECT_TRUE(o.errors.contains(QStringLiteral("EConvertError"))) << o.errors.toStdString();
    EXPECT_TRUE(o.errors.contains(QString::fromLatin1(c.message))) << o.errors.toStdString();
  }
}

TEST_F(Startup, UnknownCompanyIsReportedAndEndsInOrder) {
  for (const QString& company : {QStringLiteral("nowhere"), QString()}) {
    const Outcome o = RunQavtool(Root(), {"12", "1", company, "", "EXPORT-TO", kToday});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.errors.contains(QStringLiteral("DIALOG message [qavtool] Not Found Database : ") +
                                  company.toUpper() + u'\n'))
        << o.errors.toStdString();
    EXPECT_FALSE(o.errors.contains(QStringLiteral("WINDOW")));
  }
}

TEST_F(Startup, NoWindowWithoutTheRightOrForAnUnknownCommand) {
  const QStringList cases[] = {
      {"12", "3", "DEMO", "", "EXPORT-TO", kToday},  // GUEST has no access right
      {"12", "1", "DEMO", "", "export-to", kToday},
      {"13", "1", "DEMO", "", "Backup", kToday},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Outcome o = RunQavtool(Root(), cases[i]);
    SCOPED_TRACE(cases[i].join(u' ').toStdString());
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_FALSE(o.errors.contains(QStringLiteral("DIALOG"))) << o.errors.toStdString();
    EXPECT_FALSE(o.errors.contains(QStringLiteral("WINDOW"))) << o.errors.toStdString();
  }
}

TEST_F(Startup, TheWindowOfTheCommandRunsUntilTheExitQuestionIsAnsweredYes) {
  struct Case {
    QStringList args;
    const char* window;
    const char* question;
  };
  const Case cases[] = {
      {{"12", "1", "demo", "anything", "EXPORT-TO", kToday},
       "WINDOW FrExecSQL [SQL Export]",
       "Exit Program ?"},
      {{"13", "2", "DEMO", "", "BACKUP", kToday},
       "WINDOW FrBackup [Backup Data]",
       "ออกจากโปรแกรม ?"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunQavtool(Root(), c.args, QStringLiteral("yes"));
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_FALSE(o.crashed);
    EXPECT_TRUE(o.errors.contains(QString::fromUtf8(c.window))) << o.errors.toStdString();
    EXPECT_TRUE(o.errors.contains(QStringLiteral("DIALOG confirm [Confirm] ") +
                                  QString::fromUtf8(c.question)))
        << o.errors.toStdString();
  }
}

TEST_F(Startup, ServerDatIsReadAsItsFirstLineWithQavAsTheDefault) {
  struct Case {
    QByteArray content;  // null: no file at all
    const char* expect;  // in standard error
    int exitCode;
  };
  const Case cases[] = {
      {"embedded:suite\r\nignored\r\n", "WINDOW FrExecSQL", 0},
      {"embedded:suite", "WINDOW FrExecSQL", 0},
      // Blanks around the name are passed on: this suite folder does not exist.
      {" embedded:suite ", "Application Error", 1},
      // No file or an empty first line: the server is "QAV", reached through ODBC.
      {QByteArray(), "Application Error", 1},
      {"\r\nembedded:suite\r\n", "Application Error", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.toStdString());
    QFile dat(Root() + QStringLiteral("/Server.Dat"));
    dat.remove();
    if (!c.content.isNull()) {
      ASSERT_TRUE(dat.open(QIODevice::WriteOnly));
      dat.write(c.content);
      dat.close();
    }
    const Outcome o =
        RunQavtool(Root(), {"12", "1", "DEMO", "", "EXPORT-TO", kToday}, QStringLiteral("yes"));
    EXPECT_EQ(o.exitCode, c.exitCode);
    EXPECT_TRUE(o.errors.contains(QString::fromLatin1(c.expect))) << o.errors.toStdString();
  }
}
