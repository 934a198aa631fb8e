// The Excel, Lotus and Quattro files read back by real spreadsheet programs: a demo query with
// texts, Thai texts, small and large integers, decimals, money, dates and nulls goes out in each
// format, LibreOffice (soffice --convert-to csv) and gnumeric (ssconvert) turn the file into
// CSV, and every cell they show is compared with the query's row. Where a reader shows the
// file in a way of its own, the case says so; the expectations hold those ways exactly.
#include "core/Cp874.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/DateTime.h"
#include "db/Query.h"
#include "export/ExcelExport.h"
#include "export/LotusExport.h"
#include "export/QuattroExport.h"
#include "tests/export/SpreadsheetReaders.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>

using namespace qav;

namespace {

enum Kind { kXls, kWks, kWq1 };
enum Reader { kLibreOffice, kGnumeric };

struct ReaderCase {
  const char* name;
  Reader reader;
  Kind kind;
  // gnumeric skips the LABEL records of this BIFF: every text cell comes out empty.
  bool textsLost = false;
  // gnumeric reads Lotus texts as code page 850 and takes no other.
  bool textsAsCp850 = false;
  // LibreOffice's Quattro reader (libwps) drops the first character after the label prefix.
  bool textsLoseFirstCharacter = false;
  // Why the reader cannot open the format at all.
  const char* unreadable = nullptr;
};

void PrintTo(const ReaderCase& c, std::ostream* out) {
  *out << c.name;
}

const ReaderCase kCases[] = {
    {"LibreOffice_xls", kLibreOffice, kXls},
    {"LibreOffice_wks", kLibreOffice, kWks},
    {"LibreOffice_wq1", kLibreOffice, kWq1, false, false, true},
    {"gnumeric_xls", kGnumeric, kXls, true},
    {"gnumeric_wks", kGnumeric, kWks, false, true},
    {"gnumeric_wq1", kGnumeric, kWq1, false, false, false,
     "gnumeric has no importer for Quattro Pro DOS worksheets: its Lotus importer refuses the "
     "Quattro BOF and its Quattro importer reads only .wb1 to .wb3"},
};

// One cell as a reader should show it.
struct Expected {
  enum Kind { kEmpty, kText, kNumber } kind = kEmpty;
  QString text;
  double number = 0;
};

Expected Text(const QString& text) {
  return text.isEmpty() ? Expected{} : Expected{Expected::kText, text, 0};
}
Expected Number(double value) {
  return Expected{Expected::kNumber, {}, value};
}

QString Cp850Reading(const QString& text) {
  const QByteArray bytes = ToCp874(text);
  iconv_t cd = iconv_open("UTF-8", "CP850");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  QByteArray out(bytes.size() * 4, '\0');
  char* in = const_cast<char*>(bytes.constData());
  size_t inLeft = static_cast<size_t>(bytes.size());
  char* o = out.data();
  size_t outLeft = static_cast<size_t>(out.size());
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.truncate(out.size() - static_cast<qsizetype>(outLeft));
  return QString::fromUtf8(out);
}

// What a cell of the field holds in the format, worked out from the value, not from the
// writers: Excel keeps numbers, dates and times as numbers; Lotus and Quattro keep dates as
// their texts; every writer leaves a null blank.
Expected ExpectedCell(const db::TField& field, Kind kind) {
  const TFormatSettings& fs = FormatSettings();
  const db::TFieldType type = field.DataType();
  const bool excel = kind == kXls;
  const bool number =
      db::IsIntegerType(type) || type == db::ftFloat || type == db::ftCurrency || type == db::ftBCD;
  if (field.IsNull()) return Expected{};
  if (number) return Number(field.AsFloat());
  if (type != db::ftDate && type != db::ftDateTime) return Text(field.AsString());
  const db::TDateTime value = field.AsDateTime();
  const QDateTime stamp = db::DecodeDateTime(value);
  switch (type) {
    case db::ftDate:
      return excel ? Number(std::floor(value))
                   : Text(FormatDateTime(fs.ShortDateFormat, stamp.date(), QTime(0, 0)));
    case db::ftDateTime:
      return excel ? Number(value) : Text(DateTimeToStr(stamp.date(), stamp.time()));
    default:
      return Text(field.AsString());
  }
}

class WorksheetReader : public ::testing::TestWithParam<ReaderCase> {
 protected:
  void SetUp() override {
    TFormatSettings& fs = FormatSettings();
    fs.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    fs.LongTimeFormat = QStringLiteral("hh:nn:ss");
    db_.SetDatabaseName(QStringLiteral("DMDATA"));
    db_.Params() = {QStringLiteral("DATABASE NAME=DEMO"),
                    QStringLiteral("SERVER NAME=") + folder_.ServerName()};
    query_.SetDatabaseName(QStringLiteral("DMDATA"));
    // Texts, Thai texts, nulls (NameEng of shops, Salesman, LastSaleDate), integers below 256,
    // above 32767 and below 0, money, decimals, date-times and dates.
    query_.SetSQL(QStringLiteral(
        "select Id, Code, NameThai, NameEng, CreditDays, Id * 100000 as Big, -Id * 7 as Negative, "
        "Salesman, CreditLimit, Discount, CreateDate, LastSaleDate from Customer where Id <= 40 "
        "order by Id"));
    query_.Open();
  }
  void TearDown() override { FormatSettings() = saved_; }

  QString Export(Kind kind) {
    std::unique_ptr<TExportToCellFile> writer;
    QString name;
    switch (kind) {
      case kXls:
        writer = std::make_unique<TExportToXLS>();
        name = QStringLiteral("demo.xls");
        break;
      case kWks:
        writer = std::make_unique<TExportToWKS>();
        name = QStringLiteral("demo.wks");
        break;
      case kWq1:
        writer = std::make_unique<TExportToQuattro>();
        name = QStringLiteral("demo.wq1");
        break;
    }
    // The console's settings.
    writer->AnimatedStatus = false;
    writer->Options &= ~TExportOptions(soShowMessage);
    writer->ColumnSource = csDataSet;
    writer->SetDataSet(&query_);
    writer->AddTitle = true;
    writer->DataFormats.DateSeparator = u'/';
    writer->DataFormats.TimeSeparator = u':';
    writer->DataFormats.DecimalSeparator = u'.';
    writer->DataFormats.ThousandSeparator = u',';
    writer->DataFormats.CurrencyString = QStringLiteral("฿");
    writer->FileName = work_.filePath(name);
    writer->Execute();
    EXPECT_EQ(writer->RunStatus(), rsDone);
    return writer->FileName;
  }

  // The grid the query should give, title row first, as the case's reader shows it.
  std::vector<std::vector<Expected>> ExpectedGrid(const ReaderCase& c) {
    std::vector<std::vector<Expected>> grid;
    std::vector<Expected> title;
    for (int f = 0; f < query_.FieldCount(); ++f)
      title.push_back(Text(query_.Fields(f).DisplayLabel()));
    grid.push_back(title);
    int nulls = 0;
    for (query_.First(); !query_.Eof(); query_.Next()) {
      std::vector<Expected> row;
      for (int f = 0; f < query_.FieldCount(); ++f) {
        nulls += query_.Fields(f).IsNull();
        row.push_back(ExpectedCell(query_.Fields(f), c.kind));
      }
      grid.push_back(row);
    }
    EXPECT_GT(nulls, 0) << "the demo rows should hold nulls";
    for (auto& row : grid)
      for (Expected& e : row) {
        if (e.kind != Expected::kText) continue;
        if (c.textsLost) e = Expected{};
        if (c.textsAsCp850) e.text = Cp850Reading(e.text);
      }
    // The CSV covers the used area only: a title row of texts alone is not there at all.
    if (c.textsLost) grid.erase(grid.begin());
    return grid;
  }

  TFormatSettings saved_ = FormatSettings();
  test::DemoSuiteFolder folder_{20};
  QTemporaryDir work_;
  db::TDatabase db_;
  db::TQuery query_;
};

bool SameNumber(const QString& read, double expected) {
  bool ok = false;
  const double value = read.trimmed().toDouble(&ok);
  return ok && std::fabs(value - expected) <= 1e-9 * std::max(1.0, std::fabs(expected));
}

bool SameText(const QString& read, const QString& expected, bool mayLoseFirst) {
  return read == expected || (mayLoseFirst && read == expected.mid(1));
}

TEST_P(WorksheetReader, ShowsEveryCellOfTheRows) {
  const ReaderCase& c = GetParam();
  if (c.unreadable) GTEST_SKIP() << c.unreadable;
  const QString program =
      c.reader == kLibreOffice ? QStringLiteral("soffice") : QStringLiteral("ssconvert");
  if (QStandardPaths::findExecutable(program).isEmpty())
    GTEST_SKIP() << program.toStdString() << " is not installed (scripts/deps.sh installs "
                 << (c.reader == kLibreOffice ? "libreoffice-calc-nogui" : "gnumeric") << ")";

  const QString file = Export(c.kind);
  const auto expected = ExpectedGrid(c);
  QString log_;
  const QString csv = test::ConvertToCsv(
      c.reader == kLibreOffice ? test::SheetReader::LibreOffice : test::SheetReader::Gnumeric,
      c.kind == kXls   ? test::SheetKind::Xls
      : c.kind == kWks ? test::SheetKind::Wks
                       : test::SheetKind::Wq1,
      file, work_.path(), &log_);
  ASSERT_FALSE(csv.isEmpty()) << program.toStdString() << " wrote no CSV:\n" << log_.toStdString();
  const std::vector<QStringList> read = test::ParseCsv(csv);

  int mismatches = 0;
  std::string report;
  const size_t rows = std::max(read.size(), expected.size());
  for (size_t r = 0; r < rows; ++r) {
    const QStringList none;
    const QStringList& line = r < read.size() ? read[r] : none;
    const size_t columns = std::max<size_t>(static_cast<size_t>(line.size()),
                                            r < expected.size() ? expected[r].size() : 0);
    for (size_t k = 0; k < columns; ++k) {
      const QString cell =
          k < static_cast<size_t>(line.size()) ? line[static_cast<qsizetype>(k)] : QString();
      const Expected want =
          r < expected.size() && k < expected[r].size() ? expected[r][k] : Expected{};
      bool same = false;
      switch (want.kind) {
        case Expected::kEmpty:
          same = cell.isEmpty();
          break;
        case Expected::kText:
          same = SameText(cell, want.text, c.textsLoseFirstCharacter);
          break;
        case Expected::kNumber:
          same = SameNumber(cell, want.number);
          break;
      }
      if (same || ++mismatches > 10) continue;
      report +=
          "row " + std::to_string(r) + " column " + std::to_string(k) + ": read \"" +
          cell.toStdString() + "\", expected \"" +
          (want.kind == Expected::kNumber ? std::to_string(want.number) : want.text.toStdString()) +
          "\"\n";
    }
  }
  EXPECT_EQ(mismatches, 0) << report << "reader output:\n" << log_.toStdString();
  EXPECT_EQ(read.size(), expected.size()) << "rows read; the CSV begins:\n"
                                          << csv.left(400).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Readers, WorksheetReader, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ReaderCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
