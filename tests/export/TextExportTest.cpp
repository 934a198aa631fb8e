// The text writer: exact bytes for its settings, appending, splitting, cancelling and failing.
#include "core/Cp874.h"
#include "core/FormatSettings.h"
#include "export/ExportProgress.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

using namespace qav;
using namespace qav::db;
using qav::test::DialogLog;
using qav::test::ReadFileBytes;
using qav::test::TMemoryDataSet;

namespace {

// A writer whose output goes to a device of the test's.
class DeviceTextExport : public TExportToText {
 public:
  QIODevice* device = nullptr;

 protected:
  void CreateStream(const QString& fileName) override {
    if (!device) return TExportToText::CreateStream(fileName);
    SetStream(std::make_unique<TRecordWriter>(device, fileName));
  }
};

std::vector<std::vector<QVariant>> NumberedRows(int count) {
  std::vector<std::vector<QVariant>> rows;
  for (int i = 1; i <= count; ++i) rows.push_back({i, QStringLiteral("row %1").arg(i)});
  return rows;
}

class TextExport : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    data_.Open();
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  // A quiet export of data_ to out.txt: no window, columns from the dataset.
  void Prepare(TExportToText& e) {
    e.ColumnSource = csDataSet;
    e.SetDataSet(&data_);
    e.AnimatedStatus = false;
    e.AddTitle = true;
    e.FileName = Path(QStringLiteral("out.txt"));
  }

  // Columns of the caller's, with widths for Fixed.
  static void UseColumns(TExportToText& e,
                         std::initializer_list<std::pair<const char*, int>> cols) {
    for (const auto& [name, width] : cols) {
      TExportColumn& c = e.Columns.Add();
      c.FieldName = QString::fromLatin1(name);
      c.Title.Caption = c.FieldName;
      c.Width = width;
    }
  }

  QTemporaryDir dir_;
  DialogLog dialogs_;
  TMemoryDataSet data_{{{"Code", ftString, 5},
                        {"Name", ftString, 20},
                        {"Qty", ftInteger, 0},
                        {"Amount", ftFloat, 0}},
                       {{"AB", "It's", 42, 1200.5}, {"C", QVariant(), -7, 0.25}}};
  TMemoryDataSet texts_{{{"Name", ftString, 60}},
                        {{QStringLiteral("บริษัท ทดสอบ จำกัด")},
                         {QStringLiteral("日本😀")},
                         {QStringLiteral("a\tb\r\nc")}}};
  TMemoryDataSet empty_{{{"Code", ftString, 5}, {"Qty", ftInteger, 0}}, {}};
};

TEST_F(TextExport, WritesTheExactBytesOfEachSetting) {
  struct Case {
    const char* name;
    std::function<void(TExportToText&)> setup;
    QByteArray expected;
  };
  const QByteArray title = "Code\tName\tQty\tAmount\r\n";
  const QByteArray rows = "AB\tIt's\t42\t1200.5\r\nC\t\t-7\t0.25\r\n";
  const Case cases[] = {
      {"defaults: tab, no qualifier, CR LF", {}, title + rows},
      {"apostrophe for strings only", [](TExportToText& e) { e.TextQualifier = u'\''; },
       "'Code'\t'Name'\t'Qty'\t'Amount'\r\n'AB'\t'It''s'\t42\t1200.5\r\n'C'\t''\t-7\t0.25\r\n"},
      {"quotes for numbers only",
       [](TExportToText& e) {
         e.TextQualifier = u'"';
         e.TextQualifying = tqNoNumber;
       },
       "\"Code\"\t\"Name\"\t\"Qty\"\t\"Amount\"\r\nAB\tIt's\t\"42\"\t\"1200.5\"\r\n"
       "C\t\t\"-7\"\t\"0.25\"\r\n"},
      {"quotes for every cell, also empty ones",
       [](TExportToText& e) {
         e.TextQualifier = u'"';
         e.TextQualifying = tqAny;
       },
       "\"Code\"\t\"Name\"\t\"Qty\"\t\"Amount\"\r\n\"AB\"\t\"It's\"\t\"42\"\t\"1200.5\"\r\n"
       "\"C\"\t\"\"\t\"-7\"\t\"0.25\"\r\n"},
      {"fixed widths keep the tab",
       [](TExportToText& e) {
         e.Fixed = true;
         UseColumns(e, {{"Code", 5}, {"Name", 3}, {"Qty", 5}});
       },
       "Code \tName\tQty  \r\nAB   \tIt's\t   42\r\nC    \t   \t   -7\r\n"},
      {"fixed widths without a separator",
       [](TExportToText& e) {
         e.Fixed = true;
         e.Separator = QChar();
         UseColumns(e, {{"Code", 5}, {"Name", 3}, {"Qty", 5}});
       },
       "Code NameQty  \r\nAB   It's   42\r\nC" + QByteArray(10, ' ') + "-7\r\n"},
      {"fixed and qualified: the padding lies inside",
       [](TExportToText& e) {
         e.Fixed = true;
         e.TextQualifier = u'\'';
         UseColumns(e, {{"Code", 4}, {"Qty", 4}});
       },
       "'Code'\t'Qty '\r\n'AB  '\t  42\r\n'C   '\t  -7\r\n"},
      {"header and footer lines around the data",
       [](TExportToText& e) {
         e.Header = QStringList{"Sales", "2024"};
         e.Footer = QStringList{"End"};
       },
       "Sales\r\n2024\r\n" + title + rows + "End\r\n"},
      {"header and footer padded to the second column",
       [](TExportToText& e) {
         e.Fixed = true;
         e.Header = QStringList{"H"};
         e.Footer = QStringList{"F"};
         UseColumns(e, {{"Code", 5}, {"Qty", 4}});
       },
       "H   \r\nCode \tQty \r\nAB   \t  42\r\nC    \t  -7\r\nF   \r\n"},
      {"header lines take the qualifier",
       [](TExportToText& e) {
         e.TextQualifier = u'\'';
         e.Header = QStringList{"It's"};
       },
       "'It''s'\r\n'Code'\t'Name'\t'Qty'\t'Amount'\r\n'AB'\t'It''s'\t42\t1200.5\r\n"
       "'C'\t''\t-7\t0.25\r\n"},
      {"blank row after the captions",
       [](TExportToText& e) { e.Options |= soBlankRowAfterCaptions; }, title + "\r\n" + rows},
      {"blank row after the captions, every cell qualified",
       [](TExportToText& e) {
         e.Options |= soBlankRowAfterCaptions;
         e.TextQualifier = u'"';
         e.TextQualifying = tqAny;
         UseColumns(e, {{"Code", 0}, {"Qty", 0}});
       },
       "\"Code\"\t\"Qty\"\r\n\"\"\"\"\r\n\"AB\"\t\"42\"\r\n\"C\"\t\"-7\"\r\n"},
      {"other separators",
       [](TExportToText& e) {
         e.Separator = u';';
         e.RecordSeparator = QStringLiteral("\n");
       },
       "Code;Name;Qty;Amount\nAB;It's;42;1200.5\nC;;-7;0.25\n"},
      {"no title", [](TExportToText& e) { e.AddTitle = false; }, rows},
      {"Thai in code page 874, foreign characters as ?, tabs and breaks unchanged",
       [this](TExportToText& e) {
         texts_.Open();
         e.SetDataSet(&texts_);
       },
       "Name\r\n" + ToCp874(QStringLiteral("บริษัท ทดสอบ จำกัด")) + "\r\n???\r\na\tb\r\nc\r\n"},
      {"no records: the title line only",
       [this](TExportToText& e) {
         empty_.Open();
         e.SetDataSet(&empty_);
       },
       "Code\tQty\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TExportToText e;
    Prepare(e);
    if (c.setup) c.setup(e);
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    EXPECT_EQ(ReadFileBytes(e.FileName), c.expected);
  }
}

TEST_F(TextExport, MergeDataAppendsAndOtherwiseTheFileIsReplaced) {
  const QString path = Path(QStringLiteral("out.txt"));
  for (bool merge : {true, false}) {
    SCOPED_TRACE(merge);
    test::WriteFileBytes(path, "old line\r\n");
    TExportToText e;
    Prepare(e);
    if (merge) e.Options |= soMergeData;
    e.Execute();
    const QByteArray fresh = "Code\tName\tQty\tAmount\r\nAB\tIt's\t42\t1200.5\r\nC\t\t-7\t0.25\r\n";
    EXPECT_EQ(ReadFileBytes(path), merge ? "old line\r\n" + fresh : fresh);
  }
}

TEST_F(TextExport, RowsPerFileSplitsIntoNumberedFilesEachWithItsOwnFrame) {
  TMemoryDataSet five({{"Id", ftInteger, 0}, {"Name", ftString, 10}}, NumberedRows(5));
  five.Open();
  TExportToText e;
  Prepare(e);
  e.SetDataSet(&five);
  e.RowsPerFile = 2;
  e.Header = QStringList{"H"};
  e.Footer = QStringList{"F"};
  std::vector<int> numbers;
  e.OnGetFileName = [&](QObject*, int number, QString&) { numbers.push_back(number); };
  e.Execute();
  EXPECT_EQ(e.RunStatus(), rsDone);
  EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2}));
  const QByteArray frame = "H\r\nId\tName\r\n";
  EXPECT_EQ(ReadFileBytes(Path("out.txt")), frame + "1\trow 1\r\n2\trow 2\r\nF\r\n");
  EXPECT_EQ(ReadFileBytes(Path("out001.txt")), frame + "3\trow 3\r\n4\trow 4\r\nF\r\n");
  EXPECT_EQ(ReadFileBytes(Path("out002.txt")), frame + "5\trow 5\r\nF\r\n");
  EXPECT_FALSE(QFile::exists(Path("out003.txt")));

  // OnGetFileName may rename a file.
  e.OnGetFileName = [&](QObject*, int number, QString& name) {
    if (number == 1) name = Path("second.txt");
  };
  e.Execute();
  EXPECT_EQ(ReadFileBytes(Path("second.txt")), frame + "3\trow 3\r\n4\trow 4\r\nF\r\n");
}

TEST_F(TextExport, ACancelledRunEndsAfterTheLastCompleteRecordAndTheFooter) {
  TMemoryDataSet ten({{"Id", ftInteger, 0}, {"Name", ftString, 10}}, NumberedRows(10));
  ten.Open();
  struct Case {
    const char* name;
    bool animated;
  };
  for (const Case& c : {Case{"Abort from OnProgress, no window", false},
                        Case{"Cancel button of the progress window", true}}) {
    SCOPED_TRACE(c.name);
    dialogs_.requests.clear();
    TExportToText e;
    Prepare(e);
    e.SetDataSet(&ten);
    e.AnimatedStatus = c.animated;
    e.Footer = QStringList{"F"};
    e.OnProgress = [&](QObject*, int cur, int max, bool& abort) {
      if (cur != 2 || max != 10) return;
      if (c.animated)
        ExportProgressWindow()->btnCancel->click();
      else
        abort = true;
    };
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsCancelled);
    // The record being written when the cancel came is finished; no later one starts.
    EXPECT_EQ(ReadFileBytes(e.FileName), "Id\tName\r\n1\trow 1\r\n2\trow 2\r\n3\trow 3\r\nF\r\n");
    EXPECT_EQ(dialogs_.Texts(),
              c.animated ? QStringList{} : QStringList{"Data export was canceled by user."});
    EXPECT_EQ(ExportProgressWindow(), nullptr);
  }
  // The next run without a window does not inherit the cancel.
  TExportToText e;
  Prepare(e);
  e.SetDataSet(&ten);
  e.Execute();
  EXPECT_EQ(e.RunStatus(), rsDone);
}

TEST_F(TextExport, AFailedRunIsReportedAndPutsEverythingBack) {
  TMemoryDataSet many({{"Id", ftInteger, 0}, {"Name", ftString, 10}}, NumberedRows(2000));
  many.Open();
  const QString blocker = Path(QStringLiteral("not-a-folder"));
  test::WriteFileBytes(blocker, "x");
  QWidget other;
  other.show();

  struct Case {
    const char* name;
    bool failingDevice;  // else a file in a "folder" that is a file
    QString message;
  };
  const Case cases[] = {
      {"the file cannot be created", false,
       "Error of data export: Cannot create file " + QDir::toNativeSeparators(blocker) +
           "/out.txt. Not a directory"},
      {"the disk fills up while the records are written", true,
       "Error of data export: Cannot write file " + QDir::toNativeSeparators(Path("out.txt")) +
           ". No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs_.requests.clear();
    FormatSettings().DecimalSeparator = u',';
    FormatSettings().CurrencyString = QStringLiteral("$");
    test::FailingDevice device(100);
    DeviceTextExport e;
    Prepare(e);
    if (c.failingDevice)
      e.device = &device;
    else
      e.FileName = blocker + QStringLiteral("/out.txt");
    e.AnimatedStatus = true;
    e.DataFormats.DecimalSeparator = u'.';
    e.DataFormats.CurrencyString = QStringLiteral("฿");
    // A source of the caller's lives on, so its controls can be looked at afterwards.
    TDatasetDataEngine engine;
    engine.SetDataset(&many);
    e.ColumnSource = csDataEngine;
    e.SetDataEngine(&engine);
    many.First();
    many.MoveBy(4);
    bool disabledDuringRun = false;
    e.OnProgress = [&](QObject*, int, int, bool&) { disabledDuringRun = !other.isEnabled(); };

    e.Execute();

    EXPECT_EQ(e.RunStatus(), rsFailed);
    EXPECT_EQ(dialogs_.Texts(), QStringList{c.message});
    ASSERT_FALSE(dialogs_.requests.empty());
    EXPECT_EQ(dialogs_.requests[0].kind, DialogRequest::Kind::Information);
    EXPECT_EQ(ExportProgressWindow(), nullptr);
    EXPECT_EQ(FormatSettings().DecimalSeparator, u',');
    EXPECT_EQ(FormatSettings().CurrencyString, "$");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(engine.DisabledControlsCount(), 0);
    EXPECT_EQ(e.Columns.Count(), 0);
    EXPECT_EQ(many.RecNo(), 5);
    EXPECT_TRUE(other.isEnabled());
    EXPECT_EQ(disabledDuringRun, c.failingDevice);
    if (c.failingDevice) {
      EXPECT_GE(device.Writes(), 1);
    }
  }
  FormatSettings().DecimalSeparator = u'.';
}

TEST_F(TextExport, TheProcessFormatsAreThoseOfBeforeAfterEveryKindOfRun) {
  struct Case {
    const char* name;
    std::function<void(TExportToText&)> setup;
    int status;
  };
  const Case cases[] = {
      {"done", {}, rsDone},
      {"cancelled",
       [](TExportToText& e) {
         e.OnProgress = [](QObject*, int, int, bool& abort) { abort = true; };
       },
       rsCancelled},
      {"failed", [this](TExportToText& e) { e.FileName = Path("missing/out.txt"); }, rsFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFormatSettings& fs = FormatSettings();
    fs.DecimalSeparator = u',';
    fs.ThousandSeparator = u'.';
    fs.DateSeparator = u'-';
    fs.TimeSeparator = u'.';
    fs.CurrencyString = QStringLiteral("EUR");
    TExportToText e;
    Prepare(e);
    e.DataFormats.DecimalSeparator = u'.';
    e.DataFormats.ThousandSeparator = u',';
    e.DataFormats.DateSeparator = u'/';
    e.DataFormats.TimeSeparator = u':';
    e.DataFormats.CurrencyString = QStringLiteral("฿");
    QChar decimalDuringRun;
    e.OnBeforeExecute = [&](QObject*) { decimalDuringRun = QChar(); };
    e.OnGetCellParams = [&](QObject*, const TField*, QString&, QFont*, TAlignment&, QColor&,
                            TCellType&) { decimalDuringRun = fs.DecimalSeparator; };
    if (c.setup) c.setup(e);
    e.Execute();
    EXPECT_EQ(e.RunStatus(), c.status);
    if (c.status != rsFailed) {
      EXPECT_EQ(decimalDuringRun, u'.');
    }
    EXPECT_EQ(fs.DecimalSeparator, u',');
    EXPECT_EQ(fs.ThousandSeparator, u'.');
    EXPECT_EQ(fs.DateSeparator, u'-');
    EXPECT_EQ(fs.TimeSeparator, u'.');
    EXPECT_EQ(fs.CurrencyString, "EUR");
  }
  TFormatSettings& fs = FormatSettings();
  fs = TFormatSettings();
  fs.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
}

}  // namespace
