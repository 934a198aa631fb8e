// The console's grid exported to text with the console's settings, against the demo suite.
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/Query.h"
#include "export/SaveOutputSettings.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

using namespace qav;

namespace {

// The settings "Save output TO" gives its text component.
void UseConsoleSettings(TExportToText& e, TResultGrid* grid, db::TQuery* query) {
  e.Assign(*CreateSaveOutputComponent(TSaveFormat::Text));
  e.SetDBGrid(grid);
  e.SetDataSet(query);
}

class ConsoleExport : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start-up's formats; the machine's differ on purpose, the export brings its own.
    saved_ = FormatSettings();
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    FormatSettings().DecimalSeparator = u',';
    FormatSettings().DateSeparator = u'-';
    database_.SetDatabaseName(QStringLiteral("DMDATA"));
    database_.Params() = {QStringLiteral("DATABASE NAME=DEMO"),
                          QStringLiteral("SERVER NAME=") + suite_.ServerName()};
    query_.SetDatabaseName(QStringLiteral("DMDATA"));
    grid_.SetDataSource(&query_);
    grid_.show();
    UseConsoleSettings(export_, &grid_, &query_);
    export_.FileName = files_.filePath(QStringLiteral("result.txt"));
  }
  void TearDown() override {
    query_.Close();
    FormatSettings() = saved_;
  }

  void Run(const QString& sql) {
    query_.Close();
    query_.SetSQL(sql);
    query_.Open();
  }

  test::DemoSuiteFolder suite_{60};
  QTemporaryDir files_;
  TFormatSettings saved_;
  test::DialogLog dialogs_;
  db::TDatabase database_;
  db::TQuery query_;
  TResultGrid grid_;
  TExportToText export_;
};

TEST_F(ConsoleExport, WritesTheDemoRowsExactly) {
  Run(QStringLiteral(
      "select C.Id, C.Code, C.NameThai, C.NameEng, C.TaxNo, C.CreditLimit, C.Discount, P.Price,\n"
      "       C.CreateDate, C.LastSaleDate, C.Blocked\n"
      "from Customer C join Product P on P.Id = C.Id where C.Id <= 3 order by C.Id"));
  grid_.selectRow(1);
  ASSERT_EQ(query_.RecNo(), 2);

  export_.Execute();

  EXPECT_EQ(export_.RunStatus(), rsDone);
  EXPECT_TRUE(dialogs_.requests.empty());
  const QByteArray expected = ToCp874(QStringLiteral(
      "Id\tCode\tNameThai\tNameEng\tTaxNo\tCreditLimit\tDiscount\tPrice\tCreateDate\tLastSaleDate\t"
      "Blocked\r\n"
      "1\tC0001\tบริษัท สยามการค้า จำกัด\tSiam Trading Co., Ltd.\t0105290349965\t100000\t5\t2.5\t"
      "26/04/2012 08:58:38\t04/10/2024\tFalse\r\n"
      "2\tC0002\tห้างหุ้นส่วนจำกัด รุ่งเรืองการค้า\tRungrueang Trading Ltd., Part.\t0105333058485\t"
      "2150000\t0\t2.9\t12/04/2017 08:28:46\t27/08/2024\tFalse\r\n"
      "3\tC0003\tร้านเจริญผลการค้า\t\t\t0\t0\t3.3\t06/11/2012 14:51:33\t04/03/2024\tFalse\r\n"));
  EXPECT_EQ(test::ReadFileBytes(export_.FileName), expected);
  EXPECT_EQ(query_.RecNo(), 2);
  EXPECT_EQ(grid_.SelectedFields.value(2), "NameThai\t100\tNameThai");
  EXPECT_EQ(FormatSettings().DecimalSeparator, u',');
  EXPECT_EQ(FormatSettings().DateSeparator, u'-');
}

TEST_F(ConsoleExport, ALaterExportTakesTheColumnsOfItsOwnResult) {
  Run(QStringLiteral("select Id, Code from Customer where Id <= 2 order by Id"));
  export_.Execute();
  ASSERT_EQ(export_.RunStatus(), rsDone);
  // Another statement with the same fields in another order, and one more: its own columns.
  Run(QStringLiteral("select NameEng, Code, Id from Customer where Id <= 2 order by Id"));
  export_.Execute();
  EXPECT_EQ(export_.RunStatus(), rsDone);
  EXPECT_EQ(test::ReadFileBytes(export_.FileName),
            "NameEng\tCode\tId\r\nSiam Trading Co., Ltd.\tC0001\t1\r\n"
            "Rungrueang Trading Ltd., Part.\tC0002\t2\r\n");
}

}  // namespace
