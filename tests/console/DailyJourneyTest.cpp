// The console as a user works in it every day, through the real widgets: the questions before
// typed work goes, the script saved and found in, what a run says, and the results it shows.
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "db/Query.h"
#include "tests/console/Journey.h"
#include "tests/console/RealUser.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QTextCursor>

using namespace qav;
using qav::test::RealUser;

namespace {
class DailyJourney : public qav::test::Journey {};
}  // namespace

// New, Open and closing ask before changed text goes: Cancel stays, No discards (and Ctrl+Z
// still has it), Yes saves. Ctrl+S writes UTF-8, a code page 874 script goes back as 874, and
// the tab names the file with a mark while it is changed.
TEST_F(DailyJourney, TypedWorkIsNeverLostWithoutAQuestion) {
  const QString typed = QStringLiteral("select N'ลูกค้า' as Name");
  Write(typed);
  EXPECT_TRUE(window_->ScriptChanged());
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Cancel"));
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(user.Messages(), QStringList{"The SQL script has changed. Save it ?"});
    EXPECT_EQ(window_->Memo1->toPlainText(), typed);
  }
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Cancel"));
    QTest::mouseClick(window_->BtnOpen, Qt::LeftButton);  // no file dialog after Cancel
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(window_->Memo1->toPlainText(), typed);
  }
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("No"));
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
    EXPECT_TRUE(window_->Memo1->toPlainText().isEmpty());
    window_->Memo1->setFocus();
    Key(window_->Memo1, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(window_->Memo1->toPlainText(), typed);
    EXPECT_TRUE(window_->BtnExec->isEnabled());
  }

  // Yes on F3 saves first: the name is asked for, the file holds UTF-8.
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Yes"));
    user.FillFileDialog(QStringLiteral("first"));  // a name alone: no completion list opens
    Key(window_->Memo1, Qt::Key_F3);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(ReadAll(QDir(StartFolder).filePath("first.sql")), typed.toUtf8());
    EXPECT_TRUE(window_->Memo1->toPlainText().isEmpty());
  }

  // A code page 874 script: opened, changed, Ctrl+S writes it back as 874.
  const QString path = QDir(StartFolder).filePath("thai.sql");
  QFile::rename(WriteFile("thai.sql", ToCp874(QStringLiteral("select 'ไทย'"))), path);
  {
    RealUser user;
    user.FillFileDialog(QStringLiteral("thai.sql"));
    QTest::mouseClick(window_->BtnOpen, Qt::LeftButton);
    EXPECT_TRUE(user.Done());
  }
  EXPECT_EQ(Caption(), "SQL Script " + path);
  window_->Memo1->setFocus();
  window_->Memo1->moveCursor(QTextCursor::End);
  Keys(window_->Memo1, QStringLiteral(" as ชื่อ"));
  EXPECT_EQ(Caption(), "SQL Script " + path + " *");
  Key(window_->Memo1, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(ReadAll(path), ToCp874(QStringLiteral("select 'ไทย' as ชื่อ")));
  EXPECT_EQ(Caption(), "SQL Script " + path);

  // Ctrl+F finds text in the memo; Escape closes the find bar and leaves the window open.
  Key(window_->Memo1, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(window_->FindEdit->isVisible());
  Keys(window_->FindEdit, QStringLiteral("ชื่อ"));
  QTest::keyClick(window_->FindEdit, Qt::Key_Return);
  EXPECT_EQ(window_->Memo1->textCursor().selectedText(), QStringLiteral("ชื่อ"));
  QTest::keyClick(window_->FindEdit, Qt::Key_Escape);
  EXPECT_FALSE(window_->FindEdit->isVisible());
  EXPECT_TRUE(window_->isVisible());

  // Closing with changed text: after the exit question, Cancel keeps the window and the text.
  Keys(window_->Memo1, QStringLiteral("x"));
  {
    RealUser user;
    user.AnswerMessage(QStringLiteral("Yes"));
    user.AnswerMessage(QStringLiteral("Cancel"));
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(user.Messages(),
              (QStringList{"Exit Program ?", "The SQL script has changed. Save it ?"}));
  }
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
}

// What a run says: an UPDATE or a PRINT is no error and shows on the Messages page; a script's
// GO batches run in order and the first that fails stops the run with its batch and line.
TEST_F(DailyJourney, MessagesSayWhatEachStatementDid) {
  Type("update Customer set Telephone = '02-999-9999' where Id = 3");
  Key(window_->Memo1, Qt::Key_F5);
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(window_->ResultTabs->currentWidget(), window_->MessagesMemo);
  EXPECT_EQ(window_->MessagesMemo->toPlainText(), "(1 row affected)");
  EXPECT_FALSE(window_->BtnExport->isEnabled());  // nothing to save

  window_->Memo1->selectAll();
  Keys(window_->Memo1, QStringLiteral("print 'hello'\nprint N'สวัสดี'"));
  Key(window_->Memo1, Qt::Key_F5);
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(window_->MessagesMemo->toPlainText(), QStringLiteral("hello\nสวัสดี"));
  window_->Memo1->selectAll();
  QTest::keyClicks(window_->Memo1, QStringLiteral("declare @n int = 1"));
  Key(window_->Memo1, Qt::Key_F5);
  EXPECT_EQ(window_->MessagesMemo->toPlainText(), "Commands completed successfully.");

  // Batches in order: the first's change is seen by the second; the third fails, the fourth
  // never runs.
  window_->Memo1->setPlainText(
      QStringLiteral("update Customer set Telephone = 'x' where Id <= 2\ngo\n"
                     "select count(*) as N from Customer where Telephone = 'x'\nGO\n"
                     "print 'third'\nselect 'a' + 1\nGO\nupdate Customer set Telephone = 'y'"));
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains("Conversion failed")) << errors_[0].toStdString();
  const QStringList said = window_->MessagesMemo->toPlainText().split(u'\n');
  ASSERT_EQ(said.size(), 3) << said.join(u'|').toStdString();
  EXPECT_EQ(said[0], "(2 rows affected)");
  EXPECT_EQ(said[1], "third");
  EXPECT_TRUE(said[2].startsWith("Batch 3, line 6: ")) << said[2].toStdString();
  EXPECT_EQ(window_->ResultTabs->currentWidget(), window_->MessagesMemo);
  ASSERT_EQ(window_->Grids().size(), 1u);
  EXPECT_EQ(window_->DBGExecSQL->model()->index(0, 0).data().toString(), "2");
  EXPECT_TRUE(window_->BtnExport->isEnabled());  // the second batch's rows can be saved
}

// F5 and Ctrl+E run the selected line only; two result sets give two grids, and "Save output
// TO" saves the one in front.
TEST_F(DailyJourney, SelectionRunsAloneAndEachResultHasItsGrid) {
  Write(QStringLiteral(
      "select Code from Customer where Id = 1\nselect Id, NameThai from Customer where Id <= 2"));
  // The second line selected with the keyboard.
  QTest::keyClick(window_->Memo1, Qt::Key_Home);
  QTest::keyClick(window_->Memo1, Qt::Key_End, Qt::ShiftModifier);
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_EQ(window_->Grids().size(), 1u);
  EXPECT_EQ(window_->DBGExecSQL->model()->columnCount(), 2);
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 2);
  EXPECT_TRUE(window_->ScriptChanged());

  window_->Memo1->moveCursor(QTextCursor::Start);  // no selection: everything runs
  Key(window_->Memo1, Qt::Key_E, Qt::ControlModifier);
  ASSERT_EQ(window_->Grids().size(), 2u);
  EXPECT_EQ(window_->ResultTabs->tabText(1), "Results 2");
  EXPECT_EQ(window_->Grids()[0]->model()->index(0, 0).data().toString(), "C0001");
  EXPECT_EQ(window_->Grids()[1]->model()->rowCount(), 2);
  EXPECT_TRUE(window_->ScriptChanged());  // a run is not a save

  window_->ResultTabs->tabBar()->setCurrentIndex(1);
  RealUser user;
  user.FillFileDialog(QStringLiteral("second"), 3);
  user.AnswerMessage();
  QTest::mouseClick(window_->BtnExport, Qt::LeftButton);
  EXPECT_TRUE(user.Done());
  const QByteArray saved = ReadAll(QDir(StartFolder).filePath("second.txt"));
  EXPECT_TRUE(saved.startsWith("Id\tNameThai\r\n1\t")) << saved.constData();
  EXPECT_EQ(saved.count("\r\n"), 3);
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
}

// The window grows: resized and maximised, the grid takes the room; its sizes come back at the
// next start.
TEST_F(DailyJourney, TheWindowGrowsAndKeepsItsSizes) {
  EXPECT_EQ(window_->size(), QSize(792, 573));
  const int gridHeight = window_->DBGExecSQL->height();
  window_->resize(1200, 900);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->DBGExecSQL->height() > gridHeight; }));
  EXPECT_GT(window_->Memo1->width(), 626);
  window_->Splitter->setSizes({200, 600});
  const QList<int> sizes = window_->Splitter->sizes();
  window_->SaveLayout();

  TFrExecSQL again;
  again.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return again.size() == QSize(1200, 900); }));
  EXPECT_EQ(again.Splitter->sizes(), sizes);
  again.showMaximized();
  EXPECT_TRUE(QTest::qWaitFor([&] { return again.isMaximized(); }));
}

// The grid: columns as wide as their widest first values, NULL in grey, a header click sorts
// and a second click or Escape restores, Ctrl+C copies the selected rows with their titles.
TEST_F(DailyJourney, TheGridShowsWholeValuesSortsAndCopies) {
  Type(
      "select Id, NameThai, null as Missing, 1234567890123456789 as Big "
      "from Customer where Id <= 3 order by Id desc");
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  TResultGrid* grid = window_->DBGExecSQL;
  QAbstractItemModel* model = grid->model();
  ASSERT_EQ(model->rowCount(), 3);
  const QModelIndex missing = model->index(0, 2);
  EXPECT_EQ(missing.data().toString(), "NULL");
  EXPECT_EQ(missing.data(Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
  EXPECT_FALSE(model->index(0, 1).data(Qt::ForegroundRole).isValid());
  const QString big = model->index(0, 3).data().toString();
  EXPECT_EQ(big, "1234567890123456789");
  EXPECT_GE(grid->columnWidth(3), grid->fontMetrics().horizontalAdvance(big));
  EXPECT_GE(grid->columnWidth(1),
            grid->fontMetrics().horizontalAdvance(model->index(0, 1).data().toString()));

  const auto clickTitle = [grid](int column) {
    QHeaderView* header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
  };
  const auto ids = [model] {
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, 0).data().toString();
    return out.join(u',');
  };
  clickTitle(0);
  EXPECT_EQ(ids(), "1,2,3");
  clickTitle(0);
  EXPECT_EQ(ids(), "3,2,1");
  clickTitle(0);
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Escape);  // restores, and the window stays
  EXPECT_EQ(ids(), "3,2,1");
  EXPECT_TRUE(window_->isVisible());

  // The first two rows, with the mouse and Shift.
  const auto rowPoint = [grid](int row) {
    return QPoint(grid->columnViewportPosition(0) + 3, grid->rowViewportPosition(row) + 3);
  };
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowPoint(0));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(1));
  QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
  const QString copied = QGuiApplication::clipboard()->text();
  const QStringList lines = copied.split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 4) << copied.toStdString();
  EXPECT_EQ(lines[0], "Id\tNameThai\tMissing\tBig");
  EXPECT_EQ(lines[1], "3\t" + model->index(0, 1).data().toString() + "\t\t1234567890123456789");
  EXPECT_TRUE(lines[1].contains(QRegularExpression(QStringLiteral("[\u0E00-\u0E7F]"))));
  EXPECT_TRUE(lines[2].startsWith("2\t"));
}

// A result stopped with Escape saves what came, and the message says it is not the whole.
TEST_F(DailyJourney, AStoppedResultsSaveSaysHowManyRowsItHolds) {
  Type(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000000) "
      "select i as Id from n");
  Key(window_->Memo1, Qt::Key_F5);
  ASSERT_TRUE(window_->QExport->Fetching());
  QTest::keyClick(window_->Memo1, Qt::Key_Escape);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->QExport->Fetching(); }));
  ASSERT_TRUE(window_->QExport->FetchCancelled());
  const qint64 rows = window_->QExport->RecordCount();
  ASSERT_LT(rows, 1000000);

  RealUser user;
  user.FillFileDialog(QStringLiteral("stopped"), 3);
  user.AnswerMessage();
  QTest::mouseClick(window_->BtnExport, Qt::LeftButton);
  EXPECT_TRUE(user.Done());
  ASSERT_EQ(user.Messages().size(), 1);
  EXPECT_TRUE(user.Messages()[0].contains(QStringLiteral("The file holds %1 of the rows")
                                              .arg(QLocale(QLocale::English).toString(rows))))
      << user.Messages()[0].toStdString();
  EXPECT_EQ(ReadAll(QDir(StartFolder).filePath("stopped.txt")).count("\r\n"), rows + 1);
}
