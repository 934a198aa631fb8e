// The cell-file record loop: where cells go in each layout, the file frame, splitting names,
// the periodic flush, the OEM conversion and the little-endian record helpers.
#include "core/Cp874.h"
#include "export/CellFileExport.h"
#include "export/CsvExport.h"
#include "export/RecordWriter.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <limits>
#include <memory>

using namespace qav;
using namespace qav::db;
using qav::test::TMemoryDataSet;

namespace {

// Logs every step a writer is given: "dim RxC", "width K=W", "row" / "row+" (extra row) and
// "R,C text type" per cell.
class RecordingExport : public TExportToCellFile {
 public:
  QStringList log;
  std::vector<QColor> colors;

 protected:
  void WriteDimensions(int rows, int columns) override {
    log << QStringLiteral("dim %1x%2").arg(rows).arg(columns);
  }
  void WriteColumnWidth(int column, int width) override {
    log << QStringLiteral("width %1=%2").arg(column).arg(width);
  }
  void BeginRow(bool extraRow) override { log << (extraRow ? "row+" : "row"); }
  void WriteCell(const TField*, TCellType type, int row, int column, const QString& text,
                 TAlignment, const QFont*, const QColor& color) override {
    log << QStringLiteral("%1,%2 %3 %4").arg(row).arg(column).arg(text).arg(type);
    colors.push_back(color);
  }
};

class CellFile : public ::testing::Test {
 protected:
  void SetUp() override { data_.Open(); }

  // Code and Qty visible (widths 4 and 6), Name invisible; a title, one header and one footer line.
  void Prepare(TExportToCellFile& e) {
    e.ColumnSource = csDataSet;
    e.SetDataSet(&data_);
    e.AnimatedStatus = false;
    e.Options &= ~TExportOptions(soShowMessage);
    e.AddTitle = true;
    e.Header = QStringList{"H"};
    e.Footer = QStringList{"F"};
    e.FileName = dir_.filePath(QStringLiteral("out.bin"));
    for (auto [name, width, visible] :
         {std::tuple{"Code", 4, true}, std::tuple{"Name", 9, false}, std::tuple{"Qty", 6, true}}) {
      TExportColumn& c = e.Columns.Add();
      c.FieldName = QString::fromLatin1(name);
      c.Title.Caption = c.FieldName;
      c.Width = width;
      c.Visible = visible;
    }
  }

  QTemporaryDir dir_;
  test::DialogLog dialogs_;
  TMemoryDataSet data_{{{"Code", ftString, 5}, {"Name", ftString, 9}, {"Qty", ftInteger, 0}},
                       {{"AB", "x", 42}, {"C", "y", -7}}};
};

TEST_F(CellFile, EachLayoutPutsTheCellsWhereItsTableSays) {
  struct Case {
    const char* name;
    std::function<void(TExportToCellFile&)> setup;
    QStringList expected;
  };
  const Case cases[] = {
      {"columnar",
       [](TExportToCellFile& e) { e.Layout = elColumnar; },
       {"dim 3x3", "width 0=4", "width 1=6", "row+", "0,1 H 3", "row+", "1,0 Code 3", "1,1 Qty 3",
        "row", "2,0 AB 3", "2,1 42 1", "row", "3,0 C 3", "3,1 -7 1", "row+", "4,1 F 3"}},
      {"reversed columnar",
       [](TExportToCellFile& e) { e.Layout = elReversedColumnar; },
       {"dim 2x4", "width 0=6", "width 1=6", "width 2=6", "width 3=6", "row+", "0,1 H 3", "row+",
        "0,1 Code 3", "1,1 Qty 3", "row", "0,2 AB 3", "1,2 42 1", "row", "0,3 C 3", "1,3 -7 1",
        "row+", "4,1 F 3"}},
      {"tabular form: caption and value per column, no title row",
       [](TExportToCellFile& e) { e.Layout = elTabularForm; },
       {"dim 6x3", "width 0=6", "width 1=6", "row+", "0,1 H 3", "row", "4,0 Code 3", "4,1 AB 3",
        "row", "5,0 Qty 3", "5,1 42 1", "row", "6,0 Code 3", "6,1 C 3", "row", "7,0 Qty 3",
        "7,1 -7 1", "row+", "4,1 F 3"}},
      {"blank row after the captions",
       [](TExportToCellFile& e) { e.Options |= soBlankRowAfterCaptions; },
       {"dim 4x3", "width 0=4", "width 1=6", "row+", "0,1 H 3", "row+", "1,0 Code 3", "1,1 Qty 3",
        "row+", "2,0  0", "2,1  0", "row", "3,0 AB 3", "3,1 42 1", "row", "4,0 C 3", "4,1 -7 1",
        "row+", "5,1 F 3"}},
      {"a blank row needs a title",
       [](TExportToCellFile& e) {
         e.Options |= soBlankRowAfterCaptions;
         e.AddTitle = false;
       },
       {"dim 2x3", "width 0=4", "width 1=6", "row+", "0,1 H 3", "row", "1,0 AB 3", "1,1 42 1",
        "row", "2,0 C 3", "2,1 -7 1", "row+", "3,1 F 3"}},
      {"no visible column: rows without cells",
       [](TExportToCellFile& e) {
         for (const auto& c : e.Columns) c->Visible = false;
         e.Header.clear();
         e.Footer.clear();
       },
       {"dim 3x1", "row+", "row", "row"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingExport e;
    Prepare(e);
    c.setup(e);
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsDone);
    EXPECT_EQ(e.log, c.expected);
  }

  // Without records the title row is all there is, and one row is announced.
  TMemoryDataSet empty({{"Code", ftString, 5}, {"Qty", ftInteger, 0}}, {});
  empty.Open();
  RecordingExport e;
  Prepare(e);
  e.SetDataSet(&empty);
  e.Columns.Clear();
  e.Header.clear();
  e.Footer.clear();
  e.Execute();
  EXPECT_EQ(e.log,
            (QStringList{"dim 1x3", "width 0=5", "width 1=11", "row+", "0,0 Code 3", "0,1 Qty 3"}));
}

TEST_F(CellFile, StyleColoursFollowTheRowNumbersAndCellParamsHaveTheLastWord) {
  RecordingExport e;
  Prepare(e);
  e.ExportStyle.SetStyle(esBrick);
  const QColor odd(223, 223, 207), even(191, 191, 160), white(255, 255, 255);
  QStringList seen;
  e.OnGetCellParams = [&](QObject*, const TField* field, QString& text, QFont*, TAlignment&,
                          QColor&, TCellType& type) {
    seen << (field ? "field " : "none ") + text;
    if (text == "42") {
      text = "forty-two";
      type = ctString;
    }
  };
  e.Execute();
  EXPECT_EQ(seen, (QStringList{"none H", "none Code", "none Qty", "field AB", "field 42", "field C",
                               "field -7", "none F"}));
  EXPECT_TRUE(e.log.contains("2,1 forty-two 3"));
  // Header line 0 even; title row (header count + 1 = 2) even; records 3 and 4; footer unstyled.
  EXPECT_EQ(e.colors, (std::vector<QColor>{even, even, even, odd, odd, even, even, white}));

  // The tabular form's caption cells keep the title colour.
  RecordingExport tabular;
  Prepare(tabular);
  tabular.Layout = elTabularForm;
  tabular.ExportStyle.SetStyle(esBrick);
  tabular.Execute();
  EXPECT_EQ(tabular.colors[1], QColor(192, 192, 192));
  EXPECT_EQ(tabular.colors[2], odd);
}

TEST_F(CellFile, TheOemCharacterSetConvertsEveryCellButTabularCaptions) {
  EXPECT_EQ(TExportToCellFile::ToOemText(QStringLiteral("บริษัท ทดสอบ 日本")), "บริษัท ทดสอบ ??");
  TMemoryDataSet thai({{"日本", ftString, 10}}, {{QStringLiteral("ไทย 日本")}});
  thai.Open();
  for (TExportLayout layout : {elColumnar, elTabularForm}) {
    RecordingExport e;
    Prepare(e);
    e.Columns.Clear();
    e.SetDataSet(&thai);
    e.Header = QStringList{"日"};
    e.Layout = layout;
    e.CharacterSet = csASCII_MSDOS;
    e.Execute();
    EXPECT_TRUE(e.log.contains("0,1 ? 3"));
    EXPECT_TRUE(e.log.contains(layout == elColumnar ? "2,0 ไทย ?? 3" : "2,1 ไทย ?? 3"));
    EXPECT_EQ(e.log.contains("1,0 ?? 3"), layout == elColumnar);
    EXPECT_EQ(e.log.contains("2,0 日本 3"), layout == elTabularForm);
  }
}

TEST_F(CellFile, SplitFilesAreNumberedBeforeTheExtension) {
  struct Case {
    const char* name;
    int number;
    const char* expected;
  };
  for (const Case& c : {Case{"C:\\out\\sales.xls", 1, "C:\\out\\sales001.xls"},
                        Case{"/a/b.c/file", 12, "/a/b.c/file012"}, Case{"x.txt", 100, "x100.txt"},
                        Case{"x.txt", 1234, "x1234.txt"}})
    EXPECT_EQ(TExportToCellFile::NumberedFileName(QString::fromLatin1(c.name), c.number),
              c.expected);
}

TEST_F(CellFile, TheFileBuffersAreFlushedAfterTheRow1025) {
  // A text export of 2000 records and a title through a device that notes each block it gets.
  class Counting : public TExportToText {
   public:
    test::FailingDevice device{1 << 30};

   protected:
    void CreateStream(const QString& name) override {
      SetStream(std::make_unique<TRecordWriter>(&device, name));
    }
  };
  std::vector<std::vector<QVariant>> rows;
  for (int i = 1; i <= 2000; ++i) rows.push_back({i});
  TMemoryDataSet many({{"Id", ftInteger, 0}}, rows);
  many.Open();
  Counting e;
  e.ColumnSource = csDataSet;
  e.SetDataSet(&many);
  e.AnimatedStatus = false;
  e.AddTitle = true;
  e.FileName = dir_.filePath(QStringLiteral("out.txt"));
  e.Execute();
  ASSERT_EQ(e.device.Writes(), 2);
  // The flush comes when the 1025th row (record 1024) ends, before its line break.
  QByteArray first = "Id\r\n";
  for (int i = 1; i <= 1023; ++i) first += QByteArray::number(i) + "\r\n";
  first += "1024";
  EXPECT_TRUE(e.device.data().startsWith(first + "\r\n1025"));
  EXPECT_EQ(e.RowsSinceFlush(), 2001 - 1025);
  EXPECT_TRUE(e.device.data().endsWith("\r\n1999\r\n2000\r\n"));
}

TEST_F(CellFile, WholeRecordsComeOutAsTheCellLoopWritesThemInTextAndCsv) {
  // Every kind of cell, a null in each column, values the database handed over in a form of
  // their own (a text in a number column, a date it could not read), Thai and characters code
  // page 874 lacks. The same run with a cell handler that changes nothing goes cell by cell.
  TMemoryDataSet all{
      {{"Id", ftInteger, 0},
       {"Big", ftLargeint, 0},
       {"Flag", ftBoolean, 0},
       {"Rate", ftFloat, 0},
       {"Price", ftCurrency, 0},
       {"Amount", ftBCD, 0},
       {"Day", ftDate, 0},
       {"At", ftTime, 0},
       {"When", ftDateTime, 0},
       {"Name", ftWideString, 40},
       {"Memo", ftMemo, 0}},
      {{1, 9000000000LL, true, 1.0 / 3, 1200.5, 12.3456, QDate(2024, 3, 5),
        QDateTime(QDate(1899, 12, 30), QTime(7, 5, 9)), QDateTime(QDate(2024, 3, 5), QTime(10, 15)),
        QStringLiteral("บริษัท, \"ทดสอบ\""), QStringLiteral("日本😀 a\tb\r\nc")},
       {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
        QVariant(), QVariant(), QVariant(), QVariant()},
       {QStringLiteral("12a"), -5, false, 1e-7, -0.0001, 1e20, QStringLiteral("2024-13-45"), 0.5,
        QDateTime(QDate(1850, 1, 2), QTime(23, 59, 59, 999)), QString(), QStringLiteral("x")},
       {7, 3.0, 2, std::numeric_limits<double>::infinity(), 5, QStringLiteral("1.5"),
        QDate(1, 1, 1), 0.0, -1.25, 42, QString()}}};
  all.Open();
  const struct {
    const char* name;
    std::function<void(TExportToCellFile&)> setup;
  } cases[] = {
      {"defaults", {}},
      {"a comma as the decimal separator, semicolons, LF",
       [](TExportToCellFile& e) {
         e.DataFormats.DecimalSeparator = u',';
         e.Separator = u';';
         e.RecordSeparator = QStringLiteral("\n");
       }},
      {"separators beyond ASCII",
       [](TExportToCellFile& e) {
         e.DataFormats.DecimalSeparator = QChar(0x0E08);
         e.DataFormats.DateSeparator = QChar(0x0E01);
       }},
      {"no separator, header and footer, two files",
       [](TExportToCellFile& e) {
         e.Separator = QChar();
         e.Header = QStringList{QStringLiteral("หัว")};
         e.Footer = QStringList{QStringLiteral("ท้าย")};
         e.RowsPerFile = 2;
       }},
  };
  QTemporaryDir dir;
  for (const bool csv : {false, true})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(csv ? "CSV, " : "text, ") + c.name);
      QByteArray written[2];
      qint64 unwritable[2] = {};
      for (int cellByCell = 0; cellByCell < 2; ++cellByCell) {
        std::unique_ptr<TExportToCellFile> e;
        if (csv)
          e = std::make_unique<TExportToCsv>();
        else
          e = std::make_unique<TExportToText>();
        e->ColumnSource = csDataSet;
        e->SetDataSet(&all);
        e->AnimatedStatus = false;
        e->AddTitle = true;
        e->FileName = dir.filePath(QStringLiteral("run%1.txt").arg(cellByCell));
        if (c.setup) c.setup(*e);
        if (cellByCell) e->OnGetCellParams = [](auto&&...) {};
        e->Execute();
        ASSERT_EQ(e->RunStatus(), rsDone);
        written[cellByCell] = test::ReadFileBytes(e->FileName);
        if (e->RowsPerFile)
          written[cellByCell] +=
              test::ReadFileBytes(TExportToCellFile::NumberedFileName(e->FileName, 1));
        unwritable[cellByCell] = e->UnwritableCharacters();
      }
      EXPECT_EQ(written[0], written[1]);
      EXPECT_EQ(unwritable[0], unwritable[1]);
    }
}

TEST(RecordWriter, WritesLittleEndianRecordsAndCodePage874Text) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  TRecordWriter w(&buffer);
  w.WriteRecordHeader(0x0409, 6);
  w.WriteWord(0x0010);
  w.WriteSmallInt(-2);
  w.WriteLongWord(0x01020304);
  w.WriteDouble(1.0);
  w.WriteByte(0xFF);
  w.WriteCp874(QStringLiteral("ก€😀"));
  w.Flush();
  EXPECT_EQ(buffer.data(),
            QByteArray::fromHex("0904060010 00feff 04030201 000000000000f03f ff a180 3f"));
  // A text larger than the buffer, and text across many buffers, agree with the converter.
  const QString thai = QStringLiteral("บริษัท ทดสอบ จำกัด 日本 ").repeated(20000);
  QBuffer big;
  big.open(QIODevice::WriteOnly);
  TRecordWriter w2(&big);
  w2.WriteCp874(thai);
  for (int i = 0; i < 5000; ++i) w2.WriteCp874(QStringLiteral("ไทย"));
  w2.Close();
  EXPECT_EQ(big.data(), ToCp874(thai) + ToCp874(QStringLiteral("ไทย")).repeated(5000));
  EXPECT_EQ(w2.Size(), big.data().size());
}

TEST(RecordWriter, AFileIsSyncedWhileItIsWrittenAndCanBeAppendedTo) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.bin"));
  const QByteArray line = "0123456789\r\n";
  auto writer = TRecordWriter::CreateFile(path);
  for (int i = 0; i < 2000; ++i) {
    writer->WriteBytes(line);
    if (i % 100 == 99) writer->Sync();
  }
  writer->Close();
  auto appender = TRecordWriter::CreateFile(path, true);
  appender->WriteBytes("end");
  appender->Close();
  EXPECT_EQ(test::ReadFileBytes(path), line.repeated(2000) + "end");
}

}  // namespace
