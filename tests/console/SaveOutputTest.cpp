// "Save output TO": the console's rows saved in each of the five formats and read back.
#include "core/Cp874.h"
#include "core/FormatSettings.h"
#include "db/Query.h"
#include "export/ExportComponent.h"
#include "tests/console/ConsoleFixture.h"
#include "tests/export/DocxProbe.h"
#include "tests/export/SpreadsheetReaders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace qav;
using qav::test::Console;

namespace {

const char kQuery[] =
    "select Id, Code, NameThai, NameEng, CreditLimit from Customer where Id <= 4 order by Id";

class SaveOutput : public Console {
 protected:
  void RunQuery() {
    window_->Memo1->setPlainText(QString::fromLatin1(kQuery));
    window_->BtnExec->click();
    ASSERT_TRUE(window_->BtnExport->isEnabled());
  }
  // Saves through the button into `name` in the format of that filter index.
  void Save(const QString& name, int format) {
    answers_ = {files_.path() + u'/' + name};
    filterIndex_ = format;
    window_->BtnExport->click();
  }
  QStringList Messages() const { return Texts(DialogRequest::Kind::Message); }
  // The rows as the console shows them: title first.
  std::vector<QStringList> GridRows() const {
    std::vector<QStringList> rows;
    db::TQuery& q = *window_->QExport;
    QStringList title;
    for (int f = 0; f < q.FieldCount(); ++f) title << q.Fields(f).DisplayLabel();
    rows.push_back(title);
    for (q.First(); !q.Eof(); q.Next()) {
      QStringList row;
      for (int f = 0; f < q.FieldCount(); ++f) row << q.Fields(f).AsString();
      rows.push_back(row);
    }
    return rows;
  }
};

}  // namespace

TEST_F(SaveOutput, TextIsTheGridsRowsByteForByte) {
  RunQuery();
  Save("customers.txt", 3);
  EXPECT_EQ(Messages(), QStringList{"OK !! Exported To " + files_.path() + "/customers.txt"});
  EXPECT_EQ(QDir::currentPath(), StartFolder);

  QByteArray expected;
  for (const QStringList& row : GridRows()) expected += ToCp874(row.join(u'\t')) + "\r\n";
  QFile file(files_.path() + "/customers.txt");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), expected);
}

TEST_F(SaveOutput, WordDocumentHoldsTheTableWithItsCaptions) {
  RunQuery();
  Save("customers.doc", 2);
  ASSERT_EQ(Messages().size(), 1);
  const test::InspectedDocument doc = test::InspectDocx(files_.path() + "/customers.doc");
  ASSERT_TRUE(doc.WellFormed) << doc.Error.toStdString();
  const test::InspectedTable* table = doc.FirstTable();
  ASSERT_NE(table, nullptr);
  const std::vector<QStringList> rows = GridRows();
  ASSERT_EQ(table->Rows.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    for (int c = 0; c < rows[r].size(); ++c)
      EXPECT_EQ(table->Rows[r][static_cast<size_t>(c)].Text(), rows[r][c]) << r << "," << c;
}

TEST_F(SaveOutput, WorksheetsReadBackWithTheGridsCells) {
  if (QStandardPaths::findExecutable("soffice").isEmpty())
    GTEST_SKIP() << "LibreOffice is not installed";
  RunQuery();
  const std::vector<QStringList> rows = GridRows();
  struct Case {
    const char* name;
    int format;
    test::SheetKind kind;
    bool losesFirstCharacter;  // LibreOffice's Quattro reader drops a label's first character
  };
  const Case cases[] = {{"sheet.xls", 1, test::SheetKind::Xls, false},
                        {"sheet.wks", 4, test::SheetKind::Wks, false},
                        {"sheet.wq1", 5, test::SheetKind::Wq1, true},
                        {"sheet.xlsx", 6, test::SheetKind::Xlsx, false},
                        {"sheet.csv", 7, test::SheetKind::Csv, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Save(QString::fromLatin1(c.name), c.format);
    QString log;
    const auto read = test::ParseCsv(test::ConvertToCsv(
        test::SheetReader::LibreOffice, c.kind, files_.path() + "/" + c.name, files_.path(), &log));
    ASSERT_EQ(read.size(), rows.size()) << log.toStdString();
    for (size_t r = 0; r < rows.size(); ++r) {
      for (int col = 0; col < rows[r].size(); ++col) {
        QString want = rows[r][col];
        const QString got = read[r].value(col);
        bool ok = false;
        const double number = want.toDouble(&ok);
        if (ok && r > 0) {
          EXPECT_DOUBLE_EQ(got.toDouble(), number) << r << "," << col;
        } else {
          if (c.losesFirstCharacter && !want.isEmpty()) want.remove(0, 1);
          EXPECT_EQ(got, want) << r << "," << col;
        }
      }
    }
  }
}

TEST_F(SaveOutput, AnExistingFileIsReplacedOnlyAfterYes) {
  RunQuery();
  const QString path = files_.path() + "/exists.txt";
  WriteFile("exists.txt", "keep me");
  // No: the dialog comes again, in the start folder; cancelling it leaves the file alone.
  answers_ = {path, "no"};
  filterIndex_ = 3;
  window_->BtnExport->click();
  ASSERT_EQ(Texts(DialogRequest::Kind::Confirm),
            QStringList{"File Exists!! Overwrite this file ?"});
  int saveDialogs = 0;
  for (const auto& r : asked_)
    if (r.kind == DialogRequest::Kind::SaveFile) {
      ++saveDialogs;
      EXPECT_EQ(r.folder, StartFolder);
    }
  EXPECT_EQ(saveDialogs, 2);
  QFile kept(path);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "keep me");
  kept.close();
  EXPECT_TRUE(Messages().isEmpty());

  asked_.clear();
  answers_ = {path, "yes"};
  window_->BtnExport->click();
  EXPECT_EQ(Messages(), QStringList{"OK !! Exported To " + path});
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_TRUE(kept.readAll().startsWith("Id\tCode"));
}

TEST_F(SaveOutput, TheProposedExtensionFollowsTheLastFormatAndTheFolderComesBack) {
  RunQuery();
  // The dialog may leave the process anywhere; a save goes back to the start folder.
  onOpen_ = [this] { QDir::setCurrent(files_.path()); };
  QStringList proposed;
  const auto save = [&](const char* name, int format) {
    asked_.clear();
    Save(QString::fromLatin1(name), format);
    proposed << asked_.front().defaultSuffix;
    EXPECT_EQ(QDir::currentPath(), StartFolder) << name;
  };
  save("a.wq1", 5);
  save("b.txt", 3);
  save("c.wks", 4);
  save("d.xls", 1);
  save("e.txt", 3);
  save("f.xlsx", 6);
  save("g.csv", 7);
  save("h.xls", 1);
  EXPECT_EQ(proposed, QStringList({"XLS", "", "txt", "Wks", "XLS", "txt", "xlsx", "csv"}));

  // A cancelled dialog: no message, and the folder stays where the dialog left it.
  asked_.clear();
  answers_.clear();
  window_->BtnExport->click();
  EXPECT_TRUE(Messages().isEmpty());
  EXPECT_EQ(QDir::currentPath(), files_.path());
  QDir::setCurrent(StartFolder);
}

TEST_F(SaveOutput, AFailedRunIsNotReportedAsExported) {
  RunQuery();
  answers_ = {files_.path() + "/no/such/folder/x.txt"};
  filterIndex_ = 3;
  window_->BtnExport->click();
  EXPECT_EQ(window_->ExportToText->RunStatus(), rsFailed);
  for (const QString& m : Messages())
    EXPECT_FALSE(m.startsWith("OK !! Exported To")) << m.toStdString();
}
