// The Word writer: the automation calls it makes (against a recording object), and the
// documents it has the built-in document server save, read back through libzip and LibreOffice.
#include "automation/WordServer.h"
#include "console/ResultGrid.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/Query.h"
#include "export/SaveOutputSettings.h"
#include "export/WordExport.h"
#include "tests/export/DocxProbe.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPalette>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>

namespace qav {
namespace {

using db::ftGraphic;
using db::ftInteger;
using db::ftString;
using test::InspectDocx;
using test::TMemoryDataSet;

// ---- a recording automation server

struct RecordingState {
  QStringList log;
  QString pictureFormat;  // what AddPicture found in the file it was given, when it was called
};

// Logs every call as "receiver.Member(args)" or "receiver.Member := value" and answers with a
// new recorder named after the call; "End" answers 100. The document is "doc", the table
// "table".
class Recorder : public TAutoObject {
 public:
  Recorder(QString label, std::shared_ptr<RecordingState> state)
      : label_(std::move(label)), state_(std::move(state)) {}
  QString TypeName() const override { return label_; }

  TAutoValue Dispatch(const TAutoCall& call) override {
    QString entry = label_ + u'.' + call.Name;
    if (!call.Args.IsEmpty()) entry += u'(' + call.Args.Describe() + u')';
    if (call.Kind == dkPropertyPut) {
      state_->log << entry + QStringLiteral(" := ") + call.Value.Describe();
      return {};
    }
    state_->log << entry;
    if (call.Name == u"AddPicture")
      for (const auto& [name, value] : call.Args.NamedArgs)
        if (name == u"FileName")
          state_->pictureFormat = QString::fromLatin1(QImageReader(value.ToText()).format());
    if (call.Name == u"End") return 100;
    QString child = entry;
    if (call.Name == u"ActiveDocument") child = QStringLiteral("doc");
    if (call.Name == u"Add" && label_.endsWith(u".Tables")) child = QStringLiteral("table");
    return TAutoValue(std::make_shared<Recorder>(child, state_));
  }

 private:
  QString label_;
  std::shared_ptr<RecordingState> state_;
};

// Puts the recorder in the document server's place while it lives.
class RecordingWord {
 public:
  RecordingWord() {
    builtIn_ = RegisterAutoClass(kWordApplicationProgId, [state = state] {
      state->log << QStringLiteral("create Word.Application");
      return std::make_shared<Recorder>(QStringLiteral("Word"), state);
    });
  }
  ~RecordingWord() { RegisterAutoClass(kWordApplicationProgId, builtIn_); }

  std::shared_ptr<RecordingState> state = std::make_shared<RecordingState>();

 private:
  TAutoClassFactory builtIn_;
};

// The calls for one record cell as the writer's rules have them.
QStringList CellCalls(int r, int k, const QFont& font, int alignment, int colorIndex, int highlight,
                      const QString& text) {
  const QString cell = QStringLiteral("table.Cell(%1, %2)").arg(r).arg(k);
  const QString range = cell + QStringLiteral(".Range");
  QStringList calls;
  const auto step = [&](const QStringList& rest) { calls << cell << range << rest; };
  if (font.bold()) step({range + QStringLiteral(".Bold := 1")});
  if (font.italic()) step({range + QStringLiteral(".Italic := 1")});
  if (font.underline()) step({range + QStringLiteral(".Underline := 1")});
  step({range + QStringLiteral(".ParagraphFormat"),
        range + QStringLiteral(".ParagraphFormat.Alignment := %1").arg(alignment)});
  if (colorIndex)
    step({range + QStringLiteral(".Font"),
          range + QStringLiteral(".Font.ColorIndex := %1").arg(colorIndex)});
  step({range + QStringLiteral(".Font"),
        range + QStringLiteral(".Font.Name := '%1'").arg(font.family())});
  if (highlight) step({range + QStringLiteral(".HighlightColorIndex := %1").arg(highlight)});
  step({range + QStringLiteral(".InsertAfter('%1')").arg(text)});
  return calls;
}

// Where two call lists first part, for a readable failure.
void ExpectSameCalls(const QStringList& actual, const QStringList& expected) {
  for (qsizetype i = 0; i < std::min(actual.size(), expected.size()); ++i)
    ASSERT_EQ(actual[i].toStdString(), expected[i].toStdString()) << "call " << i;
  EXPECT_EQ(actual.size(), expected.size());
}

QStringList CallsOfCell(const QStringList& log, int r, int k) {
  const QString prefix = QStringLiteral("table.Cell(%1, %2)").arg(r).arg(k);
  QStringList calls;
  for (const QString& entry : log)
    if (entry.startsWith(prefix)) calls << entry;
  return calls;
}

// ---- the console's settings over the demo suite

void UseConsoleSettings(TExportToWord& e, TResultGrid* grid, db::TQuery* query) {
  e.Assign(*CreateSaveOutputComponent(TSaveFormat::Word));
  e.SetDBGrid(grid);
  e.SetDataSet(query);
}

class ConsoleWordExport : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = FormatSettings();
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    database_.SetDatabaseName(QStringLiteral("DMDATA"));
    database_.Params() = {QStringLiteral("DATABASE NAME=DEMO"),
                          QStringLiteral("SERVER NAME=") + suite_.ServerName()};
    query_.SetDatabaseName(QStringLiteral("DMDATA"));
    grid_.SetDataSource(&query_);
    grid_.show();
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
  // The texts of the result, title row first.
  std::vector<QStringList> ResultTexts() const {
    std::vector<QStringList> rows(1);
    for (int f = 0; f < query_.FieldCount(); ++f) rows[0] << query_.Fields(f).DisplayLabel();
    for (qint64 r = 0; r < query_.RecordCount(); ++r) {
      QStringList row;
      for (int f = 0; f < query_.FieldCount(); ++f) row << query_.Fields(f).AsStringAt(r);
      rows.push_back(row);
    }
    return rows;
  }

  test::DemoSuiteFolder suite_{30};
  QTemporaryDir files_;
  TFormatSettings saved_;
  test::DialogLog dialogs_;
  db::TDatabase database_;
  db::TQuery query_;
  TResultGrid grid_;
};

TEST_F(ConsoleWordExport, MakesTheCallsOfATableOfThreeColumnsAndTenRecords) {
  Run(QStringLiteral("select Id, Code, NameThai from Customer where Id <= 10 order by Id"));
  const std::vector<QStringList> texts = ResultTexts();
  ASSERT_EQ(texts.size(), 11u);
  const QString fileName = files_.filePath(QStringLiteral("result.doc"));
  RecordingWord word;
  {
    TExportToWord e;
    UseConsoleSettings(e, &grid_, &query_);
    e.FileName = fileName;
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    EXPECT_TRUE(e.StartedWord());
  }

  ASSERT_EQ(TExportToWord::WordColorIndex(grid_.GridColor()), 8) << "white cells";
  QStringList expected = {
      "create Word.Application",
      "Word.Visible := True",
      "Word.Documents",
      "Word.Documents.Add",
      "Word.ActiveDocument",
      "doc.Content",
      "doc.Content.End",
      "doc.Content",
      "doc.Content.End",
      "doc.Range(99, 99)",
      "doc.Range",
      "doc.Range.Tables",
      "doc.Range.Tables.Add(Range:=<doc.Range(99, 99)>, NumRows:=11, NumColumns:=3)",
  };
  for (int k = 1; k <= 3; ++k) {
    const int width = query_.Fields(k - 1).DisplayWidth() * 4;
    expected << "table.Columns" << QStringLiteral("table.Columns.Item(%1)").arg(k)
             << QStringLiteral("table.Columns.Item(%1).SetWidth(%2, 0)").arg(k).arg(width);
  }
  const int alignments[] = {2, 0, 0};  // the integer Id right, the texts left
  for (int r = 1; r <= 11; ++r) {
    const bool title = r == 1;
    for (int k = 1; k <= 3; ++k)
      expected << CellCalls(r, k, title ? grid_.GridTitleFont() : grid_.GridFont(),
                            alignments[k - 1], 1, title ? 16 : 8,
                            texts[static_cast<size_t>(r - 1)][k - 1]);
  }
  // The document is saved under a partial name beside the file, which takes the file's name
  // once the run is done.
  expected << QStringLiteral("doc.SaveAs('%1')").arg(files_.filePath(".result.doc.PID-XXXXXX.part"))
           << "doc.Close"
           << "Word.Quit";
  QStringList actual = word.state->log;
  static const QRegularExpression partial(QStringLiteral("\\.[0-9]+-[0-9a-f]{6}\\.part'\\)$"));
  for (QString& call : actual)
    if (call.startsWith(QLatin1String("doc.SaveAs("))) call.replace(partial, ".PID-XXXXXX.part')");
  ExpectSameCalls(actual, expected);
  EXPECT_TRUE(QFileInfo::exists(fileName));
}

// A paragraph as LibreOffice reads it, from its flat document format: the text and the text
// properties of its paragraph style with those of its spans over them.
struct OfficeParagraph {
  QString Text;
  QHash<QString, QString> TextProperties;
};

std::vector<OfficeParagraph> ReadFlatDocument(const QByteArray& xml) {
  QHash<QString, QHash<QString, QString>> styles;
  std::vector<OfficeParagraph> paragraphs;
  QXmlStreamReader r(xml);
  QString style;
  int depth = 0;  // inside a paragraph
  while (!r.atEnd()) {
    const auto token = r.readNext();
    if (token == QXmlStreamReader::StartElement) {
      const QString name = r.qualifiedName().toString();
      const QString styleName = r.attributes().value("text:style-name").toString();
      if (name == "style:style") {
        style = r.attributes().value("style:name").toString();
      } else if (name == "style:text-properties") {
        for (const QXmlStreamAttribute& a : r.attributes())
          styles[style].insert(a.qualifiedName().toString(), a.value().toString());
      } else if (name == "text:p" || (depth > 0 && name == "text:span")) {
        if (name == "text:p") paragraphs.emplace_back();
        ++depth;
        const QHash<QString, QString> properties = styles.value(styleName);
        for (auto it = properties.cbegin(); it != properties.cend(); ++it)
          paragraphs.back().TextProperties.insert(it.key(), it.value());
      } else if (depth > 0) {
        ++depth;
      }
    } else if (token == QXmlStreamReader::EndElement && depth > 0) {
      --depth;
    } else if (token == QXmlStreamReader::Characters && depth > 0) {
      paragraphs.back().Text += r.text();
    }
  }
  return paragraphs;
}

TEST_F(ConsoleWordExport, WritesTheDemoRowsThroughTheDocumentServer) {
  Run(QStringLiteral(
      "select Id, Code, NameThai, NameEng, TaxNo from Customer where Id <= 12 order by Id"));
  const std::vector<QStringList> texts = ResultTexts();
  int started = 0;
  const TAutoClassFactory builtIn = RegisterAutoClass(kWordApplicationProgId, [&] {
    ++started;
    return NewWordApplication();
  });
  const QString first = files_.filePath(QStringLiteral("ลูกค้า.doc"));
  const QString second = files_.filePath(QStringLiteral("again.doc"));
  {
    TExportToWord e;
    UseConsoleSettings(e, &grid_, &query_);
    e.FileName = first;
    e.Execute();
    ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    const TAutoValue running = e.WordApp();
    // The second export finds the server still running and keeps to it.
    e.FileName = second;
    e.Execute();
    ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    EXPECT_EQ(e.WordApp().ToObject(), running.ToObject());
    EXPECT_EQ(e.WordApp().Get("Documents").Get("Count").ToInteger(), 0);
    EXPECT_TRUE(running.Get("Visible").ToBoolean());
  }
  RegisterAutoClass(kWordApplicationProgId, builtIn);
  EXPECT_EQ(started, 1);
  EXPECT_THROW(GetActiveOleObject(kWordApplicationProgId), EOleSysError)
      << "the component quits the server it started";

  for (const QString& file : {first, second}) {
    SCOPED_TRACE(file.toStdString());
    const test::InspectedDocument doc = InspectDocx(file);
    ASSERT_TRUE(doc.WellFormed) << doc.Error.toStdString();
    const test::InspectedTable* table = doc.FirstTable();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->Rows.size(), 1 + static_cast<size_t>(query_.RecordCount()));
    for (size_t r = 0; r < table->Rows.size(); ++r) {
      ASSERT_EQ(table->Rows[r].size(), 5u);
      for (size_t k = 0; k < 5; ++k)
        EXPECT_EQ(table->Rows[r][k].Text(), texts[r][static_cast<qsizetype>(k)]) << r << "," << k;
    }
    for (size_t k = 0; k < 5; ++k)
      EXPECT_EQ(table->GridColumns[k], query_.Fields(static_cast<int>(k)).DisplayWidth() * 4 * 20);
    EXPECT_EQ(table->Rows[0][0].Paragraphs[0].Runs[0].Highlight, QStringLiteral("lightGray"));
    EXPECT_EQ(table->Rows[1][0].Paragraphs[0].Runs[0].Highlight, QStringLiteral("white"));
    EXPECT_EQ(table->Rows[1][0].Paragraphs[0].Alignment, QStringLiteral("right"));
    EXPECT_EQ(table->Rows[1][0].Paragraphs[0].Runs[0].Font, grid_.GridFont().family());
  }

  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  QTemporaryDir profile;
  QProcess convert;
  convert.setProgram(soffice);
  convert.setArguments(
      {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString(),
       QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("fodt"),
       QStringLiteral("--outdir"), files_.path(), first});
  convert.start();
  if (!convert.waitForFinished(60000)) {
    convert.kill();
    convert.waitForFinished();
    FAIL() << "soffice did not finish within 60 s";
  }
  QFile converted(files_.filePath(QStringLiteral("ลูกค้า.fodt")));
  ASSERT_TRUE(converted.open(QIODevice::ReadOnly)) << convert.readAllStandardError().toStdString();
  const std::vector<OfficeParagraph> read = ReadFlatDocument(converted.readAll());
  const auto find = [&](const QString& text) -> const OfficeParagraph* {
    for (const OfficeParagraph& p : read)
      if (p.Text == text) return &p;
    ADD_FAILURE() << "LibreOffice did not read " << text.toStdString();
    return nullptr;
  };
  for (const QStringList& row : texts)
    for (const QString& cell : row)
      if (!cell.isEmpty()) find(cell);
  // The formats the table's style gives and those each cell adds or takes away.
  const QString family = grid_.GridFont().family();
  if (const OfficeParagraph* title = find(texts[0][0])) {
    EXPECT_EQ(title->TextProperties.value("fo:background-color"), "#c0c0c0");
    EXPECT_TRUE(title->TextProperties.value("style:font-name").startsWith(family));
  }
  if (const OfficeParagraph* code = find(texts[1][1])) {
    EXPECT_EQ(code->TextProperties.value("fo:background-color"), "#ffffff");
    EXPECT_TRUE(code->TextProperties.value("style:font-name").startsWith(family));
  }
}

// ---- cells, pictures, paragraphs, templates and failures over rows of the test's own

class WordExport : public ::testing::Test {
 protected:
  void SetUp() override { data_.Open(); }

  // One column per field, all visible, no title unless asked.
  void Prepare(TExportToWord& e, const QString& file) {
    e.ColumnSource = csDataSet;
    e.SetDataSet(&data_);
    e.AnimatedStatus = false;
    e.FileName = dir_.filePath(file);
  }

  QTemporaryDir dir_;
  test::DialogLog dialogs_;
  TMemoryDataSet data_{{{"Empty", ftString, 5},
                        {"Plain", ftString, 5},
                        {"Styled", ftString, 5},
                        {"Odd", ftString, 5},
                        {"Qty", ftInteger, 0}},
                       {{"", "ก", "ข", "ค", 42}, {"", "a&b", "<c>", "'d'", -7}}};
};

TEST_F(WordExport, FormatsEachCellOnlyAsItNeeds) {
  RecordingWord word;
  const QColor darkText(10, 20, 30);
  for (const bool blackText : {true, false}) {
    SCOPED_TRACE(blackText ? "black text" : "text colour outside the table");
    word.state->log.clear();
    const QPalette palette = QGuiApplication::palette();
    if (!blackText) {
      QPalette other = palette;
      other.setColor(QPalette::WindowText, darkText);
      QGuiApplication::setPalette(other);
    }
    {
      TExportToWord e;
      Prepare(e, QStringLiteral("cells.doc"));
      QFont styled(QStringLiteral("Tahoma"));
      styled.setBold(true);
      styled.setItalic(true);
      styled.setUnderline(true);
      const struct {
        const char* field;
        QColor color;
        db::TAlignment alignment;
        QFont font;
      } columns[] = {
          {"Empty", Qt::white, db::taLeftJustify, QFont()},
          {"Plain", Qt::white, db::taLeftJustify, QFont(QStringLiteral("Sans"))},
          {"Styled", QColor(192, 192, 192), db::taRightJustify, styled},
          {"Odd", QColor(1, 2, 3), db::taCenter, QFont(QStringLiteral("Sans"))},
      };
      for (const auto& c : columns) {
        TExportColumn& column = e.Columns.Add();
        column.FieldName = QString::fromLatin1(c.field);
        column.Color = c.color;
        column.Alignment = c.alignment;
        column.Font = c.font;
      }
      e.Execute();
      ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    }
    QGuiApplication::setPalette(palette);

    const QStringList& log = word.state->log;
    EXPECT_TRUE(CallsOfCell(log, 1, 1).isEmpty()) << "an empty text gets no call at all";
    const QString colorCalls = blackText ? QStringLiteral(
                                               "table.Cell(1, 2)\ntable.Cell(1, 2).Range\n"
                                               "table.Cell(1, 2).Range.Font\n"
                                               "table.Cell(1, 2).Range.Font.ColorIndex := 1\n")
                                         : QString();
    EXPECT_EQ(CallsOfCell(log, 1, 2).join(u'\n') + u'\n',
              QStringLiteral("table.Cell(1, 2)\ntable.Cell(1, 2).Range\n"
                             "table.Cell(1, 2).Range.ParagraphFormat\n"
                             "table.Cell(1, 2).Range.ParagraphFormat.Alignment := 0\n") +
                  colorCalls +
                  QStringLiteral("table.Cell(1, 2)\ntable.Cell(1, 2).Range\n"
                                 "table.Cell(1, 2).Range.Font\n"
                                 "table.Cell(1, 2).Range.Font.Name := 'Sans'\n"
                                 "table.Cell(1, 2)\ntable.Cell(1, 2).Range\n"
                                 "table.Cell(1, 2).Range.HighlightColorIndex := 8\n"
                                 "table.Cell(1, 2)\ntable.Cell(1, 2).Range\n"
                                 "table.Cell(1, 2).Range.InsertAfter('ก')\n"));
    // Styles, alignment 2, silver highlight 16.
    const QStringList styled = CallsOfCell(log, 2, 3);
    for (const char* put : {".Range.Bold := 1", ".Range.Italic := 1", ".Range.Underline := 1",
                            ".Range.ParagraphFormat.Alignment := 2", ".Range.Font.Name := 'Tahoma'",
                            ".Range.HighlightColorIndex := 16", ".Range.InsertAfter('<c>')"})
      EXPECT_TRUE(styled.contains(QStringLiteral("table.Cell(2, 3)") + QLatin1String(put))) << put;
    // A colour outside the table sends no highlight; centred is 1.
    const QStringList odd = CallsOfCell(log, 1, 4);
    EXPECT_TRUE(odd.contains("table.Cell(1, 4).Range.ParagraphFormat.Alignment := 1"));
    EXPECT_FALSE(odd.join(u' ').contains("Highlight"));
    EXPECT_FALSE(odd.join(u' ').contains("Bold"));
    EXPECT_EQ(odd.join(u' ').contains("ColorIndex"), blackText);
  }
  EXPECT_EQ(TExportToWord::WordColorIndex(Qt::white), 8);
  EXPECT_EQ(TExportToWord::WordColorIndex(QColor(192, 192, 192)), 16);
  EXPECT_EQ(TExportToWord::WordColorIndex(QColor(0, 128, 128)), 10);
  EXPECT_EQ(TExportToWord::WordColorIndex(QColor(0, 128, 129)), 0);
  EXPECT_EQ(TExportToWord::WordColorIndex(QColor()), 0);
}

// A character XML cannot carry (a NUL) is left out of its cell, the rest of the text kept,
// and the note after the run counts it.
TEST_F(WordExport, CharactersADocumentCannotHoldAreLeftOutAndCounted) {
  const TAutoClassFactory builtIn = RegisterAutoClass(kWordApplicationProgId, NewWordApplication);
  const QChar nul(0);
  TMemoryDataSet texts(
      {{"Note", ftString, 20}},
      {{QStringLiteral("ab") + nul + QStringLiteral("cd")}, {QStringLiteral("ok")}});
  texts.Open();
  TExportToWord e;
  Prepare(e, QStringLiteral("nul.doc"));
  e.SetDataSet(&texts);
  e.Execute();
  ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
  const test::InspectedDocument doc = test::InspectDocx(e.FileName);
  ASSERT_TRUE(doc.WellFormed) << doc.Error.toStdString();
  const test::InspectedTable* table = doc.FirstTable();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->Rows.size(), 2u);
  EXPECT_EQ(table->Rows[0][0].Text(), "abcd");
  EXPECT_EQ(e.UnwritableNote(),
            "1 character in 1 cell cannot be held in this format at all and was left out.");
}

TEST_F(WordExport, PicturesGoIntoTheirCellsThroughATemporaryBitmap) {
  QImage image(6, 3, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  TMemoryDataSet pictures({{"Name", ftString, 20}, {"Photo", ftGraphic, 0}},
                          {{"บริษัท ทดสอบ จำกัด", png}});
  pictures.Open();
  const QStringList tempBefore = QDir::temp().entryList({QStringLiteral("DXE*.bmp")});

  {
    RecordingWord word;
    TExportToWord e;
    Prepare(e, QStringLiteral("recorded.doc"));
    e.SetDataSet(&pictures);
    e.Execute();
    ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    const QStringList calls = CallsOfCell(word.state->log, 1, 2);
    ASSERT_EQ(calls.size(), 2) << calls.join(u'\n').toStdString();
    const QString add = word.state->log.filter(QStringLiteral("AddPicture")).value(0);
    const QString temp = QDir::temp().filePath(QStringLiteral("DXE"));
    EXPECT_TRUE(add.startsWith(QStringLiteral("doc.InlineShapes.AddPicture(FileName:='") + temp))
        << add.toStdString();
    EXPECT_TRUE(
        add.endsWith(QStringLiteral(".bmp', LinkToFile:=False, SaveWithDocument:=True, "
                                    "Range:=<table.Cell(1, 2).Range>)")))
        << add.toStdString();
    EXPECT_EQ(word.state->pictureFormat, QStringLiteral("bmp"));
  }

  TExportToWord e;
  Prepare(e, QStringLiteral("picture.doc"));
  e.SetDataSet(&pictures);
  e.AddTitle = true;
  e.Execute();
  ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
  EXPECT_EQ(QDir::temp().entryList({QStringLiteral("DXE*.bmp")}), tempBefore)
      << "the temporary bitmaps are gone";
  const test::InspectedDocument doc = InspectDocx(e.FileName);
  const test::InspectedTable* table = doc.FirstTable();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->Rows.size(), 2u);
  EXPECT_EQ(table->Rows[1][0].Text(), QStringLiteral("บริษัท ทดสอบ จำกัด"));
  ASSERT_EQ(table->Rows[1][1].Paragraphs[0].Runs.size(), 1u);
  EXPECT_FALSE(table->Rows[1][1].Paragraphs[0].Runs[0].PictureId.isEmpty());
  QImage stored;
  ASSERT_TRUE(stored.loadFromData(test::ZipPart(e.FileName, "word/media/image1.png")));
  EXPECT_EQ(stored.size(), image.size());
  EXPECT_EQ(stored.pixelColor(0, 0), QColor(Qt::blue));
}

TEST_F(WordExport, HeaderAndFooterLinesStandAroundTheTableOfATemplate) {
  // A template with a heading and the empty paragraph that ends every document.
  const QString templateFile = dir_.filePath(QStringLiteral("template.docx"));
  {
    TAutoValue app = CreateOleObject(kWordApplicationProgId);
    app.Get("Documents").Call("Add");
    TAutoValue doc = app.Get("ActiveDocument");
    doc.Call("Range").Call("InsertAfter", {"Template heading"});
    doc.Call("Range").Call("InsertParagraphAfter");
    doc.Call("SaveAs", {templateFile});
    app.Call("Quit");
  }
  TExportToWord e;
  Prepare(e, QStringLiteral("report.doc"));
  e.TemplateFile = templateFile;
  e.AddTitle = true;
  e.Header = QStringList{QStringLiteral("บริษัท ทดสอบ จำกัด")};
  e.Footer = QStringList{QStringLiteral("End of report")};
  e.Execute();
  ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();

  const test::InspectedDocument doc = InspectDocx(e.FileName);
  ASSERT_EQ(doc.Body.size(), 5u);
  EXPECT_EQ(doc.ParagraphTexts(),
            (std::vector<QString>{"Template heading", "บริษัท ทดสอบ จำกัด", "End of report", ""}));
  ASSERT_TRUE(doc.Body[2].IsTable);
  const test::InspectedTable& table = doc.Body[2].Table;
  ASSERT_EQ(table.Rows.size(), 3u);  // the header line is no table row
  EXPECT_EQ(table.Rows[0][4].Text(), QStringLiteral("Qty"));
  EXPECT_TRUE(table.Rows[0][4].Paragraphs[0].Runs[0].Bold);
  EXPECT_EQ(table.Rows[2][4].Text(), QStringLiteral("-7"));
  // The footer line does not take the alignment of the table's cells.
  EXPECT_EQ(table.Rows[2][4].Paragraphs[0].Alignment, QStringLiteral("right"));
  EXPECT_EQ(InspectDocx(templateFile).FirstTable(), nullptr) << "the template stays as it was";

  // Merging opens the file that is there and adds a second table to it.
  e.TemplateFile.clear();
  e.Header.clear();
  e.Footer.clear();
  e.Options |= soMergeData;
  e.Execute();
  ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
  int tables = 0;
  for (const test::InspectedBlock& block : InspectDocx(e.FileName).Body) tables += block.IsTable;
  EXPECT_EQ(tables, 2);
}

TEST_F(WordExport, AttachesOrStartsAndReportsAServerThatIsGone) {
  // Attaching to one that runs: it keeps running after the component.
  TAutoValue running = CreateOleObject(kWordApplicationProgId);
  {
    TExportToWord e;
    Prepare(e, QStringLiteral("attached.doc"));
    e.UseCurrentInstance = true;
    e.Execute();
    ASSERT_EQ(e.RunStatus(), rsDone) << dialogs_.Texts().join(u'\n').toStdString();
    EXPECT_FALSE(e.StartedWord());
    EXPECT_EQ(e.WordApp().ToObject(), running.ToObject());
  }
  EXPECT_EQ(running.Get("Documents").Get("Count").ToInteger(), 0);
  running.Call("Quit");

  // None running: it starts one. The user closes it; the next export fails on its first call
  // and the component still goes quietly.
  {
    TExportToWord e;
    Prepare(e, QStringLiteral("started.doc"));
    e.UseCurrentInstance = true;
    e.Execute();
    ASSERT_EQ(e.RunStatus(), rsDone);
    EXPECT_TRUE(e.StartedWord());
    e.WordApp().Call("Quit");
    e.Options |= soShowMessage;
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsFailed);
    ASSERT_FALSE(dialogs_.requests.empty());
    EXPECT_TRUE(dialogs_.requests.back().text.startsWith("Error of data export: "));
    EXPECT_TRUE(dialogs_.requests.back().text.contains("disconnected"));
  }

  // No word processor on the machine.
  const TAutoClassFactory builtIn = RegisterAutoClass(kWordApplicationProgId, {});
  {
    TExportToWord e;
    Prepare(e, QStringLiteral("none.doc"));
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsFailed);
    EXPECT_EQ(dialogs_.requests.back().text,
              QStringLiteral("Error of data export: Invalid class string (Word.Application)"));
    EXPECT_FALSE(QFile::exists(e.FileName));
  }
  RegisterAutoClass(kWordApplicationProgId, builtIn);
}

}  // namespace
TEST_F(WordExport, TablesPastTheWordProcessorsLimitsAreRefusedBeforeWordStarts) {
  const struct {
    int columns, records;
    const char* message;  // after "Error of data export: "; none: the table is made
  } cases[] = {
      {63, 1, nullptr},
      {64, 1, "Word tables hold at most 63 columns; this result has 64."},
      {1, 32767,
       "Word tables hold at most 32,767 rows; this result has 32,767 records, which need "
       "32,768."},
      {1, 50000,
       "Word tables hold at most 32,767 rows; this result has 50,000 records, which need "
       "50,001."},
  };
  for (const auto& c : cases) {
    std::vector<db::FieldDef> fields;
    for (int k = 0; k < c.columns; ++k)
      fields.push_back({QStringLiteral("C%1").arg(k), ftInteger, 3});
    std::vector<std::vector<QVariant>> rows(
        static_cast<size_t>(c.records), std::vector<QVariant>(static_cast<size_t>(c.columns), 1));
    TMemoryDataSet data(fields, rows);
    data.Open();
    RecordingWord word;
    dialogs_.requests.clear();
    TExportToWord e;
    e.ColumnSource = csDataSet;
    e.SetDataSet(&data);
    e.AnimatedStatus = false;
    e.AddTitle = true;
    e.FileName = dir_.filePath(QStringLiteral("limits.doc"));
    e.Execute();
    const std::string what = std::to_string(c.columns) + "x" + std::to_string(c.records);
    if (!c.message) {
      EXPECT_EQ(e.RunStatus(), rsDone) << what;
      EXPECT_TRUE(
          word.state->log.join(u'\n').contains(QStringLiteral("NumColumns:=%1)").arg(c.columns)))
          << what;
      continue;
    }
    EXPECT_EQ(e.RunStatus(), rsFailed) << what;
    EXPECT_EQ(dialogs_.Texts(),
              QStringList{QStringLiteral("Error of data export: ") + QString::fromUtf8(c.message)})
        << what;
    // Nothing was asked of the word processor: not even started.
    EXPECT_TRUE(word.state->log.isEmpty()) << what << word.state->log.join(u'\n').toStdString();
  }
}

}  // namespace qav
