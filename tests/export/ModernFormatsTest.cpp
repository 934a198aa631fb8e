// The Excel workbook (.xlsx) and CSV writers: every cell of a fixture read back by readers
// nobody here wrote (openpyxl, Python's csv module, LibreOffice), the workbook's layout, and
// the limits and failures around them.
#include "core/FormatSettings.h"
#include "export/CsvExport.h"
#include "export/SaveOutputSettings.h"
#include "export/XlsxExport.h"
#include "platform/Console.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/export/SpreadsheetReaders.h"

#include <gtest/gtest.h>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <limits>

using namespace qav;
using namespace qav::db;
using qav::test::DialogLog;
using qav::test::ReadFileBytes;
using qav::test::TMemoryDataSet;

namespace {

constexpr int kColumns = 10;
const char* const kNull = nullptr;

QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Thai text, NULLs of every type (row 5 and a few more), integers beyond 16 and 32 bits and
// beyond what a double holds exactly, money, decimals, the dates at the ends of every date
// range the suite meets, and texts with every character CSV and XML treat specially.
std::vector<FieldDef> FixtureFields() {
  return {{"Name", ftString, 60},   {"Qty", ftInteger, 0}, {"Big", ftLargeint, 0},
          {"Price", ftCurrency, 0}, {"Amount", ftBCD, 0},  {"Rate", ftFloat, 0},
          {"Day", ftDate, 0},       {"At", ftDateTime, 0}, {"Clock", ftTime, 0},
          {"Flag", ftBoolean, 0}};
}

std::vector<std::vector<QVariant>> FixtureRows() {
  const QVariant null;
  return {
      {QStringLiteral("บริษัท ทดสอบ จำกัด"), 42, Q_INT64_C(2147483648), 1234.5, 0.1234, 0.1,
       QDate(1899, 12, 30), At(2079, 6, 7, 23, 59, 59), At(1899, 12, 30, 10, 15, 30), true},
      {QStringLiteral("a, \"b\"\tc"), -7, Q_INT64_C(-999999999999999), -0.01, 12345678.9, 1e20,
       QDate(1900, 3, 1), At(1900, 3, 1, 12), At(1899, 12, 30, 0, 0, 1), false},
      {null, 32768, Q_INT64_C(1000000000000000), 99999999.99, -5.0, 1.5e-7, QDate(2079, 6, 7),
       At(2024, 2, 29, 8, 5), At(1899, 12, 30, 23, 59, 59), null},
      {QStringLiteral("cr\rlf\ncrlf\r\nend"), 2147483647, std::numeric_limits<qint64>::max(),
       100000.0, 0.0, -2.5, QDate(9999, 12, 31), At(9999, 12, 31, 23, 59, 59), null, true},
      {QStringLiteral("😀 中文 ½"), null, null, null, null, null, null, null, null, null},
  };
}

using Table = std::vector<std::vector<const char*>>;

const std::vector<const char*> kTitles = {"Name", "Qty", "Big", "Price", "Amount",
                                          "Rate", "Day", "At",  "Clock", "Flag"};

// The fixture as Python's csv module reads the CSV file: exactly the texts written.
const Table kCsvCells = {
    {"บริษัท ทดสอบ จำกัด", "42", "2147483648", "1234.5", "0.1234", "0.1", "1899-12-30",
     "2079-06-07 23:59:59", "10:15:30", "True"},
    {"a, \"b\"\tc", "-7", "-999999999999999", "-0.01", "12345678.9", "100000000000000000000",
     "1900-03-01", "1900-03-01 12:00:00", "00:00:01", "False"},
    {kNull, "32768", "1000000000000000", "99999999.99", "-5", "0.00000015", "2079-06-07",
     "2024-02-29 08:05:00", "23:59:59", kNull},
    {"cr\rlf\ncrlf\r\nend", "2147483647", "9223372036854775807", "100000", "0", "-2.5",
     "9999-12-31", "9999-12-31 23:59:59", kNull, "True"},
    {"😀 中文 ½", kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
};

// The fixture as openpyxl reads the workbook, typed: n number, d date-time, t time, b Boolean,
// s text. Integers of more than 15 digits stay text (Excel would change their last digits), and
// so does a day before 1900, which Excel cannot show as a date.
const Table kSheetCells = {
    {"s:บริษัท ทดสอบ จำกัด", "n:42", "n:2147483648", "n:1234.5", "n:0.1234", "n:0.1", "s:30/12/1899",
     "d:2079-06-07 23:59:59", "t:10:15:30", "b:True"},
    {"s:a, \"b\"\tc", "n:-7", "n:-999999999999999", "n:-0.01", "n:12345678.9", "n:1e+20",
     "d:1900-03-01 00:00:00", "d:1900-03-01 12:00:00", "t:00:00:01", "b:False"},
    {kNull, "n:32768", "s:1000000000000000", "n:99999999.99", "n:-5", "n:1.5e-07",
     "d:2079-06-07 00:00:00", "d:2024-02-29 08:05:00", "t:23:59:59", kNull},
    {"s:cr\rlf\ncrlf\r\nend", "n:2147483647", "s:9223372036854775807", "n:100000", "n:0", "n:-2.5",
     "d:9999-12-31 00:00:00", "d:9999-12-31 23:59:59", kNull, "b:True"},
    {"s:😀 中文 ½", kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
};

// The workbook as LibreOffice converts it to CSV: the values (dates in its own month-first
// form, times with AM and PM), a line break for every CR, TRUE and FALSE, its own number form.
const Table kLibreOfficeXlsxCells = {
    {"บริษัท ทดสอบ จำกัด", "42", "2147483648", "1234.5", "0.1234", "0.1", "30/12/1899",
     "06/07/2079 23:59:59", "10:15:30 AM", "TRUE"},
    {"a, \"b\"\tc", "-7", "-999999999999999", "-0.01", "12345678.9", "1E+020", "03/01/1900",
     "03/01/1900 12:00:00", "12:00:01 AM", "FALSE"},
    {kNull, "32768", "1000000000000000", "99999999.99", "-5", "0.00000015", "06/07/2079",
     "02/29/2024 08:05:00", "11:59:59 PM", kNull},
    {"cr\nlf\ncrlf\nend", "2147483647", "9223372036854775807", "100000", "0", "-2.5", "12/31/9999",
     "12/31/9999 23:59:59", kNull, "TRUE"},
    {"😀 中文 ½", kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
};

// The CSV file as LibreOffice reads it: ISO dates kept, and an integer beyond what a double
// holds exactly becomes LibreOffice's floating-point number (it has no other).
const Table kLibreOfficeCsvCells = {
    {"บริษัท ทดสอบ จำกัด", "42", "2147483648", "1234.5", "0.1234", "0.1", "1899-12-30",
     "2079-06-07 23:59:59", "10:15:30 AM", "TRUE"},
    {"a, \"b\"\tc", "-7", "-999999999999999", "-0.01", "12345678.9", "1E+020", "1900-03-01",
     "1900-03-01 12:00:00", "12:00:01 AM", "FALSE"},
    {kNull, "32768", "1000000000000000", "99999999.99", "-5", "0.00000015", "2079-06-07",
     "2024-02-29 08:05:00", "11:59:59 PM", kNull},
    {"cr\nlf\ncrlf\nend", "2147483647", "9.22337203685478E+018", "100000", "0", "-2.5",
     "9999-12-31", "9999-12-31 23:59:59", kNull, "TRUE"},
    {"😀 中文 ½", kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
};

// A cell as the readers print it: the text, or null.
using Rows = std::vector<std::vector<std::optional<QString>>>;

// Runs read_back.py (under the Debian interpreter, which has openpyxl) on the file.
QByteArray RunReader(const QString& mode, const QString& file) {
  QProcess p;
  p.start(QStringLiteral(QAV_SYSTEM_PYTHON), {QStringLiteral(QAV_READ_BACK_SCRIPT), mode, file});
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "read_back.py did not finish";
    return {};
  }
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return p.readAllStandardOutput();
}

Rows ReadBack(const QString& mode, const QString& file) {
  Rows rows;
  for (const QByteArray& line : RunReader(mode, file).split('\n')) {
    if (line.isEmpty()) continue;
    std::vector<std::optional<QString>> row;
    for (const QJsonValue v : QJsonDocument::fromJson(line).array())
      row.push_back(v.isNull() ? std::nullopt : std::optional<QString>(v.toString()));
    rows.push_back(row);
  }
  return rows;
}

// The title row, then the table; `prefix` goes before every title (the typed readers' "s:").
Rows Expected(const Table& table, const char* prefix) {
  Rows rows;
  std::vector<std::optional<QString>> title;
  for (const char* t : kTitles) title.push_back(QString::fromUtf8(prefix) + QString::fromUtf8(t));
  rows.push_back(title);
  for (const auto& r : table) {
    std::vector<std::optional<QString>> row;
    for (const char* cell : r)
      row.push_back(cell ? std::optional<QString>(QString::fromUtf8(cell)) : std::nullopt);
    rows.push_back(row);
  }
  return rows;
}

std::string Show(const std::optional<QString>& cell) {
  return cell ? "\"" + cell->toStdString() + "\"" : "(null)";
}

void ExpectRows(const Rows& got, const Rows& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r)
    for (size_t c = 0; c < want[r].size(); ++c) {
      const std::optional<QString> cell = c < got[r].size() ? got[r][c] : std::optional<QString>();
      EXPECT_EQ(Show(cell), Show(want[r][c])) << "row " << r << ", column " << c;
    }
}

bool HaveOpenpyxl() {
  QProcess p;
  p.start(QStringLiteral(QAV_SYSTEM_PYTHON),
          {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

class ModernFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    data_.Open();
  }

  // The console's component for the format, quiet, over the fixture.
  std::unique_ptr<TExportBaseComponent> Component(TSaveFormat format, const QString& name) {
    auto c = CreateSaveOutputComponent(format);
    c->ColumnSource = csDataSet;
    c->SetDataSet(&data_);
    c->AnimatedStatus = false;
    c->FileName = dir_.filePath(name);
    return c;
  }

  QString Export(TSaveFormat format, const QString& name) {
    auto c = Component(format, name);
    c->Execute();
    EXPECT_EQ(c->RunStatus(), rsDone) << dialogs_.Texts().join('\n').toStdString();
    return c->FileName;
  }

  QTemporaryDir dir_;
  DialogLog dialogs_;
  TMemoryDataSet data_{FixtureFields(), FixtureRows()};
};

}  // namespace

TEST_F(ModernFormats, WorkbookCellsComeBackThroughOpenpyxl) {
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not installed (python3-openpyxl)";
  const QString file = Export(TSaveFormat::Xlsx, QStringLiteral("fixture.xlsx"));
  ExpectRows(ReadBack(QStringLiteral("xlsx"), file), Expected(kSheetCells, "s:"));

  // A bold title row, frozen, under an autofilter over the records; the fields' display widths;
  // money, decimals, dates and times in their number formats.
  const QJsonObject layout = QJsonDocument::fromJson(RunReader("layout", file)).object();
  EXPECT_EQ(layout["freeze"].toString(), "A2");
  EXPECT_EQ(layout["filter"].toString(), "A1:J6");
  EXPECT_EQ(layout["widths"].toObject()["A"].toDouble(), 60 + 0.7109375);
  const QJsonArray rows = layout["rows"].toArray();
  for (const QJsonValue bold : rows[0].toObject()["bold"].toArray()) EXPECT_TRUE(bold.toBool());
  for (const QJsonValue bold : rows[1].toObject()["bold"].toArray()) EXPECT_FALSE(bold.toBool());
  const QJsonArray formats = rows[1].toObject()["formats"].toArray();
  const QStringList want = {"General",    "General", "General", "#,##0.00",
                            "#,##0.00##", "General", "General", "dd/mm/yyyy hh:mm:ss",
                            "hh:mm:ss",   "General"};
  for (int c = 0; c < kColumns; ++c) EXPECT_EQ(formats[c].toString(), want[c]) << c;
  EXPECT_EQ(rows[2].toObject()["formats"].toArray()[6].toString(), "dd/mm/yyyy");
}

TEST_F(ModernFormats, CsvCellsComeBackThroughPythonCsvWhateverTheProcessFormats) {
  const QString file = Export(TSaveFormat::Csv, QStringLiteral("fixture.csv"));
  const QByteArray bytes = ReadFileBytes(file);
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBFName,Qty,Big,Price,Amount,Rate,Day,At,Clock,Flag\r\n"));
  EXPECT_TRUE(bytes.contains("\r\n\"a, \"\"b\"\"\tc\",-7,"));
  EXPECT_TRUE(
      bytes.endsWith("\r\n\xF0\x9F\x98\x80 \xE4\xB8\xAD\xE6\x96\x87 \xC2\xBD,,,,,,,,,\r\n"));
  ExpectRows(ReadBack(QStringLiteral("csv"), file), Expected(kCsvCells, ""));

  // Separators of another country, in the process and in the component, change nothing.
  TFormatSettings& fs = FormatSettings();
  const TFormatSettings saved = fs;
  fs.DecimalSeparator = u',';
  fs.ThousandSeparator = u'.';
  fs.DateSeparator = u'-';
  auto c = Component(TSaveFormat::Csv, QStringLiteral("comma.csv"));
  c->DataFormats.DecimalSeparator = u',';
  c->DataFormats.ThousandSeparator = u'.';
  c->DataFormats.DateSeparator = u'.';
  c->Execute();
  fs = saved;
  EXPECT_EQ(c->RunStatus(), rsDone);
  EXPECT_EQ(ReadFileBytes(c->FileName), bytes);
}

// Alone on its line an empty field would be an empty line, which Python's csv module reads as a
// row of no fields, the same as NULL's: the empty text is quoted, NULL stays an empty field.
TEST_F(ModernFormats, AOneColumnCsvTellsAnEmptyTextFromNull) {
  TMemoryDataSet texts({{"Note", ftString, 20}},
                       {{QStringLiteral("")}, {QVariant()}, {QStringLiteral("x")}});
  texts.Open();
  auto e = Component(TSaveFormat::Csv, QStringLiteral("one.csv"));
  e->SetDataSet(&texts);
  e->Execute();
  ASSERT_EQ(e->RunStatus(), rsDone);
  EXPECT_EQ(ReadFileBytes(e->FileName), "\xEF\xBB\xBFNote\r\n\"\"\r\n\r\nx\r\n");
  const QByteArray rows = RunReader(QStringLiteral("csv"), e->FileName);
  EXPECT_EQ(rows, "[\"Note\"]\n[null]\n[]\n[\"x\"]\n");
}

TEST_F(ModernFormats, LibreOfficeReadsBothFiles) {
  if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
    GTEST_SKIP() << "LibreOffice not installed";
  struct Case {
    TSaveFormat format;
    const char* name;
    test::SheetKind kind;
  };
  const Case cases[] = {{TSaveFormat::Xlsx, "lo.xlsx", test::SheetKind::Xlsx},
                        {TSaveFormat::Csv, "lo.csv", test::SheetKind::Csv}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString file = Export(c.format, QString::fromLatin1(c.name));
    QString log;
    const QString csv = test::ConvertToCsv(test::SheetReader::LibreOffice, c.kind, file,
                                           dir_.filePath(QStringLiteral("lo")), &log);
    ASSERT_FALSE(csv.isEmpty()) << log.toStdString();
    const std::vector<QStringList> got = test::ParseCsv(csv);
    Rows rows;
    for (const QStringList& r : got) {
      std::vector<std::optional<QString>> row;
      for (const QString& cell : r)
        row.push_back(cell.isEmpty() ? std::nullopt : std::optional<QString>(cell));
      rows.push_back(row);
    }
    ExpectRows(rows, Expected(c.kind == test::SheetKind::Xlsx ? kLibreOfficeXlsxCells
                                                              : kLibreOfficeCsvCells,
                              ""));
  }
}

namespace {

// A dataset engine that announces more records than the dataset has.
class AnnouncingEngine : public TDatasetDataEngine {
 public:
  int announced = 0;
  int RecordCount() override { return announced; }
};

}  // namespace

TEST_F(ModernFormats, WorkbookBeyondExcelsLimitsFailsClearly) {
  AnnouncingEngine engine;
  engine.SetDataset(&data_);
  engine.announced = TExportToXlsx::kLastRow + 1;
  std::vector<FieldDef> wide;
  for (int c = 0; c <= TExportToXlsx::kLastColumn + 1; ++c)
    wide.push_back({QStringLiteral("C%1").arg(c), ftInteger, 0});
  TMemoryDataSet wideData(wide, {std::vector<QVariant>(wide.size(), 1)});
  wideData.Open();
  TMemoryDataSet longText({{"Note", ftMemo, 0}}, {{QString(32768, u'x')}});
  longText.Open();

  struct Case {
    const char* what;
    std::function<void(TExportBaseComponent&)> source;
    const char* message;
  };
  const Case cases[] = {
      {"rows",
       [&](TExportBaseComponent& c) {
         c.ColumnSource = csDataEngine;
         c.SetDataEngine(&engine);
       },
       "Excel workbook files hold at most 1048576 rows; row 1048577 cannot be written."},
      {"columns", [&](TExportBaseComponent& c) { c.SetDataSet(&wideData); },
       "Excel workbook files hold at most 16384 columns; column 16385 cannot be written."},
      {"text", [&](TExportBaseComponent& c) { c.SetDataSet(&longText); },
       "Excel workbook cells hold at most 32767 characters; the text in row 2, column 1 has "
       "32768."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dialogs_.requests.clear();
    auto e = Component(TSaveFormat::Xlsx, QStringLiteral("limit.xlsx"));
    c.source(*e);
    e->Execute();
    EXPECT_EQ(e->RunStatus(), rsFailed);
    EXPECT_EQ(dialogs_.Texts(),
              QStringList{QStringLiteral("Error of data export: ") + QString::fromUtf8(c.message)});
  }
}

TEST_F(ModernFormats, InfinitiesAreTextAndAMissingFolderFailsBeforeTheRecords) {
  TMemoryDataSet odd({{"Rate", ftFloat, 0}}, {{std::numeric_limits<double>::infinity()},
                                              {-std::numeric_limits<double>::infinity()},
                                              {std::nan("")}});
  odd.Open();
  struct Case {
    TSaveFormat format;
    const char* name;
    const char* mode;
    std::vector<const char*> cells;
  };
  const Case cases[] = {
      {TSaveFormat::Xlsx, "odd.xlsx", "xlsx", {"s:Rate", "s:INF", "s:-INF", "s:NAN"}},
      {TSaveFormat::Csv, "odd.csv", "csv", {"Rate", "INF", "-INF", "NAN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.format == TSaveFormat::Xlsx && !HaveOpenpyxl()) continue;
    auto e = Component(c.format, QString::fromLatin1(c.name));
    e->SetDataSet(&odd);
    e->Execute();
    ASSERT_EQ(e->RunStatus(), rsDone);
    Rows want;
    for (const char* cell : c.cells) want.push_back({QString::fromUtf8(cell)});
    ExpectRows(ReadBack(QString::fromLatin1(c.mode), e->FileName), want);

    dialogs_.requests.clear();
    auto missing = Component(c.format, QStringLiteral("no/such/") + c.name);
    missing->Execute();
    EXPECT_EQ(missing->RunStatus(), rsFailed);
    ASSERT_EQ(dialogs_.Texts().size(), 1);
    EXPECT_TRUE(
        dialogs_.Texts()[0].startsWith(QStringLiteral("Error of data export: Cannot create file ")))
        << dialogs_.Texts()[0].toStdString();
  }
}

// A workbook the library cannot write at the end (its folder went away meanwhile) fails with
// one message of ours, the system's reason in it, and nothing of the library's on the console.
TEST_F(ModernFormats, AWorkbookThatCannotBeWrittenFailsWithOneMessage) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("gone")));
  auto e = Component(TSaveFormat::Xlsx, QStringLiteral("gone/book.xlsx"));
  e->OnGetCellParams = [&](QObject*, const TField*, QString&, QFont*, TAlignment&, QColor&,
                           TCellType&) {
    QDir(dir_.filePath(QStringLiteral("gone"))).removeRecursively();
  };
  platform::StandardErrorCapture console;
  e->Execute();
  const std::string printed = console.Finish();
  EXPECT_EQ(e->RunStatus(), rsFailed);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(dialogs_.Texts(),
            QStringList{QStringLiteral("Error of data export: Cannot write file %1. Error creating "
                                       "output xlsx file. Usually a permissions error. (No such "
                                       "file or directory)")
                            .arg(QDir::toNativeSeparators(e->FileName))});
}

// Characters a workbook cannot hold (a NUL, U+FFFE and U+FFFF, which XML cannot carry) are
// left out and counted; the rest of the text is kept, never cut at them. A text that looks like
// the workbook's own escape of a character ("_x000D_") reads back as written, as does a real
// carriage return, which travels as that escape.
TEST_F(ModernFormats, CharactersAWorkbookCannotHoldAreLeftOutAndCounted) {
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not installed (python3-openpyxl)";
  const QChar nul(0);
  TMemoryDataSet texts({{"Note", ftString, 20}},
                       {{QStringLiteral("ab") + nul + QStringLiteral("cd")},
                        {QString(nul)},
                        {QStringLiteral("x") + nul + nul + QStringLiteral("y")},
                        {QStringLiteral("p") + QChar(0xFFFE) + QStringLiteral("q") + QChar(0xFFFF) +
                         QStringLiteral("r")},
                        {QStringLiteral("_x005F_")},
                        {QStringLiteral("A_x000D_B")},
                        {QStringLiteral("a\rb_x00e9_")}});
  texts.Open();
  auto e = Component(TSaveFormat::Xlsx, QStringLiteral("nul.xlsx"));
  e->SetDataSet(&texts);
  e->Execute();
  ASSERT_EQ(e->RunStatus(), rsDone) << dialogs_.Texts().join('\n').toStdString();
  ExpectRows(ReadBack(QStringLiteral("xlsx"), e->FileName), {{QStringLiteral("s:Note")},
                                                             {QStringLiteral("s:abcd")},
                                                             {std::nullopt},
                                                             {QStringLiteral("s:xy")},
                                                             {QStringLiteral("s:pqr")},
                                                             {QStringLiteral("s:_x005F_")},
                                                             {QStringLiteral("s:A_x000D_B")},
                                                             {QStringLiteral("s:a\rb_x00e9_")}});
  const auto* cells = dynamic_cast<const TExportToCellFile*>(e.get());
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(cells->UnwritableNote(),
            "6 characters in 4 cells cannot be held in this format at all and were left out.");
}
