// The bytes of the Excel, Lotus and Quattro writers: their records one by one, and whole files
// written through Execute from a small in-memory table.
#include "app/Dialogs.h"
#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "export/DataEngine.h"
#include "export/ExcelExport.h"
#include "export/LotusExport.h"
#include "export/QuattroExport.h"
#include "export/WorksheetRecords.h"
#include "tests/export/SpreadsheetReaders.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <limits>

using namespace qav;
using db::taCenter;
using db::taLeftJustify;
using db::taRightJustify;

namespace {

QByteArray Hex(const char* hex) {
  return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// The printable form of bytes, for failure messages.
std::string Show(const QByteArray& bytes) {
  return bytes.toHex(' ').toUpper().toStdString();
}

enum Kind { kXls, kWks, kWq1 };

// One writer's steps into memory, without a run around them.
class Probe {
 public:
  virtual ~Probe() = default;
  virtual void Cell(TCellType type, int row, int column, const QString& text,
                    db::TAlignment alignment = taLeftJustify, const QFont* font = nullptr) = 0;
  virtual void Width(int column, int width) = 0;
  virtual void Dimensions(int rows, int columns) = 0;
  virtual void Begin() = 0;
  virtual void End() = 0;
  virtual void SetFieldMask() = 0;
  virtual QByteArray Bytes() = 0;
};

template <class Writer>
class WriterProbe : public Probe, public Writer {
 public:
  WriterProbe() {
    buffer_.open(QIODevice::WriteOnly);
    this->SetStream(std::make_unique<TRecordWriter>(&buffer_));
  }
  void Cell(TCellType type, int row, int column, const QString& text, db::TAlignment alignment,
            const QFont* font) override {
    this->WriteCell(nullptr, type, row, column, text, alignment, font, QColor());
  }
  void Width(int column, int width) override { this->WriteColumnWidth(column, width); }
  void Dimensions(int rows, int columns) override { this->WriteDimensions(rows, columns); }
  void Begin() override { this->WriteFileBegin(); }
  void End() override { this->WriteFileEnd(); }
  void SetFieldMask() override { this->Options |= soFieldMask; }
  QByteArray Bytes() override {
    this->Stream()->Flush();
    return buffer_.data();
  }

 private:
  QBuffer buffer_;
};

class XlsProbe : public WriterProbe<TExportToXLS> {
 public:
  using TExportToXLS::RegisterFont;
};

std::unique_ptr<Probe> MakeProbe(Kind kind) {
  switch (kind) {
    case kXls:
      return std::make_unique<WriterProbe<TExportToXLS>>();
    case kWks:
      return std::make_unique<WriterProbe<TExportToWKS>>();
    case kWq1:
      return std::make_unique<WriterProbe<TExportToQuattro>>();
  }
  return nullptr;
}

// The console's formats: start-up's short date and the save step's DataFormats.
class Worksheet : public ::testing::Test {
 protected:
  void SetUp() override {
    TFormatSettings& fs = FormatSettings();
    fs.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    fs.LongTimeFormat = QStringLiteral("hh:nn:ss");
    fs.DateSeparator = u'/';
    fs.TimeSeparator = u':';
    fs.DecimalSeparator = u'.';
    fs.ThousandSeparator = u',';
    fs.CurrencyString = QStringLiteral("฿");
    Dialogs::SetAnswerer([this](const DialogRequest& r) {
      shown_ << r.text;
      return DialogReply{true, {}, 1};
    });
  }
  void TearDown() override {
    FormatSettings() = saved_;
    Dialogs::SetAnswerer({});
  }

  TFormatSettings saved_ = FormatSettings();
  QStringList shown_;
};

const QString k300(300, u'x');

struct ByteCase {
  const char* what;
  Kind kind;
  std::function<void(Probe&)> act;
  QByteArray bytes;
};

TEST_F(Worksheet, RecordsHoldTheirExactBytes) {
  const QFont sansSerif(QStringLiteral("MS Sans Serif"), 10);
  QFont sansSerifPixels(QStringLiteral("MS Sans Serif"));
  sansSerifPixels.setPixelSize(13);
  QFont tahoma(QStringLiteral("Tahoma"), 8);
  tahoma.setBold(true);
  tahoma.setItalic(true);

  const ByteCase cases[] = {
      // Excel
      {"xls file begin: BOF and the five formats", kXls, [](Probe& p) { p.Begin(); },
       Hex("09 04 06 00 00 00 10 00 00 00") + Hex("1E 00 08 00 07") + "General" +
           Hex("1E 00 0B 00 0A") + "dd/mm/yyyy" + Hex("1E 00 06 00 05") + "hh:mm" +
           Hex("1E 00 0B 00 0A") + "dd/mm/yyyy" + Hex("1E 00 07 00 06") + "00.00" + Hex("DF")},
      {"xls file end without fonts", kXls, [](Probe& p) { p.End(); }, Hex("0A 00 00 00")},
      {"xls dimensions", kXls, [](Probe& p) { p.Dimensions(11, 4); },
       Hex("00 02 0A 00 00 00 0B 00 00 00 04 00 00 00")},
      {"xls label", kXls, [](Probe& p) { p.Cell(ctString, 1, 0, "abc"); },
       Hex("04 00 0B 00 01 00 00 00 00 00 01 03 61 62 63")},
      {"xls Thai label, centred", kXls, [](Probe& p) { p.Cell(ctString, 0, 0, "ไทย", taCenter); },
       Hex("04 00 0B 00 00 00 00 00 00 00 02 03 E4 B7 C2")},
      {"xls label of 300 characters keeps 255", kXls,
       [](Probe& p) { p.Cell(ctString, 0, 0, k300); },
       Hex("04 00 07 01 00 00 00 00 00 00 01 FF") + QByteArray(255, 'x')},
      {"xls integer", kXls, [](Probe& p) { p.Cell(ctInteger, 2, 1, "7", taRightJustify); },
       Hex("02 00 09 00 02 00 01 00 00 00 03 07 00")},
      {"xls integer 256 is a number", kXls,
       [](Probe& p) { p.Cell(ctInteger, 2, 1, "256", taRightJustify); },
       Hex("03 00 0F 00 02 00 01 00 00 00 03 00 00 00 00 00 00 70 40")},
      {"xls integer -1 is a number", kXls,
       [](Probe& p) { p.Cell(ctInteger, 2, 1, "-1", taRightJustify); },
       Hex("03 00 0F 00 02 00 01 00 00 00 03 00 00 00 00 00 00 F0 BF")},
      {"xls integer text that is none gives 0", kXls,
       [](Probe& p) { p.Cell(ctInteger, 0, 0, "7x"); },
       Hex("02 00 09 00 00 00 00 00 00 00 01 00 00")},
      {"xls empty text is blank", kXls,
       [](Probe& p) {
         p.Cell(ctString, 1, 0, "");
         p.Cell(ctDate, 1, 1, "", taRightJustify);
       },
       Hex("01 00 07 00 01 00 00 00 00 00 01") + Hex("01 00 07 00 01 00 01 00 00 00 03")},
      {"xls field mask makes labels, empty ones too", kXls,
       [](Probe& p) {
         p.SetFieldMask();
         p.Cell(ctString, 1, 0, "");
         p.Cell(ctInteger, 1, 1, "7");
       },
       Hex("04 00 08 00 01 00 00 00 00 00 01 00") + Hex("04 00 09 00 01 00 01 00 00 00 01 01 37")},
      {"xls date is a day number in format 1", kXls,
       [](Probe& p) { p.Cell(ctDate, 3, 2, "01/01/2024", taRightJustify); },
       Hex("02 00 09 00 03 00 02 00 00 01 03 EC B0")},
      {"xls last date an INTEGER holds", kXls, [](Probe& p) { p.Cell(ctDate, 0, 0, "04/06/2079"); },
       Hex("02 00 09 00 00 00 00 00 00 01 01 FF FF")},
      {"xls later date is a NUMBER in format 1", kXls,
       [](Probe& p) { p.Cell(ctDate, 0, 0, "05/06/2079"); },
       Hex("03 00 0F 00 00 00 00 00 00 01 01 00 00 00 00 00 00 F0 40")},
      {"xls date before 1900 is a NUMBER in format 1", kXls,
       [](Probe& p) { p.Cell(ctDate, 0, 0, "29/12/1899"); },
       Hex("03 00 0F 00 00 00 00 00 00 01 01 00 00 00 00 00 00 F0 BF")},
      {"xls currency in format 4", kXls,
       [](Probe& p) { p.Cell(ctCurrency, 1, 3, "12.5", taRightJustify); },
       Hex("03 00 0F 00 01 00 03 00 00 04 03 00 00 00 00 00 00 29 40")},
      {"xls date and time in format 3", kXls,
       [](Probe& p) { p.Cell(ctDateTime, 0, 0, "01/01/2024 12:00:00"); },
       Hex("03 00 0F 00 00 00 00 00 00 03 01 00 00 00 00 90 1D E6 40")},
      {"xls date and time that is none gives 0", kXls,
       [](Probe& p) { p.Cell(ctDateTime, 0, 0, "01/01/2024 noon"); },
       Hex("03 00 0F 00 00 00 00 00 00 03 01 00 00 00 00 00 00 00 00")},
      {"xls time alone as a date and time", kXls,
       [](Probe& p) { p.Cell(ctDateTime, 0, 0, "10:30"); },
       Hex("03 00 0F 00 00 00 00 00 00 03 01 00 00 00 00 00 00 DC 3F")},
      {"xls time in format 2", kXls, [](Probe& p) { p.Cell(ctTime, 0, 0, "18:00:00"); },
       Hex("03 00 0F 00 00 00 00 00 00 02 01 00 00 00 00 00 00 E8 3F")},
      {"xls float", kXls, [](Probe& p) { p.Cell(ctFloat, 0, 0, "1234567"); },
       Hex("03 00 0F 00 00 00 00 00 00 00 01 00 00 00 00 87 D6 32 41")},
      {"xls column widths", kXls,
       [](Probe& p) {
         p.Width(0, 10);   // written as 12
         p.Width(1, 0);    // nothing
         p.Width(2, 300);  // the widest a column gets
         p.Width(256, 5);  // no column byte names it
         p.Width(3, 20);
       },
       Hex("24 00 04 00 00 00 00 0C") + Hex("24 00 04 00 02 02 00 FF") +
           Hex("24 00 04 00 03 03 00 14")},
      {"xls FONT of the grid font after the cells", kXls,
       [&](Probe& p) {
         p.Cell(ctString, 0, 0, "a", taLeftJustify, &sansSerif);
         p.End();
       },
       Hex("04 00 09 00 00 00 00 00 00 00 01 01 61") + Hex("31 00 14 00 C8 00 00 00 FF 7F 0D") +
           "MS Sans Serif" + Hex("0A 00 00 00")},
      {"xls font given in pixels", kXls,
       [&](Probe& p) {
         p.Cell(ctBlank, 0, 0, "", taLeftJustify, &sansSerifPixels);
         p.End();
       },
       Hex("01 00 07 00 00 00 00 00 00 00 01") + Hex("31 00 14 00 C8 00 00 00 FF 7F 0D") +
           "MS Sans Serif" + Hex("0A 00 00 00")},
      {"xls bold italic font", kXls,
       [&](Probe& p) {
         p.Cell(ctBlank, 0, 0, "", taLeftJustify, &tahoma);
         p.End();
       },
       Hex("01 00 07 00 00 00 00 00 00 00 01") + Hex("31 00 0D 00 A0 00 03 00 FF 7F 06") +
           "Tahoma" + Hex("0A 00 00 00")},

      // Lotus
      {"wks file begin", kWks, [](Probe& p) { p.Begin(); }, Hex("00 00 02 00 04 04")},
      {"wks file end", kWks, [](Probe& p) { p.End(); }, Hex("01 00 00 00")},
      {"wks range of 10 records and 3 columns", kWks, [](Probe& p) { p.Dimensions(11, 4); },
       Hex("06 00 08 00 00 00 00 00 03 00 0A 00")},
      {"wks no column widths", kWks, [](Probe& p) { p.Width(0, 12); }, QByteArray()},
      {"wks labels by alignment", kWks,
       [](Probe& p) {
         p.Cell(ctString, 1, 0, "abc");
         p.Cell(ctString, 1, 0, "abc", taRightJustify);
         p.Cell(ctString, 1, 0, "abc", taCenter);
       },
       Hex("0F 00 0A 00 F1 00 00 01 00 27 61 62 63 00") +
           Hex("0F 00 0A 00 F1 00 00 01 00 22 61 62 63 00") +
           Hex("0F 00 0A 00 F1 00 00 01 00 5E 61 62 63 00")},
      {"wks Thai label", kWks, [](Probe& p) { p.Cell(ctString, 0, 0, "ไทย"); },
       Hex("0F 00 0A 00 F1 00 00 00 00 27 E4 B7 C2 00")},
      {"wks label of 300 bytes keeps 254", kWks, [](Probe& p) { p.Cell(ctString, 0, 0, k300); },
       Hex("0F 00 05 01 F1 00 00 00 00 27") + QByteArray(254, 'x') + Hex("00")},
      {"wks integer", kWks, [](Probe& p) { p.Cell(ctInteger, 2, 1, "7"); },
       Hex("0D 00 07 00 82 01 00 02 00 07 00")},
      {"wks integers -32767 and 40000, -32768", kWks,
       [](Probe& p) {
         p.Cell(ctInteger, 2, 1, "-32767");
         p.Cell(ctInteger, 2, 1, "40000");
         p.Cell(ctInteger, 2, 1, "-32768");
       },
       Hex("0D 00 07 00 82 01 00 02 00 01 80") +
           Hex("0E 00 0D 00 F1 01 00 02 00 00 00 00 00 00 88 E3 40") +
           Hex("0E 00 0D 00 F1 01 00 02 00 00 00 00 00 00 00 E0 C0")},
      {"wks empty texts keep their type", kWks,
       [](Probe& p) {
         p.Cell(ctString, 1, 0, "");
         p.Cell(ctFloat, 1, 1, "");
         p.Cell(ctInteger, 1, 2, "");
       },
       Hex("0F 00 07 00 F1 00 00 01 00 27 00") +
           Hex("0E 00 0D 00 F1 01 00 01 00 00 00 00 00 00 00 00 00") +
           Hex("0D 00 07 00 82 02 00 01 00 00 00")},
      {"wks blank", kWks, [](Probe& p) { p.Cell(ctBlank, 2, 1, "", taCenter); },
       Hex("0C 00 05 00 22 01 00 02 00")},
      {"wks date is its text", kWks,
       [](Probe& p) { p.Cell(ctDate, 1, 0, "01/01/2024", taRightJustify); },
       Hex("0F 00 11 00 F1 00 00 01 00 22") + "01/01/2024" + Hex("00")},
      {"wks currency", kWks, [](Probe& p) { p.Cell(ctCurrency, 0, 0, "12.5"); },
       Hex("0E 00 0D 00 F1 00 00 00 00 00 00 00 00 00 00 29 40")},
      {"wks field mask makes labels", kWks,
       [](Probe& p) {
         p.SetFieldMask();
         p.Cell(ctInteger, 0, 0, "7");
       },
       Hex("0F 00 08 00 F1 00 00 00 00 27 37 00")},

      // Quattro
      {"wq1 file begin", kWq1, [](Probe& p) { p.Begin(); }, Hex("00 00 02 00 20 51")},
      {"wq1 file end", kWq1, [](Probe& p) { p.End(); }, Hex("01 00 00 00")},
      {"wq1 range of 10 records and 3 columns", kWq1, [](Probe& p) { p.Dimensions(11, 4); },
       Hex("06 00 08 00 00 00 00 00 03 00 0A 00")},
      {"wq1 column widths", kWq1,
       [](Probe& p) {
         p.Width(2, 12);
         p.Width(2, 0);
         p.Width(3, 300);  // the widest a column gets
         p.Width(256, 5);  // no column byte names it
       },
       Hex("08 00 03 00 02 00 0C") + Hex("08 00 03 00 02 00 00") + Hex("08 00 03 00 03 00 FF")},
      {"wq1 label", kWq1, [](Probe& p) { p.Cell(ctString, 1, 0, "abc"); },
       Hex("0F 00 0A 00 00 00 00 01 00 27 61 62 63 00")},
      {"wq1 Thai label, centred", kWq1, [](Probe& p) { p.Cell(ctString, 0, 255, "ไทย", taCenter); },
       Hex("0F 00 0A 00 00 FF 00 00 00 5E E4 B7 C2 00")},
      {"wq1 label of 300 bytes keeps 255", kWq1, [](Probe& p) { p.Cell(ctString, 0, 0, k300); },
       Hex("0F 00 06 01 00 00 00 00 00 27") + QByteArray(255, 'x') + Hex("00")},
      {"wq1 integer", kWq1, [](Probe& p) { p.Cell(ctInteger, 2, 1, "7"); },
       Hex("0D 00 07 00 00 01 00 02 00 07 00")},
      {"wq1 integer 40000 is a number", kWq1, [](Probe& p) { p.Cell(ctInteger, 2, 1, "40000"); },
       Hex("0E 00 0D 00 00 01 00 02 00 00 00 00 00 00 88 E3 40")},
      {"wq1 blank", kWq1, [](Probe& p) { p.Cell(ctBlank, 2, 1, ""); },
       Hex("0C 00 05 00 00 01 00 02 00")},
      {"wq1 empty float is 0", kWq1, [](Probe& p) { p.Cell(ctFloat, 0, 0, ""); },
       Hex("0E 00 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 00")},
  };
  for (const ByteCase& c : cases) {
    auto probe = MakeProbe(c.kind);
    c.act(*probe);
    EXPECT_EQ(Show(probe->Bytes()), Show(c.bytes)) << c.what;
  }
}

TEST_F(Worksheet, CellTextsAreReadByTheProgramsRules) {
  const struct {
    const char* text;
    int integer;
  } integers[] = {{"7", 7},
                  {"+7", 7},
                  {"-0", 0},
                  {"", 0},
                  {"7 ", 0},
                  {"1.0", 0},
                  {"2147483647", 2147483647},
                  {"-", 0},
                  {"2147483648", 0},
                  {"-2147483648", -2147483647 - 1}};
  for (const auto& c : integers)
    EXPECT_EQ(IntegerOrZero(QString::fromLatin1(c.text)), c.integer) << c.text;

  // Numbers read as the program's reader reads them, whatever the decimal separator.
  const char* numbers[] = {"12.5", "-0.25", "+3",  "1e3", "1E-2",  " 4.5 ", "1,5", "1.",      ".5",
                           "1e",   "e5",    "--1", "1-2", "1.2.3", "inf",   "",    "12,345.6"};
  for (const QChar decimal : {QChar(u'.'), QChar(u',')}) {
    FormatSettings().DecimalSeparator = decimal;
    for (const char* n : numbers) {
      const QString text = QString::fromLatin1(n);
      double expected = 0;
      if (!TryStrToFloat(text, expected)) expected = 0;
      EXPECT_EQ(NumberOrZero(text), expected) << n << " with " << decimal.toLatin1();
    }
  }
  FormatSettings().DecimalSeparator = u'.';

  // Excel dates in every form StrToDate takes.
  for (const char* date : {"01/01/2024", "1/1/2024", "01/01/24", " 01/01/2024 "}) {
    auto probe = MakeProbe(kXls);
    probe->Cell(ctDate, 0, 0, QString::fromLatin1(date));
    EXPECT_EQ(Show(probe->Bytes().right(2)), "EC B0") << date;
  }
}

TEST_F(Worksheet, ExcelDateThatDoesNotConvertRaisesTheConversionError) {
  auto probe = MakeProbe(kXls);
  try {
    probe->Cell(ctDate, 1, 0, "31/02/2024");
    ADD_FAILURE() << "written";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'31/02/2024' is not a valid date");
  }
  EXPECT_TRUE(probe->Bytes().isEmpty());
}

TEST_F(Worksheet, ExcelKeepsFourFontsAndWritesThoseUsedAtTheEnd) {
  XlsProbe xls;
  QFont fonts[5];
  const char* names[] = {"Tahoma", "Arial", "Tahoma", "Tahoma", "Courier New"};
  for (int i = 0; i < 5; ++i) fonts[i] = QFont(QString::fromLatin1(names[i]), 10);
  fonts[2].setBold(true);     // another style is another font
  fonts[3].setPointSize(12);  // and so is another size
  const QFont sameAsFirst(QStringLiteral("Tahoma"), 10);
  QFont otherCase(QStringLiteral("tahoma"), 10);  // names compare exactly

  EXPECT_EQ(xls.RegisterFont(nullptr), 0);
  EXPECT_EQ(xls.RegisterFont(&fonts[0]), 0);
  EXPECT_EQ(xls.RegisterFont(&fonts[1]), 1);
  EXPECT_EQ(xls.RegisterFont(&sameAsFirst), 0);
  EXPECT_EQ(xls.RegisterFont(&fonts[2]), 2);
  EXPECT_EQ(xls.RegisterFont(&fonts[3]), 3);
  EXPECT_EQ(xls.RegisterFont(&fonts[4]), 0) << "a fifth font shows in font 0";
  EXPECT_EQ(xls.RegisterFont(&otherCase), 0);
  EXPECT_EQ(xls.FontList().size(), 4u);

  // The font index is the top two bits of the attributes.
  xls.Cell(ctCurrency, 0, 0, "1", taRightJustify, &fonts[3]);
  EXPECT_EQ(Show(xls.Bytes().mid(4, 7)), Show(Hex("00 00 00 00 00 C4 03")));

  const qsizetype before = xls.Bytes().size();
  xls.End();
  const QByteArray tail = xls.Bytes().mid(before);
  QByteArray fontsWritten;
  for (int i = 0; i < 4; ++i) {
    const QByteArray name = fonts[i].family().toLatin1();
    fontsWritten += Hex("31 00") + char(name.size() + 7) + '\0' + char(fonts[i].pointSize() * 20) +
                    '\0' + char(fonts[i].bold() ? 1 : 0) + Hex("00 FF 7F") + char(name.size()) +
                    name;
  }
  EXPECT_EQ(Show(tail), Show(fontsWritten + Hex("0A 00 00 00")));
  EXPECT_TRUE(xls.FontList().empty());
  EXPECT_TRUE(xls.FontBuffer().isEmpty());

  // The next file starts without fonts: it carries only its own.
  const qsizetype second = xls.Bytes().size();
  xls.End();
  EXPECT_EQ(Show(xls.Bytes().mid(second)), Show(Hex("0A 00 00 00")));
}

// A table in memory as the records and columns of an export.
class TableEngine : public TCustomDataEngine {
 public:
  struct Column {
    QString name;
    db::TFieldType type;
    int width;
  };
  std::vector<Column> columns;
  int rows = 0;
  // What the source says it holds, when that is not its rows.
  int counted = -1;
  std::function<QVariant(int row, int column)> value;

  void FillColumns(TExportColumns& out, bool) override {
    out.Clear();
    for (const Column& c : columns) {
      TExportColumn& column = out.Add();
      column.FieldName = c.name;
      column.Width = c.width;
      column.Title.Caption = c.name;
    }
  }
  bool Eof() override { return at_ >= rows; }
  void First() override { at_ = 0; }
  void Next() override { ++at_; }
  int RecordCount() override { return counted >= 0 ? counted : rows; }
  QVariant GetFieldValue(const TExportColumn& column) override {
    return value(at_, column.Index());
  }
  db::TFieldType GetFieldType(const TExportColumn& column) override {
    return columns[static_cast<size_t>(column.Index())].type;
  }

 private:
  int at_ = 0;
};

// A writer with the console's settings over an engine.
template <class Writer>
std::unique_ptr<TExportToCellFile> ConsoleWriter(TableEngine& engine, const QString& file) {
  auto w = std::make_unique<Writer>();
  w->AnimatedStatus = false;
  w->ColumnSource = csDataEngine;
  w->SetDataEngine(&engine);
  w->AddTitle = true;
  w->FileName = file;
  w->DataFormats.DateSeparator = u'/';
  w->DataFormats.TimeSeparator = u':';
  w->DataFormats.DecimalSeparator = u'.';
  w->DataFormats.ThousandSeparator = u',';
  w->DataFormats.CurrencyString = QStringLiteral("฿");
  return w;
}

std::unique_ptr<TExportToCellFile> ConsoleWriter(Kind kind, TableEngine& engine,
                                                 const QString& file) {
  switch (kind) {
    case kXls:
      return ConsoleWriter<TExportToXLS>(engine, file);
    case kWks:
      return ConsoleWriter<TExportToWKS>(engine, file);
    case kWq1:
      return ConsoleWriter<TExportToQuattro>(engine, file);
  }
  return nullptr;
}

QByteArray ReadFile(const QString& name) {
  QFile f(name);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(Worksheet, WholeFilesOfTenRecordsAndThreeColumns) {
  TableEngine engine;
  engine.columns = {{"Code", db::ftString, 8}, {"Qty", db::ftInteger, 10}, {"Day", db::ftDate, 0}};
  engine.rows = 10;
  engine.value = [](int row, int column) -> QVariant {
    switch (column) {
      case 0:
        return QStringLiteral("C%1").arg(row);
      case 1:
        return row * 100;
      default:
        return QDate(2024, 1, 1).addDays(row);
    }
  };
  const struct {
    Kind kind;
    QByteArray head;  // everything before the title row
    QByteArray firstRecord;
    QByteArray tail;
  } cases[] = {
      {kXls,
       Hex("09 04 06 00 00 00 10 00 00 00") + Hex("1E 00 08 00 07") + "General" +
           Hex("1E 00 0B 00 0A") + "dd/mm/yyyy" + Hex("1E 00 06 00 05") + "hh:mm" +
           Hex("1E 00 0B 00 0A") + "dd/mm/yyyy" + Hex("1E 00 07 00 06") + "00.00" + Hex("DF") +
           Hex("00 02 0A 00 00 00 0B 00 00 00 04 00 00 00") + Hex("24 00 04 00 00 00 00 08") +
           Hex("24 00 04 00 01 01 00 0C"),
       Hex("04 00 0A 00 01 00 00 00 00 00 01 02") + "C0" +
           Hex("02 00 09 00 01 00 01 00 00 00 01 00 00") +
           Hex("02 00 09 00 01 00 02 00 00 01 01 EC B0"),
       Hex("0A 00 00 00")},
      {kWks, Hex("00 00 02 00 04 04") + Hex("06 00 08 00 00 00 00 00 03 00 0A 00"),
       Hex("0F 00 09 00 F1 00 00 01 00 27") + "C0" + Hex("00") +
           Hex("0D 00 07 00 82 01 00 01 00 00 00") + Hex("0F 00 11 00 F1 02 00 01 00 27") +
           "01/01/2024" + Hex("00"),
       Hex("01 00 00 00")},
      {kWq1,
       Hex("00 00 02 00 20 51") + Hex("06 00 08 00 00 00 00 00 03 00 0A 00") +
           Hex("08 00 03 00 00 00 08") + Hex("08 00 03 00 01 00 0A") + Hex("08 00 03 00 02 00 00"),
       Hex("0F 00 09 00 00 00 00 01 00 27") + "C0" + Hex("00") +
           Hex("0D 00 07 00 00 01 00 01 00 00 00") + Hex("0F 00 11 00 00 02 00 01 00 27") +
           "01/01/2024" + Hex("00"),
       Hex("01 00 00 00")},
  };
  QTemporaryDir dir;
  for (const auto& c : cases) {
    const QString file = dir.filePath(QStringLiteral("out%1").arg(c.kind));
    auto writer = ConsoleWriter(c.kind, engine, file);
    writer->Execute();
    EXPECT_EQ(writer->RunStatus(), rsDone) << shown_.join('\n').toStdString();
    const QByteArray bytes = ReadFile(file);
    EXPECT_EQ(Show(bytes.left(c.head.size())), Show(c.head)) << c.kind;
    EXPECT_EQ(Show(bytes.right(c.tail.size())), Show(c.tail)) << c.kind;
    EXPECT_TRUE(bytes.contains(c.firstRecord)) << c.kind;
  }
  // The export put the process's formats back.
  EXPECT_EQ(FormatSettings().CurrencyString, "฿");
}

std::string KindName(Kind kind) {
  return kind == kXls ? "xls" : kind == kWks ? "wks" : "wq1";
}

// The announcement of a file's size: DIMENSIONS of Excel, RANGE of the Lotus family.
QByteArray Announcement(Kind kind, const QByteArray& file) {
  const QByteArray head = kind == kXls ? Hex("00 02 0A 00") : Hex("06 00 08 00");
  const qsizetype at = file.indexOf(head);
  return at < 0 ? QByteArray() : file.mid(at + 4, kind == kXls ? 10 : 8);
}

TEST_F(Worksheet, ExportsPastAFormatsLimitsFailBeforeTheFileExists) {
  const struct {
    Kind kind;
    int columns, records;
    int counted;          // what the source says it holds; -1: its records
    const char* message;  // after "Error of data export: "; none: written
    QByteArray announced;
  } cases[] = {
      {kXls, 255, 1, -1, nullptr, Hex("00 00 02 00 00 00 00 01 00 00")},
      {kXls, 256, 1, -1, nullptr, Hex("00 00 02 00 00 00 00 01 00 00")},
      {kXls, 257, 1, -1, "Excel worksheets hold at most 256 columns; this result has 257.", {}},
      {kXls, 1, 65534, -1, nullptr, Hex("00 00 FF FF 00 00 02 00 00 00")},
      {kXls,
       1,
       65535,
       -1,
       "Excel worksheets hold at most 65,535 rows; this result has 65,535 records, which need "
       "65,536.",
       {}},
      {kWks, 255, 1, -1, nullptr, Hex("00 00 00 00 FF 00 01 00")},
      {kWks, 256, 1, -1, nullptr, Hex("00 00 00 00 FF 00 01 00")},
      {kWks,
       257,
       1,
       -1,
       "Lotus 1-2-3 worksheets hold at most 256 columns; this result has 257.",
       {}},
      {kWks, 1, 32767, -1, nullptr, Hex("00 00 00 00 01 00 FF 7F")},
      {kWks,
       1,
       32768,
       -1,
       "Lotus 1-2-3 worksheets hold at most 32,768 rows; this result has 32,768 records, which "
       "need 32,769.",
       {}},
      {kWq1, 255, 1, -1, nullptr, Hex("00 00 00 00 FF 00 01 00")},
      {kWq1, 256, 1, -1, nullptr, Hex("00 00 00 00 FF 00 01 00")},
      {kWq1,
       257,
       1,
       -1,
       "Quattro Pro worksheets hold at most 256 columns; this result has 257.",
       {}},
      {kWq1, 1, 32767, -1, nullptr, Hex("00 00 00 00 01 00 FF 7F")},
      {kWq1,
       1,
       32768,
       -1,
       "Quattro Pro worksheets hold at most 32,768 rows; this result has 32,768 records, which "
       "need 32,769.",
       {}},
      // A source that brings more records than it counted stops at the limit, not past it.
      {kWq1,
       1,
       40000,
       10,
       "Quattro Pro worksheets hold at most 32,768 rows; this result has 32,768 records, which "
       "need 32,769.",
       {}},
  };
  QTemporaryDir dir;
  for (const auto& c : cases) {
    const std::string what =
        KindName(c.kind) + " " + std::to_string(c.columns) + "x" + std::to_string(c.records);
    TableEngine engine;
    for (int k = 0; k < c.columns; ++k)
      engine.columns.push_back({QStringLiteral("C%1").arg(k), db::ftInteger, 3});
    engine.rows = c.records;
    engine.counted = c.counted;
    engine.value = [](int row, int) { return QVariant(row % 100); };
    const QString file = dir.filePath(QString::fromStdString(what));
    shown_.clear();
    auto writer = ConsoleWriter(c.kind, engine, file);
    writer->Execute();
    if (!c.message) {
      EXPECT_EQ(writer->RunStatus(), rsDone) << what;
      EXPECT_EQ(Show(Announcement(c.kind, ReadFile(file))), Show(c.announced)) << what;
      continue;
    }
    EXPECT_EQ(writer->RunStatus(), rsFailed) << what;
    EXPECT_EQ(shown_,
              QStringList{QStringLiteral("Error of data export: ") + QString::fromUtf8(c.message)})
        << what;
    // Refused before the file was begun, unless the source hid its size until the rows came.
    if (c.counted < 0) {
      EXPECT_FALSE(QFile::exists(file)) << what;
    }
  }

  // Without a file the binary writers have nowhere to write.
  TableEngine engine;
  engine.columns = {{"N", db::ftInteger, 5}};
  engine.rows = 1;
  engine.value = [](int row, int) { return QVariant(row); };
  for (Kind kind : {kXls, kWks, kWq1}) {
    shown_.clear();
    auto writer = ConsoleWriter(kind, engine, QString());
    writer->Execute();
    EXPECT_EQ(shown_, QStringList{"Error of data export: Property FileName is not specified."});
  }
}

// Values no NUMBER holds as themselves, missing values and characters code page 874 lacks, one
// column of each kind, as every writer files them.
void EdgeValues(TableEngine& engine, int columns = 9) {
  const std::pair<const char*, db::TFieldType> kinds[] = {
      {"Inf", db::ftFloat},       {"NegInf", db::ftFloat},       {"NullInt", db::ftInteger},
      {"NullFloat", db::ftFloat}, {"NullMoney", db::ftCurrency}, {"NullText", db::ftString},
      {"NullDate", db::ftDate},   {"Empty", db::ftString},       {"Foreign", db::ftString}};
  for (const auto& [name, type] : kinds) engine.columns.push_back({name, type, 8});
  for (int k = static_cast<int>(engine.columns.size()); k < columns; ++k)
    engine.columns.push_back({QStringLiteral("C%1").arg(k), db::ftString, 4});
  engine.rows = 1;
  engine.value = [](int, int column) -> QVariant {
    switch (column) {
      case 0:
        return std::numeric_limits<double>::infinity();
      case 1:
        return -std::numeric_limits<double>::infinity();
      case 7:
        return QString();  // empty, not missing
      case 8:
        return QStringLiteral("emoji 😀 中文");
      default:
        return column < 9 ? QVariant() : QVariant(QStringLiteral("c%1").arg(column));
    }
  };
}

TEST_F(Worksheet, InfinitiesKeepTheirTextMissingValuesAreBlankAndLostCharactersAreCounted) {
  // The record of each of the edge columns, in column order, after the title row.
  const struct {
    Kind kind;
    std::vector<QByteArray> records;
  } cases[] = {
      {kXls,
       {Hex("04 00 0B 00 01 00 00 00 00 00 01 03 49 4E 46"),
        Hex("04 00 0C 00 01 00 01 00 00 00 01 04 2D 49 4E 46"),
        Hex("01 00 07 00 01 00 02 00 00 00 01"), Hex("01 00 07 00 01 00 03 00 00 00 01"),
        Hex("01 00 07 00 01 00 04 00 00 00 01"), Hex("01 00 07 00 01 00 05 00 00 00 01"),
        Hex("01 00 07 00 01 00 06 00 00 00 01"), Hex("01 00 07 00 01 00 07 00 00 00 01"),
        Hex("04 00 12 00 01 00 08 00 00 00 01 0A 65 6D 6F 6A 69 20 3F 20 3F 3F")}},
      {kWks,
       {Hex("0F 00 0A 00 F1 00 00 01 00 27 49 4E 46 00"),
        Hex("0F 00 0B 00 F1 01 00 01 00 27 2D 49 4E 46 00"), Hex("0C 00 05 00 22 02 00 01 00"),
        Hex("0C 00 05 00 22 03 00 01 00"), Hex("0C 00 05 00 22 04 00 01 00"),
        Hex("0C 00 05 00 22 05 00 01 00"), Hex("0C 00 05 00 22 06 00 01 00"),
        Hex("0F 00 07 00 F1 07 00 01 00 27 00"),
        Hex("0F 00 11 00 F1 08 00 01 00 27 65 6D 6F 6A 69 20 3F 20 3F 3F 00")}},
      {kWq1,
       {Hex("0F 00 0A 00 00 00 00 01 00 27 49 4E 46 00"),
        Hex("0F 00 0B 00 00 01 00 01 00 27 2D 49 4E 46 00"), Hex("0C 00 05 00 00 02 00 01 00"),
        Hex("0C 00 05 00 00 03 00 01 00"), Hex("0C 00 05 00 00 04 00 01 00"),
        Hex("0C 00 05 00 00 05 00 01 00"), Hex("0C 00 05 00 00 06 00 01 00"),
        Hex("0F 00 07 00 00 07 00 01 00 27 00"),
        Hex("0F 00 11 00 00 08 00 01 00 27 65 6D 6F 6A 69 20 3F 20 3F 3F 00")}},
  };
  QTemporaryDir dir;
  for (const auto& c : cases) {
    TableEngine engine;
    EdgeValues(engine);
    const QString file = dir.filePath(QString::fromStdString(KindName(c.kind)));
    auto writer = ConsoleWriter(c.kind, engine, file);
    writer->Execute();
    ASSERT_EQ(writer->RunStatus(), rsDone) << KindName(c.kind);
    const QByteArray bytes = ReadFile(file);
    qsizetype at = 0;
    for (size_t k = 0; k < c.records.size(); ++k) {
      const qsizetype found = bytes.indexOf(c.records[k], at);
      EXPECT_GE(found, 0) << KindName(c.kind) << " column " << k << ": " << Show(c.records[k]);
      if (found >= 0) at = found + c.records[k].size();
    }
    EXPECT_EQ(writer->UnwritableCharacters(), 3) << KindName(c.kind);
    EXPECT_EQ(writer->UnwritableTexts(), 1) << KindName(c.kind);
    EXPECT_EQ(writer->UnwritableNote(),
              "3 characters in 1 cell could not be written in code page 874 and became \"?\". A "
              "Word document keeps every character.");
  }
}

// A text longer than a cell of the format holds is cut there, never without a word: the cut
// cells are counted for the note the user gets.
TEST_F(Worksheet, TextsCutToWhatACellHoldsAreCounted) {
  const struct {
    Kind kind;
    const char* capacity;
  } cases[] = {{kXls, "255"}, {kWks, "254"}, {kWq1, "255"}};
  QTemporaryDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(KindName(c.kind));
    TableEngine engine;
    engine.columns = {{"Note", db::ftString, 8}, {"Code", db::ftString, 8}};
    engine.rows = 3;
    engine.value = [](int row, int column) -> QVariant {
      return column == 0 && row < 2 ? QString(300 + row, u'x') : QStringLiteral("ok");
    };
    auto writer = ConsoleWriter(c.kind, engine, dir.filePath(QStringLiteral("cut")));
    writer->Execute();
    ASSERT_EQ(writer->RunStatus(), rsDone);
    EXPECT_EQ(writer->CutTexts(), 2);
    EXPECT_EQ(writer->UnwritableNote(),
              QStringLiteral("2 cells had more than %1 characters, the most a cell of this "
                             "format holds, and were cut there. An Excel workbook (.xlsx) keeps "
                             "up to 32,767.")
                  .arg(QLatin1String(c.capacity)));
  }
}

TEST_F(Worksheet, ReadersShowTheEdgeColumnAndValuesAsWritten) {
  if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
    GTEST_SKIP() << "soffice is not installed";
  // 256 columns, the last of them the format's last column, with the edge values in front.
  QTemporaryDir dir;
  for (Kind kind : {kXls, kWks, kWq1}) {
    TableEngine engine;
    EdgeValues(engine, 256);
    const QString file =
        dir.filePath(QStringLiteral("edge.") + QString::fromStdString(KindName(kind)));
    auto writer = ConsoleWriter(kind, engine, file);
    writer->Execute();
    ASSERT_EQ(writer->RunStatus(), rsDone) << KindName(kind);
    QString log;
    const auto read = test::ParseCsv(test::ConvertToCsv(test::SheetReader::LibreOffice,
                                                        kind == kXls   ? test::SheetKind::Xls
                                                        : kind == kWks ? test::SheetKind::Wks
                                                                       : test::SheetKind::Wq1,
                                                        file, dir.path(), &log));
    ASSERT_EQ(read.size(), 2u) << KindName(kind) << log.toStdString();
    ASSERT_EQ(read[1].size(), 256) << KindName(kind);
    // LibreOffice's Quattro filter drops the first character of every label.
    const auto label = [kind](const char* text) {
      const QString t = QString::fromUtf8(text);
      return kind == kWq1 ? t.mid(1) : t;
    };
    EXPECT_EQ(read[0][255], label("C255")) << KindName(kind);
    EXPECT_EQ(read[1][255], label("c255")) << KindName(kind);
    const QStringList expected = {label("INF"), label("-INF"),      "", "", "", "", "",
                                  "",           label("emoji ? ??")};
    EXPECT_EQ(read[1].mid(0, 9), expected) << KindName(kind);
  }
}

}  // namespace
