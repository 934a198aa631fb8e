// The real qavtool under a real X server (Xvfb), driven with xdotool as a person drives it:
// type a statement, F5, "Save output TO", the file dialog, the message boxes, the progress
// window. This proves the xcb platform plugin, Qt's own dialogs and the files together; the
// in-process journeys cover the same steps in detail.
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <memory>

namespace {

// Generous: the machine that runs the tests may be busy with other builds.
constexpr int kWaitMs = 120000;

class XServer {
 public:
  // Starts Xvfb on a free display, which it chooses and tells through -displayfd.
  bool Start() {
    process_.setProgram(QStringLiteral("Xvfb"));
    process_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                           QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp")});
    process_.start();
    if (!process_.waitForStarted(kWaitMs)) return false;
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains('\n') && t.elapsed() < kWaitMs && process_.state() == QProcess::Running) {
      process_.waitForReadyRead(200);
      out += process_.readAllStandardOutput();
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(out.trimmed());
    return out.contains('\n');
  }
  ~XServer() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished();
  }
  const QString& Display() const { return display_; }

 private:
  QProcess process_;
  QString display_;
};

class DesktopJourney : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
      GTEST_SKIP() << "Xvfb is not installed (scripts/deps.sh installs it)";
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is not installed (scripts/deps.sh installs it)";
    ASSERT_TRUE(x_.Start()) << "Xvfb did not start";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x_.Display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QAV_TEST_ONLY_DIALOG_SCRIPT"));
    // A sanitizer build judges its exit code by leaks too: not by the X session's D-Bus ones.
    env.insert(QStringLiteral("LSAN_OPTIONS"),
               QStringLiteral("suppressions=" LSAN_SUPPRESSIONS ":print_suppressions=0"));
    env_ = env;
    app_.setProcessEnvironment(env);
    app_.setWorkingDirectory(folder_.Root());
    app_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app_.start(QStringLiteral(QAVTOOL_PATH), {"12", "1", "DEMO", "", "EXPORT-TO", "10/12/2026"});
    ASSERT_TRUE(app_.waitForStarted(kWaitMs));
    main_ = WaitForWindow(QStringLiteral("SQL Export"));
    ASSERT_FALSE(main_.isEmpty()) << "the console did not show";
  }

  void TearDown() override {
    if (app_.state() != QProcess::NotRunning) {
      app_.kill();
      app_.waitForFinished();
    }
  }

  // Runs xdotool on the server; its standard output.
  QString Xdo(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(kWaitMs);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  }

  // The windows shown whose title is `name`, oldest first.
  QStringList Windows(const QString& name) {
    return Xdo({"search", "--onlyvisible", "--name", "^" + name + "$"})
        .split(u'\n', Qt::SkipEmptyParts);
  }

  // The newest window of that title that is not among `known`; empty after the wait.
  QString WaitForWindow(const QString& name, const QStringList& known = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < kWaitMs && app_.state() == QProcess::Running) {
      const QStringList found = Windows(name);
      for (qsizetype i = found.size() - 1; i >= 0; --i)
        if (!known.contains(found[i])) return found[i];
      QTest::qWait(100);
    }
    return {};
  }

  // Keys and text go to the window that has the keyboard focus; there is no window manager.
  void Focus(const QString& window) { Xdo({"windowfocus", "--sync", window}); }
  // `keys`: key names separated by blanks ("shift+Tab Return").
  void Key(const QString& window, const QString& keys) {
    Focus(window);
    Xdo(QStringList{"key", "--clearmodifiers"} + keys.split(u' ', Qt::SkipEmptyParts));
  }
  void TypeText(const QString& window, const QString& text) {
    Focus(window);
    Xdo({"type", "--delay", "20", text});
  }
  void Click(const QString& window, int x, int y) {
    Xdo({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
  }

  // Types the statement into the memo and runs it with F5.
  void RunStatement(const QString& statement) {
    Click(main_, 300, 200);  // into the memo
    TypeText(main_, statement);
    Key(main_, QStringLiteral("F5"));
  }

  // "Save output TO", then the save dialog: the type chosen with the keyboard in the dialog's
  // type list (the next field after the name's), the name typed, Return.
  QString Save(const QString& name, int type) {
    Click(main_, 632 + 77, 166 + 12);
    const QString dialog = WaitForWindow(QStringLiteral("Save As"));
    if (dialog.isEmpty()) return {};
    Key(dialog, QStringLiteral("Tab Home"));
    for (int i = 1; i < type; ++i) Key(dialog, QStringLiteral("Down"));
    Key(dialog, QStringLiteral("shift+Tab"));
    TypeText(dialog, name);
    Key(dialog, QStringLiteral("Return"));
    return dialog;
  }

  // Answers the next box of that title with keys: the console's messages carry the
  // application's title, its question "Confirm", the export's reports "Information".
  bool Answer(const QString& title, const QString& keys) {
    const QString box = WaitForWindow(title, {main_});
    if (box.isEmpty()) return false;
    Key(box, keys);
    QElapsedTimer t;
    t.start();
    while (Windows(title).contains(box) && t.elapsed() < kWaitMs) QTest::qWait(100);
    return true;
  }

  QString Path(const QString& name) const { return folder_.Root() + u'/' + name; }
  static QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // The files of the folder whose names start with `stem` (a hidden partial file too).
  QStringList Files(const QString& stem) const {
    QStringList out;
    for (const QString& n : QDir(folder_.Root()).entryList(QDir::Files | QDir::Hidden))
      if (n.startsWith(stem) || n.startsWith(u'.' + stem)) out << n;
    return out;
  }

  qav::test::DemoSuiteFolder folder_{500};
  XServer x_;
  QProcessEnvironment env_;
  QProcess app_;
  QString main_;
};

}  // namespace

TEST_F(DesktopJourney, SavesInEveryFormat) {
  RunStatement(QStringLiteral("select Id, Code, NameEng from Customer where Id <= 3 order by Id"));
  struct Case {
    int type;
    const char* name;
    const char* file;
    QByteArray start;  // the format's first bytes
  };
  const Case cases[] = {
      {3, "text", "text.txt", "Id\tCode\tNameEng\r\n"},
      {1, "excel", "excel.xls", QByteArray("\x09\x04\x06\x00", 4)},
      {2, "word", "word.doc", "PK"},
      {4, "lotus", "lotus.wks", QByteArray("\x00\x00\x02\x00\x04\x04", 6)},
      {5, "quattro", "quattro.wq1", QByteArray("\x00\x00\x02\x00\x20\x51", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(Save(QString::fromLatin1(c.name), c.type).isEmpty()) << "no save dialog";
    const QString path = Path(QString::fromLatin1(c.file));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), kWaitMs);
    ASSERT_TRUE(Answer(QStringLiteral("SQL Export"), QStringLiteral("Return")));  // "OK !! ..."
    EXPECT_TRUE(ReadAll(path).startsWith(c.start)) << ReadAll(path).left(16).toHex().toStdString();
    EXPECT_EQ(Files(QString::fromLatin1(c.name)), QStringList{QString::fromLatin1(c.file)});
  }
}

// A cancelled export and a failed one: no new file, no partial file, an existing file as it was.
TEST_F(DesktopJourney, CancelledAndFailedExportsLeaveNoFile) {
  RunStatement(QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000000) "
      "select i as Id, 'Row ' || i as Name from n"));

  // Escape in the progress window while it writes: an Excel workbook, whose million rows take
  // many seconds, so that the key comes before the end (a text file of them takes one second).
  ASSERT_FALSE(Save(QStringLiteral("many"), 6).isEmpty());
  const QString progress = WaitForWindow(QStringLiteral("DataExport 4.30"));
  ASSERT_FALSE(progress.isEmpty()) << "no progress window";
  Key(progress, QStringLiteral("Escape"));
  ASSERT_TRUE(Answer(QStringLiteral("SQL Export"), QStringLiteral("Return")));  // "...canceled..."
  EXPECT_EQ(Files(QStringLiteral("many")), QStringList());

  // More rows than an Excel sheet holds, over an existing file the user agrees to replace.
  {
    QFile f(Path(QStringLiteral("big.xls")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  ASSERT_FALSE(Save(QStringLiteral("big"), 1).isEmpty());
  ASSERT_TRUE(Answer(QStringLiteral("Confirm"), QStringLiteral("Return")));      // Yes
  ASSERT_TRUE(Answer(QStringLiteral("Information"), QStringLiteral("Return")));  // the error
  EXPECT_EQ(ReadAll(Path(QStringLiteral("big.xls"))), "keep me");
  EXPECT_EQ(Files(QStringLiteral("big")), QStringList{"big.xls"});
  EXPECT_EQ(app_.state(), QProcess::Running);
}

// The console as a daily tool in the real program: the window takes the screen, a script's GO
// batches run (an UPDATE is no error), two results get two grids, and F3 on changed text asks
// before it goes. The picture of this is the README's.
TEST_F(DesktopJourney, TheConsoleGrowsRunsBatchesAndAsksBeforeNew) {
  Xdo({"windowmove", main_, "0", "0"});
  Xdo({"windowsize", "--sync", main_, "1280", "1000"});
  const QString geometry = Xdo({"getwindowgeometry", main_});
  EXPECT_TRUE(geometry.contains(QStringLiteral("1280x1000"))) << geometry.toStdString();

  Click(main_, 300, 200);  // into the memo
  // Line by line: xdotool types a line end as a key Qt does not take for Return.
  for (const char* line : {"update Customer set Telephone = '02-999-9999' where Id = 3", "GO",
                           "select Id, Code, NameEng, Telephone from Customer where Id <= 5",
                           "select Code, NameEng, Price from Product where Id <= 3"}) {
    TypeText(main_, QString::fromLatin1(line));
    Key(main_, QStringLiteral("Return"));
  }
  Key(main_, QStringLiteral("F5"));
  // No error window: an UPDATE is no failure.
  QTest::qWait(2000);
  EXPECT_TRUE(Windows(QStringLiteral("Windows Error Message")).isEmpty());
  EXPECT_TRUE(Windows(QStringLiteral("SQL Export")).contains(main_));

  QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
  const QString picture = QStringLiteral(SCREENSHOT_DIR "/console.png");
  QProcess grab;
  grab.setProcessEnvironment(env_);
  grab.start(QStringLiteral(GRAB_SCREEN_PATH), {picture});
  ASSERT_TRUE(grab.waitForFinished(kWaitMs));
  EXPECT_EQ(grab.exitCode(), 0);
  EXPECT_GT(QFileInfo(picture).size(), 10000);

  // F3 on the changed text: the question comes; Escape (Cancel) keeps the text and the window.
  Key(main_, QStringLiteral("BackSpace F3"));
  ASSERT_TRUE(Answer(QStringLiteral("SQL Export"), QStringLiteral("Escape")));
  EXPECT_EQ(app_.state(), QProcess::Running);
}

// A statement that runs for far longer than any wait here: while it runs the window takes keys
// (Ctrl+Q brings its question), Escape cancels it (F3 then asks about the script, which it does
// not while a run is under way), and SIGTERM ends the program with its statement, in order.
TEST_F(DesktopJourney, ALongStatementNeitherFreezesNorOutlivesEscapeOrSigterm) {
  const QString endless = QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10000000000) "
      "select count(*) as N from n");
  RunStatement(endless);
  QTest::qWait(1000);
  Key(main_, QStringLiteral("ctrl+q"));
  ASSERT_TRUE(Answer(QStringLiteral("Confirm"), QStringLiteral("Escape")));  // No: stays
  Key(main_, QStringLiteral("Escape"));
  Key(main_, QStringLiteral("F3"));
  ASSERT_TRUE(Answer(QStringLiteral("SQL Export"), QStringLiteral("Escape")));  // Cancel: kept
  EXPECT_TRUE(Windows(QStringLiteral("Windows Error Message")).isEmpty());

  Key(main_, QStringLiteral("F5"));  // the same statement again
  QTest::qWait(1000);
  QElapsedTimer ending;
  ending.start();
  app_.terminate();
  ASSERT_TRUE(app_.waitForFinished(kWaitMs)) << "the program outlived SIGTERM";
  EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app_.exitCode(), 0);
  RecordProperty("ms_from_sigterm_to_exit", static_cast<int>(ending.elapsed()));
}
