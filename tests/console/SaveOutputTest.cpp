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

// Each export takes the columns of the result it exports, and each cell comes from its own
// column: a join's fields of one name (or of names that differ in case) keep their values.
TEST_F(SaveOutput, EveryExportWritesTheColumnsOfItsOwnResult) {
  const auto saveText = [this](const char* statement, const QString& name) -> QByteArray {
    window_->Memo1->setPlainText(QString::fromLatin1(statement));
    window_->BtnExec->click();
    Save(name, 3);
    QFile file(files_.path() + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  // The text the grid shows, row by row, taken by position.
  const auto gridText = [this] {
    db::TQuery& q = *window_->QExport;
    QStringList lines, title;
    for (int f = 0; f < q.FieldCount(); ++f) title << q.Fields(f).DisplayLabel();
    lines << title.join(u'\t');
    for (q.First(); !q.Eof(); q.Next()) {
      QStringList row;
      for (int f = 0; f < q.FieldCount(); ++f) row << q.Fields(f).AsString();
      lines << row.join(u'\t');
    }
    return ToCp874(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
  };
  saveText("select * from Customer where Id <= 2", QStringLiteral("customers.txt"));
  struct Case {
    const char* statement;
    int columns;
  };
  const Case cases[] = {
      // All of these columns, not only the two (Id, Salesman) they share with Customer's.
      {"select Id, DocNo, ItemNo, Customer, Salesman, Product from Sales where Id <= 3", 6},
      // Nothing in common with anything before.
      {"select count(*) as Total from Sales", 1},
      {"select c.Code, s.Code, c.NameEng as n, c.NameThai as N from Customer c "
       "join Salesman s on s.Id = c.Salesman where c.Id <= 5 order by c.Id",
       4},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const QByteArray written = saveText(c.statement, QStringLiteral("result%1.txt").arg(++k));
    EXPECT_EQ(window_->QExport->FieldCount(), c.columns);
    EXPECT_EQ(written, gridText());
  }
}

TEST_F(SaveOutput, WithNoResultOpenNothingIsWrittenAndTheUserIsTold) {
  RunQuery();
  window_->Memo1->setPlainText(QStringLiteral("select NoSuchColumn from Customer"));
  window_->BtnExec->click();
  ASSERT_EQ(errors_.size(), 1);
  asked_.clear();
  Save("nothing.txt", 3);
  EXPECT_EQ(Messages(), QStringList{"No result to save: run a statement first (F5)."});
  for (const auto& r : asked_) EXPECT_NE(r.kind, DialogRequest::Kind::SaveFile);
  EXPECT_FALSE(QFileInfo::exists(files_.path() + "/nothing.txt"));
}

// The dialog's answer without an extension takes that of the type chosen in it.
TEST_F(SaveOutput, ANameWithoutExtensionTakesTheChosenTypes) {
  RunQuery();
  struct Case {
    const char* typed;
    int type;
    const char* written;
  };
  const Case cases[] = {{"plain", 3, "plain.txt"},
                        {"lotus", 4, "lotus.wks"},
                        {"quattro", 5, "quattro.wq1"},
                        {"sheet", 1, "sheet.xls"},
                        {"dotted.name", 3, "dotted.name"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    asked_.clear();
    Save(QString::fromLatin1(c.typed), c.type);
    const QString path = files_.path() + u'/' + QString::fromLatin1(c.written);
    EXPECT_EQ(Messages(), QStringList{"OK !! Exported To " + path});
    EXPECT_TRUE(QFileInfo::exists(path));
  }
}
