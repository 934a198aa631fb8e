// The console while a long result arrives: the first rows show at once, the rest come in the
// background while the window takes input, Escape stops the statement, "Save output TO" waits
// for the rows, and a statement that fails half way reports its error and keeps its rows.
#include "console/ResultGrid.h"
#include "console/ResultModel.h"
#include "db/Query.h"
#include "tests/console/ConsoleFixture.h"

#include <QLabel>
#include <QStatusBar>

namespace qav::test {
namespace {

// Rows 1 to `rows` (number and label) from a recursive statement, quick to start, long to end.
QString Counting(qint64 rows) {
  return QStringLiteral(
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1)\n"
             "select i as Number, printf('row %06d', i) as Label from n")
      .arg(rows);
}

// A first window of rows at once, then a very long wait for the rest.
const QString kFirstRowsThenALongWait = QStringLiteral(
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 4000000000)\n"
    "select i as Number from n where i <= 1500 or i > 3999999990");

class LiveConsole : public Console {
 protected:
  db::TQuery& Query() { return *window_->QExport; }
  int GridRows() { return window_->DBGExecSQL->ResultModel()->rowCount(); }
  QString Status() { return window_->StatusPanel(1)->text(); }
  void Run(const QString& sql) {
    window_->Memo1->setPlainText(sql);
    window_->BtnExecClick();
  }
};

TEST_F(LiveConsole, RowsArriveWhileTheWindowTakesInput) {
  constexpr qint64 kRows = 1000000;
  Run(Counting(kRows));
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  // F5 returns with the first rows in the grid; the others are still on their way.
  EXPECT_TRUE(Query().Fetching());
  EXPECT_GT(GridRows(), 0);
  EXPECT_LT(GridRows(), kRows);
  EXPECT_TRUE(Status().startsWith(QLatin1String("Fetching: "))) << Status().toStdString();

  // The user types and moves through the rows already there meanwhile.
  window_->Memo1->setFocus();
  window_->Memo1->moveCursor(QTextCursor::End);
  QTest::keyClicks(window_->Memo1, QStringLiteral(" -- next"));
  window_->DBGExecSQL->setFocus();
  QTest::keyClick(window_->DBGExecSQL, Qt::Key_PageDown);
  EXPECT_TRUE(window_->Memo1->toPlainText().endsWith(QLatin1String(" -- next")));

  QTRY_VERIFY_WITH_TIMEOUT(!Query().Fetching(), 120000);
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(Query().RecordCount(), kRows);
  EXPECT_EQ(GridRows(), kRows);
  QAbstractItemModel* model = window_->DBGExecSQL->model();
  EXPECT_EQ(model->index(kRows - 1, 0).data().toString(), QStringLiteral("1000000"));
  EXPECT_EQ(model->index(kRows - 1, 1).data().toString(), QStringLiteral("row 1000000"));
  EXPECT_TRUE(Status().startsWith(QLatin1String("1,000,000 rows in "))) << Status().toStdString();
}

TEST_F(LiveConsole, EscapeStopsTheStatementWhereverTheFocusIsAndTheGridKeepsItsRows) {
  for (QWidget* focus :
       {static_cast<QWidget*>(window_->Memo1), static_cast<QWidget*>(window_->DBGExecSQL)}) {
    SCOPED_TRACE(focus->objectName().toStdString());
    Run(kFirstRowsThenALongWait);
    ASSERT_TRUE(Query().Fetching());
    const int shown = GridRows();
    EXPECT_GE(shown, 1);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Escape);
    EXPECT_FALSE(Query().Fetching());
    EXPECT_TRUE(Query().FetchCancelled());
    // The rows that came stay, and the window did not take Escape as leaving.
    EXPECT_GE(GridRows(), shown);
    EXPECT_EQ(GridRows(), Query().RecordCount());
    EXPECT_EQ(window_->DBGExecSQL->model()->index(0, 0).data().toString(), QStringLiteral("1"));
    EXPECT_TRUE(Texts(DialogRequest::Kind::Confirm).isEmpty());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(Status().contains(QLatin1String("stopped"))) << Status().toStdString();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  }
  // The connection is free for the next statement.
  Run(QStringLiteral("select count(*) as N from Customer"));
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_FALSE(Query().Fetching());
  EXPECT_EQ(Query().Fields(0).AsInteger(), 200);
}

TEST_F(LiveConsole, SaveOutputWaitsForTheRowsStillArriving) {
  constexpr qint64 kRows = 200000;
  Run(Counting(kRows));
  ASSERT_TRUE(Query().Fetching());
  const QString path = files_.path() + QStringLiteral("/rows.txt");
  answers_ = {path};
  filterIndex_ = 3;  // Text
  window_->BtnExport->click();
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_FALSE(Query().Fetching());
  EXPECT_EQ(GridRows(), kRows);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_EQ(lines.size(), kRows + 2);  // title, rows, and nothing after the last CR LF
  EXPECT_EQ(lines[1], "1\trow 000001\r");
  EXPECT_EQ(lines[kRows], "200000\trow 200000\r");
}

TEST_F(LiveConsole, AStatementThatFailsHalfWayReportsItsErrorAndKeepsItsRows) {
  Run(QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 100000)\n"
      "select i as Number, case when i > 5000 then json('not json') else i end as V from n"));
  EXPECT_TRUE(errors_.isEmpty()) << "the first rows came without error";
  QTRY_VERIFY_WITH_TIMEOUT(!Query().Fetching(), 60000);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_.first().contains(QLatin1String("malformed JSON")))
      << errors_.first().toStdString();
  EXPECT_FALSE(Query().FetchError().isEmpty());
  EXPECT_GE(GridRows(), 1024);
  EXPECT_LE(GridRows(), 5000);
  EXPECT_EQ(GridRows(), Query().RecordCount());
  EXPECT_TRUE(Status().contains(QLatin1String("failed"))) << Status().toStdString();
  // Saving rows that are not the whole result is refused with the same error, not done quietly.
  answers_ = {files_.path() + QStringLiteral("/part.txt")};
  filterIndex_ = 3;
  window_->BtnExport->click();
  EXPECT_EQ(errors_.size(), 2);
  EXPECT_FALSE(QFile::exists(files_.path() + QStringLiteral("/part.txt")));
}

}  // namespace
}  // namespace qav::test
