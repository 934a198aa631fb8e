#include "export/WordExport.h"

#include "automation/DocxWriter.h"
#include "automation/WordServer.h"
#include "core/Exception.h"
#include "core/FileError.h"
#include "db/Field.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QTemporaryFile>

namespace qav {

namespace {

const QString kProgId = QLatin1String(kWordApplicationProgId);

// The word processor's paragraph alignment values.
qint32 WordAlignment(db::TAlignment alignment) {
  switch (alignment) {
    case db::taRightJustify:
      return 2;
    case db::taCenter:
      return 1;
    default:
      return 0;
  }
}

// Fonts here carry no colour of their own: text is drawn in the window text colour of the
// current colour scheme, the colour a font has unless told otherwise.
QColor FontColor() {
  return QGuiApplication::palette().color(QPalette::WindowText);
}

// Forgets the document and its table however closing them ends.
struct ForgetDocument {
  TAutoValue& document;
  TAutoValue& table;
  ~ForgetDocument() {
    table = TAutoValue();
    document = TAutoValue();
  }
};

}  // namespace

TExportToWord::TExportToWord(QObject* owner) : TExportToCellFile(owner) {
  SetExportType(6);
  UseCurrentInstance = false;
}

TExportToWord::~TExportToWord() {
  // A destructor must not throw: a word processor that is gone already has nothing to quit.
  if (startedWord_ && !wordApp_.IsEmpty()) {
    try {
      wordApp_.Call(QStringLiteral("Quit"));
    } catch (const std::exception&) {
    }
  }
  wordApp_ = TAutoValue();
}

void TExportToWord::Assign(const TExportCustomBaseComponent& source) {
  TExportToCellFile::Assign(source);
  if (const auto* word = dynamic_cast<const TExportToWord*>(&source)) {
    UseCurrentInstance = word->UseCurrentInstance;
    TemplateFile = word->TemplateFile;
  }
}

int TExportToWord::WordColorIndex(const QColor& color) {
  if (!color.isValid()) return 0;
  const QColor rgb = color.toRgb();
  struct Entry {
    int red, green, blue, index;
  };
  static constexpr Entry kTable[] = {
      {0, 0, 0, 1},     {0, 0, 255, 2},    {0, 255, 255, 3},    {0, 255, 0, 4},
      {255, 0, 255, 5}, {255, 0, 0, 6},    {255, 255, 0, 7},    {255, 255, 255, 8},
      {0, 0, 128, 9},   {0, 128, 128, 10}, {0, 128, 0, 11},     {128, 0, 128, 12},
      {128, 0, 0, 13},  {128, 128, 0, 14}, {128, 128, 128, 15}, {192, 192, 192, 16},
  };
  for (const Entry& e : kTable)
    if (rgb.red() == e.red && rgb.green() == e.green && rgb.blue() == e.blue) return e.index;
  return 0;
}

TGridLimits TExportToWord::GridLimits() const {
  // Header and footer lines are paragraphs around the table, not rows of it.
  return {QStringLiteral("Word tables"), kRows, kColumns, false};
}

void TExportToWord::CreateStream(const QString& fileName) {
  if (wordApp_.IsEmpty()) {
    bool attached = false;
    if (UseCurrentInstance) {
      try {
        wordApp_ = GetActiveOleObject(kProgId);
        attached = true;
      } catch (const std::exception&) {
        // None running, or it would not answer: start one of our own.
      }
    }
    if (!attached) wordApp_ = CreateOleObject(kProgId);
    startedWord_ = !attached;
    wordApp_.Put(QStringLiteral("Visible"), true);
  }
  // A new document has no table yet, whatever an earlier failed export left behind.
  wordTable_ = TAutoValue();
  if (Options & soMergeData && QFile::exists(FileName))
    wordApp_.Get(QStringLiteral("Documents")).Call(QStringLiteral("Open"), {FileName});
  else if (!TemplateFile.isEmpty())
    wordApp_.Get(QStringLiteral("Documents")).Call(QStringLiteral("Open"), {TemplateFile});
  else
    wordApp_.Get(QStringLiteral("Documents")).Call(QStringLiteral("Add"));
  wordDocument_ = wordApp_.Get(QStringLiteral("ActiveDocument"));
  saveFileName_ = fileName;
}

void TExportToWord::WriteDimensions(int rowCount, int columnCount) {
  columnWidths_.assign(static_cast<size_t>(std::max(columnCount, 0)), 0);
  tableRows_ = rowCount;
  tableColumns_ = columnCount;
}

void TExportToWord::WriteColumnWidth(int column, int width) {
  // Four points per character of display width.
  if (width >= 1 && column >= 0 && static_cast<size_t>(column) < columnWidths_.size())
    columnWidths_[static_cast<size_t>(column)] = width * 4;
}

void TExportToWord::BeginData() {
  TExportToCellFile::BeginData();
  // The table goes at the end of the document, before its final paragraph mark.
  const QString content = QStringLiteral("Content");
  const QString end = QStringLiteral("End");
  const qint32 start = wordDocument_.Get(content).Get(end).ToInteger() - 1;
  const qint32 stop = wordDocument_.Get(content).Get(end).ToInteger() - 1;
  const TAutoValue at = wordDocument_.Call(QStringLiteral("Range"), {start, stop});
  wordTable_ =
      wordDocument_.Call(QStringLiteral("Range"))
          .Get(QStringLiteral("Tables"))
          .Call(QStringLiteral("Add"), TAutoArgs()
                                           .Named(QStringLiteral("Range"), at)
                                           .Named(QStringLiteral("NumRows"), tableRows_)
                                           .Named(QStringLiteral("NumColumns"), tableColumns_ - 1));
  for (int i = 0; i <= tableColumns_ - 2; ++i)
    wordTable_.Get(QStringLiteral("Columns"))
        .Call(QStringLiteral("Item"), {i + 1})
        .Call(QStringLiteral("SetWidth"), {columnWidths_[static_cast<size_t>(i)], 0});
}

void TExportToWord::WriteCell(const db::TField* field, TCellType, int row, int column,
                              const QString& text, db::TAlignment alignment, const QFont* font,
                              const QColor& color) {
  if (!InData()) {
    WriteParagraph(text, alignment);
    return;
  }
  // An empty cell stays empty and unformatted.
  if (text.isEmpty()) return;
  const qint32 r = row - static_cast<int>(Header.size()) + 1;
  const qint32 k = column + 1;
  if (field && field->DataType() == db::ftGraphic) {
    WritePicture(*field, r, k);
    return;
  }

  // Every step fetches the cell's range afresh, as the word processor hands out a new one each
  // time.
  const auto range = [&] {
    return wordTable_.Call(QStringLiteral("Cell"), {r, k}).Get(QStringLiteral("Range"));
  };
  const QFont cellFont = font ? *font : QFont();
  if (cellFont.bold()) range().Put(QStringLiteral("Bold"), 1);
  if (cellFont.italic()) range().Put(QStringLiteral("Italic"), 1);
  if (cellFont.underline()) range().Put(QStringLiteral("Underline"), 1);
  range()
      .Get(QStringLiteral("ParagraphFormat"))
      .Put(QStringLiteral("Alignment"), WordAlignment(alignment));
  if (const int index = WordColorIndex(FontColor()))
    range().Get(QStringLiteral("Font")).Put(QStringLiteral("ColorIndex"), index);
  range().Get(QStringLiteral("Font")).Put(QStringLiteral("Name"), cellFont.family());
  if (const int index = WordColorIndex(color))
    range().Put(QStringLiteral("HighlightColorIndex"), index);
  // The document leaves out what XML cannot carry (a NUL, most control characters): counted.
  CountDroppedCharacters(text.size() - docx::XmlSafeText(text).size());
  range().Call(QStringLiteral("InsertAfter"), {text});
}

void TExportToWord::WriteParagraph(const QString& text, db::TAlignment alignment) {
  // The alignment goes to the paragraph that takes the line, the document's last one: set on
  // the whole document it would also take the alignment of every cell of the table from the
  // footer lines on.
  const QString content = QStringLiteral("Content");
  const QString end = QStringLiteral("End");
  const qint32 last = wordDocument_.Get(content).Get(end).ToInteger() - 1;
  wordDocument_.Call(QStringLiteral("Range"), {last, last})
      .Get(QStringLiteral("ParagraphFormat"))
      .Put(QStringLiteral("Alignment"), WordAlignment(alignment));
  wordDocument_.Call(QStringLiteral("Range")).Call(QStringLiteral("InsertAfter"), {text});
  wordDocument_.Call(QStringLiteral("Range")).Call(QStringLiteral("InsertParagraphAfter"));
}

void TExportToWord::WritePicture(const db::TField& field, qint32 row, qint32 column) {
  QImage image;
  if (!image.loadFromData(field.AsBytes()))
    throw Exception(
        QStringLiteral("The picture of field %1 is not a valid image.").arg(field.FieldName()));
  // A file of our own from the start, under the prefix "DXE" and the bitmap extension; it goes
  // with this object, after AddPicture or after an error.
  QTemporaryFile file(QDir::temp().filePath(QStringLiteral("DXEXXXXXX.bmp")));
  if (!file.open()) throw FileError(FileAction::Create, file.fileTemplate(), file.errorString());
  if (!image.save(&file, "BMP") || !file.flush())
    throw FileError(FileAction::Write, file.fileName(), file.errorString());
  file.close();
  const TAutoValue cell =
      wordTable_.Call(QStringLiteral("Cell"), {row, column}).Get(QStringLiteral("Range"));
  wordDocument_.Get(QStringLiteral("InlineShapes"))
      .Call(QStringLiteral("AddPicture"), TAutoArgs()
                                              .Named(QStringLiteral("FileName"), file.fileName())
                                              .Named(QStringLiteral("LinkToFile"), false)
                                              .Named(QStringLiteral("SaveWithDocument"), true)
                                              .Named(QStringLiteral("Range"), cell));
}

void TExportToWord::CloseFile() {
  TExportToCellFile::CloseFile();
  if (wordDocument_.IsEmpty() || wordTable_.IsEmpty()) return;
  ForgetDocument forget{wordDocument_, wordTable_};
  WriteFooter();
  wordDocument_.Call(QStringLiteral("SaveAs"), {saveFileName_});
  wordDocument_.Call(QStringLiteral("Close"));
}

}  // namespace qav
