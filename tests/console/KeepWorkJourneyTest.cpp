// The console never loses typed work and says what is so: a run is not a save, a file that was
// not read is never overwritten, scripts go back to disk as they came, the editor keeps its own
// keys, an open transaction is asked about, and the status bar and grid say things right.
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "core/ScriptFile.h"
#include "db/Database.h"
#include "db/Query.h"
#include "script/StatementRunner.h"
#include "tests/console/Journey.h"
#include "tests/console/RealUser.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QStringEncoder>
#include <QTabBar>
#include <QTextCursor>
#include <QTimer>

using namespace qav;
using qav::test::RealUser;

namespace {

class KeepWork : public qav::test::Journey {
 protected:
  // A file in the folder the open dialog starts in.
  static QString Place(const QString& name, const QByteArray& bytes) {
    const QString path = QDir(StartFolder).filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }
  // Opens a file through the real open dialog (New first); the messages that came are answered.
  QStringList Open(const QString& name, int messages = 0) {
    Key(window_->Memo1, Qt::Key_F3);
    RealUser user;
    user.FillFileDialog(name);
    for (int i = 0; i < messages; ++i) user.AnswerMessage();
    QTest::mouseClick(window_->BtnOpen, Qt::LeftButton);
    EXPECT_TRUE(user.Done());
    return user.Messages();
  }
  void ClickTab(int index) {
    QTabBar* bar = window_->ResultTabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
  }
  QString TextOf(int grid, int row, int column) const {
    return window_->Grids()[static_cast<std::size_t>(grid)]
        ->model()
        ->index(row, column)
        .data()
        .toString();
  }
};

QByteArray Utf16(const QString& text, QStringEncoder::Encoding encoding) {
  return QStringEncoder(encoding).encode(text);
}

}  // namespace

// F5 runs the script but does not save it: New and Exit still ask about it.
TEST_F(KeepWork, ARunIsNotASave) {
  Write(QStringLiteral("select 1"));
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_TRUE(window_->ScriptChanged());
  EXPECT_TRUE(Caption().endsWith(QStringLiteral(" *"))) << Caption().toStdString();
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Cancel"));
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(user.Messages(), QStringList{"The SQL script has changed. Save it ?"});
  }
  EXPECT_EQ(window_->Memo1->toPlainText(), "select 1");
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Yes"));
    user.AnswerMessage(QStringLiteral("Cancel"));
    Key(window_->Memo1, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(user.Messages(),
              (QStringList{"Exit Program ?", "The SQL script has changed. Save it ?"}));
  }
  EXPECT_TRUE(window_->isVisible());
}

// The editor has the focus after start and after New, so the first key typed is text; Ctrl+X
// cuts as the context menu says, and Exit has Ctrl+Q.
TEST_F(KeepWork, TheEditorHasTheFocusAndItsOwnKeys) {
  EXPECT_EQ(QApplication::focusWidget(), window_->Memo1);
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral(" select 2"));
  EXPECT_EQ(window_->Memo1->toPlainText(), " select 2");

  Key(window_->Memo1, Qt::Key_A, Qt::ControlModifier);
  {
    RealUser user;  // no question may come
    Key(window_->Memo1, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(user.Messages().isEmpty());
  }
  EXPECT_EQ(QGuiApplication::clipboard()->text(), " select 2");
  EXPECT_TRUE(window_->Memo1->toPlainText().isEmpty());
  Key(window_->Memo1, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(window_->Memo1->toPlainText(), " select 2");
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("No"));
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
  }
  EXPECT_EQ(window_->focusWidget(), window_->Memo1);
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("No"));
    Key(window_->Memo1, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(user.Messages(), QStringList{"Exit Program ?"});
  }
  EXPECT_TRUE(window_->isVisible());
}

// A file refused (too large, or a NUL in it as a picture saved under a script's name has) is
// never the file that Save writes: Ctrl+S asks for a name, and the file keeps its bytes.
TEST_F(KeepWork, AFileThatWasNotReadIsNeverOverwritten) {
  const QString huge = QDir(StartFolder).filePath("huge.sql");
  {
    QFile f(huge);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(kMaxScriptFileBytes + 1));
  }
  const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01", 20);
  Place("picture.sql", png);
  struct Case {
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {"huge.sql", "is larger than 64 MiB"},
      {"picture.sql", "holds a NUL character on line 3"},
  };
  int saved = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QStringList said = Open(QString::fromLatin1(c.name), 1);
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].contains(QLatin1String(c.message))) << said[0].toStdString();
    EXPECT_TRUE(window_->ScriptFileName().isEmpty());
    Write(QStringLiteral("select 2"));
    RealUser user;
    const QString name = QStringLiteral("typed%1").arg(++saved);
    user.FillFileDialog(name);
    Key(window_->Memo1, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(ReadAll(QDir(StartFolder).filePath(name + ".sql")), "select 2");
  }
  EXPECT_EQ(QFileInfo(huge).size(), kMaxScriptFileBytes + 1);
  EXPECT_EQ(ReadAll(QDir(StartFolder).filePath("picture.sql")), png);
}

// Scripts as Windows tools write them: UTF-16 ("Unicode") by its mark, UTF-8 with a mark, code
// page 874, CR LF line ends. Each is read as text and saved back in its own form; an unchanged
// file is not written at all.
TEST_F(KeepWork, ScriptsGoBackToDiskAsTheyCame) {
  const QString before = QStringLiteral("select 1\nselect N'ไทย'");
  const QString after = before + QStringLiteral(" x");
  const auto crlf = [](QString text) { return text.replace(u'\n', QStringLiteral("\r\n")); };
  struct Case {
    const char* name;
    QByteArray bytes;
    QByteArray saved;
  };
  const Case cases[] = {
      {"utf16le.sql", "\xFF\xFE" + Utf16(crlf(before), QStringEncoder::Utf16LE),
       "\xFF\xFE" + Utf16(crlf(after), QStringEncoder::Utf16LE)},
      {"utf16be.sql", "\xFE\xFF" + Utf16(before, QStringEncoder::Utf16BE),
       "\xFE\xFF" + Utf16(after, QStringEncoder::Utf16BE)},
      {"utf8bom.sql", "\xEF\xBB\xBF" + crlf(before).toUtf8(),
       "\xEF\xBB\xBF" + crlf(after).toUtf8()},
      {"utf8.sql", before.toUtf8(), after.toUtf8()},
      {"thai.sql", ToCp874(crlf(before)), ToCp874(crlf(after))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = Place(QString::fromLatin1(c.name), c.bytes);
    EXPECT_TRUE(Open(QString::fromLatin1(c.name)).isEmpty());
    EXPECT_EQ(window_->Memo1->toPlainText(), before);
    window_->Memo1->moveCursor(QTextCursor::End);
    Keys(window_->Memo1, QStringLiteral(" x"));
    Key(window_->Memo1, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(ReadAll(path), c.saved);
    EXPECT_FALSE(window_->ScriptChanged());
  }
  // Mixed line ends: a rewrite would change them, so an unchanged file is left alone.
  const QByteArray mixed("select 1\r\nselect 2\nselect 3");
  const QString path = Place("mixed.sql", mixed);
  EXPECT_TRUE(Open(QStringLiteral("mixed.sql")).isEmpty());
  Key(window_->Memo1, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(ReadAll(path), mixed);
}

// A NUL character would end the statements unseen: a script holding one is refused with its
// line, whether it comes from a file or is pasted, and nothing of it runs.
TEST_F(KeepWork, ANulCharacterIsRefusedWithItsLine) {
  Place("nul.sql", QByteArray("select 1\nselect 2\nselect\0 3", 27));
  const QStringList said = Open(QStringLiteral("nul.sql"), 1);
  ASSERT_EQ(said.size(), 1);
  EXPECT_TRUE(said[0].contains(QLatin1String("holds a NUL character on line 3")))
      << said[0].toStdString();
  EXPECT_TRUE(window_->Memo1->toPlainText().isEmpty());

  QGuiApplication::clipboard()->setText(
      QStringLiteral("update Customer set Telephone = 'n' where Id = 1\nselect 1") + QChar(0));
  window_->Memo1->setFocus();
  Key(window_->Memo1, Qt::Key_V, Qt::ControlModifier);
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains(QLatin1String("NUL character on line 2")))
      << errors_[0].toStdString();
  db::TQuery check;
  check.SetDatabaseName(QStringLiteral("DMDATA"));
  check.SetSQL(QStringLiteral("select count(*) as N from Customer where Telephone = 'n'"));
  check.Open();
  EXPECT_EQ(check.FieldByName(QStringLiteral("N")).AsInteger(), 0);
}

// Save output TO: a name typed with the extension of one of the types is written in that type,
// whichever type the list showed; a name without one takes the type shown.
TEST_F(KeepWork, TheTypedExtensionChoosesTheFileType) {
  Run(QStringLiteral("select Id, Code from Customer where Id <= 2 order by Id"));
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  struct Case {
    const char* name;
    int type;  // in the dialog's list: 1 Excel (*.xls), 3 Text
    const char* file;
    QByteArray starts;
  };
  const Case cases[] = {
      {"sales.xlsx", 1, "sales.xlsx", "PK\x03\x04"},
      {"sales.txt", 1, "sales.txt", "Id\tCode\r\n"},
      {"sales.XLS", 3, "sales.XLS", QByteArray("\x09\x04", 2)},
      {"plain", 3, "plain.txt", "Id\tCode\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RealUser user;
    user.FillFileDialog(QString::fromLatin1(c.name), c.type);
    user.AnswerMessage();
    QTest::mouseClick(window_->BtnExport, Qt::LeftButton);
    EXPECT_TRUE(user.Done());
    const QString path = QDir(StartFolder).filePath(QString::fromLatin1(c.file));
    EXPECT_EQ(user.Messages(), QStringList{"OK !! Exported To " + path});
    EXPECT_TRUE(ReadAll(path).startsWith(c.starts)) << ReadAll(path).left(16).toHex().constData();
  }
}

// A sorted grid is saved in the order shown.
TEST_F(KeepWork, ASortedGridIsSavedInTheOrderShown) {
  Run(QStringLiteral("select Id, Code from Customer where Id <= 3 order by Id desc"));
  TResultGrid* grid = window_->DBGExecSQL;
  QHeaderView* header = grid->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  ASSERT_EQ(TextOf(0, 0, 0), "1");
  RealUser user;
  user.FillFileDialog(QStringLiteral("sorted"), 3);
  user.AnswerMessage();
  QTest::mouseClick(window_->BtnExport, Qt::LeftButton);
  EXPECT_TRUE(user.Done());
  const QList<QByteArray> lines = ReadAll(QDir(StartFolder).filePath("sorted.txt")).split('\n');
  ASSERT_GE(lines.size(), 4);
  EXPECT_TRUE(lines[1].startsWith("1\t") && lines[2].startsWith("2\t") &&
              lines[3].startsWith("3\t"))
      << ReadAll(QDir(StartFolder).filePath("sorted.txt")).constData();
}

// An open transaction shows in the status bar, and Exit asks whether to commit it: Cancel stays,
// Yes commits, No rolls back.
TEST_F(KeepWork, AnOpenTransactionIsAskedAboutAtExit) {
  struct Case {
    const char* answer;
    const char* telephone;  // what the row holds afterwards
  };
  const Case cases[] = {{"Yes", "committed"}, {"No", "02-111-1111"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    if (!window_->isVisible()) {
      window_ = std::make_unique<TFrExecSQL>();
      window_->show();
      QApplication::setActiveWindow(window_.get());
      ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }
    Run(
        QStringLiteral("update Customer set Telephone = '02-111-1111' where Id = 1\n"
                       "begin transaction\n"
                       "update Customer set Telephone = 'committed' where Id = 1"));
    ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
    EXPECT_EQ(Status(0), "Open transaction");
    {
      RealUser user;
      user.AnswerMessage(QStringLiteral("Yes"));
      user.AnswerMessage(QStringLiteral("No"));  // the script itself is not kept
      user.AnswerMessage(QStringLiteral("Cancel"));
      EXPECT_FALSE(window_->close());
      EXPECT_TRUE(user.Done());
      ASSERT_EQ(user.Messages().size(), 3);
      EXPECT_TRUE(user.Messages()[2].startsWith("There are uncommitted transactions."));
    }
    EXPECT_TRUE(window_->isVisible());
    {
      RealUser user;
      user.AnswerMessage(QStringLiteral("Yes"));
      user.AnswerMessage(QStringLiteral("No"));
      user.AnswerMessage(QString::fromLatin1(c.answer));
      EXPECT_TRUE(window_->close());
      EXPECT_TRUE(user.Done());
    }
    db::TQuery check;
    check.SetDatabaseName(QStringLiteral("DMDATA"));
    check.SetSQL(QStringLiteral("select Telephone from Customer where Id = 1"));
    check.Open();
    EXPECT_EQ(check.FieldByName(QStringLiteral("Telephone")).AsString(), c.telephone);
    EXPECT_FALSE(dm_->DMdata->InTransaction());
  }
}

// The status bar speaks of the page in front: each result's rows, the rows a run changed, a
// count as a sentence says it; New empties it.
TEST_F(KeepWork, TheStatusBarFollowsThePageInFront) {
  Run(QStringLiteral("select 1 as a\nselect Id from Customer where Id <= 2"));
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_TRUE(Status().startsWith("1 row in ")) << Status().toStdString();
  ClickTab(1);
  EXPECT_TRUE(Status().startsWith("2 rows in ")) << Status().toStdString();
  ClickTab(0);
  EXPECT_TRUE(Status().startsWith("1 row in ")) << Status().toStdString();

  Run(QStringLiteral("update Customer set Telephone = 'z' where Id <= 3"));
  EXPECT_TRUE(Status().startsWith("3 rows affected in ")) << Status().toStdString();

  Run(
      QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                     "1234) select i from n"));
  ASSERT_TRUE(Fetched());
  EXPECT_TRUE(Status().startsWith("1,234 rows in ")) << Status().toStdString();
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("No"));
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
  }
  EXPECT_TRUE(Status().isEmpty()) << Status().toStdString();
}

// Money shows its two decimals and a decimal its scale, as SQL Server's tools show them.
TEST_F(KeepWork, MoneyAndDecimalsShowTheirPlaces) {
  Run(
      QStringLiteral("create table Amounts (M money, D decimal(18,4), I int)\n"
                     "insert into Amounts values (2150000, 5, 7), (150.5, 1.25, 8)\n"
                     "select M, D, I from Amounts"));
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(TextOf(0, 0, 0), "2150000.00");
  EXPECT_EQ(TextOf(0, 1, 0), "150.50");
  EXPECT_EQ(TextOf(0, 0, 1), "5.0000");
  EXPECT_EQ(TextOf(0, 1, 1), "1.2500");
  EXPECT_EQ(TextOf(0, 0, 2), "7");
}

// A statement that would run for hours: the window shows it running, takes the keys typed
// meanwhile, and Escape cancels it without an error window. The longest time the window's
// thread was kept from its events goes to the test's record.
TEST_F(KeepWork, ALongStatementRunsOffTheWindowsThreadAndEscapeCancelsIt) {
  Write(
      QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                     "10000000000) select count(*) as N from n"));
  int beats = 0;
  QString running;
  QTimer user;
  user.setInterval(50);
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (++beats == 10) {
      running = Status();
      QTest::keyClicks(window_->Memo1, QStringLiteral(" -- typed"));
    } else if (beats == 20) {
      QTest::keyClick(window_->Memo1, Qt::Key_Escape);
      user.stop();
    }
  });
  user.start();
  Key(window_->Memo1, Qt::Key_F5);  // returns when the run has ended
  EXPECT_EQ(beats, 20);
  EXPECT_TRUE(running.startsWith("Running: ")) << running.toStdString();
  EXPECT_TRUE(window_->Memo1->toPlainText().endsWith(" -- typed"));
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_TRUE(window_->MessagesMemo->toPlainText().endsWith("Query was cancelled by user."))
      << window_->MessagesMemo->toPlainText().toStdString();
  EXPECT_EQ(window_->ResultTabs->currentWidget(), window_->MessagesMemo);
  EXPECT_TRUE(Status().startsWith("Cancelled after ")) << Status().toStdString();
  RecordProperty("longest_gui_busy_ms", static_cast<int>(window_->Runner().LongestBusyMs()));
  // The connection is free again.
  Run(QStringLiteral("select 1 as One"));
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(TextOf(0, 0, 0), "1");
}

// A Thai user gets the window's questions in Thai, with Thai buttons.
TEST_F(KeepWork, AThaiUserIsAskedInThai) {
  window_.reset();
  userId_ = 2;
  KeepWork::SetUp();
  Write(QStringLiteral("select 1"));
  QList<QStringList> buttons;
  RealUser user;
  const auto answer = [&](const QString& button) {
    user.When<QMessageBox>([&buttons, &user, button](QMessageBox* box) {
      QStringList texts;
      for (QAbstractButton* b : box->buttons()) texts << b->text().remove(u'&');
      buttons << texts;
      for (QAbstractButton* b : box->buttons())
        if (b->text().remove(u'&') == button) QTest::mouseClick(b, Qt::LeftButton);
    });
  };
  answer(QStringLiteral("ใช่"));
  answer(QStringLiteral("ยกเลิก"));
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(user.Done());
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_TRUE(buttons[0].contains(QStringLiteral("ไม่ใช่"))) << buttons[0].join(u',').toStdString();
  EXPECT_TRUE(buttons[1].contains(QStringLiteral("ไม่ใช่"))) << buttons[1].join(u',').toStdString();
  EXPECT_TRUE(window_->isVisible());
}
