// The automation layer and the built-in document server: values, calls by name, the class
// registry, the document model behind the ranges, and the package it saves and opens.
#include "automation/Automation.h"
#include "automation/WordServer.h"
#include "platform/Files.h"
#include "tests/export/DocxProbe.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

namespace qav {
namespace {

using test::InspectDocx;

// Runs f and checks the automation error it must raise: its code (0 for a plain EOleError) and
// a part of its message.
void ExpectOleError(const std::function<void()>& f, quint32 code, const QString& part,
                    const char* what) {
  SCOPED_TRACE(what);
  try {
    f();
    ADD_FAILURE() << "no error";
  } catch (const EOleError& e) {
    const auto* sys = dynamic_cast<const EOleSysError*>(&e);
    EXPECT_EQ(sys ? sys->ErrorCode() : 0u, code) << e.Message().toStdString();
    EXPECT_TRUE(e.Message().contains(part)) << e.Message().toStdString();
  }
}

TEST(AutoValueTest, CoercesLikeTheDispatchLayer) {
  struct Case {
    TAutoValue value;
    QString text;
    qint32 integer;
    quint32 integerError;  // 0: converts
  };
  const Case cases[] = {
      {true, "True", -1, 0},  // automation's true is -1
      {false, "False", 0, 0},
      {qint32(42), "42", 42, 0},
      {2.5, "2.5", 2, 0},  // halves go to the even neighbour
      {3.5, "3.5", 4, 0},
      {" 17 ", " 17 ", 17, 0},
      {"บริษัท", "บริษัท", 0, autoerr::kTypeMismatch},
      {3e9, "3000000000", 0, autoerr::kOverflow},
      {TAutoValue(), "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.Describe().toStdString());
    EXPECT_EQ(c.value.ToText(), c.text);
    if (c.integerError == 0) {
      EXPECT_EQ(c.value.ToInteger(), c.integer);
    } else {
      ExpectOleError([&] { c.value.ToInteger(); }, c.integerError, "", "integer");
    }
  }
  EXPECT_TRUE(TAutoValue(qint32(-1)).ToBoolean());
  EXPECT_FALSE(TAutoValue("False").ToBoolean());
}

class WordServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    app_ = CreateOleObject("word.application");  // programmatic names ignore case
  }
  void TearDown() override {
    try {
      app_.Call("Quit");
    } catch (const EOleError&) {
      // The test quit it already.
    }
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
  TAutoValue NewDocument() {
    app_.Get("Documents").Call("Add");
    return app_.Get("ActiveDocument");
  }

  QTemporaryDir dir_;
  TAutoValue app_;
};

TEST_F(WordServerTest, RegistryCreatesAttachesAndForgetsTheServer) {
  EXPECT_EQ(GetActiveOleObject("Word.Application").ToObject(), app_.ToObject());
  ExpectOleError([] { CreateOleObject("Excel.Application"); }, autoerr::kInvalidClassString,
                 "Excel.Application", "unknown class");

  // A class of the caller's replaces the built-in one until the old factory is put back.
  int made = 0;
  const TAutoClassFactory builtIn = RegisterAutoClass("Word.Application", [&] {
    ++made;
    return NewWordApplication();
  });
  TAutoValue second = CreateOleObject("Word.Application");
  RegisterAutoClass("Word.Application", builtIn);
  EXPECT_EQ(made, 1);
  second.Call("Quit");

  TAutoValue document = NewDocument();
  app_.Call("Quit");
  ExpectOleError([] { GetActiveOleObject("Word.Application"); }, autoerr::kUnavailable,
                 "Operation unavailable", "nothing runs");
  ExpectOleError([&] { app_.Get("Documents"); }, autoerr::kDisconnected, "disconnected",
                 "application after Quit");
  ExpectOleError([&] { document.Get("Content"); }, autoerr::kDisconnected, "disconnected",
                 "document after Quit");
}

TEST_F(WordServerTest, CallsThatCannotBeMadeRaiseClearErrors) {
  TAutoValue doc = NewDocument();
  TAutoValue table = doc.Get("Tables").Call("Add", TAutoArgs()
                                                       .Named("Range", doc.Call("Range", {0, 0}))
                                                       .Named("NumRows", 2)
                                                       .Named("NumColumns", 3));
  const struct {
    const char* what;
    std::function<void()> call;
    quint32 code;
    QString message;
  } cases[] = {
      {"unknown member", [&] { doc.Call("Frobnicate"); }, autoerr::kUnknownName, "'Frobnicate'"},
      {"read-only property", [&] { doc.Get("Content").Put("Start", 3); }, autoerr::kMemberNotFound,
       "Member not found"},
      {"unknown named argument", [&] { table.Call("Cell", TAutoArgs().Named("Line", 1)); },
       autoerr::kParamNotFound, "Parameter not found"},
      {"missing argument", [&] { table.Call("Cell", {1}); }, autoerr::kParamNotOptional,
       "Parameter not optional"},
      {"too many arguments",
       [&] {
         table.Call("Cell", {1, 1, 1});
       },
       autoerr::kBadParamCount, "Invalid number of parameters"},
      {"member of no object", [] { TAutoValue().Get("Range"); }, 0, "automation object"},
      {"cell outside the table",
       [&] {
         table.Call("Cell", {3, 1});
       },
       EOleException::kExceptionOccurred, "collection does not exist"},
      {"column outside the table", [&] { table.Get("Columns").Call("Item", {4}); },
       EOleException::kExceptionOccurred, "collection does not exist"},
      {"table without columns",
       [&] {
         doc.Get("Tables").Call("Add", TAutoArgs()
                                           .Named("Range", doc.Call("Range", {0, 0}))
                                           .Named("NumRows", 1)
                                           .Named("NumColumns", 0));
       },
       EOleException::kExceptionOccurred, "between 1 and 63"},
      {"highlight outside the colour table",
       [&] { doc.Get("Content").Put("HighlightColorIndex", 17); },
       EOleException::kExceptionOccurred, "Value out of range"},
      {"text where a range belongs",
       [&] {
         doc.Get("Tables").Call(
             "Add", TAutoArgs().Named("Range", "A1").Named("NumRows", 1).Named("NumColumns", 1));
       },
       0, "automation object"},
      {"missing file", [&] { app_.Get("Documents").Call("Open", {Path("none.docx")}); },
       EOleException::kExceptionOccurred, "could not be found"},
  };
  for (const auto& c : cases) ExpectOleError(c.call, c.code, c.message, c.what);

  QFile plain(Path("plain.doc"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.write("not a package");
  plain.close();
  ExpectOleError([&] { app_.Get("Documents").Call("Open", {plain.fileName()}); },
                 EOleException::kExceptionOccurred, "not a document package", "not a package");

  doc.Call("Close");
  ExpectOleError([&] { doc.Get("Content"); }, EOleException::kExceptionOccurred,
                 "Object has been deleted", "closed document");
  ExpectOleError([&] { app_.Get("ActiveDocument"); }, EOleException::kExceptionOccurred,
                 "no document is open", "no document");
}

// Positions as the word processor counts them: one per character, paragraph mark, end-of-cell
// and end-of-row mark; ranges follow the edits before them.
TEST_F(WordServerTest, RangesAndTablesKeepTheirPositions) {
  TAutoValue doc = NewDocument();
  doc.Call("Range").Call("InsertAfter", {"Head"});
  doc.Call("Range").Call("InsertParagraphAfter");
  const qint32 end = doc.Get("Content").Get("End").ToInteger();
  EXPECT_EQ(end, 6);
  TAutoValue table = doc.Call("Range").Get("Tables").Call(
      "Add", TAutoArgs()
                 .Named("Range", doc.Call("Range", {end - 1, end - 1}))
                 .Named("NumRows", 2)
                 .Named("NumColumns", 2));
  EXPECT_EQ(doc.Get("Content").Get("Text").ToText(),
            QStringLiteral("Head\r\r\a\r\a\r\a\r\a\r\a\r\a\r"));

  TAutoValue lower = table.Call("Cell", {2, 2}).Get("Range");
  EXPECT_EQ(lower.Get("Start").ToInteger(), 9);
  TAutoValue thai = table.Call("Cell", {2, 1}).Get("Range");
  thai.Call("InsertAfter", {"บริษัท"});
  EXPECT_EQ(thai.Get("End").ToInteger(), 15);     // the range takes the text in
  EXPECT_EQ(lower.Get("Start").ToInteger(), 15);  // and the next cell moves on

  // Formatting set on an empty cell is what the text typed into it gets.
  TAutoValue first = table.Call("Cell", {1, 1}).Get("Range");
  first.Put("Bold", 1);
  first.Get("Font").Put("ColorIndex", 6);
  first.Get("ParagraphFormat").Put("Alignment", 2);
  table.Call("Cell", {1, 1}).Get("Range").Call("InsertAfter", {"A&B"});
  TAutoValue cell = table.Call("Cell", {1, 1}).Get("Range");
  EXPECT_EQ(cell.Get("Text").ToText(), QStringLiteral("A&B\r\a"));
  EXPECT_EQ(cell.Get("Bold").ToInteger(), -1);
  EXPECT_EQ(cell.Get("Font").Get("ColorIndex").ToInteger(), 6);
  EXPECT_EQ(table.Call("Cell", {1, 2}).Get("Range").Get("Bold").ToInteger(), 0);
  EXPECT_EQ(doc.Get("Content").Get("Bold").ToInteger(), 9999999);  // mixed

  // Text added to the whole document goes before its final mark, after the table.
  doc.Call("Range").Call("InsertAfter", {"Foot"});
  EXPECT_EQ(doc.Get("Content").Get("Text").ToText(),
            QStringLiteral("Head\rA&B\r\a\r\a\r\aบริษัท\r\a\r\a\r\aFoot\r"));
  table.Get("Columns").Call("Item", {2}).Call("SetWidth", {60.0, 0});
  EXPECT_EQ(table.Get("Columns").Call("Item", {2}).Get("Width").ToDouble(), 60.0);
}

TEST_F(WordServerTest, SavesAPackageThatReadsBack) {
  TAutoValue doc = NewDocument();
  // Characters XML must escape or cannot carry at all, Thai text, a tab.
  const QString awkward = QStringLiteral("<a href=\"x\">&'</a>\x01\tบริษัท ทดสอบ จำกัด") +
                          QChar(0xD800) + QStringLiteral("end");
  doc.Call("Range").Call("InsertAfter", {awkward});
  doc.Call("Range").Call("InsertParagraphAfter");
  TAutoValue table = doc.Get("Tables").Call(
      "Add", TAutoArgs()
                 .Named("Range", doc.Call("Range", {doc.Get("Content").Get("End").ToInteger() - 1,
                                                    doc.Get("Content").Get("End").ToInteger() - 1}))
                 .Named("NumRows", 1)
                 .Named("NumColumns", 2));
  table.Get("Columns").Call("Item", {1}).Call("SetWidth", {60, 0});
  TAutoValue cell = table.Call("Cell", {1, 1}).Get("Range");
  cell.Put("Italic", true);
  cell.Put("Underline", 1);
  cell.Put("HighlightColorIndex", 16);
  cell.Get("Font").Put("Name", "Tahoma");
  cell.Get("ParagraphFormat").Put("Alignment", 1);
  cell.Call("InsertAfter", {"ชื่อ"});

  QImage image(8, 4, QImage::Format_RGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(Path("red.bmp"), "BMP"));
  doc.Get("InlineShapes")
      .Call("AddPicture", TAutoArgs({Path("red.bmp")})
                              .Named("LinkToFile", false)
                              .Named("SaveWithDocument", true)
                              .Named("Range", table.Call("Cell", {1, 2}).Get("Range")));
  doc.Call("SaveAs", {Path("saved.doc")});  // the package whatever the extension

  const test::InspectedDocument saved = InspectDocx(Path("saved.doc"));
  ASSERT_TRUE(saved.WellFormed) << saved.Error.toStdString();
  const QString clean = QStringLiteral("<a href=\"x\">&'</a>\tบริษัท ทดสอบ จำกัดend");
  EXPECT_EQ(saved.ParagraphTexts().front(), clean);
  const test::InspectedTable* t = saved.FirstTable();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->GridColumns.front(), 1200);  // 60 points in twentieths
  const test::InspectedRun& run = t->Rows[0][0].Paragraphs[0].Runs.at(0);
  EXPECT_EQ(run.Text, QStringLiteral("ชื่อ"));
  EXPECT_TRUE(run.Italic);
  EXPECT_EQ(run.Underline, QStringLiteral("single"));
  EXPECT_EQ(run.Highlight, QStringLiteral("lightGray"));
  EXPECT_EQ(run.Font, QStringLiteral("Tahoma"));
  EXPECT_EQ(t->Rows[0][0].Paragraphs[0].Alignment, QStringLiteral("center"));
  const QString pictureId = t->Rows[0][1].Paragraphs[0].Runs.at(0).PictureId;
  EXPECT_FALSE(pictureId.isEmpty());
  const QByteArray rels = test::ZipPart(Path("saved.doc"), "word/_rels/document.xml.rels");
  EXPECT_TRUE(rels.contains(pictureId.toUtf8() + "\" Type=")) << rels.constData();
  QImage stored;
  ASSERT_TRUE(stored.loadFromData(test::ZipPart(Path("saved.doc"), "word/media/image1.png")));
  EXPECT_EQ(stored.size(), image.size());

  TAutoValue reopened = app_.Get("Documents").Call("Open", {Path("saved.doc")});
  EXPECT_EQ(reopened.Get("Content").Get("Text").ToText(),
            clean + QStringLiteral("\rชื่อ\r\a/\r\a\r\a\r"));
  TAutoValue again = reopened.Get("Tables").Call("Item", {1}).Call("Cell", {1, 1}).Get("Range");
  EXPECT_EQ(again.Get("Italic").ToInteger(), -1);
  EXPECT_EQ(again.Get("HighlightColorIndex").ToInteger(), 16);
  EXPECT_EQ(again.Get("Font").Get("Name").ToText(), QStringLiteral("Tahoma"));
  EXPECT_EQ(reopened.Get("InlineShapes").Get("Count").ToInteger(), 1);
}

// Unpacked by unzip on Unix, every part of a saved document is the owner's to change and
// everyone's to read; the document part's scratch file in the temporary folder goes with the
// save, and so does one a killed run left there (its lock is free), never one still held.
TEST_F(WordServerTest, APackagesPartsUnpackWithMode0644AndItsScratchFileGoes) {
  const QDir temp = QDir::temp();
  const QString dead = temp.filePath(".qavdoc.xml.999999-abcdef.part");
  const QString deadCompanion = dead + ".zip";
  const QString held = temp.filePath(".qavdoc.xml.999999-fedcba.part");
  for (const QString& name : {dead, deadCompanion}) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
  }
  int holder = -1;
  ASSERT_EQ(platform::CreateLockedFile(held, &holder), 0);
  const auto scratch = [&] {
    QStringList out = temp.entryList({".qavdoc.xml.*"}, QDir::Files | QDir::Hidden);
    out.removeAll(QFileInfo(held).fileName());
    return out;
  };

  TAutoValue doc = NewDocument();
  doc.Call("Range").Call("InsertAfter", {"บริษัท"});
  doc.Call("SaveAs", {Path("modes.docx")});
  EXPECT_EQ(scratch(), QStringList());
  EXPECT_TRUE(QFile::exists(held));
  platform::CloseHandle(holder);
  QFile::remove(held);

  QProcess unzip;
  unzip.start("unzip", {"-Z", Path("modes.docx")});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  ASSERT_EQ(unzip.exitCode(), 0) << unzip.readAllStandardError().toStdString();
  int parts = 0;
  for (const QByteArray& line : unzip.readAllStandardOutput().split('\n')) {
    if (!line.contains(" word/") && !line.contains(" _rels/") && !line.contains("[Content_Types]"))
      continue;
    ++parts;
    EXPECT_TRUE(line.startsWith("-rw-r--r--")) << line.toStdString();
    EXPECT_TRUE(line.contains(" unx ")) << line.toStdString();
  }
  EXPECT_EQ(parts, 5);
}

// A table says once, in a style, what most of its text shares; a cell that differs switches
// the style's properties off where it lacks them, and reads back as it was.
TEST_F(WordServerTest, ATablesSharedFormatGoesToItsStyle) {
  TAutoValue doc = NewDocument();
  const auto addTable = [&] {
    const qint32 end = doc.Get("Content").Get("End").ToInteger();
    return doc.Get("Tables").Call("Add", TAutoArgs()
                                             .Named("Range", doc.Call("Range", {end - 1, end - 1}))
                                             .Named("NumRows", 2)
                                             .Named("NumColumns", 2));
  };
  const auto fill = [](TAutoValue table, int row, int column, bool styled, const char* font) {
    TAutoValue range = table.Call("Cell", {row, column}).Get("Range");
    if (styled) {
      range.Put("Bold", 1);
      range.Get("Font").Put("ColorIndex", 6);
    }
    if (font) range.Get("Font").Put("Name", font);
    range.Call("InsertAfter", {QStringLiteral("ช่อง %1.%2").arg(row).arg(column)});
  };
  TAutoValue styled = addTable();
  for (int cell = 0; cell < 4; ++cell)
    fill(styled, cell / 2 + 1, cell % 2 + 1, cell != 3, "Tahoma");
  doc.Call("Range").Call("InsertParagraphAfter");
  // A run without a font: the font cannot go to this table's style.
  TAutoValue fontless = addTable();
  for (int cell = 0; cell < 4; ++cell)
    fill(fontless, cell / 2 + 1, cell % 2 + 1, true, cell == 0 ? nullptr : "Tahoma");
  doc.Call("SaveAs", {Path("styled.docx")});

  const QByteArray styles = test::ZipPart(Path("styled.docx"), "word/styles.xml");
  EXPECT_TRUE(styles.contains("w:styleId=\"QavTable1\"")) << styles.constData();
  const test::InspectedDocument saved = InspectDocx(Path("styled.docx"));
  ASSERT_TRUE(saved.WellFormed) << saved.Error.toStdString();
  std::vector<const test::InspectedTable*> tables;
  for (const test::InspectedBlock& block : saved.Body)
    if (block.IsTable) tables.push_back(&block.Table);
  ASSERT_EQ(tables.size(), 2u);
  const auto run = [&](size_t table, size_t row, size_t column) {
    return tables[table]->Rows.at(row).at(column).Paragraphs.at(0).Runs.at(0);
  };
  EXPECT_TRUE(run(0, 0, 0).Bold);
  EXPECT_EQ(run(0, 0, 0).Color, QStringLiteral("FF0000"));
  EXPECT_FALSE(run(0, 1, 1).Bold);
  EXPECT_EQ(run(0, 1, 1).Color, QString());
  EXPECT_EQ(run(0, 1, 1).Font, QStringLiteral("Tahoma"));
  EXPECT_EQ(run(1, 0, 0).Font, QString());
  EXPECT_EQ(run(1, 1, 1).Font, QStringLiteral("Tahoma"));
  EXPECT_TRUE(run(1, 0, 0).Bold);
  // Only the differences are written in the cells.
  // Only the differences are in the cells: the font of the first table is in its style, that of
  // the second is in each of three cells' mark and run, in four slots each.
  EXPECT_EQ(saved.Xml.count("Tahoma"), 3 * 2 * 4);

  TAutoValue reopened = app_.Get("Documents").Call("Open", {Path("styled.docx")});
  const auto cell = [&](int table, int row, int column) {
    return reopened.Get("Tables").Call("Item", {table}).Call("Cell", {row, column}).Get("Range");
  };
  EXPECT_EQ(cell(1, 1, 1).Get("Bold").ToInteger(), -1);
  EXPECT_EQ(cell(1, 1, 1).Get("Font").Get("ColorIndex").ToInteger(), 6);
  EXPECT_EQ(cell(1, 2, 2).Get("Bold").ToInteger(), 0);
  EXPECT_EQ(cell(1, 2, 2).Get("Font").Get("ColorIndex").ToInteger(), 0);
  EXPECT_EQ(cell(1, 2, 2).Get("Font").Get("Name").ToText(), QStringLiteral("Tahoma"));
  EXPECT_EQ(cell(2, 2, 2).Get("Font").Get("Name").ToText(), QStringLiteral("Tahoma"));
  EXPECT_EQ(cell(2, 1, 1).Get("Bold").ToInteger(), -1);
}

}  // namespace
}  // namespace qav
