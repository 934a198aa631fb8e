// "Save output TO" and "Open SQL Script" as a user meets them: the real file dialog (Qt's own),
// the real message boxes and the real progress window, each found on screen and answered with
// keys and clicks. The files on disk are read back.
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "export/ExportComponent.h"
#include "export/ExportProgress.h"
#include "tests/console/ConsoleFixture.h"
#include "tests/console/RealUser.h"
#include "tests/export/DocxProbe.h"
#include "tests/export/SpreadsheetReaders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <functional>
#include <optional>

using namespace qav;
using qav::test::Console;
using qav::test::RealUser;

namespace {

const char kCustomers[] = "select Id, Code, NameThai from Customer where Id <= 3 order by Id";
// More rows than an Excel sheet holds.
const char kManyRows[] =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 70000) "
    "select i as Id, 'Row ' || i as Name from n";
// Enough rows for the progress window to stay while the user reaches for Cancel.
const char kMillionRows[] =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000000) "
    "select i as Id, 'Row ' || i as Name from n";

class SaveJourney : public Console {
 protected:
  void SetUp() override {
    Console::SetUp();
    // No answerer: every dialog is the real one.
    Dialogs::SetAnswerer({});
  }

  void Run(const char* statement) {
    window_->Memo1->setPlainText(QString::fromUtf8(statement));
    window_->BtnExec->click();
    ASSERT_TRUE(window_->BtnExport->isEnabled());
    ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  }

  // Clicks "Save output TO" and returns once the user's steps are all taken.
  void ClickSave(RealUser& user) {
    QTest::mouseClick(window_->BtnExport, Qt::LeftButton);
    EXPECT_TRUE(user.Done());
  }

  QString Folder() const { return StartFolder; }
  QString Path(const QString& name) const { return QDir(Folder()).filePath(name); }

  // The names in the folder that start with `stem`, hidden ones (a partial file) included.
  QStringList FilesStartingWith(const QString& stem) const {
    const QStringList all =
        QDir(Folder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    QStringList out;
    for (const QString& name : all)
      if (name.startsWith(stem) || name.startsWith(u'.' + stem)) out << name;
    return out;
  }

  static QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
};

}  // namespace

// Each type chosen in the dialog's own type list, a name typed without an extension: the file
// takes the chosen type's extension and holds that format.
TEST_F(SaveJourney, EveryTypeSavesUnderItsOwnExtension) {
  Run(kCustomers);
  const bool sheets = !QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty();
  struct Case {
    int type;
    const char* name;
    const char* extension;
    std::optional<test::SheetKind> sheet;
  };
  // The order matters: each dialog starts at the type saved last, so Excel comes after Text
  // and the type list is left both ways.
  const Case cases[] = {{3, "cust_text", "txt", std::nullopt},
                        {1, "cust_excel", "xls", test::SheetKind::Xls},
                        {2, "cust_word", "doc", std::nullopt},
                        {4, "cust_lotus", "wks", test::SheetKind::Wks},
                        {5, "cust_quattro", "wq1", test::SheetKind::Wq1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RealUser user;
    user.FillFileDialog(QString::fromLatin1(c.name), c.type);
    user.AnswerMessage();
    ClickSave(user);
    const QStringList made = FilesStartingWith(QString::fromLatin1(c.name));
    ASSERT_EQ(made.size(), 1) << made.join(u' ').toStdString();
    const QString path = Path(made.front());
    EXPECT_EQ(QFileInfo(path).suffix().toLower(), c.extension);
    EXPECT_EQ(user.Messages(), QStringList{"OK !! Exported To " + path});

    const QStringList firstRow{"1", "C0001", QStringLiteral("บริษัท สยามการค้า จำกัด")};
    if (c.type == 3) {
      EXPECT_TRUE(ReadAll(path).startsWith("Id\tCode\tNameThai\r\n" +
                                           ToCp874(firstRow.join(u'\t')) + "\r\n"));
    } else if (c.type == 2) {
      const test::InspectedDocument doc = test::InspectDocx(path);
      ASSERT_TRUE(doc.WellFormed) << doc.Error.toStdString();
      const test::InspectedTable* table = doc.FirstTable();
      ASSERT_NE(table, nullptr);
      ASSERT_EQ(table->Rows.size(), 4u);
      EXPECT_EQ(table->Rows[1][1].Text(), "C0001");
    } else if (sheets) {
      QString log;
      const auto rows = test::ParseCsv(
          test::ConvertToCsv(test::SheetReader::LibreOffice, *c.sheet, path, files_.path(), &log));
      ASSERT_EQ(rows.size(), 4u) << log.toStdString();
      // LibreOffice's Quattro reader drops a label's first character.
      const int lost = c.sheet == test::SheetKind::Wq1 ? 1 : 0;
      EXPECT_EQ(rows[1].value(1), firstRow[1].mid(lost));
      EXPECT_EQ(rows[1].value(2), firstRow[2].mid(lost));
    }
  }
}

TEST_F(SaveJourney, AnExistingFileIsKeptOnNoAndReplacedOnYes) {
  Run(kCustomers);
  const QString path = WriteFile("kept.txt", "keep me");
  QFile::rename(path, Path("kept.txt"));
  {
    RealUser user;
    user.FillFileDialog(QStringLiteral("kept.txt"), 3);
    user.AnswerMessage(QStringLiteral("No"));
    user.CancelFileDialog();  // the dialog comes again
    ClickSave(user);
    EXPECT_EQ(user.Messages(), QStringList{"File Exists!! Overwrite this file ?"});
    EXPECT_EQ(ReadAll(Path("kept.txt")), "keep me");
  }
  RealUser user;
  user.FillFileDialog(QStringLiteral("kept.txt"), 3);
  user.AnswerMessage(QStringLiteral("Yes"));
  user.AnswerMessage();
  ClickSave(user);
  EXPECT_EQ(user.Messages(), (QStringList{"File Exists!! Overwrite this file ?",
                                          "OK !! Exported To " + Path("kept.txt")}));
  EXPECT_TRUE(ReadAll(Path("kept.txt")).startsWith("Id\tCode\tNameThai\r\n"));
}

// Cancel, Escape and the close box of the progress window: no new file, an existing one as it
// was, and the user is told.
TEST_F(SaveJourney, ACancelledExportLeavesNoFileAndSaysSo) {
  Run(kMillionRows);
  struct Case {
    const char* how;
    std::function<void(TfrmExportProcess*)> cancel;
    bool existing;
  };
  const Case cases[] = {
      {"cancel button",
       [](TfrmExportProcess* d) { QTest::mouseClick(d->btnCancel, Qt::LeftButton); }, false},
      {"escape", [](TfrmExportProcess* d) { QTest::keyClick(d, Qt::Key_Escape); }, true},
      {"close box", [](TfrmExportProcess* d) { d->close(); }, false},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    const QString name = QStringLiteral("many%1.txt").arg(++k);
    if (c.existing) {
      QFile f(Path(name));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write("keep me");
    }
    RealUser user;
    user.FillFileDialog(name, 3);
    if (c.existing) user.AnswerMessage(QStringLiteral("Yes"));
    user.When<TfrmExportProcess>(c.cancel, [](TfrmExportProcess* d) { return d->BodyRunning(); });
    user.AnswerMessage();
    ClickSave(user);
    EXPECT_EQ(user.Messages().last(), "Data export was canceled by user.");
    EXPECT_EQ(window_->ExportToText->RunStatus(), rsCancelled);
    EXPECT_EQ(FilesStartingWith(name), c.existing ? QStringList{name} : QStringList());
    if (c.existing) {
      EXPECT_EQ(ReadAll(Path(name)), "keep me");
    }
    EXPECT_TRUE(window_->isEnabled());
  }
}

TEST_F(SaveJourney, AFailedExportShowsItsErrorAndKeepsTheExistingFile) {
  Run(kManyRows);  // more rows than an Excel sheet holds
  {
    QFile f(Path("big.xls"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  RealUser user;
  user.FillFileDialog(QStringLiteral("big.xls"), 1);
  user.AnswerMessage(QStringLiteral("Yes"));
  user.AnswerMessage();
  ClickSave(user);
  ASSERT_EQ(user.Messages().size(), 2);
  EXPECT_TRUE(user.Messages()[1].startsWith("Error of data export: "))
      << user.Messages()[1].toStdString();
  EXPECT_EQ(window_->ExportToXLS->RunStatus(), rsFailed);
  EXPECT_EQ(FilesStartingWith(QStringLiteral("big")), QStringList{"big.xls"});
  EXPECT_EQ(ReadAll(Path("big.xls")), "keep me");
}

// A UTF-8 script without a byte-order mark, chosen in the real open dialog.
TEST_F(SaveJourney, AUtf8ScriptOpensWithItsThaiText) {
  const QString script =
      QStringLiteral("select Code from Customer where NameThai = 'บริษัท สยามการค้า จำกัด'");
  {
    QFile f(Path("thai.sql"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(script.toUtf8());
  }
  RealUser user;
  user.FillFileDialog(QStringLiteral("thai.sql"));
  QTest::mouseClick(window_->BtnOpen, Qt::LeftButton);
  EXPECT_TRUE(user.Done());
  EXPECT_EQ(window_->Memo1->toPlainText(), script);
  QTest::keyClick(window_->Memo1, Qt::Key_F5);
  ASSERT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(window_->DBGExecSQL->model()->rowCount(), 1);
}
