// The export component base: settings at construction, field texts and cell types, style
// colours, language strings, missing sources, the automatic column list and mail.
#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cmath>

using namespace qav;
using namespace qav::db;
using qav::test::TMemoryDataSet;

namespace {

// The console's formats, as start-up and the console's components set them.
class ConsoleFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = FormatSettings();
    TFormatSettings& fs = FormatSettings();
    fs.DecimalSeparator = u'.';
    fs.ThousandSeparator = u',';
    fs.DateSeparator = u'/';
    fs.TimeSeparator = u':';
    fs.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    fs.LongTimeFormat = QStringLiteral("hh:nn:ss");
  }
  void TearDown() override { FormatSettings() = saved_; }

  TFormatSettings saved_;
  test::DialogLog dialogs_;
};

TEST_F(ConsoleFormats, FieldTextsFollowTheFieldTypes) {
  struct Case {
    const char* name;
    TFieldType type;
    QVariant value;
    const char* text;
  };
  const Case cases[] = {
      {"integer", ftInteger, 1200, "1200"},
      {"negative large integer", ftLargeint, -9000000000LL, "-9000000000"},
      {"float", ftFloat, 1200.5, "1200.5"},
      {"float rounded to 15 digits", ftFloat, 0.1 + 0.2, "0.3"},
      {"float, 15 digits before the point", ftFloat, 999999999999999.0, "999999999999999"},
      {"float, 16 digits before the point", ftFloat, 1e15, "1E15"},
      {"large float", ftFloat, 1e20, "1E20"},
      {"long mantissa in exponent form", ftFloat, 123456789012345678.0, "1.23456789012346E17"},
      {"small float", ftFloat, 0.000001, "1E-6"},
      {"smallest plain float", ftFloat, 0.00001, "0.00001"},
      {"negative small float", ftFloat, -0.0000015, "-1.5E-6"},
      {"money", ftCurrency, 2.50, "2.5"},
      {"decimal to four places", ftBCD, 12.34567, "12.3457"},
      {"negative decimal", ftBCD, -0.5, "-0.5"},
      {"whole decimal", ftBCD, 5.0, "5"},
      {"boolean", ftBoolean, true, "True"},
      {"date", ftDate, QDate(2024, 1, 2), "02/01/2024"},
      {"time", ftTime, QDateTime(QDate(1899, 12, 30), QTime(10, 15, 30)), "10:15:30"},
      {"date and time", ftDateTime, QDateTime(QDate(2024, 1, 2), QTime(8, 5, 9)),
       "02/01/2024 08:05:09"},
      {"date and time at midnight", ftDateTime, QDateTime(QDate(2024, 1, 2), QTime(0, 0)),
       "02/01/2024"},
      {"date the database could not read", ftDate, QStringLiteral("2024-02-30x"), "2024-02-30x"},
      {"Thai text", ftString, QStringLiteral("บริษัท ทดสอบ จำกัด"), "บริษัท ทดสอบ จำกัด"},
      {"null", ftFloat, QVariant(), ""},
      {"null text", ftString, QVariant(), ""},
  };
  TExportToText e;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryDataSet ds({{"F", c.type, 0}}, {{c.value}});
    ds.Open();
    EXPECT_EQ(e.GetFieldText(&ds.Fields(0)), QString::fromUtf8(c.text));
  }
  EXPECT_EQ(e.GetFieldText(nullptr), "");

  // The separators in force are the ones used.
  FormatSettings().DecimalSeparator = u',';
  FormatSettings().DateSeparator = u'.';
  TMemoryDataSet ds({{"F", ftFloat, 0}, {"D", ftDate, 0}}, {{1200.5, QDate(2024, 1, 2)}});
  ds.Open();
  EXPECT_EQ(e.GetFieldText(&ds.Fields(0)), "1200,5");
  EXPECT_EQ(e.GetFieldText(&ds.Fields(1)), "02.01.2024");
}

TEST_F(ConsoleFormats, DatePatternsUseTheRuntimesLetters) {
  const QDate date(2024, 1, 2);
  const QTime time(8, 5, 9);
  struct Case {
    const char* pattern;
    const char* text;
  };
  for (const Case& c :
       {Case{"dd/mm/yyyy", "02/01/2024"}, Case{"d/m/yy", "2/1/24"}, Case{"hh:nn:ss", "08:05:09"},
        Case{"h:mm", "8:05"}, Case{"yyyy-mm-dd", "2024-01-02"}, Case{"'at' hh\"h\"", "at 08h"}}) {
    EXPECT_EQ(FormatDateTime(QString::fromLatin1(c.pattern), date, time), c.text) << c.pattern;
  }
  TFormatSettings dots;
  dots.DateSeparator = u'.';
  dots.TimeSeparator = u'-';
  EXPECT_EQ(FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn"), date, time, dots),
            "02.01.2024 08-05");
}

TEST_F(ConsoleFormats, NumbersAreReadWithTheDecimalSeparatorOnly) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  for (const Case& c :
       {Case{"1200.5", true, 1200.5}, Case{" -3 ", true, -3}, Case{"+.5", true, 0.5},
        Case{"1E3", true, 1000}, Case{"2.5e-2", true, 0.025}, Case{"1,200", false, 0},
        Case{"", false, 0}, Case{"E5", false, 0}, Case{"1e", false, 0}, Case{"12abc", false, 0},
        Case{"- 1", false, 0}}) {
    SCOPED_TRACE(c.text);
    double v = 0;
    EXPECT_EQ(TryStrToFloat(QString::fromLatin1(c.text), v), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value);
    }
  }
  EXPECT_THROW(StrToFloat(QStringLiteral("x")), EConvertError);
  TFormatSettings comma;
  comma.DecimalSeparator = u',';
  double v = 0;
  EXPECT_TRUE(TryStrToFloat(QStringLiteral("1200,5"), v, comma));
  EXPECT_EQ(v, 1200.5);
  EXPECT_FALSE(TryStrToFloat(QStringLiteral("1200.5"), v, comma));
}

TEST_F(ConsoleFormats, BlankIfZeroAndTheCellTypes) {
  struct Case {
    const char* name;
    TFieldType type;
    QVariant value;
    bool blankIfZero;
    const char* text;
    TCellType cellType;
  };
  const Case cases[] = {
      {"integer", ftInteger, 7, false, "7", ctInteger},
      {"zero integer", ftInteger, 0, false, "0", ctInteger},
      {"zero integer, blank if zero", ftInteger, 0, true, "", ctBlank},
      {"non-zero integer, blank if zero", ftInteger, 7, true, "7", ctInteger},
      {"float", ftFloat, 0.5, false, "0.5", ctFloat},
      {"decimal", ftBCD, 0.5, false, "0.5", ctFloat},
      {"money", ftCurrency, 0.0, true, "", ctBlank},
      {"date", ftDate, QDate(2024, 1, 2), false, "02/01/2024", ctDate},
      {"zero date, blank if zero", ftDate, QDate(1899, 12, 30), true, "", ctBlank},
      {"time", ftTime, QDateTime(QDate(1899, 12, 30), QTime(1, 0)), false, "01:00:00", ctTime},
      {"date and time", ftDateTime, QDate(2024, 1, 2), false, "02/01/2024", ctDateTime},
      {"null string, blank if zero", ftString, QVariant(), true, "", ctString},
      {"boolean", ftBoolean, false, true, "False", ctString},
      {"large integer", ftLargeint, 0, true, "0", ctString},
      {"memo", ftMemo, QStringLiteral("x"), false, "x", ctString},
  };
  TExportToText e;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e.BlankIfZero = c.blankIfZero;
    TMemoryDataSet ds({{"F", c.type, 0}}, {{c.value}});
    ds.Open();
    EXPECT_EQ(e.GetFieldText(&ds.Fields(0)), c.text);
    EXPECT_EQ(e.GetCellTypeOfField(&ds.Fields(0), c.blankIfZero), c.cellType);
  }
  EXPECT_EQ(e.GetCellTypeOfField(nullptr, true), ctString);
  // Displayed texts give Booleans the component's own words.
  e.Options |= soFieldMask;
  e.DataFormats.BooleanTrue = QStringLiteral("ใช่");
  TMemoryDataSet flag({{"F", ftBoolean, 0}, {"N", ftFloat, 0}}, {{true, 2.5}});
  flag.Open();
  EXPECT_EQ(e.GetFieldText(&flag.Fields(0)), "ใช่");
  EXPECT_EQ(e.GetFieldText(&flag.Fields(1)), "2.5");
  // Columns without a field are classified by type and text.
  EXPECT_EQ(TExportToText::GetValueCellType(ftWord, QStringLiteral("0"), true), ctBlank);
  EXPECT_EQ(TExportToText::GetValueCellType(ftWord, QStringLiteral("3"), true), ctInteger);
  EXPECT_EQ(TExportToText::GetValueCellType(ftAutoInc, QString(), true), ctBlank);
  EXPECT_EQ(TExportToText::GetValueCellType(ftAutoInc, QString(), false), ctInteger);
}

TEST_F(ConsoleFormats, StyleColoursAlternateByRowParity) {
  TExportToText e;
  QColor color(1, 2, 3);
  e.GetStyleColor(1, color);
  EXPECT_EQ(color, QColor(1, 2, 3));
  e.ExportStyle.SetStyle(esBrick);
  for (auto [row, expected] :
       {std::pair{1, QColor(223, 223, 207)}, std::pair{2, QColor(191, 191, 160)},
        std::pair{-1, QColor(223, 223, 207)}, std::pair{0, QColor(191, 191, 160)}}) {
    e.GetStyleColor(row, color);
    EXPECT_EQ(color, expected) << row;
  }
  // Setting the same style again keeps colours that were set by hand.
  e.ExportStyle.OddColor = Qt::black;
  e.ExportStyle.SetStyle(esBrick);
  EXPECT_EQ(e.ExportStyle.OddColor, QColor(Qt::black));
  e.ExportStyle.SetStyle(esMSMoney);
  EXPECT_EQ(e.ExportStyle.OddColor, QColor(240, 251, 255));
}

TEST_F(ConsoleFormats, SettingsAtConstruction) {
  FormatSettings().CurrencyString = QStringLiteral("฿");
  TExportToText e;
  EXPECT_EQ(e.FileName, QDir(QCoreApplication::applicationDirPath()).filePath("DataExport.TXT"));
  EXPECT_EQ(e.ExportType(), 2);
  EXPECT_TRUE(e.AnimatedStatus);
  EXPECT_EQ(e.KeyGenerator, "DataExport 4.30");
  EXPECT_EQ(e.Options, soShowMessage | soWaitCursor | soDisableControls);
  EXPECT_EQ(e.ColumnSource, csDBGrid);
  EXPECT_EQ(e.TextQualifying, tqStringOnly);
  EXPECT_TRUE(e.TextQualifier.isNull());
  EXPECT_EQ(e.Separator, u'\t');
  EXPECT_EQ(e.RecordSeparator, "\r\n");
  EXPECT_EQ(e.RunStatus(), rsNotFinished);
  EXPECT_EQ(e.DataFormats.CurrencyString, "฿");
  EXPECT_EQ(e.DataFormats.DateOrder, doMDY);
  EXPECT_TRUE(e.DataFormats.FourDigitYear);
  EXPECT_TRUE(e.DataFormats.LeadingZerosInDate);
  EXPECT_EQ(e.DataFormats.BooleanTrue, "True");
  EXPECT_EQ(e.GetDefaultExt(), ".CSV");
  EXPECT_EQ(e.GetFormatVariant(), 2);
  e.Fixed = true;
  EXPECT_EQ(e.GetDefaultExt(), ".TXT");
  EXPECT_EQ(e.GetFormatVariant(), 1);
  e.FileName = QStringLiteral("/data/x.y/sales.txt");
  e.SetExportType(4);
  EXPECT_EQ(e.FileName, "/data/x.y/sales.XLS");

  TExportToText copy;
  e.KeyGenerator = QStringLiteral("DataExport 4.3");
  e.TextQualifying = tqAny;
  e.Columns.Add().FieldName = QStringLiteral("Id");
  copy.Assign(e);
  EXPECT_EQ(copy.KeyGenerator, "DataExport 4.3");
  EXPECT_EQ(copy.ExportType(), 4);
  EXPECT_EQ(copy.TextQualifying, tqAny);
  EXPECT_TRUE(copy.Fixed);
  ASSERT_EQ(copy.Columns.Count(), 1);
  EXPECT_EQ(copy.Columns[0].FieldName, "Id");
}

TEST_F(ConsoleFormats, LanguageStringsComeFromTheTableAndTheEvent) {
  TExportToText e;
  const std::pair<int, const char*> table[] = {
      {0, "Property %s is not specified."},
      {1, "Assigned DBGrid (%s) is not a supported type"},
      {2, "The %s file was successfully generated with exported data."},
      {3, "Error of data export."},
      {8, "Exporting..."},
      {9, "Can't create a process dialog"},
      {12, "&Cancel"},
      {16, "Data export was canceled by user."},
      {5, ""},
      {99, ""},
  };
  for (const auto& [id, text] : table) EXPECT_EQ(e.GetLanguageString(id), text) << id;
  e.OnGetLanguageString = [](QObject*, int id, QString& text) {
    if (id == 3) text = QStringLiteral("ส่งออกข้อมูลไม่สำเร็จ");
  };
  EXPECT_EQ(e.GetLanguageString(3), "ส่งออกข้อมูลไม่สำเร็จ");
  EXPECT_EQ(e.GetLanguageString(8), "Exporting...");
}

TEST_F(ConsoleFormats, AMissingSourceFailsTheRunWithoutAFile) {
  QTemporaryDir dir;
  struct Case {
    TColumnSource source;
    const char* message;
  };
  for (const Case& c :
       {Case{csDBGrid, "Error of data export: Property DBGrid is not specified."},
        Case{csDataSet, "Error of data export: Property Dataset is not specified."},
        Case{csDataEngine, "Error of data export: Property DataEngine is not specified."}}) {
    dialogs_.requests.clear();
    TExportToText e;
    e.ColumnSource = c.source;
    e.FileName = dir.filePath(QStringLiteral("out.txt"));
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsFailed);
    EXPECT_EQ(dialogs_.Texts(), QStringList{c.message});
    EXPECT_FALSE(QFile::exists(e.FileName));
  }
  // Without soShowMessage the failure is silent.
  dialogs_.requests.clear();
  TExportToText quiet;
  quiet.Options = {};
  quiet.Execute();
  EXPECT_EQ(quiet.RunStatus(), rsFailed);
  EXPECT_TRUE(dialogs_.requests.empty());
}

TEST_F(ConsoleFormats, TheAutomaticColumnListLivesOnlyForTheRunAndTheOutcomeIsReported) {
  QTemporaryDir dir;
  TMemoryDataSet first({{"A", ftInteger, 0}}, {{1}});
  TMemoryDataSet second({{"B", ftInteger, 0}}, {{2}});
  first.Open();
  second.Open();
  TExportToText e;
  e.ColumnSource = csDataSet;
  e.AnimatedStatus = false;
  e.AddTitle = true;
  e.FileName = dir.filePath(QStringLiteral("out.txt"));
  QStringList events;
  e.OnBeforeExecute = [&](QObject*) { events << "before"; };
  e.OnAfterExecute = [&](QObject*) { events << "after"; };
  e.OnProgress = [&](QObject*, int cur, int max, bool&) {
    events << QStringLiteral("%1/%2").arg(cur).arg(max);
  };
  for (TMemoryDataSet* ds : {&first, &second}) {
    e.SetDataSet(ds);
    e.Execute();
    EXPECT_EQ(e.Columns.Count(), 0);
  }
  EXPECT_EQ(test::ReadFileBytes(e.FileName), "B\r\n2\r\n");
  EXPECT_EQ(events,
            (QStringList{"before", "0/1", "1/1", "after", "before", "0/1", "1/1", "after"}));
  EXPECT_EQ(dialogs_.Texts().value(0),
            "The " + e.FileName + " file was successfully generated with exported data.");
  EXPECT_EQ(dialogs_.requests.at(0).kind, DialogRequest::Kind::Information);

  // A list of the caller's stays.
  e.Columns.Add().FieldName = QStringLiteral("B");
  e.Execute();
  EXPECT_EQ(e.Columns.Count(), 1);
  EXPECT_EQ(test::ReadFileBytes(e.FileName), "\r\n2\r\n");
}

TEST_F(ConsoleFormats, MailAfterExportReportsThatNoMailLibraryIsThere) {
  QTemporaryDir dir;
  TMemoryDataSet ds({{"A", ftInteger, 0}}, {{1}});
  ds.Open();
  TExportToText e;
  e.ColumnSource = csDataSet;
  e.SetDataSet(&ds);
  e.AnimatedStatus = false;
  e.Options &= ~TExportOptions(soShowMessage);
  e.FileName = dir.filePath(QStringLiteral("out.txt"));
  EXPECT_EQ(e.SendMail(e.FileName), -1);
  EXPECT_TRUE(dialogs_.requests.empty());
  e.Options |= soShowMessage;
  e.ActionAfterExport = aeEMail;
  e.Execute();
  EXPECT_EQ(e.RunStatus(), rsDone);
  ASSERT_EQ(dialogs_.requests.size(), 2u);
  EXPECT_EQ(dialogs_.requests[1].kind, DialogRequest::Kind::Error);
  EXPECT_EQ(dialogs_.requests[1].text, "-1 Error sending mail");
}

}  // namespace
