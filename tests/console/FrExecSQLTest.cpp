// The SQL console driven headless against the embedded demo suite.
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "console/FrExecSQL.h"
#include "console/ResultGrid.h"
#include "console/ResultModel.h"
#include "core/Cp874.h"
#include "core/ExceptionHandler.h"
#include "core/ScriptFile.h"
#include "db/Database.h"
#include "db/Query.h"
#include "tests/console/ConsoleFixture.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;

using qav::test::Console;
using States = std::array<bool, 3>;

TEST_F(Console, ButtonsFollowNewTypingAndExecution) {
  EXPECT_EQ(window_->windowTitle(), "SQL Export");
  EXPECT_EQ(Buttons(), (States{true, false, false}));
  EXPECT_FALSE(window_->ButtonVisible(window_->BDel));
  EXPECT_FALSE(window_->ButtonVisible(window_->BSave));
  EXPECT_TRUE(window_->ButtonVisible(window_->BNew));

  Type("   ");
  EXPECT_EQ(Buttons(), (States{true, false, false}));
  Type("select Code, NameThai from Customer order by Id");
  EXPECT_EQ(Buttons(), (States{true, true, false}));
  window_->BtnExec->click();
  EXPECT_EQ(Buttons(), (States{true, true, true}));
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 200);

  // New empties memo and grid (a run did not save the script: No discards it); the buttons start
  // over.
  answers_ = {"no"};
  QTest::keyClick(window_->Memo1, Qt::Key_F3);
  EXPECT_EQ(Texts(DialogRequest::Kind::YesNoCancel),
            QStringList{"The SQL script has changed. Save it ?"});
  EXPECT_TRUE(window_->Memo1->toPlainText().isEmpty());
  EXPECT_FALSE(window_->QExport->Active());
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 0);
  EXPECT_EQ(Buttons(), (States{true, false, false}));
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(Console, PrintedTextShowsInTheStatusBarBesideTheResult) {
  window_->Memo1->setPlainText(
      QStringLiteral("declare @n int = 3\nprint 'rows: ' + cast(@n as varchar)\n"
                     "select top (@n) Code from Customer order by Code\nprint N'เสร็จ'"));
  window_->BtnExec->click();
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 3);
  EXPECT_TRUE(window_->StatusPanel(1)->text().endsWith(QStringLiteral("  rows: 3  เสร็จ")))
      << window_->StatusPanel(1)->text().toStdString();

  // A failing statement still shows what was printed before it; the next run starts afresh.
  window_->Memo1->clear();
  window_->Memo1->setPlainText(QStringLiteral("print 'before'\nselect 'a' + 1"));
  window_->BtnExec->click();
  EXPECT_EQ(window_->StatusPanel(1)->text(), "before");
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains("Conversion failed")) << errors_[0].toStdString();
  window_->Memo1->clear();
  Type("select 1");
  window_->BtnExec->click();
  EXPECT_FALSE(window_->StatusPanel(1)->text().contains("before"))
      << window_->StatusPanel(1)->text().toStdString();
}

TEST_F(Console, TheGridShowsTheResultInFieldOrderWithThaiText) {
  Type("select Id, Code, NameThai, NameEng from Customer where Id <= 3 order by Id");
  QTest::keyClick(window_->Memo1, Qt::Key_F5);
  QAbstractItemModel* m = window_->DBGExecSQL->model();
  ASSERT_EQ(m->columnCount(), 4);
  EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), "NameThai");
  EXPECT_EQ(m->data(m->index(0, 1)).toString(), "C0001");
  EXPECT_EQ(m->data(m->index(0, 2)).toString(), "บริษัท สยามการค้า จำกัด");
  EXPECT_EQ(m->data(m->index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);
  EXPECT_EQ(m->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignLeft,
            Qt::AlignLeft);
  EXPECT_EQ(window_->DBGExecSQL->palette().color(QPalette::AlternateBase), QColor(240, 251, 255));
  EXPECT_TRUE(window_->DBGExecSQL->SelectedFields.isEmpty());

  // Choosing a row moves the query's cursor there and the indicator with it.
  window_->DBGExecSQL->selectRow(2);
  EXPECT_EQ(window_->QExport->FieldByName("Id").AsInteger(), 3);
  EXPECT_EQ(m->headerData(2, Qt::Vertical).toString(), QString::fromUtf8("\u25B6"));
  EXPECT_EQ(m->headerData(0, Qt::Vertical).toString(), "");
}

TEST_F(Console, F5RunsOnlyFromTheMemoAndEvenWhenExecuteIsDisabled) {
  window_->BtnOpen->setFocus();
  QTest::keyClick(window_->BtnOpen, Qt::Key_F5);
  EXPECT_TRUE(asked_.empty());

  // An empty memo runs the empty statement; the layer's error reaches the handler.
  window_->Memo1->setFocus();
  QTest::keyClick(window_->Memo1, Qt::Key_F5);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains("No SQL statement available"));

  Type("select 1 as One");
  QTest::keyClick(window_->Memo1, Qt::Key_F5);
  window_->DBGExecSQL->setFocus();
  Type("");  // no change of the memo
  window_->DBGExecSQL->setFocus();
  window_->QExport->Close();
  QTest::keyClick(window_->DBGExecSQL, Qt::Key_F5);
  EXPECT_FALSE(window_->QExport->Active());
}

TEST_F(Console, WindowShortcutsActInTheMemoButEnterAndEscapeDoNot) {
  Type("select 1");
  QTest::keyClick(window_->Memo1, Qt::Key_Return);
  QTest::keyClick(window_->Memo1, Qt::Key_Escape);
  EXPECT_EQ(window_->Memo1->toPlainText(), "select 1\n");
  EXPECT_TRUE(asked_.empty());
  // Ctrl+X is the editor's Cut; Exit has Ctrl+Q.
  answers_ = {"no"};
  QTest::keyClick(window_->Memo1, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(Texts(DialogRequest::Kind::Confirm), QStringList{"Exit Program ?"});
  EXPECT_EQ(window_->Memo1->toPlainText(), "select 1\n");
  EXPECT_TRUE(window_->isVisible());
  // Leaving the memo gives the window its keys back.
  window_->BtnExec->setFocus();
  EXPECT_TRUE(window_->KeyPreview());
}

TEST_F(Console, OpeningScriptFiles) {
  struct Case {
    const char* name;
    QByteArray bytes;  // null: the file does not exist
    QString memo;
    States buttons;
    QStringList messages;  // "%1": the file's path
    QString path;          // a file that is there already
  };
  // What is not a regular file, or is too large, is refused with a message and never read.
  const QString pipe = files_.path() + "/pipe.sql";
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  const QString huge = files_.path() + "/huge.sql";
  {
    QFile f(huge);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(kMaxScriptFileBytes + 1));
  }
  const QString notAFile = "%1 is not a regular file; only a file can be read as a script.";
  const QByteArray thai =
      ToCp874(QStringLiteral("select * from Customer where NameThai like 'บริษัท%'"));
  const Case cases[] = {
      {"blank.sql",
       QByteArray(" \r\n\t\r\n"),
       QStringLiteral(" \n\t\n"),
       {false, false, false},
       {},
       {}},
      {"empty.sql", QByteArray(""), QString(), {false, true, false}, {}, {}},
      {"missing.sql", QByteArray(), QString(), {false, true, false}, {"File not found!!!"}, {}},
      {"thai.sql",
       thai,
       QStringLiteral("select * from Customer where NameThai like 'บริษัท%'"),
       {false, true, false},
       {},
       {}},
      {"bom.sql",
       QByteArray("\xEF\xBB\xBFselect 'ไทย'"),
       QStringLiteral("select 'ไทย'"),
       {false, true, false},
       {},
       {}},
      // UTF-8 without a byte-order mark, as most editors save it.
      {"utf8.sql",
       QStringLiteral("select * from Customer where NameThai like 'บริษัท%'").toUtf8(),
       QStringLiteral("select * from Customer where NameThai like 'บริษัท%'"),
       {false, true, false},
       {},
       {}},
      {"pipe", QByteArray(), QString(), {false, true, false}, {notAFile}, pipe},
      {"device", QByteArray(), QString(), {false, true, false}, {notAFile}, "/dev/zero"},
      {"huge",
       QByteArray(),
       QString(),
       {false, true, false},
       {"%1 is larger than 64 MiB; a script file must be smaller."},
       huge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->AcNewExecute();
    asked_.clear();
    const QString path = !c.path.isEmpty()  ? c.path
                         : c.bytes.isNull() ? files_.path() + "/" + c.name
                                            : WriteFile(c.name, c.bytes);
    answers_ = {path};
    // The dialog may leave the process in another folder; the window goes back.
    onOpen_ = [this] { QDir::setCurrent(files_.path()); };
    window_->BtnOpen->click();
    EXPECT_EQ(window_->Memo1->toPlainText(), c.memo);
    EXPECT_EQ(Buttons(), c.buttons);
    QStringList messages;
    for (const QString& m : c.messages) messages << m.arg(path);
    EXPECT_EQ(Texts(DialogRequest::Kind::Message), messages);
    EXPECT_EQ(window_->PageControl1->tabText(0), "SQL Script " + path);
    ASSERT_FALSE(asked_.empty());
    EXPECT_EQ(asked_[0].filter, "SQL Script files|*.sql|All files|*.*");
    EXPECT_EQ(QDir::currentPath(), StartFolder);
  }
  // Cancelling changes nothing but the folder.
  window_->AcNewExecute();
  answers_.clear();
  window_->BtnOpen->click();
  EXPECT_EQ(Buttons(), (States{true, false, false}));
  EXPECT_EQ(window_->PageControl1->tabText(0), "SQL Script");
  EXPECT_EQ(QDir::currentPath(), StartFolder);
}

TEST_F(Console, AFailingStatementLeavesAnEmptyGridAndTheButtonsAsTheyWere) {
  Type("select Code from Customer");
  window_->BtnExec->click();
  ASSERT_EQ(Buttons(), (States{true, true, true}));
  window_->Memo1->clear();
  Type("select NoSuchColumn from Customer");
  window_->BtnExec->click();
  EXPECT_EQ(Buttons(), (States{true, true, true}));
  EXPECT_FALSE(window_->QExport->Active());
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 0);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains("Invalid column name 'NoSuchColumn'."))
      << errors_[0].toStdString();
  EXPECT_EQ(window_->Memo1->toPlainText(), "select NoSuchColumn from Customer");
}

// Scripts that fail, and where the Messages page says the error stands: the script's line of
// the failing statement, as the server names it within its batch. A last batch left inside a
// comment fails as SQL Server fails it, instead of seeming to have run whole.
namespace {
void ExpectErrorPlaces(TFrExecSQL& window, QStringList& errors) {
  struct Case {
    const char* script;
    const char* place;
    const char* message;
  };
  const Case cases[] = {
      {"\n\nselect 1/0", "Line 3: ", "Divide by zero error encountered."},
      {"select 1\ngo\nselect 2\nselect 1/0", "Batch 2, line 4: ", "Divide by zero"},
      {"select 1\ngo\n\nselect 1\nend", "Batch 2, line 5: ", "near the keyword 'END'."},
      {"select 1 as a\ngo\n/* select 2 as b", "Batch 2, line 3: ", "Missing end comment mark"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    errors.clear();
    window.Memo1->setPlainText(QString::fromUtf8(c.script));
    window.BtnExec->click();
    EXPECT_EQ(errors.size(), 1);
    const QString said = window.MessagesMemo->toPlainText();
    const qsizetype at = said.indexOf(QLatin1String(c.place));
    EXPECT_TRUE(at >= 0 && said.indexOf(QLatin1String(c.message), at) > at) << said.toStdString();
  }
}
}  // namespace

TEST_F(Console, AnErrorNamesTheScriptLineOfItsStatement) {
  ExpectErrorPlaces(*window_, errors_);
}

// The console with SQL Server's side of the wire behind it: the TDS test server through ODBC.
class ConsoleOverTds : public Console {
 protected:
  void SetUp() override {
    if (!QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so")))
      GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
    // Its Server.Dat, in the current folder, names the server for the connections made next.
    tds_ = std::make_unique<test::TdsDemoSuite>(20);
    Console::SetUp();
  }
  void TearDown() override {
    Console::TearDown();
    config_.reset();
    dm_.reset();
    tds_.reset();
  }

  std::unique_ptr<test::TdsDemoSuite> tds_;
};

TEST_F(ConsoleOverTds, AnErrorNamesTheScriptLineOfItsStatement) {
  ExpectErrorPlaces(*window_, errors_);
}

TEST_F(Console, TheFirstExecutionOpensTheCompanyConnectionAndReleasesTheLogo) {
  CreateLogo();
  EXPECT_FALSE(dm_->DMdata->Connected());
  Type("select count(*) as N from Sales");
  window_->BtnExec->click();
  EXPECT_TRUE(dm_->DMdata->Connected());
  EXPECT_EQ(FormLogo, nullptr);
  EXPECT_EQ(window_->QExport->FieldByName("N").AsInteger(), 60);
}

// "Execute" and "Save output TO" have coloured captions while enabled; disabled (no statement
// yet, or while the progress window runs) they grey out as any button does.
TEST_F(Console, DisabledButtonsLookDisabled) {
  // Pixels of the caption's own colour in the button as it is painted.
  const auto colouredPixels = [](QPushButton* b, const QColor& colour) {
    const QImage image = b->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor p = image.pixelColor(x, y);
        n += std::abs(p.red() - colour.red()) + std::abs(p.green() - colour.green()) +
                 std::abs(p.blue() - colour.blue()) <
             90;
      }
    return n;
  };
  ASSERT_FALSE(window_->BtnExec->isEnabled());
  EXPECT_EQ(colouredPixels(window_->BtnExec, Qt::blue), 0);
  EXPECT_EQ(colouredPixels(window_->BtnExport, Qt::red), 0);
  Type("select 1");
  window_->BtnExec->click();
  EXPECT_GT(colouredPixels(window_->BtnExec, Qt::blue), 0);
  EXPECT_GT(colouredPixels(window_->BtnExport, Qt::red), 0);
  // A disabled window, as the progress window leaves it, disables its buttons too.
  window_->setEnabled(false);
  EXPECT_EQ(colouredPixels(window_->BtnExec, Qt::blue), 0);
  EXPECT_EQ(colouredPixels(window_->BtnExport, Qt::red), 0);
  window_->setEnabled(true);
}
