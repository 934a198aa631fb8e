// Runs the real qavtool executable headless against demo suites and checks how each start-up
// ends. Dialogs are answered through the program's dialog script and logged on standard error.
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <csignal>
#include <functional>

namespace {

struct Outcome {
  int exitCode = -1;
  bool crashed = false;
  QString errors;  // standard error: dialogs, traces, last-chance texts
};

// Starts qavtool in `folder`; when the main window appears, ends it with `signal` as the
// session would.
Outcome RunQavtool(const QString& folder, const QStringList& args, const QString& dialogScript = {},
                   int signal = SIGTERM) {
  QProcess process;
  process.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QAV_TEST_ONLY_DIALOG_SCRIPT"),
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
      ::kill(static_cast<pid_t>(process.processId()), signal);
      closeAsked = true;
    }
    if (closeAsked && process.state() != QProcess::NotRunning && !process.waitForFinished(15000)) {
      process.kill();  // the window stayed open
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
      {{"12\n", "1", "DEMO", "", "EXPORT-TO", "09/12/2026"}, "'12\n' is not a valid integer value"},
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

TEST_F(Startup, TheWindowOfTheCommandRunsUntilATerminationRequestEndsItWithoutAsking) {
  struct Case {
    QStringList args;
    int signal;
    const char* window;
  };
  const Case cases[] = {
      {{"12", "1", "demo", "anything", "EXPORT-TO", kToday},
       SIGTERM,
       "WINDOW FrExecSQL [SQL Export]"},
      {{"13", "2", "DEMO", "", "BACKUP", kToday}, SIGHUP, "WINDOW FrBackup [Backup Data]"},
      {{"12", "1", "DEMO", "", "EXPORT-TO", kToday}, SIGINT, "WINDOW FrExecSQL [SQL Export]"},
  };
  for (const Case& c : cases) {
    // "no" would keep the window open, had the exit question been asked.
    const Outcome o = RunQavtool(Root(), c.args, QStringLiteral("no"), c.signal);
    SCOPED_TRACE(c.signal);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_FALSE(o.crashed);
    EXPECT_TRUE(o.errors.contains(QString::fromUtf8(c.window))) << o.errors.toStdString();
    EXPECT_FALSE(o.errors.contains(QStringLiteral("DIALOG"))) << o.errors.toStdString();
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
      // A second line of settings is read; one the program does not know stops start-up.
      {"embedded:suite\r\nEncrypt=no\r\n", "WINDOW FrExecSQL", 0},
      {"embedded:suite\nColour=red\n", "unknown connection setting \"Colour\"", 1},
      {"embedded:suite", "WINDOW FrExecSQL", 0},
      // Blanks around the name are passed on: this suite folder does not exist.
      {" embedded:suite ", "Application Error", 1},
      // No file or an empty first line: the server is "QAV", reached through ODBC.
      {QByteArray(), "Application Error", 1},
      {"\r\nembedded:suite\r\n", "Application Error", 1},
      // Only the first line is read, however much follows it.
      {"embedded:suite\n" + QByteArray(8 << 20, 'x'), "WINDOW FrExecSQL", 0},
      {QByteArray(4097, 'x') + "\n", "the first line is longer than 4096 bytes", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.left(40).toStdString());
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
    EXPECT_TRUE(o.errors.contains(QString::fromLatin1(c.expect)))
        << o.errors.left(400).toStdString();
  }
}

TEST_F(Startup, AServerDatThatIsNotARegularFileIsRefusedAtOnce) {
  const QString dat = Root() + QStringLiteral("/Server.Dat");
  // An endless device, a pipe nobody writes to, a folder.
  const std::function<bool()> makers[] = {
      [&] { return QFile::link(QStringLiteral("/dev/zero"), dat); },
      [&] { return ::mkfifo(QFile::encodeName(dat).constData(), 0600) == 0; },
      [&] { return QDir(Root()).mkdir(QStringLiteral("Server.Dat")); },
  };
  for (const auto& make : makers) {
    QFile::remove(dat);
    QDir(Root()).rmdir(QStringLiteral("Server.Dat"));
    ASSERT_TRUE(make());
    const Outcome o = RunQavtool(Root(), {"12", "1", "DEMO", "", "EXPORT-TO", kToday});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(o.errors.contains(QStringLiteral("DIALOG error [Application Error]")))
        << o.errors.toStdString();
    EXPECT_TRUE(o.errors.contains(QStringLiteral("Server.Dat is not a regular file")))
        << o.errors.toStdString();
  }
  QDir(Root()).rmdir(QStringLiteral("Server.Dat"));
}

TEST_F(Startup, TwoFirstStartsAtOnceBothBringTheSchemaUpToDate) {
  // A configuration database that no start has updated yet, restored before every round.
  const QString config = Root() + QStringLiteral("/suite/QAV_CONFIG.db");
  ASSERT_TRUE(QFile::exists(config));
  const QString pristine = Root() + QStringLiteral("/pristine.db");
  ASSERT_TRUE(QFile::copy(config, pristine));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QAV_TEST_ONLY_DIALOG_SCRIPT"), QStringLiteral("ok"));
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    QFile::remove(config);
    ASSERT_TRUE(QFile::copy(pristine, config));
    // GUEST has no access right: each start updates the schema, checks the right and ends.
    QProcess starts[2];
    for (QProcess& p : starts) {
      p.setWorkingDirectory(Root());
      p.setProcessEnvironment(env);
      p.start(QStringLiteral(QAVTOOL_PATH), {"12", "3", "DEMO", "", "EXPORT-TO", kToday});
    }
    for (QProcess& p : starts) {
      ASSERT_TRUE(p.waitForFinished(60000));
      const QString errors = QString::fromUtf8(p.readAllStandardError());
      EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(p.exitCode(), 0) << errors.toStdString();
      EXPECT_FALSE(errors.contains(QStringLiteral("Application Error"))) << errors.toStdString();
    }
  }
}
