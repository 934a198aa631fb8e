// The progress window: its status line and bar, the windows it disables, the body it runs and
// the ways the user cancels.
#include "core/Exception.h"
#include "export/ExportProgress.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::db;

namespace {

class Progress : public ::testing::Test {
 protected:
  void TearDown() override { HideExportProgress(); }
};

TEST_F(Progress, TheStatusLineCountsAndTheBarHidesForAZeroRange) {
  ASSERT_TRUE(ShowExportProgress("DataExport 4.30", "Exporting...", "&Cancel", 0, 250, 0));
  TfrmExportProcess* d = ExportProgressWindow();
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->isVisible());  // RunInProgressWindow shows it
  EXPECT_EQ(d->windowTitle(), "DataExport 4.30");
  EXPECT_EQ(d->lblStatus->text(), "Exporting...");
  EXPECT_EQ(d->btnCancel->text(), "&Cancel");
  EXPECT_EQ(d->size(), QSize(442, 87));
  EXPECT_EQ(d->Animation->geometry(), QRect(8, 4, 427, 45));
  EXPECT_TRUE(d->Animation->Active());
  EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(d->ProgressBar->isHidden());
  UpdateExportProgress("Exporting...", 12);
  EXPECT_EQ(d->lblStatus->text(), "Exporting... (12/250)");
  EXPECT_EQ(d->ProgressBar->value(), 12);
  // A new status text is shown at once, however soon it comes.
  UpdateExportProgress("Done", 250);
  EXPECT_EQ(d->lblStatus->text(), "Done (250/250)");

  ASSERT_TRUE(ShowExportProgress("x", "Exporting...", "&Cancel", 0, 0, 0));
  EXPECT_TRUE(ExportProgressWindow()->ProgressBar->isHidden());
  EXPECT_TRUE(HideExportProgress());
  EXPECT_FALSE(HideExportProgress());
  EXPECT_EQ(ExportProgressWindow(), nullptr);
  UpdateExportProgress("nothing to show", 1);  // without a window: nothing
}

TEST_F(Progress, EveryOtherWindowIsDisabledWhileTheWindowExists) {
  QWidget main, alreadyDisabled;
  main.show();
  alreadyDisabled.show();
  alreadyDisabled.setEnabled(false);
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(ShowExportProgress("x", "s", "c", 0, 1, 0));
    EXPECT_FALSE(main.isEnabled());
    EXPECT_TRUE(ExportProgressWindow()->isEnabled());
    HideExportProgress();
    EXPECT_TRUE(main.isEnabled());
    EXPECT_FALSE(alreadyDisabled.isEnabled());
  }
}

TEST_F(Progress, TheBodyRunsInsideTheModalWindowWhichThenClosesItself) {
  ASSERT_TRUE(ShowExportProgress("x", "s", "c", 0, 1, 0));
  TfrmExportProcess* d = ExportProgressWindow();
  int runs = 0;
  bool modalDuringBody = false;
  RunInProgressWindow([&] {
    ++runs;
    modalDuringBody = d->isVisible() && QApplication::activeModalWidget() == d;
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(modalDuringBody);
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(IsExportCancelled());
  EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(Progress, CancelEscapeAndTheCloseBoxSetTheCancelFlag) {
  struct Case {
    const char* name;
    std::function<void(TfrmExportProcess*)> act;
  };
  const Case cases[] = {
      {"Cancel button",
       [](TfrmExportProcess* d) { QTest::mouseClick(d->btnCancel, Qt::LeftButton); }},
      {"Escape", [](TfrmExportProcess* d) { QTest::keyClick(d, Qt::Key_Escape); }},
      {"close box", [](TfrmExportProcess* d) { d->close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ShowExportProgress("x", "s", "c", 0, 100, 0));
    int after = 0;
    RunInProgressWindow([&] {
      for (int n = 0; n < 100 && !IsExportCancelled(); ++n) {
        if (n == 3) c.act(ExportProgressWindow());
        UpdateExportProgress("Exporting...", n);
        ++after;
      }
    });
    EXPECT_TRUE(IsExportCancelled());
    EXPECT_EQ(after, 4);
    EXPECT_EQ(ExportProgressWindow()->result(), QDialog::Rejected);
    HideExportProgress();
  }
}

TEST_F(Progress, AnErrorOfTheBodyClosesTheWindowAndComesOutOfTheRun) {
  ASSERT_TRUE(ShowExportProgress("x", "s", "c", 0, 1, 0));
  TfrmExportProcess* d = ExportProgressWindow();
  try {
    RunInProgressWindow([] { throw EInOutError(QStringLiteral("disk full")); });
    ADD_FAILURE() << "the error was lost";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Message(), "disk full");
  }
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(IsExportCancelled());
}

TEST_F(Progress, WithoutAWindowAFlagOfItsOwnAndTheBodyRunsDirectly) {
  HideExportProgress();
  SetExportCancelled(true);
  EXPECT_TRUE(IsExportCancelled());
  bool ran = false;
  RunInProgressWindow([&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_TRUE(ShowExportProgress("x", "s", "c", 0, 1, 0));
  EXPECT_FALSE(IsExportCancelled());  // a new window starts uncancelled
  HideExportProgress();
  EXPECT_FALSE(IsExportCancelled());
}

TEST_F(Progress, AnExportWithTheWindow) {
  QTemporaryDir dir;
  test::DialogLog dialogs;
  QWidget main;
  main.show();
  test::TMemoryDataSet empty({{"Id", ftInteger, 0}}, {});
  test::TMemoryDataSet rows({{"Id", ftInteger, 0}}, {{1}, {2}});
  empty.Open();
  rows.Open();
  for (test::TMemoryDataSet* ds : {&empty, &rows, &rows}) {
    TExportToText e;
    e.ColumnSource = csDataSet;
    e.SetDataSet(ds);
    e.AddTitle = true;
    e.KeyGenerator = QStringLiteral("DataExport 4.3");
    e.FileName = dir.filePath(QStringLiteral("out.txt"));
    QString caption, status;
    bool barHidden = false;
    e.OnGetCellParams = [&](QObject*, const TField*, QString&, QFont*, TAlignment&, QColor&,
                            TCellType&) {
      caption = ExportProgressWindow()->windowTitle();
      status = ExportProgressWindow()->lblStatus->text();
      barHidden = ExportProgressWindow()->ProgressBar->isHidden();
    };
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsDone);
    EXPECT_EQ(caption, "DataExport 4.3");
    if (ds == &empty) {
      EXPECT_TRUE(barHidden);
      EXPECT_EQ(status, "Exporting...");
    } else {
      EXPECT_FALSE(barHidden);
      // The counter of the record being written, or of an earlier one: it is not repainted
      // for every record.
      EXPECT_TRUE(status == "Exporting... (0/2)" || status == "Exporting... (1/2)")
          << status.toStdString();
    }
    EXPECT_EQ(ExportProgressWindow(), nullptr);
    EXPECT_TRUE(main.isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  }
  // With the window the outcome shows in it; no message box.
  EXPECT_TRUE(dialogs.requests.empty());
}

}  // namespace
